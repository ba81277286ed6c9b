// The drawn frame's conversion to the video's BT.709 4:2:0 pictures, against the matrix in floating point.

#include "export/bt709_frame_converter.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <cmath>

namespace fotivela {
namespace {

struct Expected {
    double y, cb, cr;
};

Expected bt709(double r, double g, double b)
{
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    return {16 + 219 * y, 128 + 224 * (b - y) / 1.8556, 128 + 224 * (r - y) / 1.5748};
}

int sample(const AVFrame& frame, int plane, int x, int y)
{
    return frame.data[plane][y * frame.linesize[plane] + x];
}

TEST(Bt709FrameConverter, MatchesTheMatrixInVideoRangeWithChromaTheMeanOfFourPixels)
{
    // Sizes odd in either direction pair the last column or row with itself.
    for (const QSize size : {QSize(64, 32), QSize(37, 21)}) {
        QImage image(size, QImage::Format_RGB32);
        QRandomGenerator random(7);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                image.setPixel(x, y, random.generate() | 0xff000000u);
        Bt709FrameConverter converter(size.width(), size.height());
        const FramePtr frame = converter.convert(image);
        ASSERT_EQ(frame->format, AV_PIX_FMT_YUV420P);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                ASSERT_NEAR(sample(*frame, 0, x, y), bt709(c.redF(), c.greenF(), c.blueF()).y, 0.51) << x << "," << y;
            }
        for (int y = 0; y < (size.height() + 1) / 2; ++y)
            for (int x = 0; x < (size.width() + 1) / 2; ++x) {
                double r = 0, g = 0, b = 0;
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx) {
                        const QColor c = image.pixelColor(std::min(2 * x + dx, size.width() - 1),
                                                          std::min(2 * y + dy, size.height() - 1));
                        r += c.redF() / 4;
                        g += c.greenF() / 4;
                        b += c.blueF() / 4;
                    }
                const Expected expected = bt709(r, g, b);
                ASSERT_NEAR(sample(*frame, 1, x, y), expected.cb, 0.51) << size.width() << ": " << x << "," << y;
                ASSERT_NEAR(sample(*frame, 2, x, y), expected.cr, 0.51) << size.width() << ": " << x << "," << y;
            }
    }

    // The ends of the range and a grey stay exact: no tint, no clipping.
    QImage flat(4, 2, QImage::Format_RGB32);
    Bt709FrameConverter converter(4, 2);
    for (const auto& [colour, y] : {std::pair{QColor(Qt::black), 16}, {QColor(Qt::white), 235}, {QColor(128, 128, 128), 126}}) {
        flat.fill(colour);
        const FramePtr frame = converter.convert(flat);
        EXPECT_EQ(sample(*frame, 0, 3, 1), y) << colour.name().toStdString();
        EXPECT_EQ(sample(*frame, 1, 1, 0), 128) << colour.name().toStdString();
        EXPECT_EQ(sample(*frame, 2, 1, 0), 128) << colour.name().toStdString();
    }
}

} // namespace
} // namespace fotivela
