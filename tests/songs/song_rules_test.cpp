#include "analysis/ai_music_file_layout.h"
#include "analysis/audio_fade_envelope.h"
#include "analysis/stem_separation_time_estimator.h"

#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>

using namespace fotivela;
namespace layout = fotivela::AIMusicFileLayout;
namespace estimator = fotivela::StemSeparationTimeEstimator;

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

std::chrono::system_clock::time_point localTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm fields {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&fields));
}

} // namespace

TEST(AIMusicFileLayout, ExtensionFollowsTheWholeMimeTypeInAnyCase)
{
    EXPECT_EQ(layout::audioExtension(std::nullopt), "mp3");
    EXPECT_EQ(layout::audioExtension("AUDIO/WAV"), "wav");
    EXPECT_EQ(layout::audioExtension("audio/x-wav"), "wav");
    EXPECT_EQ(layout::audioExtension("Audio/AAC"), "m4a");
    EXPECT_EQ(layout::audioExtension("audio/mpeg"), "mp3");
    EXPECT_EQ(layout::audioExtension("audio/mp4"), "mp3");
    EXPECT_EQ(layout::audioExtension(""), "mp3");
    EXPECT_EQ(layout::audioExtension("audio/wav; charset=binary"), "mp3");
}

TEST(AIMusicFileLayout, FallbackNameCarriesTheLocalDateWithLeadingZeros)
{
    const auto date = localTime(2026, 3, 4, 5, 6, 7);
    EXPECT_EQ(layout::generatedAudioFallbackName("audio/wav", date), "fotivela-cancion-20260304-050607.wav");
    EXPECT_EQ(layout::generatedAudioFallbackName(std::nullopt, localTime(2025, 12, 31, 23, 59, 58)),
              "fotivela-cancion-20251231-235958.mp3");
    EXPECT_EQ(layout::generatedAudioFallbackName("audio/aac", date), "fotivela-cancion-20260304-050607.m4a");
}

TEST(AudioFadeEnvelope, FadeLastsAtLeastTwoTenthsAndNeverStartsBeforeZero)
{
    EXPECT_DOUBLE_EQ(AudioFadeEnvelope::fadeStart(30, 3), 27);
    EXPECT_DOUBLE_EQ(AudioFadeEnvelope::fadeStart(30, 0.05), 29.8);
    EXPECT_DOUBLE_EQ(AudioFadeEnvelope::fadeStart(30, -4), 29.8);
    EXPECT_EQ(AudioFadeEnvelope::fadeStart(2, 5), 0);
    EXPECT_EQ(AudioFadeEnvelope::fadeStart(0.1, 0), 0);
    // The export builds a gain ramp from it: never a number that is not finite.
    EXPECT_DOUBLE_EQ(AudioFadeEnvelope::fadeStart(30, notANumber), 29.8);
    EXPECT_EQ(AudioFadeEnvelope::fadeStart(notANumber, 3), 0);
    EXPECT_EQ(AudioFadeEnvelope::fadeStart(infinity, 3), 0);
    EXPECT_EQ(AudioFadeEnvelope::fadeStart(30, infinity), 0);
}

class StemSeparationTimeEstimate : public ::testing::Test {
protected:
    test::AudioTestFolder m_folder{"fotivela-estimate"};
    FotivelaPreferences m_preferences{m_folder.path(), {}};
};

TEST_F(StemSeparationTimeEstimate, DefaultRateWithinBounds)
{
    EXPECT_EQ(estimator::estimatedDuration(10, m_preferences), 5);
    EXPECT_EQ(estimator::estimatedDuration(20, m_preferences), 5);
    // A song of 79 s, whose separation takes a few seconds here, once read "1 min 39 s".
    EXPECT_DOUBLE_EQ(estimator::estimatedDuration(79.2, m_preferences), 19.8);
    EXPECT_EQ(estimator::estimatedDuration(3600, m_preferences), 900);
    EXPECT_EQ(estimator::estimatedDuration(200, m_preferences), 50);
    EXPECT_EQ(estimator::estimatedDuration(notANumber, m_preferences), 5);

    for (const PlistValue& unusable : {PlistValue(0.0), PlistValue(-2.0), PlistValue("1.5"), PlistValue(notANumber)}) {
        m_preferences.setValue(estimator::rateKey, unusable);
        EXPECT_EQ(estimator::estimatedDuration(200, m_preferences), 50);
    }
    m_preferences.setValue(estimator::rateKey, PlistValue(2));
    EXPECT_EQ(estimator::estimatedDuration(200, m_preferences), 400);
}

TEST_F(StemSeparationTimeEstimate, LearnsFromEveryRealRunAndKeepsTheRateAcrossRestarts)
{
    estimator::remember(0.5, 200, m_preferences);
    estimator::remember(300, 1, m_preferences);
    estimator::remember(infinity, 200, m_preferences);
    EXPECT_FALSE(m_preferences.object(estimator::rateKey));

    // A separation of a few seconds is learnt: the next estimate follows the machine.
    estimator::remember(3, 79.2, m_preferences);
    EXPECT_DOUBLE_EQ(*m_preferences.object(estimator::rateKey)->as<double>(), 3 / 79.2);
    EXPECT_EQ(estimator::estimatedDuration(79.2, m_preferences), 5);
    EXPECT_DOUBLE_EQ(estimator::estimatedDuration(240, m_preferences), 240 * 3 / 79.2);
    m_preferences.setValue(estimator::rateKey, PlistValue(0.0));

    estimator::remember(300, 200, m_preferences);
    EXPECT_EQ(m_preferences.object(estimator::rateKey), PlistValue(1.5));
    estimator::remember(100, 200, m_preferences);
    EXPECT_DOUBLE_EQ(*m_preferences.object(estimator::rateKey)->as<double>(), 0.5 * 0.35 + 1.5 * 0.65);

    FotivelaPreferences reopened(m_folder.path(), {});
    EXPECT_DOUBLE_EQ(estimator::estimatedDuration(200, reopened), 200 * 1.15);

    // A stored text is replaced by the plain observation.
    m_preferences.setValue(estimator::rateKey, PlistValue("rapido"));
    estimator::remember(60, 20, m_preferences);
    EXPECT_EQ(m_preferences.object(estimator::rateKey), PlistValue(3.0));
}

TEST(StemSeparationTimeFormat, RoundsToWholeSecondsAndMinutes)
{
    EXPECT_EQ(estimator::formattedRemainingTime(59.4), "59 s");
    EXPECT_EQ(estimator::formattedRemainingTime(59.5), "1 min");
    EXPECT_EQ(estimator::formattedRemainingTime(125), "2 min 5 s");
    EXPECT_EQ(estimator::formattedRemainingTime(120), "2 min");
    EXPECT_EQ(estimator::formattedRemainingTime(0.4), "0 s");
    EXPECT_EQ(estimator::formattedRemainingTime(-3), "0 s");
    EXPECT_EQ(estimator::formattedRemainingTime(notANumber), "0 s");
    EXPECT_EQ(estimator::formattedRemainingTime(3725), "62 min 5 s");
}
