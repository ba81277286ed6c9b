#pragma once

#include "separation_model.h"

#include <cstdint>
#include <vector>

namespace fotivela::stem_separator {

// Kicks under a bass line. A kick's pitch falls in its first tens of
// milliseconds and its body then dies away, often at the very pitch the bass
// plays: no single frame tells the two apart, but the sweep marks where a kick
// starts and the decay says how much of what follows is still the kick.
//
// Works on the magnitude rows of a span of frames (one row per frame, `stride`
// values apart). A row's verdict depends only on rows within `reach()` of it,
// so the spans may be cut anywhere.
class KickTracker {
public:
    KickTracker(const SeparationModel& model, int sampleRate);

    bool enabled() const { return m_lookbackFrames > 0 && m_endBin > m_firstBin; }
    // Rows a caller needs on each side of the rows it asks about.
    int reach() const { return enabled() ? m_lookbackFrames + onsetReachBefore + 1 : 0; }

    // onsets[r] = 1 where a kick starts at row r (0 where too near the span's ends to tell).
    void findOnsets(const float* magnitude, int stride, int rows, std::vector<std::uint8_t>& onsets) const;

    // The kick's magnitude in every bin of `row` (0 outside the kick band, and
    // everywhere when no kick started within the look-back).
    void kickMagnitude(const float* magnitude, int stride, int rows, int row, const std::vector<std::uint8_t>& onsets,
        std::vector<float>& out) const;

private:
    static constexpr int onsetReachBefore = 3; // rows before an onset its test and model read
    static constexpr int onsetReachAfter = 8;

    double lowEnergy(const float* row) const;

    int m_firstBin = 0;
    int m_endBin = 0;
    int m_bins = 0;
    int m_lookbackFrames = 0;
    double m_riseRatio = 0;
    double m_sweepRatio = 0;
    double m_slowestDecay = 0; // per frame, amplitude
    double m_fastestDecay = 0;
    double m_longTail = 0; // squared decay per frame past which a body must show its sweep
};

} // namespace fotivela::stem_separator
