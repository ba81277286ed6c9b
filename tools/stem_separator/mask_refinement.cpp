#include "mask_refinement.h"

#include <algorithm>
#include <cmath>

namespace fotivela::stem_separator {

namespace {

constexpr int tonalStems = 3; // bass, vocals, other

// Box sum of `values` over `half` bins each side, in place (fewer at the edges).
void sumAcrossBins(float* values, int bins, int half, std::vector<float>& sums)
{
    sums.resize(static_cast<std::size_t>(bins) + 1);
    sums[0] = 0;
    for (int bin = 0; bin < bins; ++bin)
        sums[static_cast<std::size_t>(bin) + 1] = sums[static_cast<std::size_t>(bin)] + values[bin];
    for (int bin = 0; bin < bins; ++bin) {
        const int from = std::max(0, bin - half);
        const int to = std::min(bins, bin + half + 1);
        values[bin] = std::max(0.0f, sums[static_cast<std::size_t>(to)] - sums[static_cast<std::size_t>(from)]);
    }
}

} // namespace

bool refinementEnabled(const SeparationModel& model)
{
    return model.refineMaskFrames > 0 || model.refineMaskFramesAhead > 0 || model.refineMaskBins > 0;
}

void refineMasks(const MaskNeighbourhood& frame, const SeparationModel& model, FrameMasks& masks,
    RefinementScratch& scratch)
{
    const int bins = frame.bins;
    const auto size = static_cast<std::size_t>(bins);
    scratch.power.assign(tonalStems * size, 0.0f);
    float* bass = scratch.power.data();
    float* vocals = bass + size;
    float* other = vocals + size;
    for (int row = 0; row < frame.rows; ++row) {
        const float* magnitude = frame.magnitudes[row];
        const float* d = frame.drums[row];
        const float* b = frame.bass[row];
        const float* v = frame.vocals[row];
        for (int bin = 0; bin < bins; ++bin) {
            const float m = magnitude[bin];
            const float rest = std::max(0.0f, 1.0f - d[bin] - b[bin] - v[bin]);
            bass[bin] += b[bin] * b[bin] * m * m;
            vocals[bin] += v[bin] * v[bin] * m * m;
            other[bin] += rest * rest * m * m;
        }
    }
    if (model.refineMaskBins > 0)
        for (int s = 0; s < tonalStems; ++s)
            sumAcrossBins(scratch.power.data() + static_cast<std::size_t>(s) * size, bins, model.refineMaskBins,
                scratch.sums);

    // The powers are squares already: an exponent of 1 is the plain power share.
    const float exponent = static_cast<float>(model.refineMaskPower);
    const float* drums = frame.drums[frame.middle];
    for (int bin = 0; bin < bins; ++bin) {
        const auto at = static_cast<std::size_t>(bin);
        float b = bass[bin], v = vocals[bin], o = other[bin];
        if (exponent != 1.0f) {
            b = std::pow(b, exponent);
            v = std::pow(v, exponent);
            o = std::pow(o, exponent);
        }
        const float total = b + v + o;
        masks.drums[at] = drums[bin];
        if (!(total > 1e-30f) || !std::isfinite(total)) {
            // Silence, or powers past float's range: the first masks stand.
            masks.bass[at] = frame.bass[frame.middle][bin];
            masks.vocals[at] = frame.vocals[frame.middle][bin];
            continue;
        }
        const float share = (1.0f - drums[bin]) / total;
        masks.bass[at] = b * share;
        masks.vocals[at] = v * share;
    }
}

} // namespace fotivela::stem_separator
