#include "stem_separator/body_pencil.h"

#include <gtest/gtest.h>

#include <complex>
#include <random>
#include <vector>

namespace fotivela::stem_separator {
namespace {

using Complex = std::complex<double>;

// An 808's body (dying away at 0.95 a frame) and a held note (0.981) across
// the five bins of their lobe, each bin at its own amplitude and phase, over
// a faint noise floor; at the very same pitch, and 2 % apart.
TEST(BodyPencil, TellsABodyFromANoteOfAlmostItsPitchByHowEachDiesAway)
{
    constexpr int frames = 24, bins = 5;
    for (const double noteTurn : {2.05, 2.22}) {
        SCOPED_TRACE(noteTurn);
        const Complex body = std::polar(0.95, 2.05), note = std::polar(0.981, noteTurn);
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0.0, 0.002);
        std::vector<Complex> bodyAt(bins), noteAt(bins), values(static_cast<std::size_t>(frames * bins));
        for (int k = 0; k < bins; ++k) {
            bodyAt[static_cast<std::size_t>(k)] = std::polar(1.0 - 0.15 * std::abs(k - 2), 0.7 * k);
            noteAt[static_cast<std::size_t>(k)] = std::polar(0.8 - 0.12 * std::abs(k - 2), 2.9 - 0.4 * k);
        }
        for (int f = 0; f < frames; ++f)
            for (int k = 0; k < bins; ++k)
                values[static_cast<std::size_t>(f * bins + k)] = bodyAt[static_cast<std::size_t>(k)] * std::pow(body, f)
                    + noteAt[static_cast<std::size_t>(k)] * std::pow(note, f) + Complex(noise(random), noise(random));

        const auto poles = fitTwoPoles(values, frames, bins);
        ASSERT_TRUE(poles);
        EXPECT_NEAR(std::abs(poles->body - body), 0.0, 0.004);
        EXPECT_NEAR(std::abs(poles->note - note), 0.0, 0.004);
        for (int k = 0; k < bins; ++k) {
            double residual = 0;
            const auto amplitudes = poleAmplitudes(*poles, values.data() + k, frames, bins, residual);
            EXPECT_LT(std::abs(amplitudes[0] - bodyAt[static_cast<std::size_t>(k)]), 0.05) << k;
            EXPECT_LT(std::abs(amplitudes[1] - noteAt[static_cast<std::size_t>(k)]), 0.05) << k;
            EXPECT_LT(residual, frames * 4 * 0.002 * 0.002) << k;
        }
    }
}

} // namespace
} // namespace fotivela::stem_separator
