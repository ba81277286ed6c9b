#include "store/instrument_marker_joining.h"

#include "analysis/beat_marker_detector.h"
#include "store/project_store_helpers.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <set>
#include <tuple>

namespace fotivela::InstrumentMarkerJoining {

namespace {

bool isTooClose(const std::multiset<double>& kept, double time, double spacing)
{
    const auto above = kept.lower_bound(time);
    if (above != kept.end() && std::fabs(*above - time) < spacing)
        return true;
    return above != kept.begin() && std::fabs(*std::prev(above) - time) < spacing;
}

std::vector<std::tuple<AutoBeatInstrument, double>> instrumentMarkers(const std::vector<BeatMarker>& markers)
{
    std::vector<std::tuple<AutoBeatInstrument, double>> found;
    for (const BeatMarker& marker : markers) {
        if (!marker.isManual && marker.sourceInstrument)
            found.emplace_back(*marker.sourceInstrument, marker.time);
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

std::vector<BeatMarker> spacedAcrossInstruments(const std::vector<BeatMarker>& markers, double spacing)
{
    const double gap = spacing > 0 ? spacing : 0.0;
    std::multiset<double> kept;
    for (const BeatMarker& marker : markers) {
        if (marker.isManual && marker.isEnabled)
            kept.insert(marker.time);
    }

    std::vector<std::size_t> ranking;
    for (std::size_t i = 0; i < markers.size(); ++i) {
        if (!markers[i].isManual)
            ranking.push_back(i);
    }
    std::stable_sort(ranking.begin(), ranking.end(), [&](std::size_t a, std::size_t b) {
        const double pa = BeatMarkerDetector::markerPriority(markers[a]);
        const double pb = BeatMarkerDetector::markerPriority(markers[b]);
        if (pa != pb)
            return pa > pb;
        return markers[a].time < markers[b].time;
    });

    std::vector<BeatMarker> spaced = markers;
    for (std::size_t index : ranking) {
        const double time = markers[index].time;
        const bool stands = !isTooClose(kept, time, gap);
        spaced[index].isEnabled = stands;
        if (stands)
            kept.insert(time);
    }
    sortMarkersByTime(spaced);
    return spaced;
}

bool haveSameInstrumentMarkers(const std::vector<BeatMarker>& a, const std::vector<BeatMarker>& b)
{
    return instrumentMarkers(a) == instrumentMarkers(b);
}

bool haveSameInstrumentHits(const std::vector<BeatMarker>& a, const std::vector<BeatMarker>& b)
{
    const auto counts = [](const std::vector<BeatMarker>& markers) {
        std::map<AutoBeatInstrument, std::size_t> perInstrument;
        for (const auto& [instrument, time] : instrumentMarkers(markers))
            ++perInstrument[instrument];
        return perInstrument;
    };
    return counts(a) == counts(b);
}

} // namespace fotivela::InstrumentMarkerJoining
