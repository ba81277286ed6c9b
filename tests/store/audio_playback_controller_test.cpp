#include "platform/audio_output.h"
#include "store/audio_playback_controller.h"
#include "store/timeline_audio_transport_rules.h"

#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

using namespace fotivela;
using namespace fotivela::test;

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

TEST(TimelineAudioTransportRules, StartsAtTheTimelineSecondInsideTheAudio)
{
    using TimelineAudioTransportRules::mainAudioStartTime;
    EXPECT_EQ(mainAudioStartTime(12.5, 30.0), 12.5);
    EXPECT_EQ(mainAudioStartTime(-3.0, 30.0), 0.0);
    EXPECT_EQ(mainAudioStartTime(0.0, 0.001), 0.0);
    EXPECT_EQ(mainAudioStartTime(30.0, 30.0), std::nullopt);
    EXPECT_EQ(mainAudioStartTime(31.0, 30.0), std::nullopt);
    EXPECT_EQ(mainAudioStartTime(-1.0, 0.0), std::nullopt);
    EXPECT_EQ(mainAudioStartTime(nan, 30.0), std::nullopt);
    EXPECT_EQ(mainAudioStartTime(inf, 30.0), std::nullopt);
    EXPECT_EQ(mainAudioStartTime(-inf, 30.0), std::nullopt);
    EXPECT_EQ(mainAudioStartTime(1.0, nan), std::nullopt);
    EXPECT_EQ(mainAudioStartTime(1.0, inf), std::nullopt);
}

class AudioPlaybackControllerTest : public testing::Test {
protected:
    std::filesystem::path song(const std::string& name, double seconds)
    {
        return writeAudioFile(folder.path(), name, makeSine(330, seconds, 44100, 2), TestAudioFormat::wav16);
    }
    AudioPlaybackController::URLForInstrument urls(std::map<AutoBeatInstrument, std::filesystem::path> map)
    {
        return [map](AutoBeatInstrument instrument) -> std::optional<std::filesystem::path> {
            const auto found = map.find(instrument);
            return found == map.end() ? std::nullopt : std::optional(found->second);
        };
    }
    AudioTestFolder folder;
    AudioPlaybackController controller;
};

TEST_F(AudioPlaybackControllerTest, PreparesTheMainPlayerOnceFromAPlayableFile)
{
    writeTextFile(folder / "broken.mp3", "not audio");
    EXPECT_EQ(controller.prepareMainPlayer(folder / "broken.mp3", 0.5f), 0.0);
    EXPECT_EQ(controller.mainPlayer, nullptr);

    EXPECT_NEAR(controller.prepareMainPlayer(song("first", 2.0), 0.5f), 2.0, 1e-9);
    ASSERT_NE(controller.mainPlayer, nullptr);
    EXPECT_EQ(controller.mainPlayer->volume(), 0.5f);
    // A second song does not replace the player: the store drops it first when it wants that.
    EXPECT_NEAR(controller.prepareMainPlayer(song("second", 3.0), 0.8f), 2.0, 1e-9);
    EXPECT_EQ(controller.mainPlayer->file().filename(), "first.wav");
    EXPECT_EQ(controller.mainPlayer->volume(), 0.8f);

    // Replacing the song keeps the sound device open.
    const AudioOutput* output = AudioOutput::shared().get();
    controller.mainPlayer.reset();
    EXPECT_NEAR(controller.prepareMainPlayer(song("third", 1.0), 1.0f), 1.0, 1e-9);
    EXPECT_EQ(AudioOutput::shared().get(), output);
}

TEST_F(AudioPlaybackControllerTest, PrimingLeavesPositionAndVolumeAsTheyWere)
{
    controller.primeMainPlayer(); // nothing to prime
    controller.prepareMainPlayer(song("song", 2.0), 0.7f);
    controller.mainPlayer->setCurrentTime(1.25);
    controller.primeMainPlayer();
    EXPECT_FALSE(controller.mainPlayer->isPlaying());
    EXPECT_NEAR(controller.mainPlayer->currentTime(), 1.25, 1e-6);
    EXPECT_EQ(controller.mainPlayer->volume(), 0.7f);

    // At the end the player does not start: the volume still comes back.
    controller.mainPlayer->setCurrentTime(5.0);
    controller.primeMainPlayer();
    EXPECT_FALSE(controller.mainPlayer->isPlaying());
    EXPECT_EQ(controller.mainPlayer->volume(), 0.7f);
    EXPECT_NEAR(controller.mainPlayer->currentTime(), 2.0, 1e-6);

    // A playing player is left alone.
    controller.mainPlayer->setCurrentTime(0.5);
    ASSERT_TRUE(controller.mainPlayer->play());
    controller.primeMainPlayer();
    EXPECT_TRUE(controller.mainPlayer->isPlaying());
}

TEST_F(AudioPlaybackControllerTest, StartsInstrumentsInStepWithTheTimeline)
{
    const auto drums = song("drums", 2.0);
    const auto shortBass = song("bass", 0.5);
    writeTextFile(folder / "vocals.wav", "not audio");
    const auto url = urls({{AutoBeatInstrument::drums, drums}, {AutoBeatInstrument::bass, shortBass},
        {AutoBeatInstrument::vocals, folder / "vocals.wav"}});

    // Before the start the stems begin at their first sample; past its end the bass gets no player but is not a failure.
    const auto startedAt = std::chrono::steady_clock::now();
    const auto failed = controller.startTimelinePlayers(
        {AutoBeatInstrument::drums, AutoBeatInstrument::bass, AutoBeatInstrument::vocals, AutoBeatInstrument::other}, -3.0, url);
    EXPECT_EQ(failed, (std::set{AutoBeatInstrument::vocals, AutoBeatInstrument::other}));
    ASSERT_EQ(controller.timelineInstrumentPlayers.size(), 2u);
    AudioPlayer* drumPlayer = controller.timelineInstrumentPlayers.at(AutoBeatInstrument::drums).get();
    EXPECT_TRUE(drumPlayer->isPlaying());
    EXPECT_EQ(drumPlayer->volume(), 1.0f);
    // Started at its first sample: no further in than the time the call itself took.
    EXPECT_LT(drumPlayer->currentTime(),
              std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt).count() + 0.05);

    EXPECT_TRUE(controller.startTimelinePlayer(AutoBeatInstrument::bass, 1.0, url));
    EXPECT_EQ(controller.timelineInstrumentPlayers.count(AutoBeatInstrument::bass), 0u);

    // Pausing keeps the players; seeking moves them, never past their end.
    controller.startTimelinePlayers({AutoBeatInstrument::bass}, 0.2, url);
    controller.pauseTimelinePlayers();
    ASSERT_EQ(controller.timelineInstrumentPlayers.size(), 2u);
    for (const auto& [instrument, player] : controller.timelineInstrumentPlayers)
        EXPECT_FALSE(player->isPlaying());
    controller.seekTimelinePlayers(1.5);
    EXPECT_NEAR(controller.timelineInstrumentPlayers.at(AutoBeatInstrument::drums)->currentTime(), 1.5, 1e-6);
    EXPECT_NEAR(controller.timelineInstrumentPlayers.at(AutoBeatInstrument::bass)->currentTime(), 0.5, 1e-6);
    controller.seekTimelinePlayers(nan);
    EXPECT_NEAR(controller.timelineInstrumentPlayers.at(AutoBeatInstrument::drums)->currentTime(), 1.5, 1e-6);

    // A fresh start replaces the player; an instrument without a file keeps the one it has.
    EXPECT_TRUE(controller.startTimelinePlayer(AutoBeatInstrument::drums, 0.25, url));
    EXPECT_NE(controller.timelineInstrumentPlayers.at(AutoBeatInstrument::drums).get(), drumPlayer);
    drumPlayer = controller.timelineInstrumentPlayers.at(AutoBeatInstrument::drums).get();
    const auto none = urls({});
    EXPECT_FALSE(controller.startTimelinePlayer(AutoBeatInstrument::drums, 0.0, none));
    EXPECT_EQ(controller.timelineInstrumentPlayers.at(AutoBeatInstrument::drums).get(), drumPlayer);
    EXPECT_FALSE(controller.startTimelinePlayer(AutoBeatInstrument::drums, 0.0, nullptr));

    // A file that no longer plays takes the old player with it.
    const auto broken = urls({{AutoBeatInstrument::drums, folder / "vocals.wav"}});
    EXPECT_FALSE(controller.startTimelinePlayer(AutoBeatInstrument::drums, 0.0, broken));
    EXPECT_EQ(controller.timelineInstrumentPlayers.count(AutoBeatInstrument::drums), 0u);
}

TEST_F(AudioPlaybackControllerTest, WhileTheSongPlaysInstrumentsJoinItOnItsSampleClock)
{
    const auto mix = song("mix", 4.0);
    const auto drums = song("drums", 4.0);
    const auto url = urls({{AutoBeatInstrument::drums, drums}});
    ASSERT_GT(controller.prepareMainPlayer(mix, 1.0f), 3.9);
    ASSERT_TRUE(controller.mainPlayer->play());
    std::this_thread::sleep_for(std::chrono::milliseconds(400));

    // The caller's timeline time is stale (a published time lags the song): the song's own place counts.
    ASSERT_TRUE(controller.startTimelinePlayer(AutoBeatInstrument::drums, 0.1, url));
    AudioPlayer& drumPlayer = *controller.timelineInstrumentPlayers.at(AutoBeatInstrument::drums);
    const auto inStep = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        // Both positions come from the frames the output mixed; the two reads lie microseconds
        // apart, unless the machine is busy: the closest of many pairs counts.
        double closest = 1.0;
        for (int i = 0; i < 50; ++i)
            closest = std::min(closest, std::abs(drumPlayer.currentTime() - controller.mainPlayer->currentTime()));
        return closest;
    };
    EXPECT_LT(inStep(), 0.0015);

    // A seek while playing brings the instrument back to the song's new place.
    controller.mainPlayer->setCurrentTime(2.5);
    controller.seekTimelinePlayers(2.5);
    EXPECT_LT(inStep(), 0.0015);
    EXPECT_NEAR(drumPlayer.currentTime(), 2.65, 0.1);
    controller.mainPlayer->stop();
    controller.stopTimelinePlayers();
}

TEST_F(AudioPlaybackControllerTest, ATimeThatIsNotFiniteStopsEveryInstrumentAndReportsNone)
{
    const auto url = urls({{AutoBeatInstrument::drums, song("drums", 1.0)}, {AutoBeatInstrument::kick, song("kick", 1.0)}});
    controller.startTimelinePlayers({AutoBeatInstrument::drums, AutoBeatInstrument::kick}, 0.0, url);
    ASSERT_EQ(controller.timelineInstrumentPlayers.size(), 2u);
    EXPECT_TRUE(controller.startTimelinePlayers({AutoBeatInstrument::drums, AutoBeatInstrument::kick}, nan, url).empty());
    EXPECT_TRUE(controller.timelineInstrumentPlayers.empty());
}

TEST_F(AudioPlaybackControllerTest, StoppingForgetsPlayersAndToleratesNone)
{
    controller.stopTimelinePlayers();
    controller.stopTimelinePlayer(AutoBeatInstrument::vocals);
    const auto url = urls({{AutoBeatInstrument::vocals, song("vocals", 1.0)}, {AutoBeatInstrument::other, song("other", 1.0)}});
    controller.startTimelinePlayers({AutoBeatInstrument::vocals, AutoBeatInstrument::other}, 0.1, url);
    controller.stopTimelinePlayer(AutoBeatInstrument::vocals);
    EXPECT_EQ(controller.timelineInstrumentPlayers.size(), 1u);
    EXPECT_EQ(controller.timelineInstrumentPlayers.count(AutoBeatInstrument::other), 1u);
    controller.stopTimelinePlayers();
    EXPECT_TRUE(controller.timelineInstrumentPlayers.empty());
}

} // namespace
