#include "note_glide.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace fotivela::stem_separator {

namespace {

// Six frames on, what came new still holds this share of its loudest in
// the sweep's four frames, and the landed note's octave stands at least
// this share of its fundamental.
constexpr int heldRow = 6;
constexpr int landedRow = 4;
constexpr double heldShare = 0.9;
constexpr double octaveShare = 0.1;
// While it slides, the note's peak stands this far above the landed pitch
// at least, and off its harmonics by more than this share.
constexpr double aboveLanded = 1.15;
constexpr double offSeries = 0.08;

const float* rowOf(const GlideProbe& p, int r) { return p.magnitude + static_cast<std::ptrdiff_t>(r) * p.stride; }

double added(const float* row, const float* before, int bin) { return std::max(0.0f, row[bin] - before[bin]); }

double addedNear(const GlideProbe& p, const float* row, const float* before, double bin)
{
    const int centre = static_cast<int>(std::lround(bin));
    double most = 0;
    for (int b = std::max(1, centre - 1); b <= std::min(p.bins - 1, centre + 1); ++b)
        most = std::max(most, added(row, before, b));
    return most;
}

double addedLevel(const GlideProbe& p, const float* row, const float* before)
{
    double energy = 0;
    for (int bin = p.firstBin; bin < p.endBin; ++bin)
        energy += added(row, before, bin) * added(row, before, bin);
    return std::sqrt(energy);
}

// Where, in bins within the band, what `row` holds above `before` peaks.
double peakOf(const GlideProbe& p, const float* row, const float* before)
{
    int peak = p.firstBin;
    for (int bin = p.firstBin; bin < p.endBin; ++bin)
        if (added(row, before, bin) > added(row, before, peak))
            peak = bin;
    if (peak == p.firstBin || peak + 1 >= p.endBin)
        return peak;
    const double below = added(row, before, peak - 1), top = added(row, before, peak),
                 above = added(row, before, peak + 1);
    const double curve = below - 2 * top + above;
    return curve < 0 ? peak + 0.5 * (below - above) / curve : peak;
}

// What is new in `row` peaks above the landed pitch and off its series, and
// its own octave stands: the series is still on its way down.
bool slidingAbove(const GlideProbe& p, const float* row, const float* before, double landed)
{
    const double pitch = peakOf(p, row, before);
    const double ratio = pitch / landed;
    const double nearest = std::max(1.0, std::round(ratio));
    if (ratio < aboveLanded || std::abs(ratio / nearest - 1) <= offSeries)
        return false;
    const double top = addedNear(p, row, before, pitch);
    return top > 0 && addedNear(p, row, before, 2 * pitch) >= octaveShare * top;
}

} // namespace

bool glidesIntoNote(const GlideProbe& p)
{
    const float* before = rowOf(p, p.onset - 2);
    double loudest = 0;
    for (int r = p.onset; r < p.onset + landedRow; ++r)
        loudest = std::max(loudest, addedLevel(p, rowOf(p, r), before));
    if (loudest <= 0 || addedLevel(p, rowOf(p, p.onset + heldRow), before) < heldShare * loudest)
        return false;
    const float* landed = rowOf(p, p.onset + landedRow);
    const double pitch = peakOf(p, landed, before);
    const double fundamental = addedNear(p, landed, before, pitch);
    if (pitch <= 0 || fundamental <= 0 || addedNear(p, landed, before, 2 * pitch) < octaveShare * fundamental)
        return false;
    // A kick struck with a note sweeps as a bare sine, or its peak is one of
    // the note's partials. The frame before the onset already holds the
    // glide's start.
    for (int r = p.onset - 1; r <= p.onset + 1; ++r)
        if (!slidingAbove(p, rowOf(p, r), before, pitch))
            return false;
    return true;
}

void glidingNoteLevel(const float* magnitude, int stride, int rows, int row, int firstBin, int endBin, int bins,
    const std::vector<std::uint8_t>& glides, std::vector<float>& out)
{
    out.clear();
    int onset = -1;
    for (int r = std::max(2, row - landedRow); r <= std::min(row + 1, rows - 1); ++r)
        if (glides[static_cast<std::size_t>(r)])
            onset = r;
    if (onset < 0)
        return;
    const auto rowAt = [&](int r) { return magnitude + static_cast<std::ptrdiff_t>(r) * stride; };
    const float* here = rowAt(row);
    const float* before = rowAt(onset - 2);
    out.assign(static_cast<std::size_t>(bins), 0.0f);
    for (int bin = firstBin; bin < endBin; ++bin)
        out[static_cast<std::size_t>(bin)] = std::max(0.0f, here[bin] - before[bin]);
}

} // namespace fotivela::stem_separator
