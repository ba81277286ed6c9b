#pragma once

#include "model/audio_track.h"

#include <map>
#include <optional>
#include <filesystem>

namespace fotivela {

// One instrument's separated audio, ready to analyse and play.
struct StemSource {
    AutoBeatInstrument instrument = AutoBeatInstrument::drums;
    std::filesystem::path analysisURL;
    std::filesystem::path displayURL;
    StemSeparationEngine engine = StemSeparationEngine::demucs;

    friend bool operator==(const StemSource&, const StemSource&) = default;
};

// What stem preparation gives the per-instrument analysis: the sources it made, the state
// to store in the song, and whether the song's own mix has to stand in for the stems.
struct StemSeparationResult {
    std::map<AutoBeatInstrument, StemSource> sources;
    StemSeparationState state;
    bool usesFallback = true;
    // Seconds the separation took when one ran (a reused cache runs none), from a ready
    // runtime to stems on disk with their previews: a first install is not part of it.
    std::optional<double> separationSeconds;

    friend bool operator==(const StemSeparationResult&, const StemSeparationResult&) = default;
};

} // namespace fotivela
