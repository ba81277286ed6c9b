#include "timeline_test_support.h"

#include "platform/duskmere_storage.h"
#include "support/test_images.h"
#include "ui/timeline/photo_timeline_lane.h"
#include "ui/timeline/photo_timeline_lane_interaction_view.h"
#include "ui/timeline/timeline_thumbnail.h"

#include <QElapsedTimer>
#include <QMenu>
#include <QPainter>

#include <cmath>

#include <fstream>
#include <nlohmann/json.hpp>

using namespace fotivela;
using namespace fotivela::test;

namespace {

class PhotoLaneTest : public TimelineTest {
protected:
    // Three slides of 2 s at 42 points a second, without a song.
    void makeLane(std::vector<Slide> slides = {})
    {
        if (slides.empty())
            slides = {makeSlide(2, "a.jpg"), makeSlide(2, "b.jpg"), makeSlide(2, "c.jpg")};
        store->modifyProject([&](FotivelaProject& p) { p.slides = slides; });
        store->recalculateTotalDuration();
        lane = std::make_unique<PhotoTimelineLane>(*store);
        lane->resize(600, 80);
        lane->setLayoutValues(42, 600, 80);
        lane->show();
        settle();
    }
    std::vector<std::string> names() const
    {
        std::vector<std::string> result;
        for (const Slide& slide : store->project().slides)
            result.push_back(slide.name);
        return result;
    }
    nlohmann::json manifest() const
    {
        std::ifstream file(DuskmereStorage::temporaryDirectory() / "fotivela-visible-timeline.json");
        return nlohmann::json::parse(file);
    }
    void TearDown() override
    {
        lane.reset();
        TimelineTest::TearDown();
    }

    std::unique_ptr<PhotoTimelineLane> lane;
};

TEST_F(PhotoLaneTest, TheInsertionPointFollowsTileMidpointsAndStaysInRange)
{
    makeLane();
    EXPECT_EQ(lane->insertionPoint(41).index, 0);
    EXPECT_EQ(lane->insertionPoint(42).index, 1);
    EXPECT_EQ(lane->insertionPoint(42).x, 84);
    EXPECT_EQ(lane->insertionPoint(300).index, 3);
    EXPECT_EQ(lane->insertionPoint(300).x, 252);
    EXPECT_EQ(lane->insertionPoint(-40).index, 0);
    EXPECT_EQ(lane->insertionPoint(-40).x, 0);
}

TEST_F(PhotoLaneTest, DraggingASlideReordersAndAPlainClickSelects)
{
    makeLane();
    QWidget* pointer = lane->interaction();
    press(pointer, QPointF(42, 40));
    const Uuid first = store->project().slides[0].id;
    EXPECT_EQ(store->selectedSlideID(), first);
    drag(pointer, QPointF(44, 40));
    EXPECT_FALSE(lane->dropIndicatorX());
    drag(pointer, QPointF(230, 40));
    ASSERT_TRUE(lane->dropIndicatorX());
    EXPECT_EQ(*lane->dropIndicatorX(), 252);
    ASSERT_TRUE(lane->dragPreview());
    EXPECT_EQ(lane->dragPreview()->width, 84);
    release(pointer, QPointF(230, 40));
    EXPECT_EQ(names(), (std::vector<std::string>{"b.jpg", "c.jpg", "a.jpg"}));
    EXPECT_FALSE(lane->dropIndicatorX());
    EXPECT_FALSE(lane->dragPreview());
}

TEST_F(PhotoLaneTest, EdgesResizeInManualModeOnly)
{
    makeLane();
    QWidget* pointer = lane->interaction();
    // The second slide spans 84 ... 168; 160 lies in its right zone.
    press(pointer, QPointF(160, 40));
    drag(pointer, QPointF(170.5, 40));
    drag(pointer, QPointF(181, 40));
    release(pointer, QPointF(181, 40));
    EXPECT_NEAR(store->project().slides[1].duration, 2.5, 1e-6);
    EXPECT_FALSE(store->pendingTimelineResizeUndo());

    store->modifyProject([](FotivelaProject& p) { p.audio = makeTrack(SyncMode::autoBeatV2); });
    lane->setLayoutValues(42, 600, 80);
    EXPECT_FALSE(lane->allowResize());
    const double before = store->project().slides[1].duration;
    press(pointer, QPointF(190, 40));
    drag(pointer, QPointF(200, 40));
    release(pointer, QPointF(84 * 3, 40));
    EXPECT_EQ(store->project().slides[1].duration, before);
}

TEST_F(PhotoLaneTest, ASlowEdgeDragLeavesThePlayheadAndFollowsThePointer)
{
    // A song in manual mode, the boundary of two 5 s slides at x 210 (42 px/s).
    store->modifyProject([](FotivelaProject& p) { p.audio = makeTrack(SyncMode::manual); });
    store->setAudioDuration(30);
    makeLane({makeSlide(5, "a.jpg"), makeSlide(5, "b.jpg")});
    QWidget* pointer = lane->interaction();
    const auto pressOnTheBoundary = [&] {
        store->modifyProject([](FotivelaProject& p) { p.slides[0].duration = p.slides[1].duration = 5; });
        store->recalculateTotalDuration();
        press(pointer, QPointF(205, 40));
        // The playhead stands on the boundary (the press itself may move it).
        store->setPreviewTime(5);
    };

    // Thirty moves of one pixel: each alone is within the snap distance, together they are not.
    pressOnTheBoundary();
    for (int step = 1; step <= 30; ++step)
        drag(pointer, QPointF(205 + step, 40));
    EXPECT_NEAR(store->project().slides[0].duration, 5 + 30.0 / 42, 1e-6);
    // Back near the playhead, the edge snaps to it again.
    for (int step = 1; step <= 28; ++step)
        drag(pointer, QPointF(235 - step, 40));
    EXPECT_DOUBLE_EQ(store->project().slides[0].duration, 5);
    release(pointer, QPointF(207, 40));

    // Six moves of six pixels move it by their sum, not by more.
    pressOnTheBoundary();
    for (int step = 1; step <= 6; ++step)
        drag(pointer, QPointF(205 + 6 * step, 40));
    release(pointer, QPointF(241, 40));
    EXPECT_NEAR(store->project().slides[0].duration, 5 + 36.0 / 42, 1e-6);
    EXPECT_NEAR(store->project().slides[0].duration + store->project().slides[1].duration, 10, 1e-9);
}

TEST_F(PhotoLaneTest, TheContextMenuDeletesTheSlideAndTheManifestFollowsTheSlides)
{
    makeLane();
    nlohmann::json written = manifest();
    EXPECT_EQ(written["stage"], "visible-timeline");
    EXPECT_EQ(written["slideCount"], 3);
    EXPECT_EQ(written["slides"][1]["startTime"], 2.0);
    EXPECT_EQ(written["slides"][2]["name"], "c.jpg");

    QWidget* pointer = lane->interaction();
    press(pointer, QPointF(100, 40), Qt::RightButton);
    QMenu* menu = lane->interaction()->contextMenu();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->actions().front()->text(), "Eliminar");
    menu->actions().front()->trigger();
    menu->close();
    EXPECT_EQ(names(), (std::vector<std::string>{"a.jpg", "c.jpg"}));
    lane->setLayoutValues(42, 600, 80);
    EXPECT_EQ(manifest()["slideCount"], 2);

    // A click in empty lane space cancels any drag and selects nothing.
    press(pointer, QPointF(500, 40));
    release(pointer, QPointF(500, 40));
    EXPECT_FALSE(lane->dropIndicatorX());
}

TEST_F(PhotoLaneTest, AWideTileShowsTheSlidesPictureOnceTheStoreHasLoadedIt)
{
    const auto photo = m_root / "rojo.png";
    writeImage(photo, QImage(makeTwoToneImage(400, 300, Qt::red, Qt::red)), "PNG");
    Slide slide = makeSlide(4, "rojo.png");
    slide.imageURL = photo;
    makeLane({slide});
    const QRectF frame = TimelineThumbnail::pictureFrame(QRectF(0, 0, 168, 80));
    const QPoint centre = frame.center().toPoint();
    QElapsedTimer timer;
    timer.start();
    QColor seen;
    while (timer.elapsed() < 5000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        seen = lane->grab().toImage().pixelColor(centre);
        if (seen.red() > 200 && seen.green() < 60)
            break;
    }
    EXPECT_GT(seen.red(), 200);
    EXPECT_LT(seen.green(), 60);
}

TEST_F(PhotoLaneTest, TileGeometryFollowsItsWidthAndHeight)
{
    EXPECT_EQ(TimelineThumbnail::pictureFrame(QRectF(0, 0, 58, 80)).width(), 40);
    EXPECT_EQ(TimelineThumbnail::pictureHeight(40), 42);
    EXPECT_EQ(TimelineThumbnail::pictureHeight(100), 66);
    EXPECT_EQ(TimelineThumbnail::durationLabel(12.34), "12.3s");
    EXPECT_EQ(PhotoTimelineLane::visibleTimelineSignature({}), "");
}

TEST(TimelineTileLook, NarrowTilesKeepTheirRoundedLookGlyphAndHandles)
{
    const auto render = [](double width, TimelineThumbnail::Look look) {
        QImage image(static_cast<int>(std::ceil(width)), 80, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        TimelineThumbnail::paint(painter, QRectF(0, 0, width, 80), makeSlide(1), look, nullptr);
        return image;
    };
    const auto brightness = [](QColor c) { return c.red() + c.green() + c.blue(); };

    // Ten points wide: rounded ends (radius 5), the photo glyph on its dark frame.
    const QImage ten = render(10, {});
    EXPECT_LT(ten.pixelColor(0, 0).alpha(), 40) << "the corner is cut round";
    EXPECT_GT(ten.pixelColor(0, 40).alpha(), 40);
    int glyph = 0;
    for (int x = 3; x < 10; ++x)
        for (int y = 30; y < 50; ++y)
            glyph = std::max(glyph, brightness(ten.pixelColor(x, y)));
    EXPECT_GT(glyph, brightness(ten.pixelColor(5, 12)) + 60) << "the glyph is drawn";

    // Two points wide and hovered at its left edge: the handle's accent strip still shows.
    TimelineThumbnail::Look hovered;
    hovered.hoverRegion = TimelinePointerRegion::leftResize;
    const QColor strip = render(2, hovered).pixelColor(1, 40);
    const QColor plain = render(2, {}).pixelColor(1, 40);
    EXPECT_GT(strip.red() - strip.blue(), plain.red() - plain.blue() + 10);
    EXPECT_DOUBLE_EQ(TimelineThumbnail::cornerRadius(QRect(0, 0, 2, 80)), 1);
    EXPECT_DOUBLE_EQ(TimelineThumbnail::cornerRadius(QRect(0, 0, 18, 80)), 7);
}

} // namespace
