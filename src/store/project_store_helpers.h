#pragma once

#include "model/audio_track.h"
#include "model/beat_marker.h"
#include "model/slide.h"
#include "platform/text_trimming.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace fotivela {

// Small value rules that several store operations share.

// The title settings of one slide, kept while slides move so that the opening and
// closing titles stay where they were.
struct SlideTitleSnapshot {
    std::string title;
    double fontSize = 0;
    std::string colorHex;
    TitleFontDesign fontDesign = TitleFontDesign::default_;
    bool hasBackground = false;
    double positionX = 0;
    double positionY = 0;

    // None without a slide or for a title that is only blanks; the title is kept untrimmed.
    static std::optional<SlideTitleSnapshot> of(const std::optional<Slide>& slide);

    friend bool operator==(const SlideTitleSnapshot&, const SlideTitleSnapshot&) = default;
};

struct TimelineTitleAnchors {
    std::optional<SlideTitleSnapshot> initial;
    std::optional<SlideTitleSnapshot> final;
};

// Markers by instrument, each group in list order; a marker without an instrument
// belongs to clap and snare.
std::map<AutoBeatInstrument, std::vector<BeatMarker>> groupedInstrumentMarkers(const std::vector<BeatMarker>& markers);

// The whole-mix focus that stands for a choice of instruments. For several instruments
// without drums or snare, the first in case order decides.
BeatDetectionFocus fallbackDetectionFocus(const std::set<AutoBeatInstrument>& instruments);

// Stable sort by ascending time.
void sortMarkersByTime(std::vector<BeatMarker>& markers);

// How far from its hit an attack override still finds it.
inline constexpr double attackOverrideMatchDistance = 0.05;

// Where an attack override looks for its hit: the detected time a moved marker was moved from;
// a record without one (a marker only switched on or off, or an older file) at its own time.
inline double attackOverrideMatchTime(const BeatMarker& record)
{
    return record.detectedTime.value_or(record.time);
}

} // namespace fotivela
