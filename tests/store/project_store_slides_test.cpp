#include "store_edit_test_support.h"
#include "store_test_support.h"

#include "store/timeline_slide_reorder.h"

#include <cmath>
#include <limits>

using namespace fotivela;
using namespace fotivela::test;

namespace {

using StoreSlides = StoreTest;

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

std::string order(const std::vector<Slide>& slides)
{
    std::string names;
    for (const Slide& slide : slides)
        names += slide.name;
    return names;
}

std::vector<Slide> lettered(std::string letters, double duration = 2)
{
    std::vector<Slide> slides;
    for (char letter : letters)
        slides.push_back(makeSlide(duration, std::string(1, letter)));
    return slides;
}

void open(ProjectStore& store, std::vector<Slide> slides)
{
    store.modifyProject([&](FotivelaProject& p) { p.slides = std::move(slides); });
    store.recalculateTotalDuration();
}

TEST(TimelineSlideReorder, MovesTheSelectionAsOneBlock)
{
    const std::vector<Slide> slides = lettered("ABCDE");
    const std::set<Uuid> bd{slides[1].id, slides[3].id};
    EXPECT_EQ(order(TimelineSlideReorder::move(slides, bd, 4)), "ACBDE");
    EXPECT_EQ(order(TimelineSlideReorder::move(slides, bd, 0)), "BDACE");
    EXPECT_EQ(order(TimelineSlideReorder::move(slides, {slides[0].id}, -3)), "ABCDE");
    EXPECT_EQ(order(TimelineSlideReorder::move(slides, {slides[0].id}, 99)), "BCDEA");
    EXPECT_EQ(order(TimelineSlideReorder::move(slides, {}, 2)), "ABCDE");
}

TEST_F(StoreSlides, MovingKeepsTitlesAtTheEndsAndSelectsTheBlock)
{
    ProjectStore store;
    std::vector<Slide> slides = lettered("ABCDE");
    slides[0].title = "Inicio";
    slides[4].title = "Fin";
    open(store, slides);
    store.setTimelineSelection({slides[1].id, slides[3].id});

    store.moveSlide(slides[1].id, 4);
    EXPECT_EQ(order(store.project().slides), "ACBDE");
    EXPECT_EQ(store.timelineSelection(), (std::set<Uuid>{slides[1].id, slides[3].id}));
    EXPECT_EQ(store.selectedSlideID(), slides[1].id);
    EXPECT_EQ(store.timelineAnchorID(), slides[1].id);
    EXPECT_EQ(store.undoStack().size(), 1u);

    // A slide outside the selection moves alone and becomes the selection; the titles stay at the ends.
    store.moveSlide(slides[4].id, 0);
    EXPECT_EQ(order(store.project().slides), "EACBD");
    EXPECT_EQ(store.project().slides[0].title, "Inicio");
    EXPECT_EQ(store.project().slides[4].title, "Fin");
    EXPECT_EQ(store.project().slides[1].title, "");
    EXPECT_EQ(store.timelineSelection(), std::set<Uuid>{slides[4].id});
    EXPECT_EQ(store.project().slides[3].order, 3);
    EXPECT_TRUE(store.hasPendingAutosave());

    // A drop that changes nothing records nothing.
    store.setHasUnsavedChanges(false);
    store.moveSlide(slides[4].id, 1);
    store.moveSlide(Uuid::random(), 0);
    EXPECT_EQ(store.undoStack().size(), 2u);
    EXPECT_FALSE(store.hasUnsavedChanges());

    // An id read straight from the list the move replaces.
    store.moveSlide(store.project().slides[1].id, 0);
    EXPECT_EQ(order(store.project().slides), "AECBD");
    EXPECT_EQ(store.selectedSlideID(), slides[0].id);
}

TEST_F(StoreSlides, InAutomaticModeAReorderPlacesTheSlidesOnTheMarkersAgain)
{
    ProjectStore store;
    AudioTrack track = makeTrack(SyncMode::autoBeatV2);
    track.beatMarkers = {makeMarker(1, true, true), makeMarker(3, true, true)};
    std::vector<Slide> slides = lettered("ABC", 5);
    store.modifyProject([&](FotivelaProject& p) {
        p.audio = track;
        p.slides = slides;
    });
    ProjectStoreTestAccess::storeBeatMarkers(store, track.beatMarkers, false);
    store.setAudioDuration(6);
    store.recalculateTotalDuration();

    store.moveSlide(slides[2].id, 0);
    ASSERT_EQ(order(store.project().slides), "CAB");
    EXPECT_EQ(store.project().slides[0].duration, 1);
    EXPECT_EQ(store.project().slides[1].duration, 2);
    EXPECT_EQ(store.project().slides[2].duration, 12);
}

TEST_F(StoreSlides, FillAndBackgroundColour)
{
    ProjectStore store;
    std::vector<Slide> slides = lettered("AB");
    slides[0].imageScale = 2;
    slides[1].imageOffsetX = 0.3;
    open(store, slides);

    store.setFillPhotosToScreen(false);
    EXPECT_TRUE(store.undoStack().empty());
    store.setFillPhotosToScreen(true);
    EXPECT_EQ(store.project().fillPhotosToScreen, true);
    EXPECT_EQ(store.project().slides[0].imageScale, 1);
    EXPECT_EQ(store.project().slides[1].imageOffsetX, 0);
    EXPECT_EQ(store.undoStack().size(), 1u);

    store.setBackgroundColor(QColor::fromRgbF(0.5f, 0.5f, 0.5f));
    EXPECT_EQ(store.project().backgroundColorHex, "#808080");
    EXPECT_EQ(store.undoStack().size(), 1u);
    store.setHasUnsavedChanges(false);
    store.setBackgroundColor(QColor("#808080"));
    EXPECT_FALSE(store.hasUnsavedChanges());
    store.setBackgroundColor(QColor());
    EXPECT_EQ(store.project().backgroundColorHex, "#000000");
    store.setBackgroundColor(QColor::fromRgbF(1.0f, 0.25f, 0.0f));
    EXPECT_EQ(store.project().backgroundColorHex, "#FF4000");
    EXPECT_TRUE(store.hasPendingAutosave());
}

TEST_F(StoreSlides, TimelineZoomAndFit)
{
    ProjectStore store;
    store.setTimelineZoom(1.00005);
    store.setTimelineZoom(notANumber);
    EXPECT_EQ(store.timelineZoom(), 1.0);
    EXPECT_EQ(store.timelineZoomFocusRevision(), 0);
    store.setTimelineZoom(1.0002);
    EXPECT_EQ(store.timelineZoom(), 1.0002);
    EXPECT_EQ(store.timelineZoomFocusRevision(), 1);
    store.setTimelineZoom(10);
    EXPECT_EQ(store.timelineZoom(), 6.0);
    store.setTimelineZoom(-1);
    EXPECT_EQ(store.timelineZoom(), 0.05);
    store.setTimelineZoom(0);
    EXPECT_EQ(store.timelineZoomFocusRevision(), 3);

    store.fitAudioTimeline(500);
    EXPECT_EQ(store.timelineZoom(), 6.0);
    store.setAudioDuration(20);
    store.fitAudioTimeline(840);
    EXPECT_DOUBLE_EQ(store.timelineZoom(), 1.0);
    store.fitAudioTimeline(100);
    EXPECT_DOUBLE_EQ(store.timelineZoom(), 320.0 / 840.0);
    store.setAudioDuration(7200);
    store.fitAudioTimeline(840);
    EXPECT_EQ(store.timelineZoom(), 0.05);
}

TEST_F(StoreSlides, EdgeDragsMoveOneBoundaryWithOneUndoStepPerDrag)
{
    ProjectStore store;
    std::vector<Slide> slides = lettered("ABC", 3);
    open(store, slides);

    store.resizeSlideDuration(slides[0].id, ResizeEdge::right, 1);
    store.resizeSlideDuration(slides[0].id, ResizeEdge::right, 0.5);
    EXPECT_EQ(store.project().slides[0].duration, 4.5);
    EXPECT_EQ(store.project().slides[1].duration, 1.5);
    EXPECT_EQ(store.totalDuration(), 9);
    EXPECT_EQ(store.undoStack().size(), 1u);

    // The neighbour would fall below 0.5 s: neither slide moves, but the drag still counts.
    store.resizeSlideDuration(slides[0].id, ResizeEdge::right, 1.2);
    EXPECT_EQ(store.project().slides[0].duration, 4.5);
    EXPECT_EQ(store.project().slides[1].duration, 1.5);
    store.setPendingTimelineResizeUndo(false);

    store.resizeSlideDuration(slides[2].id, ResizeEdge::right, -1);
    EXPECT_EQ(store.project().slides[2].duration, 2);
    EXPECT_EQ(store.totalDuration(), 8);
    EXPECT_EQ(store.undoStack().size(), 2u);
    store.resizeSlideDuration(slides[0].id, ResizeEdge::left, -1);
    EXPECT_EQ(store.project().slides[0].duration, 4.5);

    store.resizeSlideDuration(slides[2].id, ResizeEdge::left, -0.5);
    EXPECT_EQ(store.project().slides[1].duration, 1);
    EXPECT_EQ(store.project().slides[2].duration, 2.5);
    store.resizeSlideDuration(slides[2].id, ResizeEdge::left, notANumber);
    EXPECT_EQ(store.project().slides[2].duration, 2.5);
}

TEST_F(StoreSlides, AnEdgeNearAMarkerLandsOnItInManualMode)
{
    ProjectStore store;
    std::vector<Slide> slides = lettered("AB", 3);
    store.modifyProject([&](FotivelaProject& p) {
        p.audio = makeTrack(SyncMode::manual);
        p.slides = slides;
    });
    store.recalculateTotalDuration();
    store.setAudioDuration(10);
    store.setPreviewTime(9);
    ProjectStoreTestAccess::storeBeatMarkers(store, {makeMarker(4.0, true, true)}, false);

    store.resizeSlideDuration(slides[0].id, ResizeEdge::right, 0.93);
    EXPECT_EQ(store.project().slides[0].duration, 4.0);
    EXPECT_EQ(store.snappedBeatTime(), 4.0);
    EXPECT_EQ(store.project().slides[1].duration, 2.0);
}

TEST_F(StoreSlides, DurationsFollowTheMarkersInAutomaticMode)
{
    ProjectStore store;
    std::vector<Slide> slides = lettered("AB", 3);
    store.modifyProject([&](FotivelaProject& p) {
        p.audio = makeTrack(SyncMode::autoBeatV2);
        p.slides = slides;
    });
    store.setSelectedSlideID(slides[0].id);
    store.applyDurationToEditableSlides(5);
    store.resizeSlideDuration(slides[0].id, ResizeEdge::right, 1);
    EXPECT_EQ(store.project().slides[0].duration, 3);
    EXPECT_TRUE(store.undoStack().empty());

    store.modifyProject([](FotivelaProject& p) { p.audio.reset(); });
    store.setTimelineSelection({slides[1].id});
    store.applyDurationToEditableSlides(notANumber);
    store.applyDurationToEditableSlides(std::numeric_limits<double>::infinity());
    store.applyDurationToEditableSlides(-2);
    EXPECT_TRUE(store.undoStack().empty());
    store.applyDurationToEditableSlides(7.25);
    EXPECT_EQ(store.project().slides[0].duration, 3);
    EXPECT_EQ(store.project().slides[1].duration, 7.25);
    EXPECT_EQ(store.totalDuration(), 10.25);
    EXPECT_TRUE(store.hasPendingAutosave());

    store.applyTransitionToAllSlides(SlideTransition::dissolve);
    EXPECT_EQ(store.project().slides[0].transition, SlideTransition::dissolve);
    EXPECT_EQ(store.undoStack().size(), 2u);
}

TEST_F(StoreSlides, StartAndProgressOfASlide)
{
    ProjectStore store;
    std::vector<Slide> slides = lettered("ABC", 2);
    slides[1].duration = 0;
    open(store, slides);
    store.setPreviewTime(2);
    EXPECT_EQ(ProjectStoreEditTestAccess::startTime(store, slides[2].id), 2);
    EXPECT_EQ(ProjectStoreEditTestAccess::startTime(store, Uuid::random()), 2);
    EXPECT_EQ(store.previewProgress(slides[1].id), 0);
    store.setPreviewTime(2.002);
    EXPECT_EQ(store.previewProgress(slides[1].id), 1);
    store.setPreviewTime(1);
    EXPECT_EQ(store.previewProgress(slides[0].id), 0.5);
    EXPECT_EQ(store.previewProgress(Uuid::random()), 0);
}

TEST_F(StoreSlides, KenBurnsSettingsGoToEverySlide)
{
    ProjectStore store;
    store.setKenBurnsEnabled(true);
    store.setKenBurnsZoomAmount(0.2);
    EXPECT_TRUE(store.undoStack().empty());
    EXPECT_FALSE(store.hasUnsavedChanges());

    std::vector<Slide> slides = lettered("AB");
    slides[0].kenBurnsZoomAmount = 0;
    slides[1].kenBurnsMovementAmount = -1;
    open(store, slides);
    store.setKenBurnsEnabled(false);
    EXPECT_EQ(store.project().slides[0].kenBurnsZoomAmount, 0.12);
    EXPECT_EQ(store.project().slides[1].kenBurnsMovementAmount, 0.35);
    EXPECT_EQ(store.undoStack().size(), 1u);

    store.setKenBurnsZoomAmount(0.5);
    EXPECT_EQ(store.project().slides[1].kenBurnsZoomAmount, 0.35);
    store.setKenBurnsZoomAmount(0);
    EXPECT_EQ(store.project().slides[0].kenBurnsZoomAmount, 0.02);
    store.setKenBurnsZoomAmount(notANumber);
    EXPECT_EQ(store.project().slides[0].kenBurnsZoomAmount, 0.02);
    store.setKenBurnsMovementAmount(-1);
    EXPECT_EQ(store.project().slides[0].kenBurnsMovementAmount, 0);
    store.setKenBurnsMovementAmount(2);
    EXPECT_EQ(store.project().slides[1].kenBurnsMovementAmount, 1);
    EXPECT_EQ(store.undoStack().size(), 1u);
    EXPECT_TRUE(store.hasPendingAutosave());
}

TEST_F(StoreSlides, ReframingStaysInsideTheFramingLimits)
{
    ProjectStore store;
    std::vector<Slide> slides = lettered("ABC");
    slides[0].imageScale = 0.5;
    open(store, slides);
    store.setSelectedSlideID(slides[0].id);

    // Without a loaded image: 0.45 per unit of zoom above 1.
    store.adjustSelectedSlideReframe(0.2, 0, 0);
    EXPECT_DOUBLE_EQ(store.project().slides[0].imageScale, 1.2);
    store.adjustSelectedSlideReframe(0.8, 1, -1);
    EXPECT_EQ(store.project().slides[0].imageScale, 2);
    EXPECT_DOUBLE_EQ(store.project().slides[0].imageOffsetX, 0.45);
    EXPECT_DOUBLE_EQ(store.project().slides[0].imageOffsetY, -0.45);
    store.adjustSelectedSlideReframe(notANumber, 0, 0);
    EXPECT_EQ(store.project().slides[0].imageScale, 2);

    // A square photo at scale 1 in a wider frame, without fill: nothing to move, offsets go to 0.
    ProjectStoreEditTestAccess::putPreviewImage(store, slides[0].id, QImage(100, 100, QImage::Format_RGB32));
    store.adjustSelectedSlideReframe(-5, 0.1, 0.1);
    EXPECT_EQ(store.project().slides[0].imageScale, 1);
    EXPECT_EQ(store.project().slides[0].imageOffsetX, 0);
    EXPECT_EQ(store.project().slides[0].imageOffsetY, 0);
    EXPECT_TRUE(store.undoStack().empty());
    EXPECT_TRUE(store.hasPendingAutosave());

    // Reset takes the timeline selection over the selected slide.
    store.modifyProject([](FotivelaProject& p) {
        for (Slide& s : p.slides) {
            s.imageScale = 3;
            s.imageOffsetX = 0.2;
        }
    });
    store.setTimelineSelection({slides[1].id, slides[2].id});
    store.resetSelectedSlideReframe();
    EXPECT_EQ(store.project().slides[0].imageScale, 3);
    EXPECT_EQ(store.project().slides[1].imageScale, 1);
    EXPECT_EQ(store.project().slides[2].imageOffsetX, 0);
}

} // namespace
