#include "platform/photo_decoder.h"
#include "support/test_audio.h"
#include "support/test_images.h"

#include <QFile>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace fotivela;
using namespace fotivela::test;

namespace {

TEST(PhotoDecoder, ScalesTheLongerSideDownAndNeverUp)
{
    AudioTestFolder folder("fotivela-photos");
    writeImage(folder / "big.jpg", makeTwoToneImage(4000, 3000));
    writeImage(folder / "small.png", makeTwoToneImage(1200, 800), "PNG");

    const QImage big = PhotoDecoder::decode(folder / "big.jpg", 1800);
    EXPECT_EQ(big.size(), QSize(1800, 1350));
    const QImage small = PhotoDecoder::decode(folder / "small.png", 1800);
    EXPECT_EQ(small.size(), QSize(1200, 800));
    EXPECT_EQ(PhotoDecoder::decode(folder / "big.jpg").size(), QSize(4000, 3000));
    EXPECT_EQ(PhotoDecoder::boundedSize(QSize(3000, 4000), 1800), QSize(1350, 1800));
}

TEST(PhotoDecoder, TurnsAJpegUprightByItsExifOrientation)
{
    AudioTestFolder folder("fotivela-photos");
    // Stored landscape, red on top; orientation 6 turns it a quarter clockwise: red on the right.
    writeJpegWithOrientation(folder / "portrait.jpg", makeTwoToneImage(400, 300), 6);

    EXPECT_EQ(PhotoDecoder::uprightSize(folder / "portrait.jpg"), QSize(300, 400));
    const QImage image = PhotoDecoder::decode(folder / "portrait.jpg", 200);
    ASSERT_EQ(image.size(), QSize(150, 200));
    EXPECT_EQ(dominantColor(image, 140, 100), QColor(Qt::red));
    EXPECT_EQ(dominantColor(image, 10, 100), QColor(Qt::blue));
}

TEST(PhotoDecoder, ReadsHeicWhateverItsNameAndAppliesItsRotation)
{
    AudioTestFolder folder("fotivela-photos");
    if (!writeHeic(folder / "IMG_0001.jpg", makeTwoToneImage(320, 240), 6))
        GTEST_SKIP() << "no HEVC encoder";

    EXPECT_TRUE(PhotoDecoder::isHeif(folder / "IMG_0001.jpg"));
    EXPECT_EQ(PhotoDecoder::uprightSize(folder / "IMG_0001.jpg"), QSize(240, 320));
    const QImage image = PhotoDecoder::decode(folder / "IMG_0001.jpg", 160);
    ASSERT_EQ(image.size(), QSize(120, 160));
    EXPECT_EQ(dominantColor(image, 110, 80), QColor(Qt::red));
    EXPECT_EQ(dominantColor(image, 10, 80), QColor(Qt::blue));
}

TEST(PhotoDecoder, FilesThatAreNoPictureGiveANullImage)
{
    AudioTestFolder folder("fotivela-photos");
    writeTextFile(folder / "notes.jpg", "not a picture at all");
    writeRandomBytes(folder / "noise.heic", 4096);
    writeImage(folder / "cut.jpg", makeTwoToneImage(640, 480));
    truncateFile(folder / "cut.jpg", 20);

    for (const char* name : {"notes.jpg", "noise.heic", "cut.jpg", "missing.png"}) {
        EXPECT_TRUE(PhotoDecoder::decode(folder / name, 1800).isNull()) << name;
        EXPECT_FALSE(PhotoDecoder::uprightSize(folder / name).isValid()) << name;
    }
}

// Views show a photo's JPEG preview, which has no alpha, only when the file itself declares
// no see-through pixels: Qt decodes a palette PNG with a transparent entry as a plain
// palette, and reports alpha for every WebP.
TEST(PhotoDecoder, TransparencyIsWhatTheFileDeclares)
{
    AudioTestFolder folder("fotivela-photos");
    QImage palette(64, 48, QImage::Format_Indexed8);
    palette.setColorTable({qRgba(0, 0, 0, 0), qRgb(255, 0, 0)});
    palette.fill(1);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 64; ++x)
            palette.setPixel(x, y, 0);
    writeImage(folder / "palette.png", palette, "PNG");
    palette.setColor(0, qRgb(0, 0, 255));
    writeImage(folder / "opaque-palette.png", palette, "PNG");
    QImage seeThrough = makeTwoToneImage(64, 48).convertToFormat(QImage::Format_ARGB32);
    seeThrough.setPixelColor(10, 10, QColor(255, 0, 0, 100));
    writeImage(folder / "opaque.webp", makeTwoToneImage(64, 48), "WEBP");
    writeImage(folder / "alpha.webp", seeThrough, "WEBP");
    // Quality 100 is lossless.
    ASSERT_TRUE(makeTwoToneImage(64, 48).save(QString::fromStdString((folder / "opaque-lossless.webp").string()), "WEBP", 100));
    ASSERT_TRUE(seeThrough.save(QString::fromStdString((folder / "alpha-lossless.webp").string()), "WEBP", 100));

    for (const auto& [name, transparent] : std::vector<std::pair<const char*, bool>>{
             {"palette.png", true}, {"opaque-palette.png", false}, {"opaque.webp", false},
             {"alpha.webp", true}, {"opaque-lossless.webp", false}, {"alpha-lossless.webp", true}})
        EXPECT_EQ(PhotoDecoder::mayHaveTransparency(folder / name), transparent) << name;

    // Cut anywhere, the palette PNG is transparent once its tRNS chunk's header is there.
    QFile file(QString::fromStdString((folder / "palette.png").string()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const qsizetype chunkEnd = bytes.indexOf("tRNS") + 4;
    ASSERT_GT(chunkEnd, 4);
    for (qsizetype cut = 0; cut < chunkEnd + 16; ++cut) {
        std::filesystem::copy_file(folder / "palette.png", folder / "cut.png", std::filesystem::copy_options::overwrite_existing);
        truncateFile(folder / "cut.png", static_cast<std::uintmax_t>(cut));
        EXPECT_EQ(PhotoDecoder::mayHaveTransparency(folder / "cut.png"), cut >= chunkEnd) << cut;
    }
}

} // namespace
