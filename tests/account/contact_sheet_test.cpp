#include "account/ai_contact_sheet_builder.h"
#include "prefs/temporary_folder.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <QImageReader>

namespace fotivela {
namespace {

using namespace AIContactSheetBuilder;

std::vector<Slide> numberedSlides(std::size_t count, const std::filesystem::path& photo = {})
{
    std::vector<Slide> slides(count);
    for (std::size_t i = 0; i < count; ++i) {
        slides[i].id = Uuid::random();
        slides[i].name = std::to_string(i);
        slides[i].imageURL = photo;
    }
    return slides;
}

std::vector<int> sampledIndexes(std::size_t count)
{
    std::vector<int> indexes;
    for (const auto& slide : sampleSlidesForCloudContactSheet(numberedSlides(count)))
        indexes.push_back(std::stoi(slide.name));
    return indexes;
}

bool near(QColor a, QColor b, int tolerance = 10)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

TEST(AIContactSheet, SamplingAndGrid)
{
    EXPECT_EQ(sampledIndexes(36).size(), 36u);
    const auto of37 = sampledIndexes(37);
    ASSERT_EQ(of37.size(), 36u);
    EXPECT_EQ(of37.back(), 36);
    const auto of100 = sampledIndexes(100);
    EXPECT_EQ(std::vector<int>(of100.begin(), of100.begin() + 7), (std::vector<int>{0, 2, 5, 8, 11, 14, 16}));
    EXPECT_EQ(of100.back(), 99);
    EXPECT_EQ(std::set<int>(of100.begin(), of100.end()).size(), 36u);

    EXPECT_EQ(sheetSize(1, AIContactSheetStyle::cloud), QSize(482, 144));
    EXPECT_EQ(sheetSize(36, AIContactSheetStyle::cloud), QSize(950, 794));
    EXPECT_EQ(sheetSize(0, AIContactSheetStyle::cloud), QSize(482, 20));
    EXPECT_EQ(columnCount(10, AIContactSheetStyle::cloud), 4);
    EXPECT_EQ(pictureRect(5, 10, AIContactSheetStyle::cloud), QRectF(10 + 156, 10 + 130, 150, 102));
}

TEST(AIContactSheet, LabelsAreCutWithThreeFullStops)
{
    const auto byChars = [](const QString& text) { return static_cast<double>(text.size()); };
    EXPECT_EQ(truncatedLabel("1. Playa", 10, byChars), "1. Playa");
    EXPECT_EQ(truncatedLabel("1. Atardecer en la playa", 10, byChars), "1. Atar...");
    EXPECT_EQ(truncatedLabel("ñandúñandú", 6, byChars), "ñan...");
}

TEST(AIContactSheet, PortraitPhotoIsCentredBetweenGreyBandsAndMissingPhotosLeaveGreyCells)
{
    testing::TemporaryFolder folder;
    const auto photo = folder.path() / "retrato.jpg";
    QImage green(300, 600, QImage::Format_RGB32);
    green.fill(Qt::green);
    test::writeImage(photo, green, "JPG");
    auto slides = numberedSlides(2, photo);
    slides[1].imageURL = folder.path() / "no-existe.jpg";
    slides[0].name = "Una playa muy larga con un nombre que no cabe en la celda";
    const auto output = folder.path() / "Proyecto" / "AI" / "ContactSheets" / "slideshow-contact-sheet-cloud.jpg";
    int asked = 0;
    const auto written = makeContactSheet(
        slides, [&](const Slide&) { ++asked; return folder.path() / "Previews" / "none.jpg"; }, output,
        AIContactSheetStyle::cloud);
    EXPECT_EQ(written, output);
    EXPECT_EQ(asked, 2);

    QImageReader reader(QString::fromStdString(output.string()));
    EXPECT_EQ(reader.format(), "jpeg");
    const QImage sheet = reader.read();
    ASSERT_EQ(sheet.size(), QSize(482, 144));
    const QColor grey = QColor::fromRgbF(0.14f, 0.14f, 0.14f);
    const QColor canvas = QColor::fromRgbF(0.08f, 0.08f, 0.08f);
    // Cell 0 spans x 10..160, y 10..112; the portrait fits 51 px wide in the middle.
    EXPECT_TRUE(near(sheet.pixelColor(85, 61), Qt::green));
    EXPECT_TRUE(near(sheet.pixelColor(30, 61), grey));
    EXPECT_TRUE(near(sheet.pixelColor(140, 61), grey));
    // The missing photo: a grey cell.
    EXPECT_TRUE(near(sheet.pixelColor(241, 61), grey));
    // The third column is empty canvas.
    EXPECT_TRUE(near(sheet.pixelColor(400, 61), canvas));
    EXPECT_TRUE(near(sheet.pixelColor(5, 5), canvas));
}

TEST(AIContactSheet, CachedPreviewIsPreferredToThePhoto)
{
    testing::TemporaryFolder folder;
    QImage red(200, 100, QImage::Format_RGB32);
    red.fill(Qt::red);
    QImage blue(200, 100, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    test::writeImage(folder.path() / "photo.png", red, "PNG");
    test::writeImage(folder.path() / "preview.jpg", blue, "JPG");
    const auto slides = numberedSlides(1, folder.path() / "photo.png");
    const auto output = folder.path() / "sheet.jpg";
    makeContactSheet(slides, [&](const Slide&) { return folder.path() / "preview.jpg"; }, output, AIContactSheetStyle::cloud);
    EXPECT_TRUE(near(QImage(QString::fromStdString(output.string())).pixelColor(85, 61), Qt::blue));
}

} // namespace
} // namespace fotivela
