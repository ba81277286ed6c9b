#include "timeline_test_support.h"

#include "ui/common/view_helpers.h"
#include "ui/timeline/beat_marker_interaction_view.h"
#include "ui/timeline/music_beat_lane.h"
#include "ui/timeline/timeline_audio_controls.h"
#include "ui/timeline/timeline_header_views.h"
#include "ui/timeline/timeline_ruler.h"
#include "ui/timeline/timeline_tool_button.h"
#include "ui/timeline/waveform_scrub_view.h"

#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <QWindow>

using namespace fotivela;
using namespace fotivela::test;

namespace {

using TimelinePanelTest = TimelineTest;

const BeatMarker* find(const std::vector<BeatMarker>& markers, const Uuid& id)
{
    for (const BeatMarker& marker : markers)
        if (marker.id == id)
            return &marker;
    return nullptr;
}

TEST_F(TimelinePanelTest, AnEmptyProjectSpansOneSecondOver320PointsAndOffersNoMarkerButton)
{
    showPanel();
    EXPECT_EQ(panel->timelineDuration(), 1);
    EXPECT_EQ(panel->contentWidth(), 320);
    EXPECT_EQ(panel->pixelsPerSecond(), 320);
    store->setTimelineZoom(6);
    settle();
    EXPECT_EQ(panel->contentWidth(), 320);
    EXPECT_FALSE(panel->addMarkerButton()->isEnabled());
    panel->addMarkerButton()->click();
    EXPECT_TRUE(store->audioBeatMarkers().empty());
    EXPECT_TRUE(panel->legend()->items().empty());
    EXPECT_FALSE(panel->audioControls()->mainMuteButton()->isEnabled());
    EXPECT_EQ(panel->audioControls()->mainMuteButton()->toolTip(), QString::fromUtf8("Sin música"));
    // Viewport wider than the content: nothing to scroll to.
    EXPECT_EQ(panel->targetAutoScrollOffset(800, 0.5), 0);
}

TEST_F(TimelinePanelTest, ZoomButtonsStepBy118AndStopAtTheLimit)
{
    prepare(SyncMode::manual, 100, {}, {50, 50});
    showPanel();
    EXPECT_DOUBLE_EQ(panel->contentWidth(), 4200);
    EXPECT_DOUBLE_EQ(panel->pixelsPerSecond(), 42);
    panel->zoomInButton()->click();
    settle();
    EXPECT_NEAR(store->timelineZoom(), 1.18, 1e-12);
    EXPECT_NEAR(panel->contentWidth(), 4956, 1e-9);
    EXPECT_EQ(panel->zoomSlider()->value(), 1180);

    store->setTimelineZoom(6);
    const auto revision = store->timelineZoomFocusRevision();
    panel->zoomInButton()->click();
    EXPECT_EQ(store->timelineZoomFocusRevision(), revision);

    // Fit images fills the measured viewport with the slideshow alone.
    panel->fitImagesButton()->click();
    settle();
    const double viewport = panel->scrollArea()->viewport()->width();
    EXPECT_NEAR(panel->contentWidth(), std::max(viewport, 320.0), 1e-6);
}

TEST_F(TimelinePanelTest, TheAutoScrollTargetCentresTheMarkerWhilePausedAndHoldsThePlayheadAt80Percent)
{
    prepare(SyncMode::manual, 100, {}, {});
    showPanel();
    EXPECT_DOUBLE_EQ(panel->targetAutoScrollOffset(800, 50), 1700);
    store->setPreviewTime(99);
    EXPECT_DOUBLE_EQ(panel->targetAutoScrollOffset(800, std::nullopt), 3400);
    store->setPreviewTime(50);
    store->setIsPlaying(true);
    EXPECT_DOUBLE_EQ(panel->targetAutoScrollOffset(800, 10), 1460);
    store->setIsPlaying(false);

    // A zoom change jumps to the target once.
    const BeatMarker marker = makeMarker(60, true, true);
    prepare(SyncMode::manual, 100, {marker}, {});
    store->selectBeatMarker(marker.id);
    panel->zoomInButton()->click();
    settle();
    const double viewport = panel->scrollArea()->viewport()->width();
    const double expected = std::min(panel->contentWidth() - viewport, panel->contentWidth() * 0.6 - viewport / 2);
    EXPECT_NEAR(panel->scrollArea()->horizontalScrollBar()->value(), expected, 1.0);
}

TEST_F(TimelinePanelTest, DraggingAMarkerOnTheRulerMovesItWithinItsNeighboursInOneUndoStep)
{
    const BeatMarker left = makeMarker(2, true, true);
    const BeatMarker dragged = makeMarker(5, true, true);
    const BeatMarker right = makeMarker(8, true, true);
    prepare(SyncMode::manual, 10, {left, dragged, right}, {5, 5});
    showPanel();
    BeatMarkerInteractionView* strip = panel->ruler()->interaction();
    const double pps = panel->pixelsPerSecond();
    const std::size_t undoBefore = store->undoStack().size();

    press(strip, QPointF(5 * pps, 20));
    EXPECT_EQ(store->selectedBeatMarkerID(), dragged.id);
    // Under the 7-point threshold nothing moves and editing is never reported.
    drag(strip, QPointF(5 * pps + 5, 20));
    EXPECT_FALSE(store->isEditingBeatMarker());
    EXPECT_EQ(find(store->audioBeatMarkers(), dragged.id)->time, 5);

    drag(strip, QPointF(6 * pps, 20));
    EXPECT_TRUE(store->isEditingBeatMarker());
    drag(strip, QPointF(9.5 * pps, 20));
    release(strip, QPointF(9.5 * pps, 20));
    settle();
    EXPECT_FALSE(store->isEditingBeatMarker());
    EXPECT_FALSE(store->pendingBeatMarkerMoveUndo());
    EXPECT_EQ(store->undoStack().size(), undoBefore + 1);
    EXPECT_NEAR(find(store->project().audio->beatMarkers, dragged.id)->time, 7.92, 1e-9);
}

// Drum markers as an analysis at a long interval leaves them: most switched off. Only the
// enabled ones hold a dragged marker back, 0.08 s short of them.
TEST_F(TimelinePanelTest, SwitchedOffMarkersDoNotStopADraggedMarker)
{
    const auto drum = [](double time, bool enabled) {
        return makeMarker(time, enabled, false, AutoBeatInstrument::drums);
    };
    const BeatMarker left = drum(3.0, true);
    const BeatMarker offLeft = drum(4.6, false);
    const BeatMarker dragged = drum(5.21, true);
    const BeatMarker offNear = drum(5.385, false);
    const BeatMarker offFar = drum(5.722, false);
    const BeatMarker right = drum(8.0, true);
    prepare(SyncMode::autoBeatV2, 10, {left, offLeft, dragged, offNear, offFar, right}, {2, 2, 2, 2, 2});
    store->modifyProject([](FotivelaProject& p) { p.audio->autoBeatInstruments = {AutoBeatInstrument::drums}; });
    showPanel();
    BeatMarkerInteractionView* strip = panel->ruler()->interaction();
    const double pps = panel->pixelsPerSecond();
    ASSERT_EQ(strip->markers.size(), 6u);

    // Real events through the window: it finds the strip under the pointer and keeps it.
    QWindow* window = panel->windowHandle();
    const auto at = [&](double time) { return window->mapFromGlobal(strip->mapToGlobal(QPoint(qRound(time * pps), 20))); };
    const auto dragMarker = [&](double from, double to) {
        QTest::mousePress(window, Qt::LeftButton, {}, at(from));
        for (int i = 1; i <= 6; ++i)
            QTest::mouseMove(window, at(from + (to - from) * i / 6));
        QTest::mouseRelease(window, Qt::LeftButton, {}, at(to));
        settle();
        return find(store->project().audio->beatMarkers, dragged.id)->time;
    };
    const double pixel = 1 / pps;

    EXPECT_NEAR(dragMarker(5.21, 6.2), 6.2, pixel);
    EXPECT_NEAR(dragMarker(6.2, 9.5), 7.92, 1e-9);
    EXPECT_NEAR(dragMarker(7.92, 1.0), 3.08, 1e-9);
    // Straight onto a switched-off marker's place.
    EXPECT_NEAR(dragMarker(3.08, 5.385), 5.385, pixel);
    for (const BeatMarker& off : {offLeft, offNear, offFar}) {
        const BeatMarker* kept = find(store->project().audio->beatMarkers, off.id);
        ASSERT_NE(kept, nullptr);
        EXPECT_EQ(kept->time, off.time);
        EXPECT_FALSE(kept->isEnabled);
    }
}

TEST_F(TimelinePanelTest, EmptyStripSeeksDisabledMarkersAreNotDraggedAndTheMenuReEnablesThem)
{
    const BeatMarker disabled = makeMarker(4, false, true);
    prepare(SyncMode::manual, 10, {disabled}, {10});
    showPanel();
    BeatMarkerInteractionView* strip = panel->ruler()->interaction();
    const double pps = panel->pixelsPerSecond();

    store->selectBeatMarker(disabled.id);
    press(strip, QPointF(7 * pps, 20));
    release(strip, QPointF(7 * pps, 20));
    EXPECT_NEAR(store->previewTime(), 7, 1e-6);
    EXPECT_FALSE(store->selectedBeatMarkerID());

    press(strip, QPointF(4 * pps, 20));
    drag(strip, QPointF(6 * pps, 20));
    release(strip, QPointF(6 * pps, 20));
    EXPECT_EQ(store->selectedBeatMarkerID(), disabled.id);
    EXPECT_EQ(find(store->audioBeatMarkers(), disabled.id)->time, 4);
    EXPECT_NEAR(store->previewTime(), 7, 1e-6);

    press(strip, QPointF(4 * pps + 3, 20), Qt::RightButton);
    QMenu* menu = strip->contextMenu();
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().front()->text(), "Activar marcador");
    menu->actions().front()->trigger();
    menu->close();
    EXPECT_TRUE(find(store->audioBeatMarkers(), disabled.id)->isEnabled);
}

TEST_F(TimelinePanelTest, ThePillNamesTheSelectedMarkerAndDisablesIt)
{
    TimelineMarkerSelectionPill pill;
    pill.setValues(makeMarker(75.4, true, false, AutoBeatInstrument::kick), AppLanguage::spanish);
    EXPECT_EQ(pill.text(), QString::fromUtf8("Bombo \u00B7 1:15"));
    EXPECT_EQ(pill.markerColor(), instrumentColor(AutoBeatInstrument::kick));
    pill.setValues(makeMarker(3, true, false), AppLanguage::english);
    EXPECT_EQ(pill.text(), QString::fromUtf8("Attack \u00B7 0:03"));
    EXPECT_EQ(pill.markerColor(), QColor(Qt::white));

    const BeatMarker manualKick = makeMarker(30, true, true, AutoBeatInstrument::kick);
    prepare(SyncMode::manual, 100, {manualKick}, {100});
    showPanel();
    EXPECT_FALSE(panel->markerPill()->isVisible());
    store->selectBeatMarker(manualKick.id);
    settle();
    ASSERT_TRUE(panel->markerPill()->isVisible());
    EXPECT_EQ(panel->markerPill()->text(), QString::fromUtf8("Manual \u00B7 0:30"));
    EXPECT_EQ(panel->markerPill()->markerColor(), TimelineLegend::manualColor());
    panel->markerPill()->deleteButton()->click();
    settle();
    EXPECT_FALSE(find(store->audioBeatMarkers(), manualKick.id)->isEnabled);
}

TEST_F(TimelinePanelTest, TheLegendListsOnlyWhatTheLaneShows)
{
    TimelineLegend legend;
    legend.setValues(true, SyncMode::manual, true, {AutoBeatInstrument::bass}, true, AppLanguage::spanish);
    ASSERT_EQ(legend.items().size(), 3u);
    EXPECT_EQ(legend.items()[0].label, "Onda cancion");
    EXPECT_EQ(legend.items()[1].label, "Bajo");
    EXPECT_EQ(legend.items()[2].label, "Manual");
    legend.setValues(true, SyncMode::autoBeatV2, true, {}, false, AppLanguage::spanish);
    ASSERT_EQ(legend.items().size(), 2u);
    EXPECT_EQ(legend.items()[1].label, "Marca ataque");
    legend.setValues(false, std::nullopt, true, {}, true, AppLanguage::spanish);
    ASSERT_EQ(legend.items().size(), 1u);
    EXPECT_EQ(legend.items()[0].label, "Manual");
}

TEST_F(TimelinePanelTest, TheAudioColumnReportsToTheStoreAndLinesUpWithTheRows)
{
    prepare(SyncMode::manual, 10, {}, {10});
    showPanel();
    TimelineFixedAudioControls* column = panel->audioControls();
    EXPECT_EQ(column->height(), 92);
    EXPECT_EQ(column->mainMuteButton()->y(), 40 + 16);
    EXPECT_EQ(column->mainMuteButton()->toolTip(), "Silenciar cancion");
    column->mainMuteButton()->click();
    settle();
    EXPECT_TRUE(store->isMainAudioMuted());
    EXPECT_EQ(column->mainMuteButton()->glyph(), TimelineAudioButton::Glyph::speakerSlash);
    EXPECT_EQ(column->mainMuteButton()->toolTip(), "Activar sonido de la cancion");
    column->mainSoloButton()->click();
    settle();
    EXPECT_TRUE(store->isMainAudioSoloed());
    EXPECT_FALSE(store->isMainAudioMuted());

    // Eight stems: seven rows, and the song's pair below them.
    TimelineFixedAudioControls::Values values;
    for (int i = 0; i < 8; ++i)
        values.stemWaveforms.push_back({static_cast<AutoBeatInstrument>(i % 7), {}});
    values.soloInstrument = AutoBeatInstrument::kick;
    values.hasMainAudio = true;
    TimelineFixedAudioControls standalone;
    standalone.setValues(values);
    EXPECT_EQ(standalone.columnHeight(), 92 + 7 * 22);
    EXPECT_TRUE(standalone.stemButtons(6).first);
    EXPECT_FALSE(standalone.stemButtons(7).first);
    EXPECT_EQ(standalone.mainMuteButton()->y(), 40 + 7 * 22 + 16);
    // Soloed but not audible: the two looks are independent.
    EXPECT_EQ(standalone.stemButtons(1).first->glyph(), TimelineAudioButton::Glyph::speakerSlash);
    QColor soloed = instrumentColor(AutoBeatInstrument::kick);
    soloed.setAlphaF(0.95f);
    EXPECT_EQ(standalone.stemButtons(1).second->background(), soloed);
    EXPECT_EQ(standalone.stemButtons(1).first->toolTip(), "Escuchar Bombo");
}

TEST_F(TimelinePanelTest, ClickingTheWaveformSeeksAndTheAddButtonPutsAManualMarkerAtThePlayhead)
{
    prepare(SyncMode::manual, 10, {}, {10});
    showPanel();
    MusicBeatLane* lane = panel->musicLane();
    const double pps = panel->pixelsPerSecond();
    press(lane->scrubView(), QPointF(3 * pps, 20));
    drag(lane->scrubView(), QPointF(4 * pps, 20));
    release(lane->scrubView(), QPointF(4 * pps, 20));
    EXPECT_NEAR(store->previewTime(), 4, 1e-6);

    panel->addMarkerButton()->click();
    settle();
    ASSERT_EQ(store->audioBeatMarkers().size(), 1u);
    EXPECT_NEAR(store->audioBeatMarkers().front().time, 4, 1e-6);
    EXPECT_TRUE(store->audioBeatMarkers().front().isManual);
}

} // namespace

namespace {

// Columns of the lane's main waveform row, at the centre line, that differ from the empty lane above them.
std::vector<int> waveformColumns(const QImage& lane)
{
    const int centre = static_cast<int>(0.54 * lane.height()) + 1;
    std::vector<int> columns;
    for (int x = 2; x < lane.width() - 2; ++x) {
        const QColor wave = lane.pixelColor(x, centre);
        const QColor empty = lane.pixelColor(x, 3);
        if (std::abs(wave.lightness() - empty.lightness()) + std::abs(wave.green() - empty.green()) > 12)
            columns.push_back(x);
    }
    return columns;
}

} // namespace

TEST_F(TimelinePanelTest, TheWaveformCoversTheSongsOwnTime)
{
    // A 20 s song with a single loud moment at 10 s, under 48 s of slides and then alone.
    std::vector<double> samples(200, 0.05);
    samples[100] = 1;
    for (const auto& [song, slides] : {std::pair{20.0, std::vector<double>(12, 4.0)},
                                       std::pair{20.0, std::vector<double>{2.0, 3.0}}}) {
        SCOPED_TRACE(testing::Message() << slides.size() << " slides");
        prepare(SyncMode::manual, song, {}, slides);
        store->setAudioWaveform(samples);
        showPanel();
        const QImage lane = panel->musicLane()->grab().toImage();
        const double pps = panel->pixelsPerSecond();
        const std::vector<int> drawn = waveformColumns(lane);
        ASSERT_FALSE(drawn.empty());
        EXPECT_LE(drawn.front(), 4);
        EXPECT_NEAR(drawn.back(), std::min(song * pps, lane.width() - 3.0), 3);

        // The loud moment's bar stands at its own time.
        const int top = static_cast<int>(0.54 * lane.height() - 0.38 * lane.height() * 0.9);
        int loudest = -1;
        for (int x = 0; x < lane.width(); ++x)
            if (lane.pixelColor(x, top).lightness() > 180)
                loudest = loudest < 0 ? x : loudest;
        EXPECT_NEAR(loudest, 10 * pps, 4);
    }
}
