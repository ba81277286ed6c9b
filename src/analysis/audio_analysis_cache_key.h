#pragma once

#include "model/audio_track.h"

#include <cstdint>
#include <optional>
#include <string>

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

} // namespace AudioAnalysisCacheKey

} // namespace fotivela
