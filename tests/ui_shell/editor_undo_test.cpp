#include "shell_test_support.h"

#include "platform/audio_file_reader.h"
#include "store/music_test_support.h"
#include "ui/shell/content_view.h"
#include "ui/shell/editor_view.h"
#include "ui/timeline/beat_marker_interaction_view.h"
#include "ui/timeline/photo_timeline_lane.h"
#include "ui/timeline/photo_timeline_lane_interaction_view.h"
#include "ui/timeline/timeline_panel.h"
#include "ui/timeline/timeline_ruler.h"

#include <QApplication>
#include <QTest>
#include <QWindow>

#include <algorithm>
#include <cmath>

using namespace fotivela;
namespace fs = std::filesystem;

namespace {

using Access = ProjectStoreMusicTestAccess;

const std::vector<double> kicks{0.5, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5};

// The editor window over a song in automatic mode whose drum stem has been analysed.
class EditorUndoTest : public test::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        const fs::path song = test::writeClickSong(m_folder.path(), "banda", 8.5, kicks);
        const fs::path projectURL = m_root / "projects" / "Banda" / "Banda.fotivela";
        fs::create_directories(projectURL.parent_path());
        store().setCurrentProjectURL(projectURL);
        store().modifyProject([&](FotivelaProject& p) {
            p.name = "Banda";
            p.audio = test::makeTrack(SyncMode::autoBeatV2, song);
            p.audio->autoBeatInstruments = {AutoBeatInstrument::drums};
            for (int i = 0; i < 4; ++i)
                p.slides.push_back(test::makeSlide(2, "foto" + std::to_string(i) + ".jpg"));
        });
        store().setIsAttackWaveformEnabled(false);
        Access::setPhysicalMemory(store(), 16 * test::gibibyte);
        const AudioFileFormat format = AudioFileReader::formatOf(song);
        store().setAudioDuration(static_cast<double>(format.lengthFrames) / format.sampleRate);
        store().recalculateTotalDuration();
        // The separation hands back the song itself as its drum stem: the clicks are the kicks.
        Access::setStemSourcePreparer(store(), test::separatedStems(song));
        Access::analyzeInstrumentAudioAsync(store(), true, true);
        ASSERT_TRUE(test::waitFor([&] { return !store().isAnalyzingAudio(); }, 60000));

        store().setRoute(AppRoute::editor);
        m_view = std::make_unique<ContentView>(store(), storeSignals(), nullptr);
        m_view->resize(1280, 860);
        m_view->show();
        QApplication::setActiveWindow(m_view.get());
        QApplication::processEvents();
        ASSERT_NE(m_view->editorView(), nullptr);
        m_panel = static_cast<TimelinePanel*>(m_view->editorView()->timelineArea());
    }
    void TearDown() override
    {
        m_view.reset();
        QApplication::processEvents();
        ShellTest::TearDown();
    }

    // Real pointer events enter through the window, which finds the widget under the pointer
    // and keeps that widget until the button is released.
    QPoint inWindow(QWidget* widget, QPointF point) const
    {
        return m_view->windowHandle()->mapFromGlobal(widget->mapToGlobal(point.toPoint()));
    }
    void dragInWindow(QWidget* widget, QPointF from, QPointF to)
    {
        QWindow* window = m_view->windowHandle();
        QTest::mousePress(window, Qt::LeftButton, {}, inWindow(widget, from));
        const int steps = 8;
        for (int i = 1; i <= steps; ++i)
            QTest::mouseMove(window, inWindow(widget, from + (to - from) * i / steps));
        QTest::mouseRelease(window, Qt::LeftButton, {}, inWindow(widget, to));
        QApplication::processEvents();
    }
    void undoWithKeys()
    {
        QTest::keyClick(m_view->windowHandle(), Qt::Key_Z, Qt::ControlModifier);
        // The light snapshot has no analyses: the restored song's drums are analysed again.
        test::waitFor([&] { return store().isAnalyzingAudio(); }, 200);
        ASSERT_TRUE(test::waitFor([&] { return !store().isAnalyzingAudio(); }, 60000));
        QApplication::processEvents();
    }

    bool hasDrumMarkerAt(double time)
    {
        const std::vector<BeatMarker>& markers = store().audioBeatMarkers();
        return std::any_of(markers.begin(), markers.end(), [&](const BeatMarker& m) {
            return m.sourceInstrument == AutoBeatInstrument::drums && std::abs(m.time - time) < 1e-9;
        });
    }
    std::vector<Uuid> slideOrder()
    {
        std::vector<Uuid> ids;
        for (const Slide& slide : store().project().slides)
            ids.push_back(slide.id);
        return ids;
    }

    test::AudioTestFolder m_folder{"fotivela-editor-undo"};
    std::unique_ptr<ContentView> m_view;
    TimelinePanel* m_panel = nullptr;
};

} // namespace

// Each gesture is its own step: the slide move goes back first, then the marker drag, also
// when the undone song has its drums analysed afresh.
TEST_F(EditorUndoTest, ControlZTakesBackASlideMoveAndThenTheMarkerDragBeforeIt)
{
    const double pps = m_panel->pixelsPerSecond();
    const auto original = std::find_if(store().audioBeatMarkers().begin(), store().audioBeatMarkers().end(),
                                       [](const BeatMarker& m) { return std::abs(m.time - 2.5) < 0.06; });
    ASSERT_NE(original, store().audioBeatMarkers().end());
    const double from = original->time;
    const std::size_t stepsBefore = store().undoStack().size();

    dragInWindow(m_panel->ruler()->interaction(), QPointF(from * pps, 20), QPointF((from + 0.5) * pps, 20));
    ASSERT_FALSE(hasDrumMarkerAt(from));
    const auto moved = std::find_if(store().audioBeatMarkers().begin(), store().audioBeatMarkers().end(),
                                    [&](const BeatMarker& m) { return m.time > from + 0.3 && m.time < from + 0.7; });
    ASSERT_NE(moved, store().audioBeatMarkers().end());
    const double movedTime = moved->time;
    const std::vector<Uuid> orderAfterDrag = slideOrder();
    ASSERT_EQ(store().undoStack().size(), stepsBefore + 1);

    // The first photo goes to the end of the lane.
    PhotoTimelineLane* lane = m_panel->photoLane();
    const double firstMiddle = store().project().slides[0].duration * pps / 2;
    dragInWindow(lane->interaction(), QPointF(firstMiddle, 40), QPointF(lane->interaction()->width() - 2, 40));
    ASSERT_NE(slideOrder(), orderAfterDrag);
    ASSERT_EQ(store().undoStack().size(), stepsBefore + 2);

    undoWithKeys();
    EXPECT_EQ(slideOrder(), orderAfterDrag);
    EXPECT_TRUE(hasDrumMarkerAt(movedTime)) << "the marker drag was taken back with the slide move";
    EXPECT_FALSE(hasDrumMarkerAt(from));
    EXPECT_EQ(store().undoStack().size(), stepsBefore + 1);

    undoWithKeys();
    EXPECT_EQ(slideOrder(), orderAfterDrag);
    EXPECT_TRUE(hasDrumMarkerAt(from));
    EXPECT_FALSE(hasDrumMarkerAt(movedTime));
    EXPECT_EQ(store().undoStack().size(), stepsBefore);
}
