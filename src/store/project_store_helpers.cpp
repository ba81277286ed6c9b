#include "store/project_store_helpers.h"

#include <algorithm>

namespace fotivela {

namespace {

bool isWhitespaceOrNewline(char32_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680
        || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F
        || c == 0x3000;
}

// The code point at `pos` and its length in bytes; malformed bytes count as one non-blank unit.
char32_t decodeAt(std::string_view s, std::size_t pos, std::size_t& length)
{
    const auto lead = static_cast<unsigned char>(s[pos]);
    length = 1;
    if (lead < 0x80)
        return lead;
    const std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (need == 0 || pos + need > s.size())
        return 0xFFFD;
    char32_t c = lead & (0x7F >> need);
    for (std::size_t i = 1; i < need; ++i) {
        const auto next = static_cast<unsigned char>(s[pos + i]);
        if ((next & 0xC0) != 0x80)
            return 0xFFFD;
        c = (c << 6) | (next & 0x3F);
    }
    length = need;
    return c;
}

} // namespace

std::string_view trimmedWhitespaceAndNewlines(std::string_view text)
{
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t length = 0;
        if (!isWhitespaceOrNewline(decodeAt(text, begin, length)))
            break;
        begin += length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80 && end - start < 4)
            --start;
        std::size_t length = 0;
        const char32_t c = decodeAt(text, start, length);
        if (start + length != end || !isWhitespaceOrNewline(c))
            break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

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
