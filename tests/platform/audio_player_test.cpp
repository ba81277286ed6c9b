#include "platform/audio_output.h"
#include "platform/audio_player.h"

#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdlib>
#include <thread>

using namespace fotivela;
using namespace fotivela::test;
using namespace std::chrono_literals;

namespace {

// Wide enough for a loaded machine running the whole suite under sanitizers; a clock that
// stalls or runs at the wrong speed is still far outside it.
constexpr double clockTolerance = 0.15;

// Sleeps and returns the seconds that really went by (a loaded machine oversleeps).
double sleepSeconds(double seconds)
{
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class AudioPlayerTest : public testing::Test {
protected:
    std::filesystem::path song(double seconds, TestAudioFormat format = TestAudioFormat::wav16, int rate = 44100,
        int channels = 2)
    {
        return writeAudioFile(folder.path(), "song" + std::to_string(++count), makeSine(440, seconds, rate, channels),
            format);
    }
    AudioTestFolder folder;
    int count = 0;
};

TEST_F(AudioPlayerTest, OpensWithTheFilesDurationAndRefusesWhatIsNotAudio)
{
    AudioPlayer player(song(2.5, TestAudioFormat::mp3));
    EXPECT_NEAR(player.duration(), 2.5, 0.001);
    EXPECT_EQ(player.currentTime(), 0.0);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.volume(), 1.0f);

    writeTextFile(folder / "letra.mp3", "no soy audio");
    EXPECT_THROW(AudioPlayer{folder / "letra.mp3"}, AudioDecoderError);
    EXPECT_EQ(AudioPlayer::open(folder / "letra.mp3"), nullptr);
    EXPECT_EQ(AudioPlayer::open(folder / "missing.wav"), nullptr);
    EXPECT_NE(AudioPlayer::open(song(0.2)), nullptr);
}

TEST_F(AudioPlayerTest, TimeAdvancesInRealTimeAndPauseHoldsIt)
{
    AudioPlayer player(song(5.0));
    ASSERT_TRUE(player.play());
    EXPECT_TRUE(player.isPlaying());
    EXPECT_TRUE(player.hasOutputDevice()); // the dummy driver counts as a device
    const double elapsed = sleepSeconds(0.4);
    EXPECT_NEAR(player.currentTime(), elapsed, clockTolerance);

    player.pause();
    EXPECT_FALSE(player.isPlaying());
    const double held = player.currentTime();
    sleepSeconds(0.2);
    EXPECT_EQ(player.currentTime(), held);

    ASSERT_TRUE(player.play());
    const double resumed = sleepSeconds(0.2);
    EXPECT_NEAR(player.currentTime(), held + resumed, clockTolerance);

    player.stop();
    EXPECT_FALSE(player.isPlaying());
    const double stopped = player.currentTime();
    EXPECT_GT(stopped, held);
    EXPECT_EQ(player.bufferBytes(), 0u);
    ASSERT_TRUE(player.play());
    const double restarted = sleepSeconds(0.1);
    EXPECT_NEAR(player.currentTime(), stopped + restarted, clockTolerance);
}

TEST_F(AudioPlayerTest, SeekLandsOnTheTargetPausedAndPlaying)
{
    AudioPlayer player(song(4.0, TestAudioFormat::mp3));
    player.setCurrentTime(1.234);
    EXPECT_NEAR(player.currentTime(), 1.234, 0.001);
    ASSERT_TRUE(player.play());
    sleepSeconds(0.05);
    player.setCurrentTime(3.0);
    EXPECT_NEAR(player.currentTime(), 3.0, 0.01);
    EXPECT_TRUE(player.isPlaying());
    const double elapsed = sleepSeconds(0.2);
    EXPECT_NEAR(player.currentTime(), 3.0 + elapsed, clockTolerance);

    player.setCurrentTime(-2.0);
    EXPECT_NEAR(player.currentTime(), 0.0, 0.01);
    player.pause();
    player.setCurrentTime(99.0);
    EXPECT_EQ(player.currentTime(), player.duration());
    EXPECT_FALSE(player.play()); // nothing left to play
    player.setCurrentTime(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(player.currentTime(), 0.0);
}

// Scrubbing: a burst of seeks, volume changes and pauses while the output plays.
TEST_F(AudioPlayerTest, StaysConsistentUnderRapidSeeking)
{
    AudioPlayer player(song(6.0, TestAudioFormat::m4a));
    ASSERT_TRUE(player.play());
    for (int i = 0; i < 150; ++i) {
        const double target = std::fmod(i * 0.37, 5.5);
        player.setCurrentTime(target);
        EXPECT_NEAR(player.currentTime(), target, 0.001);
        player.setVolume(static_cast<float>(i % 10) / 10.0f);
        if (i % 25 == 0) {
            player.pause();
            player.play();
        }
        std::this_thread::sleep_for(1ms);
    }
    player.setCurrentTime(2.0);
    const double elapsed = sleepSeconds(0.2);
    EXPECT_TRUE(player.isPlaying());
    EXPECT_NEAR(player.currentTime(), 2.0 + elapsed, clockTolerance);
}

TEST_F(AudioPlayerTest, TwoPlayersSoundAtOnceWithTheirOwnClocksAndVolumes)
{
    AudioPlayer first(song(3.0, TestAudioFormat::wav16, 44100, 2));
    AudioPlayer second(song(3.0, TestAudioFormat::flac16, 22050, 1));
    first.setVolume(0.25f);
    second.setVolume(2.0f);
    EXPECT_EQ(first.volume(), 0.25f);
    EXPECT_EQ(second.volume(), 1.0f);
    second.setCurrentTime(1.0);
    ASSERT_TRUE(first.play());
    ASSERT_TRUE(second.play());
    const double distanceAtStart = second.currentTime() - first.currentTime();
    const double elapsed = sleepSeconds(0.3);
    EXPECT_TRUE(first.isPlaying());
    EXPECT_TRUE(second.isPlaying());
    EXPECT_NEAR(first.currentTime(), elapsed, clockTolerance);
    EXPECT_NEAR(second.currentTime(), 1.0 + elapsed, clockTolerance);
    // The two clocks run off the same output: however late the second one started on a
    // busy machine, their distance stays put while both play.
    EXPECT_NEAR(distanceAtStart, 1.0, clockTolerance);
    EXPECT_NEAR(second.currentTime() - first.currentTime(), distanceAtStart, 0.03);
    first.pause();
    const double paused = first.currentTime();
    const double before = second.currentTime();
    const double more = sleepSeconds(0.1);
    EXPECT_TRUE(second.isPlaying());
    EXPECT_EQ(first.currentTime(), paused);
    EXPECT_NEAR(second.currentTime(), before + more, clockTolerance);
}

TEST_F(AudioPlayerTest, SurroundSongsAtAnyRatePlayToTheirEnd)
{
    for (const int rate : {96000, 22050}) {
        AudioPlayer player(song(0.3, TestAudioFormat::wavFloat, rate, 6));
        EXPECT_EQ(player.streamInfo().channelCount, 6);
        ASSERT_TRUE(player.play());
        const double elapsed = sleepSeconds(0.15);
        EXPECT_NEAR(player.currentTime(), std::min(0.3, elapsed), clockTolerance);
        sleepSeconds(0.35);
        EXPECT_FALSE(player.isPlaying()) << rate;
        EXPECT_NEAR(player.currentTime(), 0.3, 0.01);
        EXPECT_FALSE(player.play());
        player.setCurrentTime(0.0);
        EXPECT_TRUE(player.play());
    }
}

// Layouts the output has no direct conversion for still sound, from start to end.
TEST_F(AudioPlayerTest, UnusualChannelCountsPlayThrough)
{
    for (const int channels : {3, 5, 8}) {
        AudioPlayer player(song(0.12, TestAudioFormat::wav16, 48000, channels));
        ASSERT_TRUE(player.play());
        sleepSeconds(0.3);
        EXPECT_FALSE(player.isPlaying()) << channels;
        EXPECT_NEAR(player.currentTime(), 0.12, 0.005) << channels;
    }
}

TEST_F(AudioPlayerTest, DecodingStaysBoundedWhateverTheLength)
{
    AudioPlayer player(song(30.0));
    player.prepareToPlay();
    EXPECT_GT(player.bufferBytes(), 0u);
    // About three quarters of a second of output.
    EXPECT_LT(player.bufferBytes(), 48000u * 8u * 2u);
}

TEST(AudioPlayerWithoutDevice, PlaysOnASilentClock)
{
    // No player may be alive here: the output is made for the first one.
    const char* before = std::getenv("SDL_AUDIODRIVER");
    const std::string saved = before != nullptr ? before : "";
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    AudioTestFolder folder;
    {
        AudioPlayer player(writeAudioFile(folder.path(), "song", makeSine(440, 2.0), TestAudioFormat::wav16));
        ASSERT_TRUE(player.play());
        EXPECT_FALSE(player.hasOutputDevice());
        const double elapsed = sleepSeconds(0.3);
        EXPECT_NEAR(player.currentTime(), elapsed, clockTolerance);
        player.pause();
        const double held = player.currentTime();
        sleepSeconds(0.1);
        EXPECT_EQ(player.currentTime(), held);
    }
    setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
}

// The mixer itself: volume is applied per source and moves smoothly to a new value.
TEST(PlaybackSourceMix, AppliesVolumeAndCountsWhatItPlayed)
{
    PlaybackSource source(2, 48000, 8);
    const std::vector<float> frames{0.5f, -0.5f, 0.5f, -0.5f, 0.5f, -0.5f, 0.5f, -0.5f};
    std::lock_guard lock(source.mutex);
    EXPECT_EQ(source.push(frames.data(), 4), 4u);
    std::vector<float> out(12, 0.0f);
    source.mixInto(out.data(), 6, std::chrono::steady_clock::now());
    EXPECT_EQ(source.consumedFrames, 0); // not playing
    source.playing = true;
    source.volume = 0.5f;
    source.appliedVolume = 0.5f;
    source.mixInto(out.data(), 2, std::chrono::steady_clock::now());
    EXPECT_FLOAT_EQ(out[0], 0.25f);
    EXPECT_FLOAT_EQ(out[1], -0.25f);
    source.volume = 1.0f;
    source.mixInto(out.data() + 4, 2, std::chrono::steady_clock::now());
    EXPECT_FLOAT_EQ(out[4], 0.375f); // halfway up the ramp
    EXPECT_FLOAT_EQ(out[6], 0.5f);
    EXPECT_EQ(source.consumedFrames, 4);
    // Running dry, the source keeps time with the output and later skips what it missed.
    source.mixInto(out.data(), 3, std::chrono::steady_clock::now());
    EXPECT_EQ(source.consumedFrames, 7);
    EXPECT_EQ(source.owedFrames, 3);
    const std::vector<float> late{0.1f, 0.1f, 0.2f, 0.2f, 0.3f, 0.3f, 0.4f, 0.4f};
    EXPECT_EQ(source.push(late.data(), 4), 4u);
    EXPECT_EQ(source.queuedFrames, 1u);
    std::fill(out.begin(), out.end(), 0.0f);
    source.mixInto(out.data(), 1, std::chrono::steady_clock::now());
    EXPECT_FLOAT_EQ(out[0], 0.4f);
    source.endReached = true;
    source.mixInto(out.data(), 6, std::chrono::steady_clock::now());
    EXPECT_FALSE(source.playing);
    EXPECT_TRUE(source.finished);
    EXPECT_EQ(source.consumedFrames, 8); // the end is not run past
}

} // namespace

namespace {

// SIGTERM and SIGINT stay the program's: starting the sound device installs no handler of its own.
TEST(AudioOutputSignals, StartingTheDeviceLeavesTheTerminationSignalsAlone)
{
    struct sigaction before[2] {}, after[2] {};
    ::sigaction(SIGTERM, nullptr, &before[0]);
    ::sigaction(SIGINT, nullptr, &before[1]);
    const std::shared_ptr<AudioOutput> output = AudioOutput::shared();
    ::sigaction(SIGTERM, nullptr, &after[0]);
    ::sigaction(SIGINT, nullptr, &after[1]);
    EXPECT_EQ(after[0].sa_handler, before[0].sa_handler);
    EXPECT_EQ(after[1].sa_handler, before[1].sa_handler);
}

} // namespace
