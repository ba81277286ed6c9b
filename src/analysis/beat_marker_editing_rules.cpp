#include "analysis/beat_marker_editing_rules.h"

#include "analysis/beat_marker_detector.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>

namespace fotivela {

namespace BeatMarkerEditingRules {

namespace {

std::vector<BeatMarker> activeMarkers(const std::vector<BeatMarker>& markers)
{
    std::vector<BeatMarker> sorted = markers;
    BeatMarkerDetector::sortByTime(sorted);
    return sorted;
}

double nonNegativeDuration(double duration)
{
    return duration > 0 ? duration : 0.0; // NaN gives 0 too
}

} // namespace

double clampedInsertionTime(double time, const std::vector<BeatMarker>& markers, double duration)
{
    const double d = nonNegativeDuration(duration);
    const double t = std::min(std::max(std::isnan(time) ? 0.0 : time, 0.0), d);

    double previous = 0;
    std::optional<double> next;
    for (const BeatMarker& marker : activeMarkers(markers)) {
        if (marker.time < t)
            previous = marker.time;
        else if (marker.time > t) {
            next = marker.time;
            break;
        }
    }

    // No gap is kept from a neighbour at the very start or the very end of the song.
    const double lower = previous == 0 ? 0.0 : previous + minimumMarkerGap;
    const double upper = (!next || *next == d) ? d : *next - minimumMarkerGap;
    if (lower > upper)
        return t;
    return std::min(std::max(t, lower), upper);
}

TimeRange moveBounds(const Uuid& id, const std::vector<BeatMarker>& markers, double duration)
{
    const double d = nonNegativeDuration(duration);
    // A switched-off marker cuts nothing, so it holds no marker back: only the moved
    // marker itself and the enabled ones take part.
    std::vector<BeatMarker> neighbours;
    std::copy_if(markers.begin(), markers.end(), std::back_inserter(neighbours),
                 [&](const BeatMarker& m) { return m.isEnabled || m.id == id; });
    const std::vector<BeatMarker> sorted = activeMarkers(neighbours);
    const auto found = std::find_if(sorted.begin(), sorted.end(), [&](const BeatMarker& m) { return m.id == id; });
    if (found == sorted.end())
        return {0.0, d};

    const double lower = found == sorted.begin() ? 0.0 : std::prev(found)->time + minimumMarkerGap;
    const double upper = std::next(found) == sorted.end() ? d : std::next(found)->time - minimumMarkerGap;
    if (lower <= upper)
        return {lower, upper};
    return {found->time, found->time};
}

} // namespace BeatMarkerEditingRules

} // namespace fotivela
