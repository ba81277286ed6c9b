#include "analysis/beat_marker_detector.h"

#include "analysis/beat_hit_candidates.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <unordered_set>
#include <utility>

namespace fotivela {

namespace BeatMarkerDetector {

namespace {

int64_t truncatedToInt64(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 9.2e18)
        return std::numeric_limits<int64_t>::max();
    if (value <= -9.2e18)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

// Centred five-value mean, shortened at both ends.
std::vector<double> smoothEnvelope(const std::vector<double>& values)
{
    const auto n = static_cast<int64_t>(values.size());
    if (n < 3)
        return values;
    std::vector<double> out(values.size());
    for (int64_t i = 0; i < n; ++i) {
        const int64_t lo = std::max<int64_t>(i - 2, 0);
        const int64_t hi = std::min<int64_t>(i + 2, n - 1);
        double sum = 0;
        for (int64_t k = lo; k <= hi; ++k)
            sum += values[static_cast<size_t>(k)];
        out[static_cast<size_t>(i)] = sum / static_cast<double>(hi - lo + 1);
    }
    return out;
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 1.0;
    std::sort(values.begin(), values.end());
    const auto last = static_cast<int64_t>(values.size()) - 1;
    const int64_t index = std::clamp<int64_t>(truncatedToInt64(fraction * static_cast<double>(last)), 0, last);
    return values[static_cast<size_t>(index)];
}

BeatMarker makeMarker(double time, double strength, BeatKind kind, std::optional<AutoBeatInstrument> instrument)
{
    BeatMarker marker;
    marker.id = Uuid::random();
    marker.time = time;
    marker.strength = strength;
    marker.kind = kind;
    marker.isEnabled = true;
    marker.isManual = false;
    marker.sourceInstrument = instrument;
    return marker;
}

// A step of the envelope smaller than this share of a hit's steepest step is
// a ripple of what the hit rides on (a tail's low partials, a bed's beating),
// not yet the hit's own rise.
constexpr double ownRiseStepShare = 0.4;

// Where a hit's own rise starts within lo … p (p its steepest step): the first
// step after the envelope's low point that climbs by a real share of p's. The
// low point is returned too.
std::pair<int64_t, int64_t> ownRise(
    const std::vector<double>& env, const std::vector<double>& fluxN, int64_t lo, int64_t p)
{
    const auto at = [](const std::vector<double>& v, int64_t i) { return v[static_cast<size_t>(i)]; };
    int64_t low = lo;
    for (int64_t k = lo; k <= p; ++k) {
        if (at(env, k) <= at(env, low))
            low = k;
    }
    int64_t start = low + 1;
    while (start < p && at(fluxN, start) < ownRiseStepShare * at(fluxN, p))
        ++start;
    return {low, std::min(start, p)};
}

double largestOf(const std::vector<double>& values)
{
    double largest = -std::numeric_limits<double>::infinity();
    for (double v : values)
        largest = std::max(largest, v);
    return largest;
}

} // namespace

double markerPriority(const BeatMarker& marker)
{
    double bonus = 0;
    switch (marker.kind) {
    case BeatKind::strong:
        bonus = 4.0;
        break;
    case BeatKind::weak:
        bonus = 2.0;
        break;
    case BeatKind::bar:
        bonus = 6.0;
        break;
    }
    return marker.strength + bonus;
}

void sortByTime(std::vector<BeatMarker>& markers)
{
    std::stable_sort(markers.begin(), markers.end(),
        [](const BeatMarker& a, const BeatMarker& b) { return a.time < b.time; });
}

std::vector<double> normalized(const std::vector<double>& values)
{
    if (values.empty())
        return {};
    const double divisor = std::max(largestOf(values), 0.001);
    std::vector<double> out;
    out.reserve(values.size());
    for (double v : values)
        out.push_back(std::clamp(v / divisor, 0.0, 1.0));
    return out;
}

std::vector<double> contrastNormalized(const std::vector<double>& values)
{
    std::vector<double> y = normalized(values);
    if (y.empty())
        return y;
    double sum = 0;
    for (double v : y)
        sum += v;
    const double mean = sum / static_cast<double>(y.size());
    for (double& v : y)
        v = std::clamp(std::pow(std::max(v - 0.18 * mean, 0.0), 0.74), 0.0, 1.0);
    return y;
}

std::vector<BeatMarker> detectBeatMarkers(const std::vector<double>& curve, double duration, double sensitivity,
    int64_t beatsPerBar, const BeatDetectionProfile& profile, std::optional<AutoBeatInstrument> sourceInstrument,
    bool includeSuppressedCandidates)
{
    const auto n = static_cast<int64_t>(curve.size());
    if (n < 9 || !(duration > 0))
        return {};
    const auto at = [](const std::vector<double>& v, int64_t i) { return v[static_cast<size_t>(i)]; };

    // A sensitivity that is not a number is read as the neutral 0.
    const double s = (std::clamp(std::isnan(sensitivity) ? 0.0 : sensitivity, -1.5, 1.5) + 1.0) / 2.0;
    const double inv = 1.0 - s;

    OnsetCurves curves;
    curves.env = smoothEnvelope(curve);
    const std::vector<double>& env = curves.env;

    std::vector<double>& flux = curves.flux;
    flux.assign(static_cast<size_t>(n), 0.0);
    for (int64_t i = 1; i < n; ++i)
        flux[static_cast<size_t>(i)] = std::max(at(env, i) - at(env, i - 1), 0.0);

    const int64_t half = std::max<int64_t>(profile.meanHalfWindow, 0);
    std::vector<double> contrast(static_cast<size_t>(n), 0.0);
    for (int64_t i = 0; i < n; ++i) {
        const int64_t lo = std::max<int64_t>(i - half, 0);
        const int64_t hi = std::min<int64_t>(i + half, n - 1);
        double sum = 0;
        for (int64_t k = lo; k <= hi; ++k)
            sum += at(env, k);
        const double localMean = sum / static_cast<double>(hi - lo + 1);
        contrast[static_cast<size_t>(i)] = std::max(at(env, i) - localMean, 0.0);
    }

    const double fluxDivisor = std::max(largestOf(flux), 0.001);
    const double contrastDivisor = std::max(largestOf(contrast), 0.001);
    std::vector<double>& fluxN = curves.fluxN;
    std::vector<double>& contrastN = curves.contrastN;
    std::vector<double>& score = curves.score;
    fluxN.resize(static_cast<size_t>(n));
    contrastN.resize(static_cast<size_t>(n));
    score.resize(static_cast<size_t>(n));
    for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
        fluxN[i] = flux[i] / fluxDivisor;
        contrastN[i] = contrast[i] / contrastDivisor;
        score[i] = std::min(profile.wEnvelope * env[i] + profile.wFlux * fluxN[i] + profile.wContrast * contrastN[i], 1.0);
    }

    double sum = 0;
    for (double v : score)
        sum += v;
    const double mean = sum / static_cast<double>(n);
    double squares = 0;
    for (double v : score)
        squares += (v - mean) * (v - mean);
    double variance = squares / static_cast<double>(n);
    if (variance <= 0.0001)
        variance = 0.0001;

    const double frameSeconds = duration / static_cast<double>(n);
    const double minPeakSeconds = std::max(0.18 * inv + profile.spacingBase - s * profile.spacingSensitivity, profile.spacingFloor);
    const int64_t minPeakDistanceFrames = std::max<int64_t>(truncatedToInt64(minPeakSeconds / frameSeconds), 1);
    const double minFlux = std::max(0.055 * inv + profile.fluxBase - s * profile.fluxSensitivity, 0.015);
    const double threshold = mean + std::sqrt(variance) * profile.stdMultiplier * (1.78 - 1.61 * s);
    const double minLevel = std::max(0.08 * inv + profile.levelBase - s * profile.levelSensitivity, 0.035);

    const std::vector<HitCandidate> hits = hitCandidates(curves,
        {threshold, minLevel, minFlux, profile.minContrast, profile.allowFluxOverride, std::max(4.0 * minFlux, 0.16)});
    std::vector<int64_t> candidates;
    std::vector<int64_t> onsetAnchor(static_cast<size_t>(n), 0);
    for (const HitCandidate& hit : hits) {
        candidates.push_back(hit.peak);
        onsetAnchor[static_cast<size_t>(hit.peak)] = hit.onsetAnchor;
    }

    std::vector<int64_t> selected;
    if (includeSuppressedCandidates) {
        selected = candidates;
    } else {
        for (int64_t c : candidates) {
            if (selected.empty() || c - selected.back() >= minPeakDistanceFrames)
                selected.push_back(c);
            else if (at(score, c) > at(score, selected.back()))
                selected.back() = c;
        }
    }

    std::vector<double> selectedScores;
    selectedScores.reserve(selected.size());
    for (int64_t i : selected)
        selectedScores.push_back(at(score, i));
    const double strongThreshold = percentile(std::move(selectedScores), profile.strongPercentile);

    const int64_t backtrackWindow = std::max<int64_t>(
        std::min(profile.backtrackMaxFrames, truncatedToInt64(profile.backtrackSeconds / frameSeconds)), 1);
    const double onsetFlux = std::max(0.45 * minFlux, 0.025);

    std::vector<BeatMarker> markers;
    markers.reserve(selected.size() + 2);
    int64_t barCounter = 0;
    for (int64_t i : selected) {
        BeatKind kind = BeatKind::weak;
        if (beatsPerBar >= 1 && barCounter == 0)
            kind = BeatKind::bar;
        else if (at(score, i) >= strongThreshold)
            kind = BeatKind::strong;
        ++barCounter;
        if (barCounter == beatsPerBar)
            barCounter = 0;

        int64_t frame = i;
        if (profile.refineOnset) {
            const int64_t anchor = onsetAnchor[static_cast<size_t>(i)];
            const int64_t lo = std::max<int64_t>(anchor - backtrackWindow, 1);
            int64_t p = anchor;
            for (int64_t k = lo; k <= anchor; ++k) {
                if (at(fluxN, k) > at(fluxN, p))
                    p = k;
            }
            const double tenthOfAnchor = std::max(0.1 * at(env, anchor), 0.012);
            double onsetLevel = tenthOfAnchor;
            if (anchor != i) {
                // A hit that passes only further up its rise has its level measured from
                // the floor it rises from: over a pad or a noise floor the envelope never
                // falls to a tenth of the anchor's, and the search would run to the end of
                // its window. A hit that passes on its peak keeps its marker as it was.
                double floorLevel = at(env, anchor);
                for (int64_t k = lo; k < anchor; ++k)
                    floorLevel = std::min(floorLevel, at(env, k));
                onsetLevel = floorLevel + std::max(0.1 * (at(env, anchor) - floorLevel), 0.012);
            }
            int64_t j = p;
            while (j > lo && (at(fluxN, j - 1) >= onsetFlux || at(env, j - 1) >= onsetLevel))
                --j;
            // A hit that rides on the tail of the one before, or on a bed, never falls
            // to a tenth of its level, and the search above runs to the end of its
            // window: its marker would lead the hit by up to twice an isolated hit's
            // lead, and the spacing, judged on marker times, would switch off hits that
            // lie farther apart than it. Its onset is where its own rise starts. A hit
            // that starts from silence never rides that high and keeps its marker.
            const auto [low, riseStart] = ownRise(env, fluxN, lo, p);
            if (at(env, low) >= tenthOfAnchor)
                j = std::max(j, riseStart);
            frame = j;
        }
        markers.push_back(makeMarker(static_cast<double>(frame) * frameSeconds, std::clamp(at(score, i), 0.0, 1.0),
            kind, sourceInstrument));
    }

    if (markers.empty() || markers.front().time > 0.05)
        markers.insert(markers.begin(), makeMarker(0.0, 1.0, BeatKind::bar, std::nullopt));
    if (duration - markers.back().time > 0.2)
        markers.push_back(makeMarker(duration, 1.0, BeatKind::bar, std::nullopt));
    return markers;
}

std::vector<BeatMarker> automaticallyDisabledCloseMarkers(const std::vector<BeatMarker>& markers, double minimumSpacing)
{
    const double spacing = minimumSpacing > 0 ? minimumSpacing : 0.0;

    std::vector<size_t> ranking(markers.size());
    for (size_t i = 0; i < ranking.size(); ++i)
        ranking[i] = i;
    std::vector<double> priority(markers.size());
    for (size_t i = 0; i < markers.size(); ++i)
        priority[i] = markerPriority(markers[i]);
    std::stable_sort(ranking.begin(), ranking.end(), [&](size_t a, size_t b) {
        if (priority[a] != priority[b])
            return priority[a] > priority[b];
        return markers[a].time < markers[b].time;
    });

    // Only the nearest survivor on each side can be closer than the spacing, so
    // survivors ordered by time answer each test in log time.
    std::multiset<double> survivorTimes;
    std::unordered_set<Uuid> survivorIDs;
    survivorIDs.reserve(markers.size());
    for (size_t index : ranking) {
        const double t = markers[index].time;
        bool tooClose = false;
        const auto above = survivorTimes.lower_bound(t);
        if (above != survivorTimes.end() && std::fabs(*above - t) < spacing)
            tooClose = true;
        if (!tooClose && above != survivorTimes.begin() && std::fabs(*std::prev(above) - t) < spacing)
            tooClose = true;
        if (!tooClose) {
            survivorTimes.insert(t);
            survivorIDs.insert(markers[index].id);
        }
    }

    std::vector<BeatMarker> out = markers;
    for (BeatMarker& marker : out)
        marker.isEnabled = survivorIDs.contains(marker.id);
    sortByTime(out);
    return out;
}

std::vector<BeatMarker> mergedMarkers(const std::vector<std::vector<BeatMarker>>& lists)
{
    std::vector<BeatMarker> all;
    for (const auto& list : lists)
        all.insert(all.end(), list.begin(), list.end());
    sortByTime(all);

    std::vector<BeatMarker> out;
    out.reserve(all.size());
    for (BeatMarker& marker : all) {
        if (!out.empty()) {
            BeatMarker& last = out.back();
            if (areNearDuplicates(marker, last)) {
                if (marker.isEnabled != last.isEnabled) {
                    if (marker.isEnabled)
                        last = std::move(marker);
                } else if (marker.strength > last.strength) {
                    last = std::move(marker);
                }
                continue;
            }
        }
        out.push_back(std::move(marker));
    }
    return out;
}

bool areNearDuplicates(const BeatMarker& a, const BeatMarker& b)
{
    return a.sourceInstrument == b.sourceInstrument && a.isManual == b.isManual && std::fabs(a.time - b.time) < 0.08;
}

std::vector<BeatMarker> uniquedBeatMarkers(const std::vector<BeatMarker>& markers, double minimumSpacing)
{
    std::vector<BeatMarker> sorted = markers;
    sortByTime(sorted);

    std::vector<BeatMarker> out;
    const auto flush = [&](size_t begin, size_t end) {
        const BeatMarker* bestManual = nullptr;
        const BeatMarker* best = nullptr;
        bool anyDisabled = false;
        for (size_t k = begin; k < end; ++k) {
            const BeatMarker& m = sorted[k];
            if (m.isEnabled && m.isManual && (!bestManual || markerPriority(m) > markerPriority(*bestManual)))
                bestManual = &m;
            if (!m.isEnabled)
                anyDisabled = true;
            if (!best || markerPriority(m) > markerPriority(*best))
                best = &m;
        }
        if (bestManual)
            out.push_back(*bestManual);
        else if (!anyDisabled && best)
            out.push_back(*best);
    };

    size_t clusterStart = 0;
    for (size_t k = 1; k < sorted.size(); ++k) {
        if (!(sorted[k].time - sorted[clusterStart].time < minimumSpacing)) {
            flush(clusterStart, k);
            clusterStart = k;
        }
    }
    if (!sorted.empty())
        flush(clusterStart, sorted.size());
    return out;
}

} // namespace BeatMarkerDetector

} // namespace fotivela
