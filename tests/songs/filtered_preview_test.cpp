#include "analysis/stem_separation_service.h"
#include "platform/audio_file_reader.h"

#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

bool writePreview(const fs::path& source, const fs::path& destination, AutoBeatInstrument instrument)
{
    return StemSeparationService::writeFilteredPreview(source, destination, instrument);
}

double rms(const std::vector<float>& samples, size_t from)
{
    double sum = 0;
    for (size_t i = from; i < samples.size(); ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(samples.size() - from));
}

// Steady-state gains of the one-pole filters with RC = 1 / (2π fc), at frequency f.
double onePoleGain(double cutoff, double frequency, double sampleRate, bool highPass)
{
    const double rc = 1 / (2 * std::numbers::pi * cutoff);
    const double dt = 1 / sampleRate;
    const double w = 2 * std::numbers::pi * frequency / sampleRate;
    if (highPass) {
        const double a = rc / (rc + dt);
        return a * 2 * std::sin(w / 2) / std::sqrt(1 - 2 * a * std::cos(w) + a * a);
    }
    const double b = dt / (rc + dt);
    return b / std::sqrt(1 - 2 * (1 - b) * std::cos(w) + (1 - b) * (1 - b));
}

} // namespace

TEST(FilteredPreview, KickIsALowPassedGatedAndAmplifiedDrumStem)
{
    AudioTestFolder folder;
    // A constant level gives the filter's step response, which pins its cut-off.
    TestSignal stem = makeSilence(0.5, 44100, 1);
    for (size_t i = 0; i < 22050; ++i)
        stem.channels[0][i] = 0.1f;
    const fs::path source = writeAudioFile(folder.path(), "drums", stem, TestAudioFormat::wavFloat);
    const fs::path preview = folder / "kick-filtered-v2.wav";
    ASSERT_TRUE(writePreview(source, preview, AutoBeatInstrument::kick));

    const AudioFileFormat format = AudioFileReader::formatOf(preview);
    EXPECT_EQ(format.formatName, "wav");
    EXPECT_TRUE(format.isFloat);
    EXPECT_EQ(format.bitsPerSample, 32);
    const AudioBuffer out = AudioFileReader::readWhole(preview);
    ASSERT_EQ(out.channels.size(), 1u);
    ASSERT_EQ(out.frameCount(), 22050);
    EXPECT_EQ(out.sampleRate, 44100);

    const double dt = 1.0 / 44100;
    const double a = dt / (0.00117892550438441 + dt);
    int gated = 0;
    for (size_t n = 0; n < 22050; ++n) {
        const double lowPassed = 0.1 * (1 - std::pow(1 - a, double(n + 1)));
        const float sample = out.channels[0][n];
        if (lowPassed < 0.0179) {
            EXPECT_EQ(sample, 0.0f) << n;
            ++gated;
        } else if (lowPassed > 0.0181) {
            EXPECT_NEAR(sample, 1.45 * lowPassed, 1e-5) << n;
        }
    }
    EXPECT_EQ(gated, 10);
    EXPECT_NEAR(out.channels[0].back(), 0.145f, 1e-5);
}

TEST(FilteredPreview, CymbalsKeepHighsPerChannelAndGateTheRest)
{
    AudioTestFolder folder;
    TestSignal stem = makeSilence(0.5, 48000, 2);
    addSine(stem, 9000, 0.3, 0, untilEnd, 0);
    addSine(stem, 50, 0.3, 0, untilEnd, 1); // under the gate once high-passed
    addClicks(stem, {0.1, 0.3}, 0.9, 1);
    const fs::path source = writeAudioFile(folder.path(), "drums", stem, TestAudioFormat::wavFloat);
    const fs::path preview = folder / "cymbal-hats-filtered-v2.wav";
    ASSERT_TRUE(writePreview(source, preview, AutoBeatInstrument::cymbalHats));

    const AudioBuffer out = AudioFileReader::readWhole(preview);
    ASSERT_EQ(out.channels.size(), 2u);
    ASSERT_EQ(out.frameCount(), 24000);
    for (const auto& channel : out.channels) {
        EXPECT_EQ(channel.front(), 0.0f);
        for (float sample : channel)
            EXPECT_TRUE(sample == 0.0f || std::fabs(sample) >= 1.8f * 0.006f);
    }
    EXPECT_NEAR(rms(out.channels[0], 100), 0.3 / std::sqrt(2) * onePoleGain(5800, 9000, 48000, true) * 1.8, 0.002);
    // The low tone is gated away; only the clicks come through, on their own channel.
    EXPECT_EQ(firstFrameAbove(out.channels[1], 0.001f), firstFrameAbove(stem.channels[1], 0.5f));
    int heard = 0;
    for (float sample : out.channels[1])
        heard += sample != 0.0f;
    EXPECT_LT(heard, 100);
}

TEST(FilteredPreview, ClapIsABandWithoutGate)
{
    AudioTestFolder folder;
    TestSignal band = makeSine(1500, 0.5, 44100, 1, 0.4);
    TestSignal low = makeSine(40, 0.5, 44100, 1, 0.4);
    TestSignal quiet = makeSilence(0.5, 44100, 1);
    addNoise(quiet, 0.002, 3);
    const fs::path bandPreview = folder / "band.wav";
    const fs::path lowPreview = folder / "low.wav";
    const fs::path quietPreview = folder / "quiet.wav";
    ASSERT_TRUE(writePreview(writeAudioFile(folder.path(), "band-in", band, TestAudioFormat::wavFloat), bandPreview,
                             AutoBeatInstrument::clapSnare));
    ASSERT_TRUE(writePreview(writeAudioFile(folder.path(), "low-in", low, TestAudioFormat::wavFloat), lowPreview,
                             AutoBeatInstrument::clapSnare));
    ASSERT_TRUE(writePreview(writeAudioFile(folder.path(), "quiet-in", quiet, TestAudioFormat::wavFloat), quietPreview,
                             AutoBeatInstrument::clapSnare));

    const auto bandGain = [](double f) { return onePoleGain(700, f, 44100, true) * onePoleGain(3200, f, 44100, false); };
    const double inputRms = 0.4 / std::sqrt(2);
    EXPECT_NEAR(rms(AudioFileReader::readWhole(bandPreview).channels[0], 2000) / inputRms, bandGain(1500), 0.005);
    EXPECT_NEAR(rms(AudioFileReader::readWhole(lowPreview).channels[0], 2000) / inputRms, bandGain(40), 0.003);
    const auto quietOut = AudioFileReader::readWhole(quietPreview).channels[0];
    const double quietRms = rms(quietOut, 100);
    EXPECT_GT(quietRms, 0.0002);
    EXPECT_LT(quietRms, 0.002);
}

TEST(FilteredPreview, OtherInstrumentsCopyTheSamplesAsFloatAndSilenceNonFiniteOnes)
{
    AudioTestFolder folder;
    TestSignal song = makeSine(220, 0.2, 22050, 2, 0.5, true);
    const fs::path pcm = writeAudioFile(folder.path(), "song16", song, TestAudioFormat::wav16);
    for (AutoBeatInstrument instrument : {AutoBeatInstrument::drums, AutoBeatInstrument::bass,
                                          AutoBeatInstrument::vocals, AutoBeatInstrument::other}) {
        const fs::path preview = folder / "copy.wav";
        ASSERT_TRUE(writePreview(pcm, preview, instrument));
        const AudioBuffer out = AudioFileReader::readWhole(preview);
        ASSERT_EQ(out.channels.size(), 2u);
        ASSERT_EQ(out.frameCount(), static_cast<std::int64_t>(song.frameCount()));
        for (size_t c = 0; c < 2; ++c)
            for (size_t i = 0; i < song.frameCount(); i += 97)
                ASSERT_EQ(out.channels[c][i], quantizedSample(song.channels[c][i], TestAudioFormat::wav16));
    }

    TestSignal broken = makeSine(220, 0.2, 22050, 1, 0.5);
    broken.channels[0][10] = std::numeric_limits<float>::quiet_NaN();
    broken.channels[0][20] = std::numeric_limits<float>::infinity();
    const fs::path source = writeAudioFile(folder.path(), "broken", broken, TestAudioFormat::wavFloat);
    for (AutoBeatInstrument instrument : {AutoBeatInstrument::other, AutoBeatInstrument::kick,
                                          AutoBeatInstrument::clapSnare, AutoBeatInstrument::cymbalHats}) {
        ASSERT_TRUE(writePreview(source, folder / "broken-out.wav", instrument));
        const auto out = AudioFileReader::readWhole(folder / "broken-out.wav").channels[0];
        for (float sample : out)
            ASSERT_TRUE(std::isfinite(sample));
        EXPECT_GT(rms(out, 100), 0.001);
    }
}

TEST(FilteredPreview, ReplacesAnOldPreviewOnlyWithACompleteOne)
{
    AudioTestFolder folder;
    const fs::path source = writeAudioFile(folder.path(), "drums", makeSine(100, 0.3, 44100, 2), TestAudioFormat::wav16);
    const fs::path preview = folder / "kick-filtered-v2.wav";
    writeTextFile(preview, "old preview");

    // Nothing readable to filter: the old file stays as it was.
    writeTextFile(folder / "not-audio.wav", "not audio at all");
    EXPECT_FALSE(writePreview(folder / "not-audio.wav", preview, AutoBeatInstrument::kick));
    EXPECT_FALSE(writePreview(folder / "missing.wav", preview, AutoBeatInstrument::kick));
    EXPECT_EQ(fs::file_size(preview), 11u);

    ASSERT_TRUE(writePreview(source, preview, AutoBeatInstrument::kick));
    EXPECT_EQ(AudioFileReader::formatOf(preview).lengthFrames, 13230);

    // A folder in the way is replaced too; a missing parent folder fails and leaves nothing.
    fs::create_directories(folder / "in-the-way.wav" / "inside");
    EXPECT_TRUE(writePreview(source, folder / "in-the-way.wav", AutoBeatInstrument::clapSnare));
    EXPECT_TRUE(fs::is_regular_file(folder / "in-the-way.wav"));
    EXPECT_FALSE(writePreview(source, folder / "no-such-folder" / "p.wav", AutoBeatInstrument::kick));
    EXPECT_FALSE(fs::exists(folder / "no-such-folder"));

    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder.path()))
        ++entries;
    EXPECT_EQ(entries, 4u); // source, two previews, the text file: no temporary left over
}
