// Songs the separator meets outside the studio: damaged float files, levels
// nothing records, and surround mixes.

#include "separator_process.h"

#include "platform/stereo_downmix.h"
#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>
#include <utility>

namespace fotivela::test {
namespace {

namespace fs = std::filesystem;

TestSignal busySong(double seconds, int channelCount = 2)
{
    TestSignal song = makeSilence(seconds, 44100, channelCount);
    for (double t = 0.05; t < seconds; t += 0.25)
        addDrumHit(song, t, 0.4, 90.0, 0.02);
    for (int n = 0; n * 0.5 < seconds; ++n)
        addSine(song, n % 2 ? 73.4 : 55.0, 0.3, n * 0.5, 0.5);
    addSine(song, 330, 0.15);
    addNoise(song, 0.02, 5);
    return song;
}

struct Separation {
    SeparatorRun run;
    fs::path out;
    std::vector<StemFile> stems; // drums, bass, vocals, other; empty when the run failed
};

Separation separate(const AudioTestFolder& folder, const std::string& name, const TestSignal& song)
{
    Separation result;
    const fs::path input = writeAudioFile(folder.path(), name, song, TestAudioFormat::wavFloat);
    result.out = folder / ("out-" + name);
    result.run = runSeparator(separatorArguments(result.out, input));
    if (result.run.exitStatus == 0)
        for (const std::string& stem : stemNames())
            result.stems.push_back(readStem(result.out / "htdemucs" / name / stem));
    return result;
}

// Largest difference between the stems' sum and the expected stereo, and whether
// every stem sample is finite.
struct SumCheck {
    float worst = 0;
    bool finite = true;
};

SumCheck compareSum(const std::vector<StemFile>& stems, const TestSignal& expected)
{
    SumCheck check;
    for (std::size_t c = 0; c < 2; ++c)
        for (std::size_t i = 0; i < expected.frameCount(); ++i) {
            float sum = 0;
            for (const StemFile& stem : stems) {
                const float value = stem.signal.channels[c][i];
                check.finite = check.finite && std::isfinite(value);
                sum += value;
            }
            check.worst = std::max(check.worst, std::abs(sum - expected.channels[c][i]));
        }
    return check;
}

TEST(StemSeparatorInput, NaNAndInfiniteSamplesAreSilenceAndTheStemsStayFinite)
{
    AudioTestFolder folder("fotivela-stems");
    TestSignal song = busySong(4.0);
    TestSignal heard = song;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const auto damage = [&](std::size_t frame, std::size_t channel, float value) {
        song.channels[channel][frame] = value;
        heard.channels[channel][frame] = 0.0f;
    };
    // One damaged sample of each kind, then a stretch damaged every 1000 frames.
    damage(2 * 44100, 0, nan);
    damage(2 * 44100 + 5000, 1, inf);
    damage(2 * 44100 + 9000, 0, -inf);
    damage(2 * 44100 + 9000, 1, -inf);
    for (std::size_t i = 3 * 44100; i < song.frameCount(); i += 1000)
        damage(i, i % 2, i % 3 == 0 ? nan : (i % 3 == 1 ? inf : -inf));

    const Separation separation = separate(folder, "damaged", song);

    ASSERT_EQ(separation.run.exitStatus, 0) << separation.run.standardError;
    const SumCheck check = compareSum(separation.stems, heard);
    EXPECT_TRUE(check.finite);
    EXPECT_LT(check.worst, 1e-4f);
    for (const StemFile& stem : separation.stems)
        EXPECT_EQ(stem.signal.frameCount(), song.frameCount());
}

TEST(StemSeparatorInput, SongsBeyondAnyRecordedLevelAreRefusedAndLoudOnesSeparate)
{
    AudioTestFolder folder("fotivela-stems");
    const TestSignal song = busySong(2.0);
    const auto scaled = [&](float gain) {
        TestSignal loud = song;
        for (auto& channel : loud.channels)
            for (float& sample : channel)
                sample *= gain;
        return loud;
    };
    TestSignal oneHugeSample = song;
    oneHugeSample.channels[0][44100] = 1e30f;

    for (const auto& [name, refused] : {std::pair{"spike", oneHugeSample}, std::pair{"scaled", scaled(5e11f)}}) {
        const Separation separation = separate(folder, name, refused);
        EXPECT_EQ(separation.run.exitStatus, 1) << name;
        EXPECT_EQ(std::count(separation.run.standardError.begin(), separation.run.standardError.end(), '\n'), 1)
            << separation.run.standardError;
        EXPECT_NE(separation.run.standardError.find("fuera de toda escala"), std::string::npos)
            << separation.run.standardError;
        EXPECT_FALSE(fs::exists(separation.out)) << name;
    }

    // Just under the limit (peak 0.99e6, about 120 dB over full scale) the song still separates.
    const TestSignal loud = scaled(0.99e6f / 0.9f);
    const Separation separation = separate(folder, "loud", loud);
    ASSERT_EQ(separation.run.exitStatus, 0) << separation.run.standardError;
    const SumCheck check = compareSum(separation.stems, loud);
    EXPECT_TRUE(check.finite);
    EXPECT_LT(check.worst, 1e-4f * 1.1e6f);
}

TEST(StemSeparatorInput, SurroundSongsGiveStemsOfTheStereoThePlayerPlays)
{
    AudioTestFolder folder("fotivela-stems");
    // 5.1 with sound only in the front centre, where such mixes put the voice;
    // 7.1 with nothing in the front pair at all.
    for (const auto& [channelCount, first, last] : {std::tuple{6, 2, 2}, std::tuple{8, 2, 7}}) {
        const TestSignal content = busySong(2.0, 1);
        TestSignal song = makeSilence(2.0, 44100, channelCount);
        for (int c = first; c <= last; ++c)
            song.channels[static_cast<std::size_t>(c)] = content.channels[0];
        TestSignal heard = makeSilence(2.0, 44100, 2);
        std::vector<const float*> pointers;
        for (const auto& channel : song.channels)
            pointers.push_back(channel.data());
        downmixToStereo(pointers.data(), channelCount, static_cast<std::int64_t>(song.frameCount()),
            heard.channels[0].data(), heard.channels[1].data());
        ASSERT_GT(energy(heard), 0.01 * energy(content)) << channelCount;

        const Separation separation = separate(folder, "surround-" + std::to_string(channelCount), song);

        ASSERT_EQ(separation.run.exitStatus, 0) << separation.run.standardError;
        const SumCheck check = compareSum(separation.stems, heard);
        EXPECT_TRUE(check.finite) << channelCount;
        EXPECT_LT(check.worst, 1e-4f) << channelCount;
    }
}

} // namespace
} // namespace fotivela::test
