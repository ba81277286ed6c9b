#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace fotivela::stem_separator {

struct BassNote;
struct FrameNeighbourhood;
struct SeparationModel;

// A held bass note's fundamental is a steady partial: from one frame to the
// next each of its bins turns by the same angle, 2π·f·hop / rate, while a kick
// sweeping through those bins, or dying away at another pitch, turns at its
// own. Summed over the frames around, each turned back by that angle, what
// follows the note adds up and what does not cancels.
struct NotePartials {
    // The bins of the fundamental's main lobe: [first, first + follows.size()).
    int first = 0;
    // Per bin there, the share of the frame's centre spectrum that follows
    // the note (0 to 1); -1 where an overtone's lobe reaches too.
    std::vector<float> follows;
    // 1 where the bin lies more than a bin from the fundamental, where the
    // note holds little and what does not follow it is most likely a hit.
    std::vector<std::uint8_t> flank;
};
void followNotePartials(const FrameNeighbourhood& frame, const BassNote& note, const SeparationModel& model,
    NotePartials& partials);

// The drums' share of a bin under a kick once the note is followed: what
// follows the note is no hit's, and on the fundamental's flanks what does not
// follow it is the kick's.
inline float drumsUnderKickOnNotePartial(const NotePartials& partials, int bin, float drums)
{
    const auto at = static_cast<std::size_t>(bin - partials.first);
    if (bin < partials.first || at >= partials.follows.size() || partials.follows[at] < 0)
        return drums;
    const float moving = 1.0f - partials.follows[at];
    return partials.flank[at] ? std::max(drums, moving) : std::min(drums, moving);
}

} // namespace fotivela::stem_separator
