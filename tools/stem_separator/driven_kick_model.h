#pragma once

#include "low_band.h"

#include <optional>
#include <vector>

namespace fotivela::stem_separator {

// A driven kick (an 808) as a handful of numbers: a sine whose pitch falls
// exponentially onto its end pitch and whose level then dies away
// exponentially, driven through tanh, which holds its level up at first and
// adds odd harmonics. Fitted where the body sounds alone, it still says where
// the sine stands, in phase, a second later, where a note of almost its pitch
// has come in over it.
struct DrivenKickShape {
    double endHz = 0;
    double sweepHz = 0; // pitch above endHz at time 0
    double sweepSeconds = 0.05;
    double decaySeconds = 0.3;
    double drive = 1; // what tanh is fed at time 0, per unit of level
    double gain = 0;
    double phase = 0; // of the fundamental at time 0

    // The waveform `seconds` after time 0.
    double value(double seconds) const;
};

struct DrivenKickFit {
    DrivenKickShape shape;
    double fittedSeconds = 0; // how long after time 0 the body sounded alone
    double residual = 0;      // share of the fitted span's energy the shape leaves
};

// Fits a driven kick to low-band samples: what rang before `onsetAt` is
// carried on and set aside, and the shape fitted from `fromAt` (its time 0,
// a little after the onset, the click gone) on past where the body may still
// sound alone: the span fitted grows while the shape keeps explaining what
// comes next. No fit where the shape does not explain the body's start.
std::optional<DrivenKickFit> fitDrivenKick(
    const LowBand& band, const std::vector<float>& samples, int onsetAt, int fromAt);

// The shape over a frame whose window starts `secondsAtWindowStart` after
// its time 0, windowed as the song's frames are (`window`, one value per
// sample), so its spectrum compares with theirs.
void drivenKickFrame(const DrivenKickShape& shape, double secondsAtWindowStart, int sampleRate,
    const std::vector<float>& window, float* out);

} // namespace fotivela::stem_separator
