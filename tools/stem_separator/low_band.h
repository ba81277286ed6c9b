#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace fotivela::stem_separator {

// The song's mid (the mean of both sides) low-passed and taken every
// `step`-th song frame, so a kick's body can be fitted cheaply. Its samples
// stand at song frames that are multiples of the step, whichever span they
// were read for.
class LowBand {
public:
    static constexpr int step = 32;
    static constexpr double cutoffHz = 220.0;

    explicit LowBand(int sampleRate);
    int sampleRate() const { return m_sampleRate; }
    double rate() const { return static_cast<double>(m_sampleRate) / step; }
    // Song frames either side of a low-band sample that it reads.
    int reach() const { return static_cast<int>(m_taps.size() / 2); }
    // What the filter leaves of a sine at `hz`.
    double response(double hz) const;

    // Low-band samples at song frames first·step, (first + 1)·step, … from
    // the mid as `mid(songFrame, count, out)` reads it.
    void read(const std::function<void(std::int64_t, std::int64_t, float*)>& mid, std::int64_t first, int count,
        std::vector<float>& out) const;

private:
    int m_sampleRate;
    std::vector<float> m_taps;
    std::vector<float> m_response; // every half hertz
};

} // namespace fotivela::stem_separator
