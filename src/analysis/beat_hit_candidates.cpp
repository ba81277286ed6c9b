#include "analysis/beat_hit_candidates.h"

#include <algorithm>

namespace fotivela {

namespace BeatMarkerDetector {

namespace {

// Rises of the envelope that start this close after the top of the one before,
// with the envelope barely down in between, are ripples of the same hit.
constexpr int64_t sameHitGapBuckets = 3;
constexpr double sameHitDipShare = 0.25;

} // namespace

// A hit's contrast is judged over its rise, the buckets where the smoothed
// envelope climbs. The five-value mean starts climbing two buckets before the
// hit, and the score, mostly flux, peaks on its first steep step, where the
// local mean already holds the whole hit and the contrast is still zero:
// judged on that bucket alone, identical hits pass or fail by where they fall
// inside a bucket. So the contrast test passes on any bucket from the peak to
// the top of its rise; the score and level tests stay on the peak, so that
// quiet hits stay as rejected as they were.
std::vector<HitCandidate> hitCandidates(const OnsetCurves& c, const CandidateLimits& limits)
{
    const auto n = static_cast<int64_t>(c.score.size());
    const auto at = [](const std::vector<double>& v, int64_t i) { return v[static_cast<size_t>(i)]; };
    const auto passesAt = [&](int64_t peak, int64_t k) {
        return at(c.contrastN, k) >= limits.minContrast
            || (limits.allowFluxOverride && at(c.fluxN, peak) >= limits.overrideFlux
                && at(c.env, peak) >= 1.15 * limits.minLevel);
    };

    std::vector<HitCandidate> candidates;
    // The hit being read: where its latest rise tops out, and its envelope before and at the top.
    int64_t top = -1;
    double floorLevel = 0;
    double topLevel = 0;
    // Its best peak that passes on its own bucket, and its best peak that passes further up.
    int64_t ownPeak = -1;
    int64_t risePeak = -1;
    const auto closeHit = [&] {
        // A peak that passes on its own bucket is the one that always passed:
        // its onset is sought from it, and its marker stays where it was.
        if (ownPeak >= 0) {
            candidates.push_back({ownPeak, ownPeak});
        } else if (risePeak >= 0) {
            // The onset is sought from where the hit passes, as for a hit that passes
            // on its peak: from the peak itself its search would reach further back.
            int64_t anchor = risePeak;
            while (anchor < top && !passesAt(risePeak, anchor))
                ++anchor;
            candidates.push_back({risePeak, anchor});
        }
        ownPeak = risePeak = -1;
    };

    for (int64_t i = 2; i <= n - 3; ++i) {
        const double sc = at(c.score, i);
        if (!(sc > limits.threshold) || at(c.fluxN, i) < limits.minFlux || at(c.env, i) < limits.minLevel)
            continue;
        double neighbourhood = at(c.score, i - 2);
        for (int64_t k = i - 1; k <= i + 2; ++k)
            neighbourhood = std::max(neighbourhood, at(c.score, k));
        if (sc < 0.985 * neighbourhood || at(c.score, i - 1) > sc || at(c.score, i + 1) > sc)
            continue;

        if (i > top) {
            // fluxN[i] > 0: the envelope climbs at i. Find the rise around it.
            int64_t start = i;
            while (start > 1 && at(c.flux, start - 1) > 0)
                --start;
            double dip = at(c.env, start - 1);
            for (int64_t k = std::max<int64_t>(top, 0); k < start; ++k)
                dip = std::min(dip, at(c.env, k));
            const bool sameHit = top >= 0 && start - top <= sameHitGapBuckets
                && topLevel - dip < sameHitDipShare * (topLevel - floorLevel);
            if (!sameHit) {
                closeHit();
                floorLevel = at(c.env, start - 1);
                topLevel = 0;
            }
            top = i;
            while (top + 1 < n && at(c.flux, top + 1) > 0)
                ++top;
            topLevel = std::max(topLevel, at(c.env, top));
        }

        if (passesAt(i, i)) {
            if (ownPeak < 0 || sc > at(c.score, ownPeak))
                ownPeak = i;
            continue;
        }
        bool passesFurtherUp = false;
        for (int64_t k = i + 1; k <= top && !passesFurtherUp; ++k)
            passesFurtherUp = passesAt(i, k);
        if (passesFurtherUp && (risePeak < 0 || sc > at(c.score, risePeak)))
            risePeak = i;
    }
    closeHit();
    return candidates;
}

} // namespace BeatMarkerDetector

} // namespace fotivela
