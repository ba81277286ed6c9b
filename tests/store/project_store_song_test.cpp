#include "music_test_support.h"
#include "store_test_support.h"

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

using StoreSong = StoreTest;

TEST_F(StoreSong, ImportingASongGivesItTheDefaultsAndAnalysesIt)
{
    ProjectStore store;
    const fs::path song = writeClickSong(m_root, "Tema", 4, {0.5, 1.5, 2.5});
    store.modifyProject([](FotivelaProject& p) {
        p.slides = {makeSlide(3)};
        p.aiMusic = AIMusicSettings{};
        p.aiMusic->lyrics = "la la";
    });
    store.recalculateTotalDuration();

    EXPECT_FALSE(store.importAudio(std::nullopt));
    EXPECT_TRUE(store.undoStack().empty());

    ASSERT_TRUE(store.importAudio(song));
    ASSERT_TRUE(store.project().audio);
    const AudioTrack& track = *store.project().audio;
    EXPECT_EQ(track.name, "Tema.wav");
    EXPECT_EQ(track.syncMode, SyncMode::manual);
    EXPECT_TRUE(track.fadeIn && track.fadeOut);
    EXPECT_EQ(track.beatSensitivity, 0);
    EXPECT_EQ(track.autoBeatMinimumMarkerSpacing, 0.22);
    EXPECT_EQ(track.beatsPerBar, 4);
    EXPECT_EQ(track.snapTolerance, 0.1);
    EXPECT_EQ(track.beatDetectionFocus, BeatDetectionFocus::clapSnare);
    EXPECT_EQ(track.autoBeatTargets, syncSelectableKinds());
    EXPECT_FALSE(track.isAttackWaveformEnabled);
    EXPECT_EQ(track.stemSeparation.message, "Pendiente");
    ASSERT_TRUE(store.project().aiMusic);
    EXPECT_EQ(store.project().aiMusic->lyrics, "");
    EXPECT_EQ(store.project().aiMusic->requestedMusicStyle, "");
    EXPECT_EQ(store.activeTab(), EditorTab::music);
    EXPECT_EQ(store.route(), AppRoute::editor);
    EXPECT_NEAR(store.audioDuration(), 4.0, 0.05);
    EXPECT_EQ(store.undoStack().size(), 1u);
    EXPECT_TRUE(store.hasUnsavedChanges());

    ASSERT_TRUE(waitFor([&] { return !store.audioWaveform().empty(); }, 30000));
    EXPECT_EQ(store.project().audio->waveformSamples, store.audioWaveform());
    EXPECT_EQ(store.project().slides[0].duration, 3);
}

TEST_F(StoreSong, AnotherSongReplacesEverythingAndUndoBringsTheFirstBack)
{
    ProjectStore store;
    const fs::path first = writeClickSong(m_root, "Primera", 3, {0.5, 1.5});
    const fs::path second = writeClickSong(m_root, "Segunda", 5, {1.0});
    ASSERT_TRUE(store.importAudio(first));
    ASSERT_TRUE(waitFor([&] { return !store.audioWaveform().empty(); }, 30000));
    store.addManualBeatMarker(1.0);
    store.modifyProject([](FotivelaProject& p) { p.audio->instrumentAnalysisCache[AutoBeatInstrument::bass] = {}; });

    ASSERT_TRUE(store.importAudio(second));
    EXPECT_EQ(store.project().audio->url, second);
    EXPECT_TRUE(store.project().audio->beatMarkers.empty());
    EXPECT_TRUE(store.project().audio->instrumentAnalysisCache.empty());
    EXPECT_TRUE(store.audioBeatMarkers().empty());
    EXPECT_NEAR(store.audioDuration(), 5.0, 0.05);

    store.undoLastStep();
    ASSERT_TRUE(store.project().audio);
    EXPECT_EQ(store.project().audio->url, first);
    ASSERT_EQ(store.audioBeatMarkers().size(), 1u);
    EXPECT_TRUE(store.audioBeatMarkers()[0].isManual);
    EXPECT_NEAR(store.audioDuration(), 3.0, 0.05);
    // The light snapshot has no curves: the first song is analysed again.
    ASSERT_TRUE(waitFor([&] { return !store.audioWaveform().empty(); }, 30000));
    EXPECT_EQ(store.project().audio->url, first);
}

TEST_F(StoreSong, AnAutomaticSongWithInstrumentsStartsBothAnalyses)
{
    ProjectStore store;
    const fs::path song = writeClickSong(m_root, "Ritmo", 3, {0.5, 1.0, 1.5, 2.0});
    store.modifyProject([](FotivelaProject& p) { p.slides = {makeSlide(2), makeSlide(2)}; });
    store.recalculateTotalDuration();

    store.setAudio(song, SyncMode::autoBeatV2, {AutoBeatInstrument::drums}, {BeatKind::strong}, true);
    EXPECT_TRUE(store.isAttackWaveformEnabled());
    EXPECT_TRUE(store.project().audio->isAttackWaveformEnabled);
    EXPECT_TRUE(store.isAnalyzingAudio());
    ASSERT_TRUE(waitFor([&] { return !store.audioWaveform().empty() && !store.isAnalyzingAudio(); }, 60000));

    // A song that replaces it while nothing of the old one is needed leaves no busy flag behind.
    store.setAudio(song, SyncMode::autoBeatV2, {AutoBeatInstrument::bass}, {BeatKind::strong}, true);
    EXPECT_TRUE(store.isAnalyzingAudio());
    store.setAudio(song, SyncMode::manual, {}, syncSelectableKinds(), true);
    EXPECT_FALSE(store.isAnalyzingAudio());
    EXPECT_FALSE(ProjectStoreMusicTestAccess::hasActiveRun(store));
}

TEST_F(StoreSong, PreparationShowsTheStoredSongAndAnalysesOnlyWhatIsMissing)
{
    ProjectStore store;
    writeTextFile(m_root / "roto.mp3", "not audio");
    AudioTrack broken = makeTrack(SyncMode::manual, m_root / "roto.mp3");
    broken.waveformSamples = {0.1, 0.5};
    broken.beatMarkers = {makeMarker(2, true, true), makeMarker(1, true, true)};
    store.modifyProject([&](FotivelaProject& p) { p.audio = broken; });

    store.prepareAudioPlayerIfNeeded();
    EXPECT_FALSE(store.audioPlayback().mainPlayer);
    EXPECT_EQ(store.audioDuration(), 0);
    EXPECT_EQ(store.audioWaveform(), broken.waveformSamples);
    ASSERT_EQ(store.audioBeatMarkers().size(), 2u);
    EXPECT_EQ(store.audioBeatMarkers()[0].time, 1);
    // The attack curve is missing, so the waveform analysis runs and marks the project changed.
    EXPECT_FALSE(store.hasUnsavedChanges());
    EXPECT_TRUE(waitFor([&] { return store.hasUnsavedChanges(); }, 10000));

    const fs::path song = writeClickSong(m_root, "Bien", 2, {0.5});
    AudioTrack stored = makeTrack(SyncMode::manual, song);
    stored.waveformSamples = {0.2};
    stored.attackDetectionSamples = {0.3};
    store.modifyProject([&](FotivelaProject& p) { p.audio = stored; });
    store.setAudioAnalysisStatusMessage("");
    store.prepareAudioPlayerIfNeeded();
    ASSERT_TRUE(store.audioPlayback().mainPlayer);
    EXPECT_NEAR(store.audioDuration(), 2.0, 0.05);
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "");
    EXPECT_FALSE(store.isAnalyzingAudio());
    const AudioPlayer* player = store.audioPlayback().mainPlayer.get();
    store.prepareAudioPlayerIfNeeded();
    EXPECT_EQ(store.audioPlayback().mainPlayer.get(), player);

    store.modifyProject([](FotivelaProject& p) { p.audio.reset(); });
    store.prepareAudioPlayerIfNeeded();
    EXPECT_FALSE(store.audioPlayback().mainPlayer);
    EXPECT_TRUE(store.audioWaveform().empty());
    EXPECT_TRUE(store.audioBeatMarkers().empty());
    EXPECT_EQ(store.audioDuration(), 0);
}

TEST_F(StoreSong, TheAttackWaveformShowsOnlyInAutomaticMode)
{
    ProjectStore store;
    const fs::path song = writeClickSong(m_root, "Tema", 2, {0.5});
    AudioTrack track = makeTrack(SyncMode::manual, song);
    track.isAttackWaveformEnabled = true;
    track.waveformSamples = {0.2};
    track.attackDetectionSamples = {0.3};
    store.modifyProject([&](FotivelaProject& p) { p.audio = track; });
    store.prepareAudioPlayerIfNeeded();
    EXPECT_FALSE(store.isAttackWaveformEnabled());

    store.audioPlayback().mainPlayer.reset();
    store.modifyProject([](FotivelaProject& p) { p.audio->syncMode = SyncMode::autoBeatV2; });
    store.prepareAudioPlayerIfNeeded();
    EXPECT_TRUE(store.isAttackWaveformEnabled());
}

} // namespace
