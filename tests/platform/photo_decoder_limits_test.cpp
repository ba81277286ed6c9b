// Hostile and unusual photos: declared sizes far beyond the pixels, frames smaller than
// their screen, names that are not UTF-8, and the formats the photo dialog offers.
#include "platform/photo_decoder.h"
#include "support/child_process.h"
#include "support/test_audio.h"
#include "support/test_images.h"

#include <QBuffer>
#include <QImageWriter>

#include <gtest/gtest.h>

#include <fstream>
#include <thread>
#include <vector>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

constexpr int previewSize = 2048;

// The child's peak above its start stays under `megabytes`; the figure is printed for the record.
void expectPeakBelow(const ChildRun& run, long long megabytes, const char* what)
{
    EXPECT_LT(run.extraPeakKilobytes, megabytes * 1024) << run.extraPeakKilobytes / 1024 << " MB";
    std::printf("%s: %lld MB above the start\n", what, static_cast<long long>(run.extraPeakKilobytes / 1024));
}

QByteArray progressiveJpeg(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    writer.setQuality(90);
    if (!writer.write(image))
        throw std::runtime_error("jpeg writer failed");
    return bytes;
}

void writeBytes(const fs::path& file, const QByteArray& bytes)
{
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.constData(), bytes.size());
}

// A small progressive JPEG whose frame header claims side × side pixels; with
// fullChroma every component is sampled at full size (4:4:4).
void writeJpegBomb(const fs::path& file, int side, bool fullChroma)
{
    QByteArray bytes = progressiveJpeg(makeTwoToneImage(64, 64));
    const qsizetype sof = bytes.indexOf(QByteArray("\xff\xc2", 2));
    if (sof < 0)
        throw std::runtime_error("no progressive frame header");
    for (int offset : {5, 7}) {
        bytes[sof + offset] = static_cast<char>(side >> 8);
        bytes[sof + offset + 1] = static_cast<char>(side & 0xff);
    }
    const int components = static_cast<unsigned char>(bytes[sof + 9]);
    for (int c = 0; fullChroma && c < components; ++c)
        bytes[sof + 11 + 3 * c] = 0x11;
    writeBytes(file, bytes);
}

// A one-pixel GIF frame on a logical screen of width × height.
void writeGifOnScreen(const fs::path& file, int width, int height)
{
    const unsigned char gif[] = {'G', 'I', 'F', '8', '9', 'a', static_cast<unsigned char>(width & 0xff),
        static_cast<unsigned char>(width >> 8), static_cast<unsigned char>(height & 0xff), static_cast<unsigned char>(height >> 8),
        0x80, 0, 0, 0xff, 0xff, 0xff, 0, 0, 0, 0x2c, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 1, 0, 0x3b};
    writeBytes(file, QByteArray(reinterpret_cast<const char*>(gif), sizeof gif));
}

TEST(PhotoDecoderLimits, DecompressionBombsAreRefusedWithinAFixedMemoryBudget)
{
    AudioTestFolder folder("fotivela-photo-bombs");
    writeJpegBomb(folder / "bomb.jpg", 20000, false);
    writeJpegBomb(folder / "bomb444.jpg", 30000, true);
    writeGifOnScreen(folder / "screen.gif", 15000, 15000);
    ASSERT_LT(fs::file_size(folder / "bomb.jpg"), 4096u);

    // Four at once, as the preview workers decode.
    const std::vector<fs::path> bombs{folder / "bomb.jpg", folder / "bomb444.jpg", folder / "screen.gif", folder / "bomb.jpg"};
    const ChildRun run = runInChild([&] {
        std::vector<int> decoded(bombs.size(), 0);
        std::vector<std::thread> workers;
        for (std::size_t i = 0; i < bombs.size(); ++i)
            workers.emplace_back([&, i] { decoded[i] = !PhotoDecoder::decode(bombs[i], previewSize).isNull(); });
        for (std::thread& worker : workers)
            worker.join();
        int count = 0;
        for (int d : decoded)
            count += d;
        return count;
    });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0) << "bombs decoded";
    expectPeakBelow(run, 400, "four bombs at once");
}

TEST(PhotoDecoderLimits, AHeicDeclaringAHugeImageIsRefusedBeforeDecoding)
{
    AudioTestFolder folder("fotivela-heic-bomb");
    if (!writeHeic(folder / "bomb.heic", makeTwoToneImage(64, 64)))
        GTEST_SKIP() << "no HEVC encoder";
    // The image's spatial extent says 16384 × 16384.
    std::fstream io(folder / "bomb.heic", std::ios::in | std::ios::out | std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(io)), std::istreambuf_iterator<char>());
    const std::size_t ispe = bytes.find("ispe");
    ASSERT_NE(ispe, std::string::npos);
    const char side[4] = {0, 0, 0x40, 0};
    io.clear();
    io.seekp(static_cast<std::streamoff>(ispe + 8));
    io.write(side, 4);
    io.write(side, 4);
    io.close();

    const ChildRun run = runInChild([&] { return PhotoDecoder::decode(folder / "bomb.heic", previewSize).isNull() ? 0 : 1; });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    expectPeakBelow(run, 300, "heic bomb");
}

TEST(PhotoDecoderLimits, ATwelveMegapixelProgressiveJpegDecodesWellWithinTheBudget)
{
    AudioTestFolder folder("fotivela-photo-budget");
    writeBytes(folder / "photo.jpg", progressiveJpeg(makeTwoToneImage(4000, 3000)));
    const ChildRun run = runInChild([&] {
        const QImage image = PhotoDecoder::decode(folder / "photo.jpg", previewSize);
        return image.size() == QSize(2048, 1536) && dominantColor(image, 1000, 100) == QColor(Qt::red) ? 0 : 1;
    });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    expectPeakBelow(run, 300, "12-megapixel progressive JPEG");
}

TEST(PhotoDecoderLimits, SixteenBitPngsDecodedWholeKeepToTheLimitOfOneDecode)
{
    AudioTestFolder folder("fotivela-photo-png16");
    // Bounded to a view's size, Qt still decodes these whole at 16 bits a channel. The grey
    // one needs a copy at 8 bytes a pixel to be scaled: more than one decode may take.
    const QImage image = makeTwoToneImage(4600, 4600);
    ASSERT_TRUE(image.convertToFormat(QImage::Format_RGBA64).save(QString::fromStdString((folder / "colour.png").string()), "PNG"));
    ASSERT_TRUE(makeTwoToneImage(6000, 6000)
                    .convertToFormat(QImage::Format_Grayscale16)
                    .save(QString::fromStdString((folder / "grey.png").string()), "PNG"));

    const ChildRun run = runInChild([&] {
        const QImage colour = PhotoDecoder::decode(folder / "colour.png", 1800);
        const bool grey = !PhotoDecoder::decode(folder / "grey.png", 1800).isNull();
        return (colour.size() == QSize(1800, 1800) && dominantColor(colour, 900, 10) == QColor(Qt::red) ? 0 : 1) + (grey ? 2 : 0);
    });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0) << "1: the colour PNG was not shown, 2: the grey one was decoded";
    expectPeakBelow(run, 320, "16-bit colour PNG shown, grey one refused");
}

TEST(PhotoDecoderLimits, AGifFrameSmallerThanItsScreenStaysWithinTheBound)
{
    AudioTestFolder folder("fotivela-photo-gif");
    writeGifOnScreen(folder / "wide.gif", 600, 300);
    const QImage image = PhotoDecoder::decode(folder / "wide.gif", 100);
    ASSERT_FALSE(image.isNull());
    EXPECT_LE(std::max(image.width(), image.height()), 100);
}

TEST(PhotoDecoderLimits, NamesThatAreNotUtf8AreReadByTheirBytes)
{
    AudioTestFolder folder("fotivela-photo-names");
    const fs::path file = folder.path() / std::string("vacaciones-\xff\xfe-playa.jpg");
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(makeTwoToneImage(400, 300).save(&buffer, "JPG"));
    writeBytes(file, bytes);
    ASSERT_TRUE(fs::is_regular_file(file));

    EXPECT_EQ(PhotoDecoder::uprightSize(file), QSize(400, 300));
    const QImage image = PhotoDecoder::decode(file, 200);
    ASSERT_EQ(image.size(), QSize(200, 150));
    EXPECT_EQ(dominantColor(image, 100, 10), QColor(Qt::red));
}

TEST(PhotoDecoderLimits, TiffAndWebpOfferedByThePhotoDialogDecode)
{
    AudioTestFolder folder("fotivela-photo-formats");
    for (const char* format : {"tiff", "webp"}) {
        const fs::path file = folder.path() / (std::string("photo.") + format);
        writeImage(file, makeTwoToneImage(320, 240), format);
        EXPECT_EQ(PhotoDecoder::uprightSize(file), QSize(320, 240)) << format;
        const QImage image = PhotoDecoder::decode(file, 160);
        ASSERT_EQ(image.size(), QSize(160, 120)) << format;
        EXPECT_EQ(dominantColor(image, 80, 10), QColor(Qt::red)) << format;
        EXPECT_EQ(dominantColor(image, 80, 110), QColor(Qt::blue)) << format;
    }
}

TEST(PhotoDecoderLimits, AFolderNamedLikeAPhotoIsNoPhoto)
{
    AudioTestFolder folder("fotivela-photo-folder");
    fs::create_directory(folder / "photo.jpg");
    EXPECT_TRUE(PhotoDecoder::decode(folder / "photo.jpg", 200).isNull());
    EXPECT_FALSE(PhotoDecoder::uprightSize(folder / "photo.jpg").isValid());
}

} // namespace
