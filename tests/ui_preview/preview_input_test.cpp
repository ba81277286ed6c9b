#include "preview_test_support.h"

#include "ui/preview/preview_monitor.h"
#include "ui/preview/preview_reframe_interaction.h"
#include "ui/preview/preview_title_overlay.h"

#include <QTest>
#include <QWheelEvent>

#include <vector>

using namespace fotivela;

TEST(PreviewReframeInteraction, MapsWheelDragAndPinchToFramingChanges)
{
    PreviewReframeInteraction interaction;
    int begins = 0;
    std::vector<double> zooms;
    std::vector<std::pair<double, double>> pans;
    interaction.onBegin = [&] { ++begins; };
    interaction.onZoom = [&](double d) { zooms.push_back(d); };
    interaction.onPan = [&](double x, double y) { pans.emplace_back(x, y); };

    interaction.scrollWheel(3, 2, false);
    interaction.scrollWheel(2, -3, true);
    interaction.scrollWheel(0, 0, false); // selects, does not zoom
    interaction.magnify(0.1);
    EXPECT_EQ(begins, 4);
    ASSERT_EQ(zooms.size(), 3u);
    EXPECT_NEAR(zooms[0], 3 * 0.035, 1e-12);
    EXPECT_NEAR(zooms[1], -3 * 0.006, 1e-12);
    EXPECT_NEAR(zooms[2], 0.12, 1e-12);

    // A drag without its press starts from its first event; a zero-sized view divides by 1.
    interaction.mouseDragged({10, 10}, {0, 0});
    EXPECT_TRUE(pans.empty());
    interaction.mouseDragged({14, 7}, {0, 0});
    ASSERT_EQ(pans.size(), 1u);
    EXPECT_EQ(pans[0], std::make_pair(4.0, -3.0));
    interaction.mouseUp();
    EXPECT_FALSE(interaction.lastDragLocation());
    EXPECT_EQ(begins, 4); // drags send pans only
}

TEST(PreviewTitleOverlay, DragClampsSnapsAndStartsFromTheClampedPosition)
{
    PreviewTitleOverlay overlay;
    std::vector<QPointF> moves;
    overlay.onMove = [&](double x, double y) { moves.emplace_back(x, y); };
    Slide slide;
    slide.title = "Hola";
    slide.titlePositionX = 0.0;
    slide.titlePositionY = 1.0;
    const QSizeF monitor(1000, 500);

    overlay.dragChanged(slide, monitor, {0, 0}); // a click: one move to the clamped position
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_NEAR(moves[0].x(), 0.05, 1e-12);
    EXPECT_NEAR(moves[0].y(), 0.92, 1e-12);
    // The store's live updates do not shift the start of this drag.
    slide.titlePositionX = 0.9;
    overlay.dragChanged(slide, monitor, {470, 0}); // 0.05 + 0.47 = 0.52 snaps
    EXPECT_DOUBLE_EQ(moves.back().x(), 0.5);
    EXPECT_TRUE(overlay.showVerticalCenterGuide());
    EXPECT_FALSE(overlay.showHorizontalCenterGuide());
    overlay.dragChanged(slide, monitor, {480, -210}); // 0.53 does not snap; y 0.50 does
    EXPECT_NEAR(moves.back().x(), 0.53, 1e-12);
    EXPECT_DOUBLE_EQ(moves.back().y(), 0.5);
    EXPECT_FALSE(overlay.showVerticalCenterGuide());
    EXPECT_TRUE(overlay.showHorizontalCenterGuide());
    overlay.dragChanged(slide, monitor, {-5000, 5000});
    EXPECT_NEAR(moves.back().x(), 0.05, 1e-12);
    EXPECT_NEAR(moves.back().y(), 0.92, 1e-12);
    overlay.dragEnded();
    EXPECT_FALSE(overlay.isDragging());
    EXPECT_FALSE(overlay.showHorizontalCenterGuide());
    EXPECT_EQ(moves.size(), 4u);
}

class PreviewMonitorInput : public test::PreviewTest {};

TEST_F(PreviewMonitorInput, WheelAndDragOnTheMonitorReframeTheSlideUnderThePointer)
{
    const auto ids = installSlides(2);
    store->setSelectedSlideID(ids[1]);
    PreviewMonitor monitor(*store, *channel);
    monitor.resize(650, 370);
    monitor.show();
    const QRectF rect = monitor.monitorRect();
    const QPoint centre = rect.center().toPoint();

    // A wheel step selects the shown slide alone and zooms it.
    store->setTimelineSelection({ids[0], ids[1]});
    QWheelEvent wheel(QPointF(centre), monitor.mapToGlobal(QPointF(centre)), QPoint(), QPoint(0, 120 * 10),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&monitor, &wheel);
    EXPECT_EQ(store->timelineSelection(), std::set<Uuid>{ids[1]});
    EXPECT_NEAR(store->project().slides[1].imageScale, 1.35, 1e-9);

    // Dragging down and right moves the photo that way, as fractions of the monitor.
    QTest::mousePress(&monitor, Qt::LeftButton, {}, centre);
    QTest::mouseMove(&monitor, centre + QPoint(qRound(rect.width() * 0.1), qRound(rect.height() * 0.05)));
    QTest::mouseRelease(&monitor, Qt::LeftButton, {}, centre + QPoint(qRound(rect.width() * 0.1), qRound(rect.height() * 0.05)));
    EXPECT_GT(store->project().slides[1].imageOffsetX, 0.05);
    EXPECT_GT(store->project().slides[1].imageOffsetY, 0.02);
    EXPECT_TRUE(store->hasUnsavedChanges());
    EXPECT_EQ(store->project().slides[0].imageScale, 1.0);
}

TEST_F(PreviewMonitorInput, DraggingTheTitleMovesItAndShowsTheGuideWhileSnapped)
{
    const auto ids = installSlides(1);
    store->modifyProject([](FotivelaProject& project) {
        project.slides[0].title = "Titulo";
        project.slides[0].titlePositionX = 0.3;
        project.slides[0].titlePositionY = 0.3;
    });
    store->setSelectedSlideID(ids[0]);
    PreviewMonitor monitor(*store, *channel);
    monitor.resize(650, 370);
    monitor.show();
    const QRectF rect = monitor.monitorRect();
    const QPoint grab = (rect.topLeft() + QPointF(rect.width() * 0.3, rect.height() * 0.3)).toPoint();
    const QPoint snapped = grab + QPoint(qRound(rect.width() * 0.2), qRound(rect.height() * 0.1));

    QTest::mousePress(&monitor, Qt::LeftButton, {}, grab);
    QTest::mouseMove(&monitor, snapped);
    EXPECT_DOUBLE_EQ(store->project().slides[0].titlePositionX, 0.5);
    EXPECT_NEAR(store->project().slides[0].titlePositionY, 0.4, 0.01);
    EXPECT_TRUE(monitor.titleOverlay().showVerticalCenterGuide());
    // The guide is drawn: a cyan line down the middle of the monitor.
    const QImage shown = monitor.grab().toImage();
    const QColor line = shown.pixelColor(qRound(rect.center().x()), qRound(rect.top() + 5));
    EXPECT_GT(line.green(), 180);
    EXPECT_GT(line.blue(), 180);
    EXPECT_LT(line.red(), 60);
    QTest::mouseRelease(&monitor, Qt::LeftButton, {}, snapped);
    EXPECT_FALSE(monitor.titleOverlay().showVerticalCenterGuide());
    // The photo was not reframed by the title drag.
    EXPECT_EQ(store->project().slides[0].imageScale, 1.0);
    EXPECT_EQ(store->project().slides[0].imageOffsetX, 0.0);
}
