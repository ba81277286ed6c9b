#include "stem_separator/driven_kick_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <vector>

namespace fotivela::stem_separator {
namespace {

constexpr int rate = 44100;
constexpr double twoPi = 2 * std::numbers::pi;

// An 808 from `start` seconds: a sine sweeping from 120 onto 57 Hz, dying
// away over 0.45 s, driven through tanh, with a click.
void add808(std::vector<float>& song, double start)
{
    double phase = 0;
    const auto first = static_cast<std::size_t>(start * rate);
    for (std::size_t i = 0; first + i < song.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        phase += twoPi * (57 + 63 * std::exp(-t / 0.05)) / rate;
        const double body = std::exp(-t / 0.45) * std::min(1.0, t / 0.002) * std::sin(phase);
        song[first + i] += static_cast<float>(0.7 * (std::tanh(2.5 * body) / std::tanh(2.5) + (i < 60 ? 0.25 * (1 - i / 60.0) : 0)));
    }
}

void addNote(std::vector<float>& song, double start, double hz, double level)
{
    for (auto i = static_cast<std::size_t>(start * rate); i < song.size(); ++i) {
        const double t = static_cast<double>(i) / rate - start;
        song[i] += static_cast<float>(level * std::min(1.0, t / 0.004) * std::sin(twoPi * hz * t));
    }
}

struct KickFit {
    std::optional<DrivenKickFit> fit;
    double zeroSeconds = 0;
};

// Fits the kick starting at `kick` seconds in `song` as the separator does.
KickFit fitKick(const std::vector<float>& song, double kick)
{
    const LowBand band(rate);
    const auto reader = [&](std::int64_t from, std::int64_t count, float* out) {
        for (std::int64_t i = 0; i < count; ++i) {
            const std::int64_t at = from + i;
            out[i] = at >= 0 && at < static_cast<std::int64_t>(song.size()) ? song[static_cast<std::size_t>(at)] : 0.0f;
        }
    };
    const auto onsetAt = static_cast<int>((kick * rate - band.reach()) / LowBand::step);
    const auto zero = static_cast<int>((kick + 0.025) * rate / LowBand::step) + 1;
    const int first = onsetAt - 165;
    std::vector<float> low;
    band.read(reader, first, zero - first + static_cast<int>(1.2 * band.rate()), low);
    return {fitDrivenKick(band, low, onsetAt - first, zero - first), static_cast<double>(zero) * LowBand::step / rate};
}

// The share of the lone kick's energy from 1.0 to 1.3 s after it starts that
// the fitted shape, carried on, misses.
double missedASecondOn(const KickFit& fitted, const std::vector<float>& kickAlone, double kick)
{
    double missed = 0, held = 0;
    for (auto i = static_cast<std::size_t>((kick + 1.0) * rate); i < static_cast<std::size_t>((kick + 1.3) * rate); ++i) {
        const double miss = kickAlone[i] - fitted.fit->shape.value(static_cast<double>(i) / rate - fitted.zeroSeconds);
        missed += miss * miss;
        held += static_cast<double>(kickAlone[i]) * kickAlone[i];
    }
    return missed / held;
}

// Under a note that rang before it and one of almost its pitch coming in
// 0.34 s on, the fit from the body's start says where the sine stands, in
// phase, a second later.
TEST(DrivenKickModel, FitFromTheBodysStartCarriesItOnInPhaseUnderNotes)
{
    constexpr double kick = 0.6;
    std::vector<float> kickAlone(static_cast<std::size_t>(2.5 * rate));
    add808(kickAlone, kick);
    std::vector<float> song = kickAlone;
    addNote(song, 0.0, 87.3, 0.3);
    addNote(song, kick + 0.34, 58.3, 0.4);

    const KickFit fitted = fitKick(song, kick);

    ASSERT_TRUE(fitted.fit.has_value());
    // It stops where the second note comes in.
    EXPECT_LT(fitted.fit->fittedSeconds, 0.34);
    EXPECT_NEAR(fitted.fit->shape.endHz, 57.0, 0.02);
    EXPECT_LT(missedASecondOn(fitted, kickAlone, kick), 0.01);
}

// A note of almost its pitch coming in while the body's start is still being
// fitted is taken in by the sine: no fit is better than one that drifts.
TEST(DrivenKickModel, NoteComingInEarlyGivesNoFitThatDrifts)
{
    for (const double noteAfter : {0.12, 0.17, 0.22}) {
        SCOPED_TRACE(noteAfter);
        constexpr double kick = 0.6;
        std::vector<float> kickAlone(static_cast<std::size_t>(2.5 * rate));
        add808(kickAlone, kick);
        std::vector<float> song = kickAlone;
        addNote(song, kick + noteAfter, 58.3, 0.4);

        const KickFit fitted = fitKick(song, kick);

        if (fitted.fit) {
            EXPECT_LT(missedASecondOn(fitted, kickAlone, kick), 0.1);
        }
    }
}

} // namespace
} // namespace fotivela::stem_separator
