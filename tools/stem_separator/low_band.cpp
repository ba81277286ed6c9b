#include "low_band.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace fotivela::stem_separator {

namespace {

constexpr double twoPi = 2 * std::numbers::pi;

} // namespace

LowBand::LowBand(int sampleRate) : m_sampleRate(sampleRate)
{
    // A Blackman-windowed sinc about 0.05 s long.
    const int half = static_cast<int>(std::lround(0.0232 * sampleRate));
    const double cut = cutoffHz / sampleRate;
    m_taps.resize(static_cast<std::size_t>(2 * half + 1));
    double sum = 0;
    for (int n = -half; n <= half; ++n) {
        const double x = std::numbers::pi * (n + half) / half;
        const double window = 0.42 - 0.5 * std::cos(x) + 0.08 * std::cos(2 * x);
        const double sinc = n == 0 ? 2 * cut : std::sin(twoPi * cut * n) / (std::numbers::pi * n);
        m_taps[static_cast<std::size_t>(n + half)] = static_cast<float>(window * sinc);
        sum += window * sinc;
    }
    for (float& tap : m_taps)
        tap = static_cast<float>(tap / sum);
    const int responses = static_cast<int>(2 * rate()) + 2;
    m_response.resize(static_cast<std::size_t>(responses));
    for (int i = 0; i < responses; ++i) {
        const double hz = 0.5 * i;
        double h = 0;
        for (int n = -half; n <= half; ++n)
            h += m_taps[static_cast<std::size_t>(n + half)] * std::cos(twoPi * hz * n / sampleRate);
        m_response[static_cast<std::size_t>(i)] = static_cast<float>(h);
    }
}

double LowBand::response(double hz) const
{
    const double x = std::max(0.0, hz) * 2;
    const auto i = static_cast<std::size_t>(x);
    if (i + 1 >= m_response.size())
        return 0.0;
    const double w = x - static_cast<double>(i);
    return (1 - w) * m_response[i] + w * m_response[i + 1];
}

void LowBand::read(const std::function<void(std::int64_t, std::int64_t, float*)>& mid, std::int64_t first, int count,
    std::vector<float>& out) const
{
    const int half = reach();
    const std::int64_t from = first * step - half;
    const std::int64_t length = static_cast<std::int64_t>(std::max(0, count - 1)) * step + 2 * half + 1;
    std::vector<float> source(static_cast<std::size_t>(length));
    mid(from, length, source.data());
    out.assign(static_cast<std::size_t>(std::max(0, count)), 0.0f);
    for (int i = 0; i < count; ++i) {
        const float* at = source.data() + static_cast<std::ptrdiff_t>(i) * step;
        double sum = 0;
        for (std::size_t k = 0; k < m_taps.size(); ++k)
            sum += static_cast<double>(m_taps[k]) * at[k];
        out[static_cast<std::size_t>(i)] = static_cast<float>(sum);
    }
}

} // namespace fotivela::stem_separator
