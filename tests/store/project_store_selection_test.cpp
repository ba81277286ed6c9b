#include "music_test_support.h"

using namespace fotivela;
using namespace fotivela::test;

namespace {

using StoreSelection = StoreTest;

struct Lettered {
    ProjectStore store;
    std::vector<Slide> slides;

    explicit Lettered(const std::string& letters)
    {
        double duration = 1;
        for (char letter : letters)
            slides.push_back(makeSlide(duration++, std::string(1, letter)));
        store.modifyProject([&](FotivelaProject& p) { p.slides = slides; });
        store.recalculateTotalDuration();
    }
    std::set<Uuid> ids(const std::string& letters) const
    {
        std::set<Uuid> set;
        for (char letter : letters)
            set.insert(slides[static_cast<std::size_t>(letter - 'A')].id);
        return set;
    }
    const Uuid& id(char letter) const { return slides[static_cast<std::size_t>(letter - 'A')].id; }
};

TEST_F(StoreSelection, ClicksWithShiftAndControlBuildTheSelection)
{
    Lettered t("ABCDE");
    ProjectStore& store = t.store;
    store.setSelectedBeatMarkerID(Uuid::random());

    store.selectTimelineSlide(t.id('B'), Qt::NoModifier);
    EXPECT_EQ(store.selectedBeatMarkerID(), std::nullopt);
    EXPECT_EQ(store.previewTime(), 1);
    store.selectTimelineSlide(t.id('D'), Qt::ShiftModifier);
    EXPECT_EQ(store.timelineSelection(), t.ids("BCD"));
    EXPECT_EQ(store.timelineAnchorID(), t.id('B'));
    EXPECT_EQ(store.selectedSlideID(), t.id('D'));
    EXPECT_EQ(store.previewTime(), 6);
    store.selectTimelineSlide(t.id('A'), Qt::ShiftModifier);
    EXPECT_EQ(store.timelineSelection(), t.ids("AB"));
    store.selectTimelineSlide(t.id('E'), Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_EQ(store.timelineSelection(), t.ids("ABCDE"));

    // Control on a selected slide takes it out, yet it becomes the selected slide and the anchor.
    store.selectTimelineSlide(t.id('C'), Qt::ControlModifier);
    EXPECT_EQ(store.timelineSelection(), t.ids("ABDE"));
    EXPECT_EQ(store.selectedSlideID(), t.id('C'));
    EXPECT_EQ(store.timelineAnchorID(), t.id('C'));
    EXPECT_EQ(store.previewTime(), 3);
    EXPECT_TRUE(store.undoStack().empty());
    EXPECT_FALSE(store.hasUnsavedChanges());
}

TEST_F(StoreSelection, ARangeFromADeletedAnchorSelectsOnlyTheClickedSlide)
{
    Lettered t("ABCD");
    ProjectStore& store = t.store;
    store.selectOnlyTimelineSlide(t.id('B'));
    EXPECT_EQ(store.previewTime(), 0);
    store.modifyProject([](FotivelaProject& p) { p.slides.erase(p.slides.begin() + 1); });
    store.selectTimelineSlide(t.id('D'), Qt::ShiftModifier);
    EXPECT_EQ(store.timelineSelection(), t.ids("D"));
    EXPECT_EQ(store.timelineAnchorID(), t.id('D'));

    store.selectAllTimelineSlides();
    EXPECT_EQ(store.timelineSelection(), t.ids("ACD"));
    EXPECT_EQ(store.selectedSlideID(), t.id('A'));
    ProjectStore empty;
    empty.selectAllTimelineSlides();
    EXPECT_TRUE(empty.timelineSelection().empty());
    EXPECT_EQ(empty.selectedSlideID(), std::nullopt);
}

TEST_F(StoreSelection, SteppingMovesThePlayheadFromSlideToSlide)
{
    Lettered t("ABC");
    ProjectStore& store = t.store;
    store.stepSelectedSlide(1);
    EXPECT_EQ(store.selectedSlideID(), t.id('B'));
    EXPECT_EQ(store.timelineSelection(), t.ids("B"));
    EXPECT_EQ(store.previewTime(), 1);
    EXPECT_EQ(store.playbackClockAnchorTime(), 1);
    EXPECT_EQ(store.timelineZoomFocusRevision(), 1);
    store.stepSelectedSlide(5);
    EXPECT_EQ(store.selectedSlideID(), t.id('C'));
    EXPECT_EQ(store.previewTime(), 3);
    store.stepSelectedSlide(-9);
    EXPECT_EQ(store.selectedSlideID(), t.id('A'));
    EXPECT_EQ(store.previewTime(), 0);
}

TEST_F(StoreSelection, DeletingSlidesKeepsTheRestSelectedAndSaved)
{
    Lettered t("ABCD");
    ProjectStore& store = t.store;
    store.deleteSelectedSlide();
    store.setSelectedSlideID(Uuid::random());
    EXPECT_EQ(store.undoStack().size(), 0u);

    store.selectTimelineSlide(t.id('B'), Qt::NoModifier);
    store.selectTimelineSlide(t.id('C'), Qt::ShiftModifier);
    store.deleteSelectedSlide();
    ASSERT_EQ(store.project().slides.size(), 2u);
    EXPECT_EQ(store.project().slides[1].name, "D");
    EXPECT_EQ(store.project().slides[1].order, 1);
    EXPECT_TRUE(store.timelineSelection().empty());
    EXPECT_EQ(store.timelineAnchorID(), std::nullopt);
    EXPECT_EQ(store.selectedSlideID(), t.id('A'));
    EXPECT_EQ(store.totalDuration(), 5);
    EXPECT_TRUE(store.hasUnsavedChanges());
    EXPECT_TRUE(store.hasPendingAutosave());

    store.setPreviewTime(3);
    store.selectAllTimelineSlides();
    store.deleteSelectedSlide();
    EXPECT_TRUE(store.project().slides.empty());
    EXPECT_EQ(store.previewTime(), 0);
    EXPECT_EQ(store.selectedSlideID(), std::nullopt);
    EXPECT_EQ(store.undoStack().size(), 2u);
}

TEST_F(StoreSelection, InAutomaticModeTheSlidesLeftAfterADeletionLieOnTheMarkersAsAfterReopening)
{
    const std::filesystem::path song = writeClickSong(m_root, "Tema", 8, {1.0, 2.7, 3.9, 5.4, 6.6});
    const std::filesystem::path url =
        saveAutomaticSongProject(m_root, "Ritmo", song, {makeSlide(2), makeSlide(2), makeSlide(2), makeSlide(2)});
    ProjectStore store;
    ASSERT_TRUE(openAnalysed(store, url));
    ASSERT_TRUE(everyCutOnAMarker(store));
    const std::vector<double> before = slideDurations(store);
    const std::size_t undoBefore = store.undoStack().size();

    store.setSelectedSlideID(store.project().slides[0].id);
    store.deleteSelectedSlide();
    ASSERT_EQ(store.project().slides.size(), 3u);
    EXPECT_TRUE(everyCutOnAMarker(store));
    EXPECT_EQ(store.undoStack().size(), undoBefore + 1);

    EXPECT_EQ(durationsAfterReopening(store, url), slideDurations(store));

    store.undoLastStep();
    EXPECT_EQ(store.undoStack().size(), undoBefore);
    // The undo analyses the song again before the slides go back onto its markers.
    EXPECT_TRUE(waitFor([&] { return slideDurations(store) == before; }, 30000));
}

TEST_F(StoreSelection, TheDeleteKeyDisablesTheSelectedMarkerBeforeDeletingSlides)
{
    Lettered t("AB");
    ProjectStore& store = t.store;
    store.modifyProject([](FotivelaProject& p) { p.audio = makeTrack(SyncMode::manual); });
    store.setAudioDuration(10);
    const BeatMarker marker = makeMarker(2, true, true);
    ProjectStoreTestAccess::storeBeatMarkers(store, {marker}, false);
    store.setTimelineSelection(t.ids("AB"));
    store.setSelectedBeatMarkerID(marker.id);

    store.deleteActiveTimelineSelection();
    EXPECT_EQ(store.project().slides.size(), 2u);
    ASSERT_EQ(store.audioBeatMarkers().size(), 1u);
    EXPECT_FALSE(store.audioBeatMarkers()[0].isEnabled);
    EXPECT_EQ(store.selectedBeatMarkerID(), std::nullopt);

    store.setSelectedBeatMarkerID(Uuid::random());
    store.deleteActiveTimelineSelection();
    EXPECT_TRUE(store.project().slides.empty());
}

} // namespace
