#pragma once

#include "model/audio_track.h"

#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <vector>

namespace fotivela {

// The two curves of a song, one value per time bucket, both in 0 … 1: the
// display waveform and the attack curve the marker detector reads.
struct WaveformAnalysis {
    std::vector<double> display;
    std::vector<double> detection;
    // The song's length as decoded to its last sample, which is what the curves span;
    // 0 when nothing was analysed. Headers only estimate it.
    double durationSeconds = 0.0;

    bool operator==(const WaveformAnalysis&) const = default;
};

namespace AudioWaveformAnalyzer {

// Streams the file block by block; any failure gives two empty curves, and so
// does a stop request, which is checked after every decoded block.
WaveformAnalysis makeWaveformAnalysis(
    const std::filesystem::path& file, int64_t targetSamples, BeatDetectionFocus focus, std::stop_token stop = {});

// The same analysis over samples already in memory (one list per channel).
WaveformAnalysis makeWaveformAnalysis(const std::vector<std::vector<float>>& channels, double sampleRate,
    int64_t targetSamples, BeatDetectionFocus focus);

} // namespace AudioWaveformAnalyzer

} // namespace fotivela
