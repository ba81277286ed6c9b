#pragma once

#include "model/beat_marker.h"

#include <cstdint>
#include <vector>

namespace fotivela {

// The result of one analysis run, cached in the song so that switching back
// to earlier settings does not analyse again.
struct AudioAnalysis {
    std::vector<double> waveformSamples;
    std::vector<BeatMarker> beatMarkers;
    double sensitivity = 0.0;
    std::int64_t beatsPerBar = 0;
    std::int64_t version = 0;
    // The user edited these markers while this analysis was the current one. Stored only
    // when true; such an analysis is never dropped to bound the cache.
    bool hasUserEdits = false;

    friend bool operator==(const AudioAnalysis&, const AudioAnalysis&) = default;
};

} // namespace fotivela
