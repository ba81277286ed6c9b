// Drawn frames: framing, dissolve, Ken Burns and the title, checked on pixels.

#include "export/title_overlay.h"
#include "export/video_exporter.h"

#include "support/test_images.h"

#include <gtest/gtest.h>

#include <cmath>

namespace fotivela {
namespace {

QImage solid(int width, int height, QColor colour)
{
    return test::makeTwoToneImage(width, height, colour, colour);
}

// Left half `left`, right half `right`.
QImage leftRight(int width, int height, QColor left, QColor right)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, (x < width / 2 ? left : right).rgb());
    return image;
}

Slide slideLasting(double duration, SlideTransition transition = SlideTransition::cut)
{
    Slide slide;
    slide.duration = duration;
    slide.transition = transition;
    return slide;
}

FotivelaProject projectOf(std::vector<Slide> slides, const char* background = "#00ff00")
{
    FotivelaProject project = FotivelaProject::empty();
    project.backgroundColorHex = background;
    project.slides = std::move(slides);
    return project;
}

constexpr RenderSize square{400, 400};

TEST(FrameRendering, FitsThePhotoCentredWhateverTheStoredOffsets)
{
    Slide slide = slideLasting(2);
    slide.imageOffsetX = 0.5; // no room to move in fit mode at scale 1
    const VideoExporter exporter(projectOf({slide}), "/tmp/o.mp4", {});
    const QImage frame = exporter.makePixelBuffer(square, 0, 0.5, {{0, solid(100, 50, Qt::red)}});
    EXPECT_EQ(frame.size(), QSize(400, 400));
    EXPECT_EQ(QColor(frame.pixel(200, 200)), QColor(Qt::red));
    EXPECT_EQ(QColor(frame.pixel(200, 95)), QColor(Qt::green)); // the photo covers rows 100 to 300
    EXPECT_EQ(QColor(frame.pixel(5, 200)), QColor(Qt::red));
}

TEST(FrameRendering, DissolvesFromThePreviousSlideOnlyWhenTheTransitionAsks)
{
    const std::map<std::size_t, QImage> images{{0, solid(40, 40, Qt::red)}, {1, solid(40, 40, Qt::blue)}};
    // A 1 s slide dissolves over 0.35 s; half way the two photos are mixed equally.
    const VideoExporter dissolving(projectOf({slideLasting(2), slideLasting(1, SlideTransition::fade)}), "/tmp/o.mp4", {});
    const QColor mixed(dissolving.makePixelBuffer(square, 1, 0.175, images).pixel(200, 200));
    EXPECT_NEAR(mixed.red(), 128, 3);
    EXPECT_NEAR(mixed.blue(), 127, 3);
    EXPECT_EQ(QColor(dissolving.makePixelBuffer(square, 1, 0.35, images).pixel(200, 200)), QColor(Qt::blue));

    const VideoExporter cutting(projectOf({slideLasting(2), slideLasting(1, SlideTransition::cut)}), "/tmp/o.mp4", {});
    EXPECT_EQ(QColor(cutting.makePixelBuffer(square, 1, 0.0, images).pixel(200, 200)), QColor(Qt::blue));
    EXPECT_THROW(cutting.makePixelBuffer(square, 1, 0.0, {{0, images.at(0)}}), VideoExporterError);
}

// Mixed shapes: a full-frame photo, then a portrait one with bars of background beside it.
TEST(FrameRendering, DissolveFadesTheWholePictureOfTheSlideBefore)
{
    const std::map<std::size_t, QImage> images{
        {0, solid(40, 40, Qt::red)}, {1, solid(20, 40, Qt::blue)}, {2, solid(40, 40, Qt::yellow)}};
    const VideoExporter exporter(projectOf({slideLasting(2), slideLasting(1, SlideTransition::dissolve),
                                            slideLasting(1, SlideTransition::dissolve)}),
                                 "/tmp/o.mp4", {});
    const auto near = [](QColor actual, int r, int g, int b) {
        return std::abs(actual.red() - r) <= 3 && std::abs(actual.green() - g) <= 3 && std::abs(actual.blue() - b) <= 3;
    };
    // One canvas through every frame, as a drawing worker keeps it.
    FrameCanvas canvas;
    for (const double local : {0.0, 0.0875, 0.175}) {
        exporter.drawFrame(canvas, square, 1, local, images);
        const double p = local / 0.35;
        const auto mix = [p](int from, int to) { return static_cast<int>(std::lround((1 - p) * from + p * to)); };
        // Beside the portrait photo the red photo gives way to the green background...
        EXPECT_TRUE(near(canvas.frame.pixelColor(50, 200), mix(255, 0), mix(0, 255), 0))
            << local << ": " << canvas.frame.pixelColor(50, 200).name().toStdString();
        // ...and under it to the blue photo.
        EXPECT_TRUE(near(canvas.frame.pixelColor(200, 200), mix(255, 0), 0, mix(0, 255)))
            << local << ": " << canvas.frame.pixelColor(200, 200).name().toStdString();
    }
    // The next dissolve fades out of the portrait slide's picture, not the one before it.
    exporter.drawFrame(canvas, square, 2, 0.175, images);
    EXPECT_TRUE(near(canvas.frame.pixelColor(50, 200), 128, 255, 0)) << canvas.frame.pixelColor(50, 200).name().toStdString();
    EXPECT_TRUE(near(canvas.frame.pixelColor(200, 200), 128, 128, 128)) << canvas.frame.pixelColor(200, 200).name().toStdString();
    // Past the dissolve only the slide's own picture is left.
    exporter.drawFrame(canvas, square, 1, 0.5, images);
    EXPECT_EQ(canvas.frame.pixelColor(50, 200), QColor(Qt::green));
}

// Columns at the left and at the right edge of the frame where the background shows on the middle row.
std::pair<int, int> backgroundColumns(const QImage& frame)
{
    const int y = frame.height() / 2;
    const auto shows = [&](int x) { return frame.pixelColor(x, y).green() > 24; };
    int left = 0;
    while (left < frame.width() && shows(left))
        ++left;
    int right = 0;
    while (right < frame.width() && shows(frame.width() - 1 - right))
        ++right;
    return {left, right};
}

// 4:3 photos filling a 1080p frame, with the default motion: each slide starts panned to one
// side by more than its zoom lets it overhang there.
TEST(FrameRendering, KenBurnsNeverUncoversTheBackgroundBehindAPhotoThatCoversTheFrame)
{
    Slide slide = slideLasting(3.6);
    slide.kenBurnsEnabled = true;
    FotivelaProject project = projectOf({slide, slide});
    project.fillPhotosToScreen = true;
    const VideoExporter exporter(project, "/tmp/o.mp4", {});
    const QImage photo = leftRight(400, 300, Qt::red, Qt::blue);
    const std::map<std::size_t, QImage> images{{0, photo}, {1, photo}};
    constexpr RenderSize hd{1920, 1080};
    for (const std::size_t index : {0u, 1u})
        for (const double local : {0.0, 0.1, 0.3, 0.5, 3.6})
            EXPECT_EQ(backgroundColumns(exporter.makePixelBuffer(hd, index, local, images)), std::make_pair(0, 0))
                << "slide " << index << " at " << local << " s";
    // Where the zoom lets the photo overhang far enough, the pan is the whole 3.5 % x 35 % of
    // the width (23.52 px): the even slide ends right of the centre, the odd one left of it.
    const QImage evenEnd = exporter.makePixelBuffer(hd, 0, 3.6, images);
    EXPECT_EQ(evenEnd.pixelColor(980, 540), QColor(Qt::red));
    EXPECT_EQ(evenEnd.pixelColor(987, 540), QColor(Qt::blue));
    const QImage oddEnd = exporter.makePixelBuffer(hd, 1, 3.6, images);
    EXPECT_EQ(oddEnd.pixelColor(933, 540), QColor(Qt::red));
    EXPECT_EQ(oddEnd.pixelColor(940, 540), QColor(Qt::blue));

    // Fitted, the photo has bars of background beside it anyway and pans in full: its
    // left edge starts at 240 - 23.52 px.
    project.fillPhotosToScreen = false;
    const QImage fitted = VideoExporter(project, "/tmp/o.mp4", {}).makePixelBuffer(hd, 0, 0.0, images);
    EXPECT_EQ(fitted.pixelColor(214, 540), QColor(Qt::green));
    EXPECT_EQ(fitted.pixelColor(218, 540), QColor(Qt::red));
    EXPECT_EQ(fitted.pixelColor(1654, 540), QColor(Qt::blue));
    EXPECT_EQ(fitted.pixelColor(1658, 540), QColor(Qt::green));
}

// The slide before a dissolve fades out where its motion ended, not where it began.
TEST(FrameRendering, TheDissolveStartsFromTheEndOfTheSlideBefore)
{
    Slide moving = slideLasting(2);
    moving.kenBurnsEnabled = true;
    moving.kenBurnsZoomAmount = 0.02;
    moving.kenBurnsMovementAmount = 1;
    const VideoExporter exporter(projectOf({moving, slideLasting(1, SlideTransition::dissolve)}), "/tmp/o.mp4", {});
    // A 2:1 photo with bars above and below it, free to pan 14 px either way.
    const std::map<std::size_t, QImage> images{{0, leftRight(400, 200, Qt::red, Qt::blue)},
                                               {1, solid(40, 40, Qt::yellow)}};
    const QImage end = exporter.makePixelBuffer(square, 0, 2.0, images);
    EXPECT_EQ(end.pixelColor(205, 200), QColor(Qt::red)); // the middle moved 14 px right
    const QImage dissolveStart = exporter.makePixelBuffer(square, 1, 0.0, images);
    EXPECT_EQ(dissolveStart.pixelColor(205, 200), QColor(Qt::red));
    EXPECT_TRUE(dissolveStart == end);
}

// A worker's canvas keeps the last frame: whatever the photo's position, every pixel must be drawn again.
TEST(FrameRendering, EveryPixelOfAReusedCanvasIsDrawnAgain)
{
    Slide moving = slideLasting(2);
    moving.kenBurnsEnabled = true;
    moving.kenBurnsZoomAmount = 0.13;
    moving.kenBurnsMovementAmount = 1;
    Slide framed = slideLasting(1, SlideTransition::dissolve);
    framed.imageScale = 1.37;
    framed.imageOffsetX = 0.031;
    const VideoExporter exporter(projectOf({moving, framed}), "/tmp/o.mp4", {});
    const std::map<std::size_t, QImage> images{{0, solid(53, 31, Qt::red)}, {1, solid(17, 29, Qt::blue)}};
    const RenderSize odd{301.7, 203.3};
    FrameCanvas canvas;
    for (const auto& [slide, local] : {std::pair<std::size_t, double>{0, 0.0}, {0, 0.77}, {0, 1.93}, {1, 0.1}, {1, 0.9}}) {
        exporter.drawFrame(canvas, odd, slide, local, images);
        canvas.frame.fill(Qt::magenta); // what a pixel left alone would show
        exporter.drawFrame(canvas, odd, slide, local, images);
        int untouched = 0;
        for (int y = 0; y < canvas.frame.height(); ++y)
            for (int x = 0; x < canvas.frame.width(); ++x)
                untouched += canvas.frame.pixelColor(x, y) == QColor(Qt::magenta) ? 1 : 0;
        EXPECT_EQ(untouched, 0) << slide << " at " << local;
        EXPECT_EQ(canvas.frame, exporter.makePixelBuffer(odd, slide, local, images)) << slide << " at " << local;
    }
}

TEST(TitleOverlay, ScalesPlacesAndClampsTheBox)
{
    Slide slide;
    slide.title = " \n\t ";
    EXPECT_FALSE(titleOverlayLayout(slide, QSizeF(1920, 1080)));

    slide.title = "  Hola  ";
    slide.titlePositionX = 0;
    slide.titlePositionY = 1;
    const auto layout = titleOverlayLayout(slide, QSizeF(1920, 1080));
    ASSERT_TRUE(layout);
    EXPECT_DOUBLE_EQ(layout->scale, 84);
    EXPECT_DOUBLE_EQ(layout->box.center().x(), 0.05 * 1920);
    EXPECT_DOUBLE_EQ(layout->box.center().y(), 0.92 * 1080);
    EXPECT_NEAR(layout->textRect.left() - layout->box.left(), 32, 1e-9);
    EXPECT_NEAR(layout->textRect.top() - layout->box.top(), 18, 1e-9);
    slide.title = "Hola";
    EXPECT_EQ(titleOverlayLayout(slide, QSizeF(1920, 1080))->box, layout->box); // blanks do not widen it

    slide.title = std::string(400, 'x') + " " + std::string(50, 'y');
    EXPECT_LE(titleOverlayLayout(slide, QSizeF(1920, 1080))->box.width(), 0.86 * 1920);

    slide.titleFontSize = 4; // s = 0.4 at 96 × 54
    const auto tiny = titleOverlayLayout(slide, QSizeF(96, 54));
    EXPECT_DOUBLE_EQ(tiny->fontSize, 12);
    EXPECT_NEAR(tiny->textRect.left() - tiny->box.left(), 0.4 * 16 / 42, 1e-9);
}

TEST(TitleOverlay, DrawsTheBoxOnlyWhenAskedAndTheTextInItsColour)
{
    Slide slide;
    slide.title = "MMMM";
    slide.titleColorHex = "#FF0000";
    const QSizeF size(960, 540);
    const auto layout = titleOverlayLayout(slide, size);
    ASSERT_TRUE(layout);
    const auto draw = [&](bool box) {
        slide.titleHasBackground = box;
        QImage frame(960, 540, QImage::Format_RGB32);
        frame.setDotsPerMeterX(2835);
        frame.setDotsPerMeterY(2835);
        frame.fill(Qt::white);
        QPainter painter(&frame);
        drawTitleOverlay(slide, painter, size);
        return frame;
    };
    const QPoint insideBoxBesideText(qRound(layout->box.left() + 6), qRound(layout->box.center().y()));
    EXPECT_NEAR(QColor(draw(true).pixel(insideBoxBesideText)).red(), 168, 4); // white under black at 0.34
    EXPECT_EQ(QColor(draw(false).pixel(insideBoxBesideText)), QColor(Qt::white));

    const QImage text = draw(false);
    int redPixels = 0;
    for (int y = qRound(layout->textRect.top()); y < qRound(layout->textRect.bottom()); ++y)
        for (int x = qRound(layout->textRect.left()); x < qRound(layout->textRect.right()); ++x)
            redPixels += QColor(text.pixel(x, y)) == QColor(Qt::red);
    EXPECT_GT(redPixels, 100);
}

} // namespace
} // namespace fotivela
