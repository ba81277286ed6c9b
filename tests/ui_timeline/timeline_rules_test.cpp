#include "timeline_test_support.h"

#include "ui/timeline/music_beat_lane.h"
#include "ui/timeline/timeline_playhead_view.h"
#include "ui/timeline/timeline_ruler.h"
#include "ui/timeline/timeline_scroll_position_controller.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QThread>

using namespace fotivela;
using namespace fotivela::test;
using namespace fotivela::TimelinePlayheadFollowRules;

namespace {

TEST(PlayheadFollowRules, APlayheadFromTheLeftRunsToTheMiddleAndIsHeldThere)
{
    const Anchor left = anchor(100, 0, 800);
    EXPECT_EQ(left, (Anchor{0, 100, 400}));
    EXPECT_EQ(followOffset(399, left, 800, 3400), 0);
    EXPECT_EQ(followOffset(900, left, 800, 3400), 500);
    EXPECT_EQ(followOffset(4150, left, 800, 3400), 3400);

    // Started at 80 %: held there from the first frame.
    const Anchor right = anchor(640, 0, 800);
    EXPECT_EQ(right.followScreenX, 640);
    EXPECT_EQ(followOffset(650, right, 800, 3400), 10);
    // Off screen to the right: held off screen.
    EXPECT_EQ(followOffset(1010, anchor(1000, 0, 800), 800, 3400), 10);
}

TEST(PlayheadView, TheLineStaysInsideTheLaneAndFollowsTheStoreClock)
{
    TimelinePlayheadView view;
    view.resize(400, 60);
    view.update(5, false, 1, 5, 0, 400);
    EXPECT_EQ(view.lineX(), 400);
    view.update(2, false, 1, 2, 10, 400);
    EXPECT_EQ(view.lineX(), 80);
    EXPECT_FALSE(view.isTimerRunning());

    view.update(9.99, true, 2, 9.99, 10, 400);
    EXPECT_TRUE(view.isTimerRunning());
    QThread::msleep(40);
    view.tick();
    EXPECT_EQ(view.currentTime(), 10);
    EXPECT_EQ(view.lineX(), 400);

    // A seek while playing (new revision) jumps at once; the same revision keeps the local clock.
    view.update(3, true, 3, 3, 10, 400);
    EXPECT_NEAR(view.currentTime(), 3, 1e-9);
    view.update(7, true, 3, 7, 10, 400);
    EXPECT_NEAR(view.currentTime(), 3, 1e-9);
    view.update(4, false, 3, 4, 10, 400);
    EXPECT_EQ(view.currentTime(), 4);
    EXPECT_FALSE(view.isTimerRunning());
}

TEST(ScrollPositionController, ZoomJumpsOnceAndPlaybackFollowsFromTheAnchor)
{
    QScrollArea area;
    auto* content = new QWidget;
    content->resize(4200, 50);
    area.setWidget(content);
    area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    area.resize(800, 80);
    area.show();
    QApplication::processEvents();
    const double viewport = area.viewport()->width();
    TimelineScrollPositionController controller(&area);

    TimelineScrollPositionController::Values values;
    values.contentWidth = 4200;
    values.duration = 100;
    values.targetOffset = 1700;
    values.isEnabled = true;
    controller.update(values);
    // The store's revision is still 0: no jump.
    EXPECT_EQ(area.horizontalScrollBar()->value(), 0);
    values.focusRevision = 1;
    controller.update(values);
    EXPECT_EQ(area.horizontalScrollBar()->value(), 1700);

    // Playing from 50 s (x 2100, at 400 on screen): held where it started.
    values.isPlaying = true;
    values.playheadTime = 50;
    values.playbackClockAnchorTime = 50;
    values.playbackClockRevision = 1;
    controller.update(values);
    ASSERT_TRUE(controller.playbackFollowAnchor());
    EXPECT_EQ(controller.playbackFollowAnchor()->initialScreenX, 400);
    EXPECT_TRUE(controller.isTimerRunning());
    EXPECT_NEAR(area.horizontalScrollBar()->value(), 2100 - std::max(400.0, viewport / 2), 2);

    // Off screen (another route, the window closed) the timer stops, and comes back with it.
    area.hide();
    EXPECT_FALSE(controller.isTimerRunning());
    controller.update(values);
    EXPECT_FALSE(controller.isTimerRunning()) << "a store change while hidden does not restart it";
    area.show();
    EXPECT_TRUE(controller.isTimerRunning());

    // A marker drag turns following off; pausing drops the anchor.
    values.isEnabled = false;
    controller.update(values);
    EXPECT_FALSE(controller.isTimerRunning());
    values.isPlaying = false;
    controller.update(values);
    EXPECT_FALSE(controller.playbackFollowAnchor());
}

TEST(TimelineRulerLook, LabelStepsAndPinColours)
{
    EXPECT_EQ(TimelineRuler::labelStep(18), 5);
    EXPECT_EQ(TimelineRuler::labelStep(9), 10);
    EXPECT_EQ(TimelineRuler::labelStep(4.5), 30);
    EXPECT_EQ(TimelineRuler::labelStep(2), 60);
    EXPECT_EQ(TimelineRuler::labelStep(1.9), 120);

    TimelineRuler ruler;
    ruler.resize(420, 40);
    const BeatMarker selected = makeMarker(5, true, true);
    const BeatMarker bass = makeMarker(8, true, false, AutoBeatInstrument::bass);
    ruler.setValues(10, {selected, bass}, {selected.id, bass.id}, selected.id, 0);
    const QImage image = ruler.grab().toImage();
    // Heads sit at y 15 ... 25: the selection blue at 5 s, the bass colour at 8 s.
    const QColor selectedHead = image.pixelColor(210, 20);
    EXPECT_LT(selectedHead.red(), 60);
    EXPECT_GT(selectedHead.blue(), 200);
    const QColor bassHead = image.pixelColor(336, 20);
    EXPECT_GT(bassHead.blue(), bassHead.red());
}

TEST(MusicLaneLook, TheCutDimsWhatFollowsAndTheWaveformHasAFloor)
{
    EXPECT_EQ(MusicBeatLane::columnCount(100), 180);
    // Values under 0.012 count as 0.012.
    EXPECT_EQ(MusicBeatLane::level(-1), MusicBeatLane::level(0.012));
    EXPECT_NEAR(MusicBeatLane::level(1), 1, 1e-12);

    MusicBeatLane lane;
    lane.resize(400, 52);
    MusicBeatLane::Values values;
    values.samples = std::vector<double>(100, 0.0);
    values.hasMainAudio = true;
    values.cutTime = 5;
    values.duration = 10;
    values.width = 400;
    lane.setValues(values);
    const QImage cut = lane.grab().toImage();
    // Top row, away from the waveform: after the cut the lane is darker.
    EXPECT_LT(cut.pixelColor(350, 3).lightness(), cut.pixelColor(100, 3).lightness());
    values.cutTime = 10;
    lane.setValues(values);
    const QImage uncut = lane.grab().toImage();
    EXPECT_EQ(uncut.pixelColor(350, 3), uncut.pixelColor(100, 3));
}

} // namespace

TEST(MusicLaneLook, TheAnalysisSpinnerTurnsWhileTheSongIsAnalysed)
{
    MusicBeatLane lane;
    lane.resize(600, 80);
    MusicBeatLane::Values values;
    values.width = 600;
    values.duration = 30;
    values.isAnalyzing = true;
    lane.setValues(values);
    lane.show();
    EXPECT_TRUE(lane.isSpinning());
    const QImage first = lane.grab().toImage();
    EXPECT_TRUE(QTest::qWaitFor([&] { return lane.grab().toImage() != first; }, 3000)) << "the arc moves on";

    values.isAnalyzing = false;
    lane.setValues(values);
    EXPECT_FALSE(lane.isSpinning());
}
