#include "ui/preview/preview_geometry.h"

#include "platform/title_font.h"

#include <QFontInfo>
#include <gtest/gtest.h>

using namespace fotivela;
using namespace fotivela::PreviewGeometry;

TEST(PreviewGeometry, MonitorKeepsTheRatioAndAMinimumSize)
{
    QSizeF size = previewSize({1000, 600}, ProjectFormat::youtube);
    EXPECT_NEAR(size.width(), 930.6, 0.01);
    EXPECT_NEAR(size.height(), 523.46, 0.01);
    size = previewSize({1000, 600}, ProjectFormat::reels);
    EXPECT_NEAR(size.width(), 313.02, 0.01);
    EXPECT_NEAR(size.height(), 556.48, 0.01);
    size = previewSize({100, 100}, ProjectFormat::square);
    EXPECT_NEAR(size.width(), 126.9, 0.01);
    EXPECT_NEAR(size.height(), 126.9, 0.01);
    // The 5:4 landscape frame, whatever its stored name says.
    size = previewSize({1000, 600}, ProjectFormat::landscape);
    EXPECT_NEAR(size.width() / size.height(), 1.25, 1e-9);
}

TEST(PreviewGeometry, BackgroundIsNormalisedLikeTheExport)
{
    FotivelaProject project;
    EXPECT_EQ(backgroundColor(project), QColor(0, 0, 0));
    project.backgroundColorHex = "#1a2b3c";
    EXPECT_EQ(backgroundColor(project), QColor(0x1A, 0x2B, 0x3C));
    for (const char* bad : {"1a2b3c0", "#1a2b3", "#1a2b3g", ""}) {
        project.backgroundColorHex = bad;
        EXPECT_EQ(backgroundColor(project), QColor(0, 0, 0)) << bad;
    }
}

TEST(PreviewGeometry, PanelTransitionFollowsTheFirstSlide)
{
    FotivelaProject project;
    EXPECT_EQ(panelTransition(project), SlideTransition::cut);
    project.slides.resize(2);
    project.slides[0].transition = SlideTransition::fade;
    project.slides[1].transition = SlideTransition::cut;
    EXPECT_EQ(panelTransition(project), SlideTransition::dissolve);
    project.slides[0].transition = SlideTransition::cut;
    EXPECT_EQ(panelTransition(project), SlideTransition::cut);
}

TEST(PreviewGeometry, KenBurnsMovesEvenSlidesRightAndUpOddOnesBack)
{
    Slide slide;
    slide.kenBurnsEnabled = true;
    slide.kenBurnsZoomAmount = 0.2;
    slide.kenBurnsMovementAmount = 1;
    const QSizeF monitor(400, 225);
    auto motion = kenBurnsMotion(slide, 0, monitor);
    EXPECT_DOUBLE_EQ(motion.scale, 1.0);
    EXPECT_NEAR(motion.offset.x(), -14, 1e-9);
    EXPECT_NEAR(motion.offset.y(), 5.85, 1e-9);
    motion = kenBurnsMotion(slide, 0.5, monitor);
    EXPECT_DOUBLE_EQ(motion.scale, 1.1);
    EXPECT_NEAR(motion.offset.x(), 0, 1e-9);
    motion = kenBurnsMotion(slide, 1, monitor);
    EXPECT_DOUBLE_EQ(motion.scale, 1.2);
    EXPECT_NEAR(motion.offset.x(), 14, 1e-9);
    EXPECT_NEAR(motion.offset.y(), -5.85, 1e-9);
    slide.order = 1;
    motion = kenBurnsMotion(slide, 1, monitor);
    EXPECT_NEAR(motion.offset.x(), -14, 1e-9);
    EXPECT_NEAR(motion.offset.y(), 5.85, 1e-9);
    slide.kenBurnsEnabled = false;
    motion = kenBurnsMotion(slide, 1, monitor);
    EXPECT_DOUBLE_EQ(motion.scale, 1.0);
    EXPECT_EQ(motion.offset, QPointF(0, 0));
}

TEST(PreviewGeometry, PhotoIsFramedThenPanned)
{
    Slide slide;
    // A 2:1 photo fitted into a 16:9 monitor: full width, letterboxed, centred.
    QRectF rect = imageRect(slide, {200, 100}, {320, 180}, {}, false);
    EXPECT_NEAR(rect.width(), 320, 1e-9);
    EXPECT_NEAR(rect.height(), 160, 1e-9);
    EXPECT_NEAR(rect.top(), 10, 1e-9);
    // Stored offsets at scale 1 cannot move a fitted photo; the Ken Burns pan still does.
    slide.imageOffsetX = 0.3;
    PreviewGeometry::KenBurnsMotion motion;
    motion.offset = QPointF(7, -3);
    rect = imageRect(slide, {200, 100}, {320, 180}, motion, false);
    EXPECT_NEAR(rect.left(), 7, 1e-9);
    EXPECT_NEAR(rect.top(), 7, 1e-9);
    // Zoomed in, the offset moves it up to the framing bound.
    slide.imageScale = 2;
    slide.imageOffsetX = 5;
    rect = imageRect(slide, {200, 100}, {320, 180}, {}, false);
    EXPECT_NEAR(rect.width(), 640, 1e-9);
    EXPECT_NEAR(rect.left(), (320 - 640) / 2.0 + 320 * 0.5, 1e-9);
    EXPECT_TRUE(imageRect(slide, {0, 100}, {320, 180}, {}, false).isNull());
}

TEST(PreviewGeometry, TitleScalesWithTheSmallerMonitorRatioAndStaysInItsBounds)
{
    Slide slide;
    slide.title = "Hola";
    slide.titleFontSize = 48;
    EXPECT_NEAR(titleLayout(slide, {960, 540})->fontSize, 48, 1e-9);
    EXPECT_NEAR(titleLayout(slide, {480, 270})->fontSize, 24, 1e-9);
    EXPECT_NEAR(titleLayout(slide, {480, 540})->fontSize, 24, 1e-9);

    slide.titlePositionX = 0;
    slide.titlePositionY = 1;
    const auto layout = titleLayout(slide, {960, 540});
    EXPECT_NEAR(layout->box.center().x(), 0.05 * 960, 1);
    EXPECT_NEAR(layout->box.center().y(), 0.92 * 540, 1);
    EXPECT_NEAR(layout->box.width() - layout->textRect.width(), 32, 1e-9);
    EXPECT_NEAR(layout->box.height() - layout->textRect.height(), 18, 1e-9);

    slide.title = "";
    EXPECT_FALSE(titleLayout(slide, {960, 540}));
    slide.title = " ";
    EXPECT_TRUE(titleLayout(slide, {960, 540}));
}

TEST(PreviewGeometry, LongTitlesWrapWithinTheMonitor)
{
    Slide slide;
    slide.title = "Un titulo bastante largo que no cabe en una sola linea del monitor pequeño";
    slide.titleFontSize = 60;
    const auto layout = titleLayout(slide, {480, 270});
    ASSERT_TRUE(layout);
    EXPECT_LE(layout->box.width(), 480 + 1);
    EXPECT_GT(layout->textRect.height(), layout->fontSize * 1.5);
}

TEST(PreviewGeometry, TitlesUseTheExportedFacesAtTheirPixelSize)
{
    Slide slide;
    slide.title = "Hola";
    slide.titleFontSize = 48;
    for (int design = 0; design <= static_cast<int>(TitleFontDesign::markerFelt); ++design) {
        slide.titleFontDesign = static_cast<TitleFontDesign>(design);
        const QFontInfo shown(titleLayout(slide, {960, 540})->font);
        const QFontInfo exported(nsFont(slide.titleFontDesign, 48));
        EXPECT_EQ(shown.family(), exported.family()) << design;
        EXPECT_EQ(shown.weight(), exported.weight()) << design;
        EXPECT_EQ(shown.pixelSize(), 48) << design;
    }
}
