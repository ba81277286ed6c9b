#include "preview_test_support.h"

#include "export/video_exporter.h"
#include "ui/preview/format_menu.h"
#include "ui/preview/playback_controls.h"
#include "ui/preview/preview_monitor.h"
#include "ui/preview/preview_panel.h"
#include "ui/preview/preview_transition_layer.h"
#include "support/test_images.h"

#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <cmath>

using namespace fotivela;

class PreviewPanelTest : public test::PreviewTest {};

TEST_F(PreviewPanelTest, ChoosingAFormatMarksTheProjectChangedAndReshapesTheMonitor)
{
    installSlides(2);
    store->setHasUnsavedChanges(false);
    PreviewPanel panel(*store, *channel);
    panel.resize(700, 560);
    panel.show();
    const QRectF wide = panel.monitor()->monitorRect();
    EXPECT_NEAR(wide.width() / wide.height(), 16.0 / 9.0, 1e-9);

    QMenu* menu = panel.formatMenu()->formatMenu();
    ASSERT_EQ(menu->actions().size(), 9);
    EXPECT_EQ(menu->actions()[1]->text(), "Reels / TikTok 9:16");
    menu->actions()[1]->trigger();
    EXPECT_EQ(store->project().format, ProjectFormat::reels);
    EXPECT_TRUE(store->hasUnsavedChanges());
    const QRectF tall = panel.monitor()->monitorRect();
    EXPECT_NEAR(tall.width() / tall.height(), 9.0 / 16.0, 1e-9);
    EXPECT_TRUE(panel.formatMenu()->text().contains("9:16"));

    // The same format again still stamps the project.
    const auto stamped = store->project().updatedAt;
    store->setHasUnsavedChanges(false);
    QTest::qWait(2);
    menu->actions()[1]->trigger();
    EXPECT_GT(store->project().updatedAt, stamped);
    EXPECT_TRUE(store->hasUnsavedChanges());
}

TEST_F(PreviewPanelTest, MonitorShowsTheBackgroundTheEmptyTextOrTheSlide)
{
    PreviewPanel panel(*store, *channel);
    panel.resize(700, 560);
    panel.show();
    PreviewMonitor* monitor = panel.monitor();
    const auto count = [](const QImage& image, QRect area, auto predicate) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                n += predicate(image.pixelColor(x, y)) ? 1 : 0;
        return n;
    };
    const auto light = [](QColor c) { return c.red() > 90 && c.green() > 90 && c.blue() > 90; };

    // No slides: the invitation to import photos, on black.
    QRect centre = monitor->monitorRect().toRect().adjusted(40, 40, -40, -40);
    QImage shown = monitor->grab().toImage();
    EXPECT_GT(count(shown, centre, light), 20);
    EXPECT_FALSE(monitor->resetButton()->isVisible());

    // Slides but no selected id while stopped: only the background, no text.
    const auto ids = installSlides(2);
    store->modifyProject([](FotivelaProject& project) { project.backgroundColorHex = "#2040a0"; });
    shown = monitor->grab().toImage();
    EXPECT_EQ(count(shown, centre, light), 0);
    EXPECT_EQ(shown.pixelColor(centre.center()), QColor(0x20, 0x40, 0xA0));
    // The store falls back to the first slide for the reset button.
    EXPECT_TRUE(monitor->resetButton()->isVisible());

    // A selected slide with a title: the title is drawn over the background.
    store->modifyProject([](FotivelaProject& project) {
        project.slides[1].title = "Hola";
        project.slides[1].titleFontSize = 60;
        project.slides[1].titleHasBackground = false;
    });
    store->setSelectedSlideID(ids[1]);
    shown = monitor->grab().toImage();
    EXPECT_GT(count(shown, centre, [](QColor c) { return c.lightness() > 200; }), 50);
}

TEST_F(PreviewPanelTest, ResetButtonSitsInTheMonitorCornerAndResetsTheFraming)
{
    const auto ids = installSlides(1);
    store->setSelectedSlideID(ids[0]);
    store->adjustSelectedSlideReframe(1.0, 0.2, -0.1);
    ASSERT_EQ(store->project().slides[0].imageScale, 2.0);
    PreviewPanel panel(*store, *channel);
    panel.resize(700, 560);
    panel.show();
    PreviewMonitor* monitor = panel.monitor();
    PreviewResetButton* button = monitor->resetButton();
    ASSERT_TRUE(button->isVisible());
    const QRectF rect = monitor->monitorRect();
    EXPECT_NEAR(button->geometry().right() + 1, rect.right() - 10, 1.0);
    EXPECT_NEAR(button->geometry().bottom() + 1, rect.bottom() - 10, 1.0);
    EXPECT_EQ(button->toolTip(), "Restablecer tamaño y posición");

    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(15, 15));
    EXPECT_EQ(store->project().slides[0].imageScale, 1.0);
    EXPECT_EQ(store->project().slides[0].imageOffsetX, 0.0);

    store->setAppLanguage(AppLanguage::english);
    EXPECT_EQ(button->toolTip(), "Reset size and position");
}

TEST_F(PreviewPanelTest, ControlsShowTheEndAndSeekWithEveryMove)
{
    installSlides(1, 0.4);
    PlaybackControls controls(*store, *channel);
    controls.show();
    EXPECT_DOUBLE_EQ(PlaybackControls::endTime(*store), 0.4);
    EXPECT_DOUBLE_EQ(PlaybackControls::sliderUpperBound(*store), 1.0);
    EXPECT_EQ(controls.endLabel()->text(), "0:00");
    EXPECT_EQ(controls.slider()->maximum(), 1000);
    EXPECT_EQ(controls.timecodeLabel()->text(), "00:00:00");

    installSlides(3, 40); // 120 s
    EXPECT_EQ(controls.endLabel()->text(), "2:00");
    const auto revision = store->timelineZoomFocusRevision();
    controls.slider()->setValue(61257);
    EXPECT_NEAR(store->previewTime(), 61.257, 1e-9);
    EXPECT_EQ(controls.timecodeLabel()->text(), "01:01:26");
    EXPECT_EQ(store->timelineZoomFocusRevision(), revision + 1);
    QTest::keyClick(controls.slider(), Qt::Key_Right);
    EXPECT_EQ(store->timelineZoomFocusRevision(), revision + 2);

    // A playhead beyond the end holds the thumb at the end; the timecode tells the truth.
    store->setPreviewTime(150);
    EXPECT_EQ(controls.slider()->value(), 120000);
    EXPECT_EQ(controls.timecodeLabel()->text(), "02:30:00");
    EXPECT_EQ(store->timelineZoomFocusRevision(), revision + 2);
}

TEST_F(PreviewPanelTest, PlayButtonStartsAndStopsThePreview)
{
    installSlides(2, 1.0);
    PlaybackControls controls(*store, *channel);
    controls.show();
    store->setPreviewTime(5); // at the end: playing starts again from 0
    QTest::mouseClick(controls.playButton(), Qt::LeftButton);
    EXPECT_TRUE(store->isPlaying());
    EXPECT_LT(store->previewTime(), 1.0);
    QTest::mouseClick(controls.playButton(), Qt::LeftButton);
    EXPECT_FALSE(store->isPlaying());
}

TEST_F(PreviewPanelTest, MonitorDrawsTheSlidePhotoOnceTheStoreHasLoadedIt)
{
    const auto ids = installSlides(1);
    const auto photo = photoFolder() / "photo.png";
    // A 16:9 photo: red above, blue below.
    test::writeImage(photo, test::makeTwoToneImage(320, 180), "PNG");
    store->modifyProject([&](FotivelaProject& project) { project.slides[0].imageURL = photo; });
    store->setSelectedSlideID(ids[0]);
    PreviewMonitor monitor(*store, *channel);
    monitor.resize(650, 370);
    monitor.show();
    const QRectF rect = monitor.monitorRect();
    const QPoint upper = (rect.topLeft() + QPointF(rect.width() * 0.5, rect.height() * 0.25)).toPoint();
    const QPoint lower = (rect.topLeft() + QPointF(rect.width() * 0.5, rect.height() * 0.75)).toPoint();

    ASSERT_TRUE(QTest::qWaitFor([&] { return monitor.grab().toImage().pixelColor(upper) == QColor(Qt::red); }, 5000));
    EXPECT_EQ(monitor.grab().toImage().pixelColor(lower), QColor(Qt::blue));
}

TEST_F(PreviewPanelTest, AClickOnThePositionBarJumpsThereAndTheFormatMenuOpensInsideTheWindow)
{
    installSlides(3, 40); // 120 s
    QWidget window;
    window.resize(720, 560);
    PreviewPanel panel(*store, *channel, &window);
    panel.setGeometry(window.rect());
    window.show();
    QApplication::processEvents();

    // Three quarters along the groove is about 90 s, not one page step from the start.
    QSlider* bar = panel.playbackControls()->slider();
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() * 3 / 4, bar->height() / 2));
    EXPECT_NEAR(store->previewTime(), 90, 6);

    // The format button sits at the panel's right edge; its menu stays within the window.
    FormatMenu* format = panel.formatMenu();
    QTest::mouseClick(format, Qt::LeftButton);
    QMenu* menu = format->formatMenu();
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 2000));
    const QRect inside(window.mapToGlobal(QPoint(0, 0)), window.size());
    EXPECT_TRUE(inside.contains(menu->geometry())) << menu->geometry().x() << "," << menu->geometry().y() << " "
                                                   << menu->width() << "x" << menu->height();
    menu->hide();

    // The placement rule: shifted left at the right edge, flipped above without room below.
    const QRect bounds(0, 0, 800, 600);
    EXPECT_EQ(FormatMenu::menuPosition(QRect(700, 40, 90, 34), QSize(200, 300), bounds), QPoint(600, 78));
    EXPECT_EQ(FormatMenu::menuPosition(QRect(10, 500, 90, 34), QSize(200, 300), bounds), QPoint(10, 196));
}

TEST_F(PreviewPanelTest, DissolveFadesTheWholeOutgoingPictureIntoPhotosOfAnotherShape)
{
    const auto ids = installSlides(2);
    const auto folder = photoFolder();
    // A wide red photo that fills the monitor, then a tall blue one with bars of green beside it.
    test::writeImage(folder / "wide.png", test::makeTwoToneImage(320, 180, Qt::red, Qt::red), "PNG");
    test::writeImage(folder / "tall.png", test::makeTwoToneImage(90, 160, Qt::blue, Qt::blue), "PNG");
    store->modifyProject([&](FotivelaProject& project) {
        project.backgroundColorHex = "#00FF00";
        project.slides[0].imageURL = folder / "wide.png";
        project.slides[1].imageURL = folder / "tall.png";
        project.slides[1].transition = SlideTransition::dissolve;
        project.slides[0].transition = SlideTransition::dissolve;
    });
    ASSERT_TRUE(decodeEveryPreview());

    store->setSelectedSlideID(ids[0]);
    PreviewMonitor monitor(*store, *channel);
    monitor.resize(650, 370);
    monitor.show();
    const QRectF rect = monitor.monitorRect();
    const QPoint bar = (rect.topLeft() + QPointF(rect.width() * 0.1, rect.height() * 0.5)).toPoint();
    const QPoint centre = rect.center().toPoint();
    ASSERT_EQ(monitor.grab().toImage().pixelColor(bar), QColor(Qt::red));

    store->setSelectedSlideID(ids[1]);
    PreviewTransitionLayer& layer = monitor.transitionLayer();
    ASSERT_TRUE(layer.outgoingSlide());
    ASSERT_TRUE(QTest::qWaitFor([&] { return layer.incomingOpacity() > 0.2; }, 5000));
    // Nothing advances the dissolve between reading its opacity and drawing.
    const double p = layer.incomingOpacity();
    const QImage shown = monitor.grab().toImage();
    ASSERT_TRUE(layer.outgoingSlide()) << "the dissolve ended before it could be looked at";
    const auto mix = [p](int from, int to) { return (1 - p) * from + p * to; };
    const QColor beside = shown.pixelColor(bar);
    const QColor under = shown.pixelColor(centre);
    EXPECT_NEAR(beside.red(), mix(255, 0), 4) << p;
    EXPECT_NEAR(beside.green(), mix(0, 255), 4) << p;
    EXPECT_NEAR(under.red(), mix(255, 0), 4) << p;
    EXPECT_NEAR(under.green(), 0, 4) << p;
    EXPECT_NEAR(under.blue(), mix(0, 255), 4) << p;

    ASSERT_TRUE(QTest::qWaitFor([&] { return !layer.outgoingSlide(); }, 5000));
    EXPECT_EQ(monitor.grab().toImage().pixelColor(bar), QColor(Qt::green));
    EXPECT_EQ(monitor.grab().toImage().pixelColor(centre), QColor(Qt::blue));
}

// 4:3 photos filling the monitor, with the default motion: each slide starts panned to one
// side by more than its zoom lets it overhang there, as exported frames do.
TEST_F(PreviewPanelTest, KenBurnsNeverUncoversTheBackgroundBehindAPhotoThatFillsTheMonitor)
{
    const auto ids = installSlides(2, 3.6);
    const auto folder = photoFolder();
    QImage photo(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixelColor(x, y, x < photo.width() / 2 ? QColor(Qt::red) : QColor(Qt::blue));
    test::writeImage(folder / "photo.png", photo, "PNG");
    store->modifyProject([&](FotivelaProject& project) {
        project.backgroundColorHex = "#00FF00";
        project.fillPhotosToScreen = true;
        for (Slide& slide : project.slides) {
            slide.imageURL = folder / "photo.png";
            slide.transition = SlideTransition::cut;
            slide.kenBurnsEnabled = true;
        }
    });
    ASSERT_TRUE(decodeEveryPreview());

    store->setSelectedSlideID(ids[0]);
    PreviewMonitor monitor(*store, *channel);
    monitor.resize(650, 370);
    monitor.show();
    const QRectF rect = monitor.monitorRect();
    const int middle = static_cast<int>(rect.center().y());
    const int left = static_cast<int>(std::ceil(rect.left()));
    const int right = static_cast<int>(std::floor(rect.right()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return monitor.grab().toImage().pixelColor(left + 20, middle) == QColor(Qt::red); }, 5000));

    const auto backgroundAtTheEdges = [&](int slide, double time) {
        store->setSelectedSlideID(ids[static_cast<std::size_t>(slide)]);
        store->setPreviewTime(time);
        const QImage shown = monitor.grab().toImage();
        int columns = 0;
        for (int i = 1; i <= 10; ++i)
            columns += (shown.pixelColor(left + i, middle).green() > 24 ? 1 : 0)
                + (shown.pixelColor(right - i, middle).green() > 24 ? 1 : 0);
        return columns;
    };
    EXPECT_EQ(backgroundAtTheEdges(0, 0.0), 0);
    EXPECT_EQ(backgroundAtTheEdges(0, 3.6), 0);
    EXPECT_EQ(backgroundAtTheEdges(1, 3.6), 0);
    EXPECT_EQ(backgroundAtTheEdges(1, 7.2), 0);

    // With room to overhang, the first slide still ends its whole pan right of the centre
    // (3.5 % x 35 % of the width: 7.4 points here).
    store->setSelectedSlideID(ids[0]);
    store->setPreviewTime(3.6);
    const QImage end = monitor.grab().toImage();
    EXPECT_EQ(end.pixelColor(static_cast<int>(rect.center().x()) + 4, middle), QColor(Qt::red));
}

// The film draws a photo's see-through parts over the project's background colour; the
// monitor must show the same once the photo's JPEG preview exists, whatever the colour.
TEST_F(PreviewPanelTest, ATransparentPhotoShowsTheBackgroundThroughAsInTheFilm)
{
    const auto folder = photoFolder();
    QImage photo(320, 180, QImage::Format_ARGB32);
    photo.fill(Qt::transparent);
    {
        QPainter painter(&photo);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 200, 0, 128));
        painter.drawEllipse(QPointF(160, 90), 80, 80);
    }
    test::writeImage(folder / "circle.png", photo, "PNG");
    store->setCurrentProjectURL(folder / "Prueba" / "Prueba.fotivela");
    const std::int64_t revision = store->previewCacheRevision();
    store->importPhotos({folder / "circle.png"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return store->previewCacheRevision() > revision; }, 10000));
    ASSERT_TRUE(std::filesystem::exists(store->previewCacheDirectory() / (store->project().slides.at(0).id.toString() + ".jpg")));
    store->setBackgroundColor(QColor(0x20, 0x40, 0xA0));
    store->setSelectedSlideID(store->project().slides.at(0).id);

    PreviewMonitor monitor(*store, *channel);
    monitor.resize(650, 370);
    monitor.show();
    const QPoint centre = monitor.monitorRect().center().toPoint();
    const auto filmCentre = [&] {
        VideoExporter exporter(store->project(), folder / "film.mp4", {});
        const RenderSize size = VideoExporter::renderSize(store->project());
        const QImage frame = exporter.makePixelBuffer(size, 0, 0.0, {{0, exporter.loadImage(0, 1920)}});
        return frame.pixelColor(frame.width() / 2, frame.height() / 2);
    };
    const auto alike = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) <= 4 && std::abs(a.green() - b.green()) <= 4 && std::abs(a.blue() - b.blue()) <= 4;
    };
    for (const QColor background : {QColor(0x20, 0x40, 0xA0), QColor(0xFF, 0x88, 0x00)}) {
        store->setBackgroundColor(background);
        const QColor film = filmCentre();
        ASSERT_FALSE(alike(film, background)) << "the circle is not at the centre";
        QColor shown;
        EXPECT_TRUE(QTest::qWaitFor([&] { return alike(shown = monitor.grab().toImage().pixelColor(centre), film); }, 5000))
            << background.name().toStdString() << ": film " << film.name().toStdString() << ", preview "
            << shown.name().toStdString();
    }
}
