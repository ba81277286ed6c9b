// The bit rate the user chose is the most the video stream takes on average:
// a file is never larger than that setting promised.

#include "export/mp4_probe.h"
#include "export/small_exports.h"
#include "export/video_encoder.h"

#include "prefs/temporary_folder.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QRandomGenerator>

namespace fotivela {
namespace {

namespace fs = std::filesystem;
using testing::StorageRoot;

constexpr int side = 160;
constexpr int frameRate = 10;

// Grain in blocks of 4 pixels, new on every frame: a picture that would take
// any number of bits, where a plain average target overshoots by 10 to 30 %.
QImage texture(quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(side, side, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4) {
            const QRgb colour = random.generate() | 0xff000000u;
            for (int j = 0; j < 4; ++j)
                for (int i = 0; i < 4; ++i)
                    image.setPixel(x + i, y + j, colour);
        }
    return image;
}

// Seconds of grain, or of one flat picture; returns the video stream's
// average in bits per second.
double encodedBitRate(const fs::path& file, ExportCodec codec, std::int64_t bitRate, double seconds, bool detailed)
{
    VideoEncoderSettings settings = test::squareH264Settings(side, bitRate, 2 * frameRate);
    settings.codec = codec;
    settings.preset = encoderPreset(codec, ExportQuality::quick);
    const int frames = static_cast<int>(seconds * frameRate);
    {
        VideoEncoder encoder(file, settings);
        Bt709FrameConverter converter(side, side);
        QImage flat(side, side, QImage::Format_RGB32);
        flat.fill(QColor(40, 90, 160));
        for (int i = 0; i < frames; ++i) {
            const QImage frame = detailed ? texture(static_cast<quint32>(i)) : flat;
            encoder.append(converter.convert(frame).get(), i);
        }
        encoder.finish();
    }
    return static_cast<double>(test::videoStreamBytes(file)) * 8.0 / (static_cast<double>(frames) / frameRate);
}

class VideoBitRateTest : public ::testing::TestWithParam<ExportCodec> {};

TEST_P(VideoBitRateTest, StaysAtOrUnderTheSettingAndUnderItWhereThePictureNeedsLess)
{
    StorageRoot root;
    const fs::path file = root.path() / "film.mp4";
    for (const std::int64_t bitRate : {100'000, 300'000}) {
        // 10 s, the shortest film the promise holds for: the encoder may run
        // ahead of the average by half a second's worth at its start.
        const double average = encodedBitRate(file, GetParam(), bitRate, 10.0, true);
        EXPECT_LE(average, bitRate * 1.05) << bitRate;
        // The ceiling is no excuse to starve a picture that needs the bits.
        EXPECT_GT(average, bitRate * 0.6) << bitRate;
    }
    EXPECT_LT(encodedBitRate(file, GetParam(), 1'000'000, 10.0, false), 1'000'000 * 0.25);
}

INSTANTIATE_TEST_SUITE_P(Codecs, VideoBitRateTest, ::testing::Values(ExportCodec::h264, ExportCodec::h265));

} // namespace
} // namespace fotivela
