#pragma once

#include "model/audio_track.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fotivela {

// The key under which per-instrument analyses are cached in the song, and when
// a cached analysis may be used again.
namespace AudioAnalysisCacheKey {

// Raising it invalidates every stored analysis at once.
inline constexpr int64_t analysisVersion = 25;

// Kick, snare and cymbals are heard on the drum stem; the others have their own.
AudioStem stemFor(AutoBeatInstrument instrument);

// Sensitivity in thousandths, clamped to ±1500.
int64_t sensitivityNumber(double sensitivity);

std::string instrumentAnalysisOrigin(AutoBeatInstrument instrument, const StemSeparationState& stemSeparation);

std::string variantKey(AutoBeatInstrument instrument, const std::string& origin, double sensitivity, int64_t beatsPerBar);

// The key of the instrument's analysis for the song's current stems and settings.
std::string variantKey(AutoBeatInstrument instrument, const AudioTrack& audio);

std::optional<AudioAnalysis> cachedInstrumentAnalysis(AutoBeatInstrument instrument, const AudioTrack& audio);

bool hasValidStemFiles(const AudioTrack& audio);

// Variants kept per instrument besides the one in use: enough for a slider moved back and forth
// over a few positions to find each of them again, while the file stays bounded (at most four
// analyses per instrument, about 1 MB each for a four-minute song).
inline constexpr std::size_t recentVariantsKept = 3;

// Keeps the instrument's variant under `currentKey` and the `recentVariantsKept` others used most
// recently according to `recentKeys` (oldest first); variants it does not name (read from a file)
// are older than any it names, and among them those of another analysis version or a sensitivity
// farther from the current one go first. Variants holding the user's edits are never dropped
// and do not count towards the bound. Other instruments' variants are left alone.
void pruneInstrumentVariants(AudioTrack& audio, AutoBeatInstrument instrument, const std::string& currentKey,
                             const std::vector<std::string>& recentKeys);

} // namespace AudioAnalysisCacheKey

} // namespace fotivela
