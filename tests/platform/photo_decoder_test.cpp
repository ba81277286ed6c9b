#include "platform/photo_decoder.h"
#include "support/test_audio.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

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

} // namespace
