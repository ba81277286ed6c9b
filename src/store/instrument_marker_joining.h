#pragma once

#include "model/beat_marker.h"

#include <vector>

namespace fotivela {

// Rules for the one list that joins the markers of several instruments with the manual ones.
namespace InstrumentMarkerJoining {

// Every marker, sorted by time. The minimum interval holds across the whole list: an
// automatic marker stays enabled only when no marker kept before it, in priority order,
// lies strictly closer than the spacing. Enabled manual markers are kept first, so the
// automatic markers beside them give way; manual markers themselves never change.
std::vector<BeatMarker> spacedAcrossInstruments(const std::vector<BeatMarker>& markers, double spacing);

// True when both lists hold the same automatic instrument markers (instrument and time),
// whatever their ids, enabled states and order.
bool haveSameInstrumentMarkers(const std::vector<BeatMarker>& a, const std::vector<BeatMarker>& b);

// True when both lists hold the same instruments' automatic markers, as many of each:
// the same hits, wherever some of them may have been moved to.
bool haveSameInstrumentHits(const std::vector<BeatMarker>& a, const std::vector<BeatMarker>& b);

} // namespace InstrumentMarkerJoining

} // namespace fotivela
