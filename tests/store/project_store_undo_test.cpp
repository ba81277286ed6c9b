#include "store_test_support.h"

using namespace fotivela;
using namespace fotivela::test;

namespace {

using StoreUndo = StoreTest;

TEST_F(StoreUndo, RepeatedStepsCountOnceAndTheOldestFallOff)
{
    ProjectStore store;
    store.registerUndoStep();
    store.registerUndoStep();
    EXPECT_EQ(store.undoStack().size(), 1u);

    for (int step = 1; step <= 41; ++step) {
        store.setPreviewTime(step);
        store.registerUndoStep();
    }
    // 42 distinct states were registered: the newest 40 remain, oldest first.
    ASSERT_EQ(store.undoStack().size(), 40u);
    EXPECT_EQ(store.undoStack().front().previewTime, 2);
    EXPECT_EQ(store.undoStack().back().previewTime, 41);
}

TEST_F(StoreUndo, ASnapshotHoldsTheLightProjectAndTheEditorState)
{
    ProjectStore store;
    AudioTrack track = makeTrack(SyncMode::autoBeatV2);
    track.waveformSamples = {0.1, 0.2};
    track.attackDetectionSamples = {0.3};
    track.beatMarkers = {makeMarker(1)};
    track.analysisCache[BeatDetectionFocus::fullMix] = AudioAnalysis{{0.1}, {}, 0.5, 4, 25};
    const Slide slide = makeSlide(20);
    store.modifyProject([&](FotivelaProject& p) {
        p.audio = track;
        p.slides = {slide};
    });
    store.recalculateTotalDuration();
    store.setAudioDuration(12.5);
    store.setAudioWaveform({0.4});
    store.setSelectedSlideID(slide.id);
    store.setVisibleStemWaveformInstruments({AutoBeatInstrument::bass});
    store.setCurrentProjectURL(m_root / "A/A.fotivela");

    const ProjectUndoSnapshot snapshot = store.makeUndoSnapshot();
    ASSERT_TRUE(snapshot.project.audio);
    EXPECT_TRUE(snapshot.project.audio->waveformSamples.empty());
    EXPECT_TRUE(snapshot.project.audio->analysisCache.empty());
    EXPECT_EQ(snapshot.project.audio->beatMarkers, track.beatMarkers);
    EXPECT_EQ(snapshot.playbackDuration, 20.0);
    EXPECT_EQ(snapshot.audioWaveform, std::vector<double>{0.4});
    EXPECT_EQ(snapshot.selectedSlideID, slide.id);
    EXPECT_EQ(snapshot.currentProjectURL, m_root / "A/A.fotivela");
    EXPECT_EQ(snapshot.visibleStemWaveformInstruments, std::set<AutoBeatInstrument>{AutoBeatInstrument::bass});
    EXPECT_EQ(store.makeUndoSnapshot(), snapshot);
    store.setPreviewTime(1);
    EXPECT_NE(store.makeUndoSnapshot(), snapshot);
}

TEST_F(StoreUndo, TheHistorySpansProjectSwitches)
{
    ProjectStore store;
    FotivelaProject first = FotivelaProject::empty();
    first.name = "Primero";
    store.setProject(first);
    store.setCurrentProjectURL(m_root / "Primero/Primero.fotivela");
    store.registerUndoStep();

    // Switching to another project keeps the history: its last step is the first project.
    FotivelaProject second = FotivelaProject::empty();
    second.name = "Segundo";
    store.setProject(second);
    store.setCurrentProjectURL(m_root / "Segundo/Segundo.fotivela");
    store.registerUndoStep();

    ASSERT_EQ(store.undoStack().size(), 2u);
    EXPECT_EQ(store.undoStack()[0].project.name, "Primero");
    EXPECT_EQ(store.undoStack()[0].currentProjectURL, m_root / "Primero/Primero.fotivela");
    EXPECT_EQ(store.undoStack()[1].project.name, "Segundo");
}

TEST_F(StoreUndo, SharedRoutinesRederiveTheirState)
{
    ProjectStore store;
    ChangeLog log(store);
    store.syncVisibleStemWaveformsWithSelectedInstrumentsIfNeeded();
    EXPECT_EQ(log.count(StoreField::visibleStemWaveformInstruments), 1); // emptying always tells

    using I = AutoBeatInstrument;
    AudioTrack track = makeTrack(SyncMode::autoBeatV2);
    track.autoBeatInstruments = {I::kick, I::bass, I::vocals};
    store.modifyProject([&](FotivelaProject& p) { p.audio = track; });
    store.syncVisibleStemWaveformsWithSelectedInstrumentsIfNeeded();
    store.syncVisibleStemWaveformsWithSelectedInstrumentsIfNeeded();
    EXPECT_EQ(store.visibleStemWaveformInstruments(), (std::set<I>{I::bass, I::vocals}));
    EXPECT_EQ(log.count(StoreField::visibleStemWaveformInstruments), 2);

    store.modifyProject([](FotivelaProject& p) { p.audio->isAttackWaveformEnabled = true; });
    store.syncVisibleStemWaveformsWithSelectedInstrumentsIfNeeded();
    EXPECT_TRUE(store.visibleStemWaveformInstruments().empty());

    // Beat times are the automatic markers' times; a selection of a marker that is gone is dropped.
    store.modifyProject([](FotivelaProject& p) { p.audio->isAttackWaveformEnabled = false; });
    const BeatMarker bass = makeMarker(2, true, false, I::bass);
    store.setAudioBeatMarkers({bass, makeMarker(1, true, true), makeMarker(0.04, true, true),
                               makeMarker(3, true, false, I::kick)});
    store.syncBeatTimesFromMarkers();
    EXPECT_EQ(store.audioBeatTimes(), (std::vector<double>{1, 2}));

    store.setSelectedBeatMarkerID(bass.id);
    store.setIsEditingBeatMarker(true);
    store.discardInvalidBeatMarkerSelection();
    EXPECT_EQ(store.selectedBeatMarkerID(), bass.id);
    store.setAudioBeatMarkers({});
    store.discardInvalidBeatMarkerSelection();
    EXPECT_FALSE(store.selectedBeatMarkerID());
    EXPECT_FALSE(store.isEditingBeatMarker());

    store.setPlayingInstrumentPreview(I::bass);
    store.stopInstrumentPreview();
    EXPECT_FALSE(store.playingInstrumentPreview());
}

} // namespace
