#include "store/project_store_helpers.h"

#include <algorithm>

namespace fotivela {

std::optional<SlideTitleSnapshot> SlideTitleSnapshot::of(const std::optional<Slide>& slide)
{
    if (!slide || trimmedWhitespaceAndNewlines(slide->title).empty())
        return std::nullopt;
    return SlideTitleSnapshot{slide->title,         slide->titleFontSize,      slide->titleColorHex,
                              slide->titleFontDesign, slide->titleHasBackground, slide->titlePositionX,
                              slide->titlePositionY};
}

std::map<AutoBeatInstrument, std::vector<BeatMarker>> groupedInstrumentMarkers(const std::vector<BeatMarker>& markers)
{
    std::map<AutoBeatInstrument, std::vector<BeatMarker>> groups;
    for (const BeatMarker& marker : markers)
        groups[marker.sourceInstrument.value_or(AutoBeatInstrument::clapSnare)].push_back(marker);
    return groups;
}

BeatDetectionFocus fallbackDetectionFocus(const std::set<AutoBeatInstrument>& instruments)
{
    using I = AutoBeatInstrument;
    if (instruments == std::set<I>{I::kick})
        return BeatDetectionFocus::kick;
    if (instruments == std::set<I>{I::cymbalHats})
        return BeatDetectionFocus::cymbal;
    if (instruments.contains(I::drums) || instruments.contains(I::clapSnare) || instruments.empty())
        return BeatDetectionFocus::clapSnare;
    switch (*instruments.begin()) {
    case I::kick:
        return BeatDetectionFocus::kick;
    case I::cymbalHats:
        return BeatDetectionFocus::cymbal;
    case I::clapSnare:
        return BeatDetectionFocus::clapSnare;
    case I::drums:
    case I::bass:
    case I::vocals:
    case I::other:
        break;
    }
    return BeatDetectionFocus::fullMix;
}

void sortMarkersByTime(std::vector<BeatMarker>& markers)
{
    std::stable_sort(markers.begin(), markers.end(),
                     [](const BeatMarker& a, const BeatMarker& b) { return a.time < b.time; });
}

} // namespace fotivela
