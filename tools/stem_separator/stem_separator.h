#pragma once

#include "separation_model.h"

namespace fotivela::stem_separator {

class InputWindow;
class StemSink;

// Where the time of one separation went, in seconds. The transform and mask
// figures are thread time summed over the workers; the others wall time.
struct SeparationTimings {
    double reading = 0;
    double forwardTransforms = 0;
    double inverseTransforms = 0;
    double masks = 0;
    double writing = 0;
    int workers = 0;
};

// Separates the input into the four stems, block by block: a short-time
// Fourier transform of both sides, soft masks per bin (drums, bass, vocals,
// the rest as other) and overlap-add back to samples. `blockSeconds` bounds
// the audio held at once. The stems add up to the input. Does not finish the sink.
SeparationTimings separateStems(InputWindow& input, const SeparationModel& model, double blockSeconds,
    StemSink& output, int workers);

} // namespace fotivela::stem_separator
