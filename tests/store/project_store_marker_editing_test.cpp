#include "music_test_support.h"

using namespace fotivela;
using namespace fotivela::test;

namespace {

using MarkerEditing = StoreTest;

void prepare(ProjectStore& store, SyncMode mode, std::vector<BeatMarker> markers, int slides = 2)
{
    store.modifyProject([&](FotivelaProject& p) {
        p.audio = makeTrack(mode);
        p.audio->beatMarkers = markers;
        p.slides.clear();
        for (int i = 0; i < slides; ++i)
            p.slides.push_back(makeSlide(5));
    });
    store.setAudioBeatMarkers(std::move(markers));
    store.setAudioDuration(10);
    store.recalculateTotalDuration();
}

const BeatMarker* find(const std::vector<BeatMarker>& markers, const Uuid& id)
{
    for (const BeatMarker& marker : markers) {
        if (marker.id == id)
            return &marker;
    }
    return nullptr;
}

TEST_F(MarkerEditing, ADragIsOneUndoStepAndKeepsTheMarkerDisabled)
{
    ProjectStore store;
    const BeatMarker dragged = makeMarker(3, false, true);
    prepare(store, SyncMode::manual, {makeMarker(1, true, true), dragged, makeMarker(8, true, true)});
    const std::size_t undoBefore = store.undoStack().size();
    store.setHasUnsavedChanges(false);

    store.setIsEditingBeatMarker(true);
    for (int step = 1; step <= 20; ++step)
        store.moveBeatMarker(dragged.id, 3 + step * 0.1);
    // While the drag lasts the song keeps the old time.
    EXPECT_EQ(find(store.project().audio->beatMarkers, dragged.id)->time, 3);
    store.setIsEditingBeatMarker(false);
    store.commitPendingBeatMarkerMove();
    store.setPendingBeatMarkerMoveUndo(false);

    ASSERT_EQ(store.undoStack().size(), undoBefore + 1);
    EXPECT_EQ(find(store.undoStack().back().audioBeatMarkers, dragged.id)->time, 3);
    const BeatMarker* moved = find(store.project().audio->beatMarkers, dragged.id);
    ASSERT_TRUE(moved);
    EXPECT_NEAR(moved->time, 5, 1e-9);
    EXPECT_FALSE(moved->isEnabled);
    EXPECT_EQ(store.selectedBeatMarkerID(), dragged.id);
    EXPECT_TRUE(store.hasUnsavedChanges());
    EXPECT_TRUE(store.hasPendingAutosave());
    // Manual mode never re-places the photos.
    EXPECT_EQ(store.project().slides[0].duration, 5);

    // A drag stops 0.08 s before the neighbour.
    store.moveBeatMarker(dragged.id, 9);
    EXPECT_NEAR(find(store.audioBeatMarkers(), dragged.id)->time, 7.92, 1e-9);
}

TEST_F(MarkerEditing, AttackMarkerOverridesAreWrittenAtTheEndOfTheDrag)
{
    ProjectStore store;
    prepare(store, SyncMode::autoBeatV2, {});
    store.setIsAttackWaveformEnabled(true);
    const BeatMarker attack = makeMarker(4);
    const BeatMarker other = makeMarker(6);
    store.setAttackBeatMarkers({attack, other});

    store.setIsEditingBeatMarker(true);
    store.moveBeatMarker(attack.id, 4.3);
    store.moveBeatMarker(attack.id, 4.5);
    EXPECT_TRUE(store.project().audio->attackMarkerOverrides.empty());
    store.setIsEditingBeatMarker(false);
    store.commitPendingBeatMarkerMove();
    ASSERT_EQ(store.project().audio->attackMarkerOverrides.size(), 1u);
    EXPECT_EQ(store.project().audio->attackMarkerOverrides[0].id, attack.id);
    EXPECT_NEAR(store.project().audio->attackMarkerOverrides[0].time, 4.5, 1e-9);

    // A second edit of the same marker replaces its record.
    store.toggleBeatMarkerEnabled(attack.id);
    ASSERT_EQ(store.project().audio->attackMarkerOverrides.size(), 1u);
    EXPECT_FALSE(store.project().audio->attackMarkerOverrides[0].isEnabled);
    store.disableBeatMarker(other.id);
    ASSERT_EQ(store.project().audio->attackMarkerOverrides.size(), 2u);
    // So does an edit of a marker within 0.05 s of it.
    std::vector<BeatMarker> attacks = store.attackBeatMarkers();
    const BeatMarker near = makeMarker(4.53);
    attacks.push_back(near);
    store.setAttackBeatMarkers(attacks);
    store.disableBeatMarker(near.id);
    const std::vector<BeatMarker>& overrides = store.project().audio->attackMarkerOverrides;
    ASSERT_EQ(overrides.size(), 2u);
    EXPECT_EQ(overrides[0].id, near.id);
    EXPECT_EQ(overrides[1].id, other.id);
    EXPECT_FALSE(store.selectedBeatMarkerID());
}

TEST_F(MarkerEditing, NewManualMarkerKeepsItsDistanceAndIsSelected)
{
    ProjectStore store;
    prepare(store, SyncMode::autoBeatV2, {makeMarker(4, true, true)});
    store.addManualBeatMarker(4.03);
    ASSERT_EQ(store.audioBeatMarkers().size(), 2u);
    const BeatMarker added = store.audioBeatMarkers()[1];
    EXPECT_NEAR(added.time, 4.08, 1e-9);
    EXPECT_EQ(added.kind, BeatKind::strong);
    EXPECT_EQ(added.strength, 1.0);
    EXPECT_TRUE(added.isManual);
    EXPECT_EQ(store.selectedBeatMarkerID(), added.id);
    // Automatic mode re-places the photos on the markers.
    EXPECT_NEAR(store.project().slides[0].duration, 4, 1e-9);

    // Selecting a marker clears the multi-selection but keeps the selected slide.
    const Uuid slideID = store.project().slides[1].id;
    store.setSelectedSlideID(slideID);
    store.setTimelineSelection({slideID, store.project().slides[0].id});
    store.selectBeatMarker(store.audioBeatMarkers()[0].id);
    EXPECT_TRUE(store.timelineSelection().empty());
    EXPECT_EQ(store.selectedSlideID(), slideID);
    store.selectBeatMarker(Uuid::random());
    EXPECT_FALSE(store.selectedBeatMarkerID());
}

TEST_F(MarkerEditing, AMarkerAddedOnATakenTimeAddsNothingSoTheProjectReopensAsSaved)
{
    const std::filesystem::path song = writeClickSong(m_root, "Tema", 8, {2.0, 4.0, 6.0});
    const std::filesystem::path url = saveAutomaticSongProject(m_root, "Ritmo", song, {makeSlide(2), makeSlide(2), makeSlide(2)});
    ProjectStore store;
    ASSERT_TRUE(openAnalysed(store, url));
    const std::size_t undoBefore = store.undoStack().size();

    store.addManualBeatMarker(1.0);
    store.addManualBeatMarker(1.0);
    // Between markers too close for the gap the rule keeps the wanted time, nearer to
    // 1.0 s than the merge at opening allows.
    store.addManualBeatMarker(1.1);
    store.addManualBeatMarker(1.04);
    // Nor on an attack marker's time.
    store.addManualBeatMarker(store.attackBeatMarkers().back().time);
    const auto manualTimes = [](const ProjectStore& s) {
        std::vector<double> times;
        for (const BeatMarker& marker : s.project().audio->beatMarkers) {
            if (marker.isManual)
                times.push_back(marker.time);
        }
        return times;
    };
    EXPECT_EQ(manualTimes(store), (std::vector<double>{1.0, 1.1}));
    EXPECT_EQ(store.undoStack().size(), undoBefore + 2);
    EXPECT_TRUE(everyCutOnAMarker(store));

    store.saveCurrentProjectImmediatelyIfPossible();
    ProjectStore reopened;
    ASSERT_TRUE(openAnalysed(reopened, url));
    EXPECT_EQ(manualTimes(reopened), manualTimes(store));
    EXPECT_EQ(slideDurations(reopened), slideDurations(store));
}

TEST_F(MarkerEditing, DeletingManualMarkersNeedsAnEnabledOne)
{
    ProjectStore store;
    const BeatMarker detected = makeMarker(2, true, false, AutoBeatInstrument::drums);
    prepare(store, SyncMode::manual, {makeMarker(1, false, true), detected, makeMarker(3, false, true)});
    store.setManualBeatMarkerDeletionCount(1);
    const std::size_t undoBefore = store.undoStack().size();
    store.confirmDeleteManualBeatMarkers();
    EXPECT_FALSE(store.manualBeatMarkerDeletionCount());
    EXPECT_EQ(store.audioBeatMarkers().size(), 3u);
    EXPECT_EQ(store.undoStack().size(), undoBefore);

    prepare(store, SyncMode::manual, {makeMarker(1, false, true), detected, makeMarker(3, true, true)});
    store.setManualBeatMarkerDeletionCount(1);
    store.confirmDeleteManualBeatMarkers();
    EXPECT_EQ(store.undoStack().size(), undoBefore + 1);
    EXPECT_EQ(store.audioBeatMarkers(), std::vector<BeatMarker>{detected});
    EXPECT_EQ(store.project().audio->beatMarkers, std::vector<BeatMarker>{detected});
    EXPECT_FALSE(store.manualBeatMarkerDeletionCount());
}

} // namespace
