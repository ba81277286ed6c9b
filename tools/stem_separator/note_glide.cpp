#include "note_glide.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace fotivela::stem_separator {

namespace {

// Six frames on, what came new still holds this share of its loudest in
// the sweep's four frames; and the landed note's octave stands at least
// this share of its fundamental.
constexpr int heldRow = 6;
constexpr int landedRow = 4;
constexpr double heldShare = 0.9;
constexpr double octaveShare = 0.1;

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
    int peak = p.firstBin;
    for (int bin = p.firstBin; bin < p.endBin; ++bin)
        if (added(landed, before, bin) > added(landed, before, peak))
            peak = bin;
    double pitch = peak;
    if (peak > p.firstBin && peak + 1 < p.endBin) {
        const double below = added(landed, before, peak - 1), top = added(landed, before, peak),
                     above = added(landed, before, peak + 1);
        const double curve = below - 2 * top + above;
        if (curve < 0)
            pitch += 0.5 * (below - above) / curve;
    }
    const double fundamental = addedNear(p, landed, before, pitch);
    return fundamental > 0 && addedNear(p, landed, before, 2 * pitch) >= octaveShare * fundamental;
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
