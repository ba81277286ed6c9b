#pragma once

#include <cstdint>
#include <vector>

namespace fotivela {

namespace BeatMarkerDetector {

// The curves the detector derives from its input, one value per time bucket.
struct OnsetCurves {
    std::vector<double> env;       // five-value mean of the input
    std::vector<double> flux;      // its rise from the bucket before, never below 0
    std::vector<double> fluxN;     // flux over the largest flux
    std::vector<double> contrastN; // envelope over its local mean, over the largest such excess
    std::vector<double> score;
};

struct CandidateLimits {
    double threshold = 0;
    double minLevel = 0;
    double minFlux = 0;
    double minContrast = 0;
    bool allowFluxOverride = false;
    double overrideFlux = 0;
};

struct HitCandidate {
    int64_t peak = 0;        // the score peak: strength, kind and spacing go by it
    int64_t onsetAnchor = 0; // where the onset search starts, never before the peak

    bool operator==(const HitCandidate&) const = default;
};

// One candidate for each hit that passes, in time order.
std::vector<HitCandidate> hitCandidates(const OnsetCurves& curves, const CandidateLimits& limits);

} // namespace BeatMarkerDetector

} // namespace fotivela
