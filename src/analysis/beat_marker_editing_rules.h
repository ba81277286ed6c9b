#pragma once

#include "model/beat_marker.h"

#include <vector>

namespace fotivela {

// Where a hand-placed marker may go: the store and the timeline both apply
// these, so a dropped marker and a committed one land on the same time.
namespace BeatMarkerEditingRules {

inline constexpr double minimumMarkerGap = 0.08;

struct TimeRange {
    double lower = 0;
    double upper = 0;

    bool contains(double time) const { return lower <= time && time <= upper; }
    bool operator==(const TimeRange&) const = default;
};

double clampedInsertionTime(double time, const std::vector<BeatMarker>& markers, double duration);

// The marker keeps the gap from its enabled neighbours; switched-off markers do not bound it.
TimeRange moveBounds(const Uuid& id, const std::vector<BeatMarker>& markers, double duration);

} // namespace BeatMarkerEditingRules

} // namespace fotivela
