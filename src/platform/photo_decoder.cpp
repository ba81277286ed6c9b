#include "platform/photo_decoder.h"

#include <QColorSpace>
#include <QFile>
#include <QImageReader>

#include <libheif/heif.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <memory>
#include <mutex>

namespace fotivela::PhotoDecoder {

namespace {

// Qt refuses images above 128 MB by default; a 50-megapixel photo is larger than that
// before it is scaled down.
void raiseAllocationLimit()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (QImageReader::allocationLimit() < 1024)
            QImageReader::setAllocationLimit(1024);
    });
}

QString qtPath(const std::filesystem::path& file)
{
    return QFile::decodeName(QByteArray(file.c_str()));
}

struct HeifContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HeifHandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct HeifImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};

struct HeifPrimary {
    std::unique_ptr<heif_context, HeifContextDeleter> context;
    std::unique_ptr<heif_image_handle, HeifHandleDeleter> handle;
};

HeifPrimary openHeif(const std::filesystem::path& file)
{
    HeifPrimary primary;
    primary.context.reset(heif_context_alloc());
    if (!primary.context)
        return primary;
    if (heif_context_read_from_file(primary.context.get(), file.c_str(), nullptr).code != heif_error_Ok)
        return primary;
    heif_image_handle* handle = nullptr;
    if (heif_context_get_primary_image_handle(primary.context.get(), &handle).code == heif_error_Ok)
        primary.handle.reset(handle);
    return primary;
}

// libheif applies the rotation and mirror boxes while decoding.
QImage decodeHeif(const std::filesystem::path& file)
{
    const HeifPrimary primary = openHeif(file);
    if (!primary.handle)
        return {};
    const bool alpha = heif_image_handle_has_alpha_channel(primary.handle.get()) != 0;
    heif_image* decoded = nullptr;
    const heif_error error = heif_decode_image(primary.handle.get(), &decoded, heif_colorspace_RGB,
                                               alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr);
    std::unique_ptr<heif_image, HeifImageDeleter> image(decoded);
    if (error.code != heif_error_Ok || !image)
        return {};
    int stride = 0;
    const std::uint8_t* pixels = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!pixels || width <= 0 || height <= 0 || stride <= 0)
        return {};
    const QImage view(pixels, width, height, stride, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    // The view points into libheif's buffer, which goes with `image`.
    return view.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

QImage inSrgb(QImage image)
{
    const QColorSpace space = image.colorSpace();
    if (space.isValid() && space != QColorSpace(QColorSpace::SRgb))
        image.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
    return image;
}

} // namespace

QSize boundedSize(QSize size, int maxPixelSize)
{
    const int longer = std::max(size.width(), size.height());
    if (maxPixelSize <= 0 || longer <= maxPixelSize || size.isEmpty())
        return size;
    const double factor = static_cast<double>(maxPixelSize) / longer;
    const auto scaled = [&](int side) { return std::max(1, static_cast<int>(std::lround(side * factor))); };
    return {scaled(size.width()), scaled(size.height())};
}

bool isHeif(const std::filesystem::path& file)
{
    std::array<char, 32> head{};
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    in.read(head.data(), head.size());
    const auto count = static_cast<int>(in.gcount());
    if (count < 12)
        return false;
    const heif_filetype_result type = heif_check_filetype(reinterpret_cast<const std::uint8_t*>(head.data()), count);
    return type == heif_filetype_yes_supported || type == heif_filetype_yes_unsupported;
}

QImage decode(const std::filesystem::path& file, int maxPixelSize)
{
    if (isHeif(file)) {
        QImage image = decodeHeif(file);
        if (image.isNull())
            return {};
        const QSize target = boundedSize(image.size(), maxPixelSize);
        if (target != image.size())
            image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        return image;
    }

    raiseAllocationLimit();
    QImageReader reader(qtPath(file));
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    // The longer side is the same before and after the orientation is applied.
    if (stored.isValid()) {
        const QSize target = boundedSize(stored, maxPixelSize);
        if (target != stored)
            reader.setScaledSize(target);
    }
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (!stored.isValid()) {
        const QSize target = boundedSize(image.size(), maxPixelSize);
        if (target != image.size())
            image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return inSrgb(std::move(image));
}

QSize uprightSize(const std::filesystem::path& file)
{
    if (isHeif(file)) {
        const HeifPrimary primary = openHeif(file);
        if (!primary.handle)
            return {};
        return {heif_image_handle_get_width(primary.handle.get()), heif_image_handle_get_height(primary.handle.get())};
    }
    QImageReader reader(qtPath(file));
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (!stored.isValid())
        return {};
    // Orientations 5 to 8 turn the picture by a quarter.
    if (reader.transformation().testFlag(QImageIOHandler::TransformationRotate90))
        return stored.transposed();
    return stored;
}

} // namespace fotivela::PhotoDecoder
