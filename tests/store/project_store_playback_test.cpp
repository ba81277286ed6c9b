#include "music_test_support.h"

#include "platform/audio_player.h"

#include <QElapsedTimer>

using namespace fotivela;
using namespace fotivela::test;

namespace {

class StorePlayback : public StoreTest {
protected:
    AudioTestFolder m_folder{"fotivela-store-playback"};
};

void prepare(ProjectStore& store, std::vector<double> slideDurations, double song = 0)
{
    store.modifyProject([&](FotivelaProject& p) {
        p.slides.clear();
        for (double duration : slideDurations)
            p.slides.push_back(makeSlide(duration));
    });
    store.recalculateTotalDuration();
    store.setAudioDuration(song);
}

TEST_F(StorePlayback, WithoutSlidesNothingPlays)
{
    ProjectStore store;
    store.startPreview();
    EXPECT_FALSE(store.isPlaying());
}

TEST_F(StorePlayback, SongDrivesTheClockUntilTheEnd)
{
    ProjectStore store;
    TestSignal signal = makeSine(440, 1.5);
    const auto song = writeAudioFile(m_folder.path(), "tono", signal, TestAudioFormat::wav16);
    store.modifyProject([&](FotivelaProject& p) { p.audio = makeTrack(SyncMode::manual, song); });
    prepare(store, {0.6, 0.6}, 1.5);
    store.audioPlayback().mainPlayer = AudioPlayer::open(song);
    ASSERT_TRUE(store.audioPlayback().mainPlayer);
    ChangeLog log(store);

    // A playhead at the end starts again from the beginning.
    store.setPreviewTime(1.5);
    const std::int64_t revision = store.playbackClockRevision();
    store.startPreview();
    EXPECT_TRUE(store.isPlaying());
    EXPECT_EQ(store.playbackClockRevision(), revision + 1);
    EXPECT_LT(store.previewTime(), 0.1);
    EXPECT_TRUE(store.audioPlayback().mainPlayer->isPlaying());

    ASSERT_TRUE(waitFor([&] { return store.previewTime() > 0.3; }, 5000));
    EXPECT_EQ(store.selectedSlideID(), store.project().slides[0].id);
    ASSERT_TRUE(waitFor([&] { return !store.isPlaying(); }, 10000));
    EXPECT_EQ(store.previewTime(), 1.5);
    EXPECT_FALSE(store.selectedSlideID());
    EXPECT_FALSE(store.audioPlayback().mainPlayer->isPlaying());
    // Published a few times a second, never on every tick.
    EXPECT_GE(log.count(StoreField::previewTime), 3);
    EXPECT_LE(log.count(StoreField::previewTime), 40);
}

TEST_F(StorePlayback, SongCutFadesOutAndMuteHoldsAtEveryTick)
{
    ProjectStore store;
    TestSignal signal = makeSine(440, 3.0);
    const auto song = writeAudioFile(m_folder.path(), "larga", signal, TestAudioFormat::wav16);
    store.modifyProject([&](FotivelaProject& p) {
        p.audio = makeTrack(SyncMode::manual, song);
        p.audio->cutToSlideshowDuration = true;
        p.audio->cutFadeOutDuration = 10;
    });
    prepare(store, {1.0}, 3.0);
    store.audioPlayback().mainPlayer = AudioPlayer::open(song);
    ASSERT_TRUE(store.audioPlayback().mainPlayer);
    AudioPlayer& player = *store.audioPlayback().mainPlayer;

    // A fade longer than the slideshow covers all of it.
    store.startPreview();
    EXPECT_GT(player.volume(), 0.9f);
    ASSERT_TRUE(waitFor([&] { return store.previewTime() > 0.4; }, 5000));
    EXPECT_LT(player.volume(), 0.7f);
    EXPECT_GT(player.volume(), 0.0f);
    store.toggleMainAudioMute();
    EXPECT_EQ(player.volume(), 0.0f);
    waitFor([] { return false; }, 100);
    EXPECT_EQ(player.volume(), 0.0f);
    // Playback stops at the cut, not at the song's end.
    ASSERT_TRUE(waitFor([&] { return !store.isPlaying(); }, 5000));
    EXPECT_EQ(store.previewTime(), 1.0);
}

TEST_F(StorePlayback, WallClockRunsThePlayheadPastTheSong)
{
    ProjectStore store;
    prepare(store, {2.0, 2.0}, 1.0);
    store.setPreviewTime(1.2);
    store.startPreview();
    EXPECT_TRUE(store.isPlaying());
    EXPECT_EQ(store.playbackClockAnchorTime(), 1.2);
    ASSERT_TRUE(waitFor([&] { return store.previewTime() > 1.5; }, 3000));
    store.stopPreview();
    EXPECT_FALSE(store.isPlaying());
    const double stoppedAt = store.previewTime();
    EXPECT_EQ(store.currentPlaybackClockTime(), stoppedAt);
    EXPECT_EQ(store.selectedSlideID(), store.project().slides[0].id);
    waitFor([] { return false; }, 200);
    EXPECT_EQ(store.previewTime(), stoppedAt);
}

TEST_F(StorePlayback, SeekingClampsAndSelectsTheSlideUnderThePlayhead)
{
    ProjectStore store;
    prepare(store, {2, 3}, 4);
    store.setSelectedBeatMarkerID(Uuid::random());
    store.seekPreview(-3);
    EXPECT_EQ(store.previewTime(), 0);
    store.seekPreview(2.5);
    EXPECT_EQ(store.previewTime(), 2.5);
    EXPECT_EQ(store.selectedSlideID(), store.project().slides[1].id);
    EXPECT_EQ(store.timelineSelection(), std::set<Uuid>{store.project().slides[1].id});
    EXPECT_FALSE(store.selectedBeatMarkerID());
    store.seekPreview(99);
    EXPECT_EQ(store.previewTime(), 5);
    EXPECT_FALSE(store.selectedSlideID());
    EXPECT_TRUE(store.timelineSelection().empty());

    // The same time again while stopped: only the snap mark goes.
    const std::int64_t revision = store.playbackClockRevision();
    store.setSnappedBeatTime(1.0);
    store.seekPreview(5);
    EXPECT_FALSE(store.snappedBeatTime());
    EXPECT_EQ(store.playbackClockRevision(), revision);
}

TEST_F(StorePlayback, SoloAndMuteRules)
{
    ProjectStore store;
    TestSignal signal = makeSine(220, 1.0);
    const auto drums = writeAudioFile(m_folder.path(), "drums", signal, TestAudioFormat::wav16);
    store.modifyProject([&](FotivelaProject& p) {
        p.audio = makeTrack(SyncMode::autoBeatV2);
        p.audio->stemSeparation.engine = StemSeparationEngine::demucs;
        p.audio->stemSeparation.stems[AudioStem::drums] = drums;
    });
    prepare(store, {1.0}, 1.0);
    EXPECT_TRUE(store.canPreviewInstrument(AutoBeatInstrument::drums));
    EXPECT_FALSE(store.canPreviewInstrument(AutoBeatInstrument::vocals));

    // Soloing while stopped only records it.
    store.soloTimelineInstrumentAudio(AutoBeatInstrument::drums);
    EXPECT_TRUE(store.isMainAudioMuted());
    EXPECT_EQ(store.soloTimelineInstrument(), AutoBeatInstrument::drums);
    EXPECT_EQ(store.audibleTimelineInstruments(), std::set<AutoBeatInstrument>{AutoBeatInstrument::drums});
    EXPECT_TRUE(store.audioPlayback().timelineInstrumentPlayers.empty());
    // Playing starts only that instrument.
    store.startPreview();
    EXPECT_EQ(store.audioPlayback().timelineInstrumentPlayers.size(), 1u);
    store.stopPreview();

    // Toggling another instrument ends the solo but leaves the song muted.
    store.toggleTimelineInstrumentAudio(AutoBeatInstrument::vocals);
    EXPECT_FALSE(store.soloTimelineInstrument());
    EXPECT_TRUE(store.isMainAudioMuted());
    EXPECT_EQ(store.audibleTimelineInstruments(), std::set<AutoBeatInstrument>{AutoBeatInstrument::drums});

    // Soloing the song silences the instruments; soloing it again only clears solo and mute.
    store.soloMainTimelineAudio();
    EXPECT_TRUE(store.isMainAudioSoloed());
    EXPECT_FALSE(store.isMainAudioMuted());
    EXPECT_TRUE(store.audibleTimelineInstruments().empty());
    EXPECT_TRUE(store.audioPlayback().timelineInstrumentPlayers.empty());
    store.toggleMainAudioMute();
    EXPECT_FALSE(store.isMainAudioSoloed());
    EXPECT_TRUE(store.isMainAudioMuted());
    store.soloMainTimelineAudio();
    store.soloMainTimelineAudio();
    EXPECT_FALSE(store.isMainAudioSoloed());
    EXPECT_FALSE(store.isMainAudioMuted());
    EXPECT_TRUE(store.audibleTimelineInstruments().empty());

    // Soloing the soloed instrument again gives the song back, unmuted.
    store.soloTimelineInstrumentAudio(AutoBeatInstrument::drums);
    store.soloTimelineInstrumentAudio(AutoBeatInstrument::drums);
    EXPECT_FALSE(store.soloTimelineInstrument());
    EXPECT_FALSE(store.isMainAudioMuted());
    EXPECT_TRUE(store.audibleTimelineInstruments().empty());
}

} // namespace
