#include "export/bt709_frame_converter.h"

#include "export/video_exporter.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace fotivela {

namespace {

// BT.709 with video range folded in (219/255 for luma, 224/255 for chroma), in
// 1/65536: each row sums to the range, each chroma row to zero, so that greys
// keep Cb = Cr = 128.
constexpr int yR = 11966, yG = 40254, yB = 4064;
constexpr int cbR = -6596, cbG = -22188, cbB = 28784;
constexpr int crR = 28784, crG = -26145, crB = -2639;
constexpr int lumaBias = (16 << 16) + (1 << 15);
// Chroma works on sums of four pixels: two more bits.
constexpr int chromaBias = (128 << 18) + (1 << 17);

// Bytes of an RGB32 pixel in memory: blue, green, red, unused.
constexpr int blue = 0, green = 1, red = 2;

// Two rows of pixels into two rows of luma and one of each chroma plane. The
// loops are kept plain so that the compiler vectorises them; the clone for
// AVX2 is chosen at run time where the processor has it.
__attribute__((target_clones("avx2", "default"))) void convertRowPair(
    const std::uint8_t* __restrict top, const std::uint8_t* __restrict bottom, int pairs, std::uint8_t* __restrict lumaTop,
    std::uint8_t* __restrict lumaBottom, std::uint8_t* __restrict cb, std::uint8_t* __restrict cr)
{
    for (int x = 0; x < 2 * pairs; ++x) {
        const std::uint8_t* p = top + 4 * x;
        const std::uint8_t* q = bottom + 4 * x;
        lumaTop[x] = static_cast<std::uint8_t>((yR * p[red] + yG * p[green] + yB * p[blue] + lumaBias) >> 16);
        lumaBottom[x] = static_cast<std::uint8_t>((yR * q[red] + yG * q[green] + yB * q[blue] + lumaBias) >> 16);
    }
    for (int x = 0; x < pairs; ++x) {
        const std::uint8_t* p = top + 8 * x;
        const std::uint8_t* q = bottom + 8 * x;
        const int b = p[blue] + p[4 + blue] + q[blue] + q[4 + blue];
        const int g = p[green] + p[4 + green] + q[green] + q[4 + green];
        const int r = p[red] + p[4 + red] + q[red] + q[4 + red];
        cb[x] = static_cast<std::uint8_t>((cbR * r + cbG * g + cbB * b + chromaBias) >> 18);
        cr[x] = static_cast<std::uint8_t>((crR * r + crG * g + crB * b + chromaBias) >> 18);
    }
}

} // namespace

void convertToBt709(const QImage& image, AVFrame& frame)
{
    const int width = frame.width;
    const int height = frame.height;
    const int pairs = width / 2;
    // An odd last column or row pairs with itself.
    const auto row = [&](int y) { return image.constScanLine(std::min(y, height - 1)); };
    std::vector<std::uint8_t> pastTheLastRow(height % 2 == 1 ? static_cast<std::size_t>(width) : 0);
    for (int y = 0; y < height; y += 2) {
        const std::uint8_t* top = row(y);
        const std::uint8_t* bottom = row(y + 1);
        std::uint8_t* lumaTop = frame.data[0] + static_cast<std::ptrdiff_t>(y) * frame.linesize[0];
        std::uint8_t* lumaBottom = y + 1 < height ? lumaTop + frame.linesize[0] : pastTheLastRow.data();
        std::uint8_t* cb = frame.data[1] + static_cast<std::ptrdiff_t>(y / 2) * frame.linesize[1];
        std::uint8_t* cr = frame.data[2] + static_cast<std::ptrdiff_t>(y / 2) * frame.linesize[2];
        convertRowPair(top, bottom, pairs, lumaTop, lumaBottom, cb, cr);
        if (width % 2 == 1) {
            const int x = width - 1;
            const std::uint8_t* p = top + 4 * x;
            const std::uint8_t* q = bottom + 4 * x;
            lumaTop[x] = static_cast<std::uint8_t>((yR * p[red] + yG * p[green] + yB * p[blue] + lumaBias) >> 16);
            lumaBottom[x] = static_cast<std::uint8_t>((yR * q[red] + yG * q[green] + yB * q[blue] + lumaBias) >> 16);
            const int b = 2 * (p[blue] + q[blue]);
            const int g = 2 * (p[green] + q[green]);
            const int r = 2 * (p[red] + q[red]);
            cb[pairs] = static_cast<std::uint8_t>((cbR * r + cbG * g + cbB * b + chromaBias) >> 18);
            cr[pairs] = static_cast<std::uint8_t>((crR * r + crG * g + crB * b + chromaBias) >> 18);
        }
    }
}

Bt709FrameConverter::Bt709FrameConverter(int width, int height)
    : m_width(width), m_height(height)
{
    if (width < 1 || height < 1)
        throw VideoExporterError::cannotCreatePixelBuffer();
    writableFrame();
}

AVFrame* Bt709FrameConverter::writableFrame()
{
    for (const FramePtr& frame : m_frames)
        if (av_frame_is_writable(frame.get()))
            return frame.get();
    FramePtr fresh(av_frame_alloc());
    if (!fresh)
        throw VideoExporterError::cannotCreatePixelBuffer();
    fresh->format = AV_PIX_FMT_YUV420P;
    fresh->width = m_width;
    fresh->height = m_height;
    fresh->color_primaries = AVCOL_PRI_BT709;
    fresh->color_trc = AVCOL_TRC_BT709;
    fresh->colorspace = AVCOL_SPC_BT709;
    fresh->color_range = AVCOL_RANGE_MPEG;
    if (av_frame_get_buffer(fresh.get(), 0) < 0)
        throw VideoExporterError::cannotCreatePixelBuffer();
    // Past the usual number in flight, a picture is not kept once it is let go.
    if (m_frames.size() < keptFrames)
        return m_frames.emplace_back(std::move(fresh)).get();
    m_frames.back() = std::move(fresh);
    return m_frames.back().get();
}

FramePtr Bt709FrameConverter::convert(const QImage& image)
{
    if (image.width() < m_width || image.height() < m_height || image.format() != QImage::Format_RGB32)
        throw VideoExporterError::cannotCreatePixelBuffer();
    AVFrame* frame = writableFrame();
    convertToBt709(image, *frame);
    FramePtr reference(av_frame_clone(frame));
    if (!reference)
        throw VideoExporterError::cannotCreatePixelBuffer();
    return reference;
}

} // namespace fotivela
