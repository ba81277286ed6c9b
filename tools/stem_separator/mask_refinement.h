#pragma once

#include "separation_model.h"
#include "spectral_masks.h"

#include <vector>

namespace fotivela::stem_separator {

// The first masks of a few neighbouring frames, each row `bins` long, with the
// magnitudes they apply to.
struct MaskNeighbourhood {
    const float* const* drums = nullptr;
    const float* const* bass = nullptr;
    const float* const* vocals = nullptr;
    const float* const* magnitudes = nullptr;
    int rows = 0;
    int middle = 0; // the refined frame's row
    int bins = 0;
};

struct RefinementScratch {
    std::vector<float> power; // [bass, vocals, other][bin]
    std::vector<float> sums;
};

// A mask taken bin by bin swings from frame to frame where the tonal stems
// share a bin, and what the bass or vocals lose there lands in the other stem
// as rough noise. The drums keep their first mask (smoothing would blur their
// hits); the bass's, the vocals' and the other stem's power (other's is what
// the masks leave) is summed over the neighbourhood, raised to the model's
// exponent, and they share what the drums leave by it.
bool refinementEnabled(const SeparationModel& model);
void refineMasks(const MaskNeighbourhood& frame, const SeparationModel& model, FrameMasks& masks,
    RefinementScratch& scratch);

} // namespace fotivela::stem_separator
