#pragma once

#include "analysis/beat_detection_profile.h"
#include "model/beat_marker.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace fotivela {

// Finds markers on a detection curve (one value in 0 … 1 per time bucket) and
// the rules that thin, join and cluster marker lists. Pure functions.
namespace BeatMarkerDetector {

std::vector<BeatMarker> detectBeatMarkers(const std::vector<double>& curve, double duration, double sensitivity,
    int64_t beatsPerBar, const BeatDetectionProfile& profile, std::optional<AutoBeatInstrument> sourceInstrument,
    bool includeSuppressedCandidates);

// Every marker, sorted by time, enabled exactly when it survives a greedy pass
// in priority order that keeps markers at least minimumSpacing apart.
std::vector<BeatMarker> automaticallyDisabledCloseMarkers(const std::vector<BeatMarker>& markers, double minimumSpacing);

// One list of all, where a marker of the same source and manual flag as the one kept
// before it, closer than 0.08 s, folds into it.
std::vector<BeatMarker> mergedMarkers(const std::vector<std::vector<BeatMarker>>& lists);

// Whether merging would fold one of the two markers into the other.
bool areNearDuplicates(const BeatMarker& a, const BeatMarker& b);

std::vector<BeatMarker> uniquedBeatMarkers(const std::vector<BeatMarker>& markers, double minimumSpacing);

// Strength plus a bonus by kind: bar above strong above weak.
double markerPriority(const BeatMarker& marker);

std::vector<double> normalized(const std::vector<double>& values);
std::vector<double> contrastNormalized(const std::vector<double>& values);

// Stable sort by ascending time.
void sortByTime(std::vector<BeatMarker>& markers);

} // namespace BeatMarkerDetector

} // namespace fotivela
