#include "support/test_images.h"

#include <QBuffer>
#include <QFile>

#include <libheif/heif.h>

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>

namespace fotivela::test {

QImage makeTwoToneImage(int width, int height, QColor top, QColor bottom)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        const QRgb colour = (y < height / 2 ? top : bottom).rgb();
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = colour;
    }
    return image;
}

void writeImage(const std::filesystem::path& file, const QImage& image, const char* format)
{
    std::filesystem::create_directories(file.parent_path());
    if (!image.save(QFile::decodeName(QByteArray(file.c_str())), format, 92))
        throw std::runtime_error("image not written: " + file.string());
}

void writeJpegWithOrientation(const std::filesystem::path& file, const QImage& image, int orientation)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPG", 92))
        throw std::runtime_error("JPEG not encoded");
    // APP1 "Exif": a big-endian TIFF header and one IFD entry, Orientation (0x0112), SHORT.
    const std::array<unsigned char, 36> app1{
        0xFF, 0xE1, 0x00, 0x22, 'E', 'x', 'i', 'f', 0, 0,
        'M', 'M', 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08,
        0x00, 0x01,
        0x01, 0x12, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, static_cast<unsigned char>(orientation), 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00};
    QByteArray tagged = jpeg.left(2);
    tagged.append(reinterpret_cast<const char*>(app1.data()), static_cast<qsizetype>(app1.size()));
    tagged.append(jpeg.mid(2));
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out.write(tagged.constData(), tagged.size());
    if (!out)
        throw std::runtime_error("JPEG not written: " + file.string());
}

bool writeHeic(const std::filesystem::path& file, const QImage& image, int orientation)
{
    if (!heif_have_encoder_for_format(heif_compression_HEVC))
        return false;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    heif_image* picture = nullptr;
    if (heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &picture).code
        != heif_error_Ok)
        return false;
    heif_image_add_plane(picture, heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + static_cast<std::ptrdiff_t>(y) * stride, rgb.constScanLine(y), static_cast<std::size_t>(rgb.width()) * 3);

    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = static_cast<heif_orientation>(orientation);
    std::filesystem::create_directories(file.parent_path());
    bool written = heif_context_encode_image(context, picture, encoder, options, nullptr).code == heif_error_Ok;
    written = written && heif_context_write_to_file(context, file.c_str()).code == heif_error_Ok;
    heif_encoding_options_free(options);
    heif_encoder_release(encoder);
    heif_context_free(context);
    heif_image_release(picture);
    return written;
}

QColor dominantColor(const QImage& image, int x, int y)
{
    const QColor c = image.pixelColor(x, y);
    const auto level = [](int v) { return v > 127 ? 255 : 0; };
    return QColor(level(c.red()), level(c.green()), level(c.blue()));
}

} // namespace fotivela::test
