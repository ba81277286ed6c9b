#include "platform/photo_decoder.h"

#include "platform/log.h"
#include "platform/photo_decode_budget.h"
#include "platform/photo_transparency_header.h"
#include "platform/regular_file.h"

#include <QColorSpace>
#include <QFile>
#include <QImageReader>

#include <unistd.h>

#include <libheif/heif.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>

namespace fotivela::PhotoDecoder {

namespace {

// Qt refuses images above 128 MB by default; a 50-megapixel photo is larger than that
// before it is scaled down. Qt's limit bounds only the final image: the budget checked
// before decoding bounds the rest.
void setAllocationLimit()
{
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(int(PhotoDecodeBudget::perDecodeLimitBytes >> 20)); });
}

// Qt's reader over the file opened by its bytes: a name that is not valid UTF-8 would
// not survive a trip through QString.
struct PhotoReader {
    std::optional<RegularFile> file;
    QFile device;
    QImageReader reader;

    explicit PhotoReader(std::optional<RegularFile> opened)
        : file(std::move(opened))
    {
        if (!file || !device.open(file->descriptor(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
            return;
        reader.setDevice(&device);
        reader.setAutoTransform(true);
    }
    PhotoReader(const PhotoReader&) = delete;
    PhotoReader& operator=(const PhotoReader&) = delete;
};

void logRefusal(const std::filesystem::path& file, QSize size, std::int64_t bytes)
{
    logLine("Fotivela photo: " + file.string() + " declares " + std::to_string(size.width()) + "x"
            + std::to_string(size.height()) + " pixels, " + std::to_string(bytes >> 20)
            + " MB to decode, above the limit of " + std::to_string(PhotoDecodeBudget::perDecodeLimitBytes >> 20)
            + " MB: not decoded");
}

// Bytes a pixel of the image Qt decodes into.
std::int64_t pixelBytes(QImage::Format format)
{
    const int bits = format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
    return std::max((bits + 7) / 8, 1);
}

// The formats Qt's smooth scaling works in; it first copies any other image into one of them.
bool scalesInPlace(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888_Premultiplied:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64_Premultiplied:
        return true;
    default:
        return false;
    }
}

// The premultiplied twin of a format that Qt's scaling would copy whole into it; none for the others.
QImage::Format premultipliedTwin(QImage::Format format)
{
    switch (format) {
    case QImage::Format_ARGB32:
        return QImage::Format_ARGB32_Premultiplied;
    case QImage::Format_RGBA8888:
        return QImage::Format_RGBA8888_Premultiplied;
    case QImage::Format_RGBA64:
        return QImage::Format_RGBA64_Premultiplied;
    default:
        return QImage::Format_Invalid;
    }
}

// Bytes a pixel while Qt scales: 16 bits a channel stay 16 bits, grey ones too.
std::int64_t scalingPixelBytes(QImage::Format format)
{
    switch (format) {
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
        return 8;
    default:
        return 4;
    }
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

constexpr int maximumHeifSide = 16384;

struct HeifDecodingOptionsDeleter {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
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
    // libheif's own guard against huge declared sizes, below its default.
    heif_context_set_maximum_image_size_limit(primary.context.get(), maximumHeifSide);
    if (heif_context_read_from_file(primary.context.get(), file.c_str(), nullptr).code != heif_error_Ok)
        return primary;
    heif_image_handle* handle = nullptr;
    if (heif_context_get_primary_image_handle(primary.context.get(), &handle).code == heif_error_Ok)
        primary.handle.reset(handle);
    return primary;
}

// libheif's YUV planes and its interleaved copy, before Qt's image of the result. Qt
// scales RGBA only after a premultiplied copy of the whole photo.
std::int64_t heifDecodeBytes(QSize size, QSize target, bool alpha)
{
    const std::int64_t pixels = std::int64_t{size.width()} * size.height();
    return pixels * (alpha && target != size ? 8 : 6) + std::int64_t{target.width()} * target.height() * 4 * 2;
}

// libheif applies the rotation and mirror boxes while decoding.
QImage decodeHeif(const std::filesystem::path& file, const std::filesystem::path& shown, int maxPixelSize)
{
    const HeifPrimary primary = openHeif(file);
    if (!primary.handle)
        return {};
    const QSize size(heif_image_handle_get_width(primary.handle.get()), heif_image_handle_get_height(primary.handle.get()));
    if (size.isEmpty())
        return {};
    const QSize target = boundedSize(size, maxPixelSize);
    const bool alpha = heif_image_handle_has_alpha_channel(primary.handle.get()) != 0;
    const std::int64_t bytes = heifDecodeBytes(size, target, alpha);
    if (bytes > PhotoDecodeBudget::perDecodeLimitBytes) {
        logRefusal(shown, size, bytes);
        return {};
    }
    const PhotoDecodeBudget::Reservation reservation(bytes);
    const std::unique_ptr<heif_decoding_options, HeifDecodingOptionsDeleter> options(heif_decoding_options_alloc());
    if (!options)
        return {};
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    // Four bytes a pixel: Qt scales RGBX and RGBA directly, with no converted copy of the whole photo.
    const heif_error error = heif_decode_image(primary.handle.get(), &decoded, heif_colorspace_RGB,
                                               heif_chroma_interleaved_RGBA, options.get());
    std::unique_ptr<heif_image, HeifImageDeleter> image(decoded);
    if (error.code != heif_error_Ok || !image)
        return {};
    int stride = 0;
    const std::uint8_t* pixels = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!pixels || width <= 0 || height <= 0 || stride <= 0)
        return {};
    const QImage view(pixels, width, height, stride, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
    // The view points into libheif's buffer, which goes with `image`: what is returned is a copy.
    const QSize wanted = boundedSize(view.size(), maxPixelSize);
    const QImage result = wanted != view.size() ? view.scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation) : view.copy();
    return result.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
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

namespace {

bool startsAsHeif(const RegularFile& file)
{
    std::array<std::uint8_t, 32> head{};
    const ssize_t count = ::pread(file.descriptor(), head.data(), head.size(), 0);
    if (count < 12)
        return false;
    const heif_filetype_result type = heif_check_filetype(head.data(), static_cast<int>(count));
    return type == heif_filetype_yes_supported || type == heif_filetype_yes_unsupported;
}

} // namespace

bool isHeif(const std::filesystem::path& file)
{
    const std::optional<RegularFile> opened = RegularFile::open(file);
    return opened && startsAsHeif(*opened);
}

namespace {

// How Qt's reader will go about a photo, read once from its header.
struct ReadPlan {
    QImage::Format format = QImage::Format_Invalid;
    bool webp = false;
    // Qt's reader scales while it reads a JPEG (libjpeg's reduced sizes) and an 8-bit colour PNG
    // without interlacing (row by row); anything else it decodes whole first.
    bool rowByRow = false;
    // The whole image is premultiplied in place before it is scaled, so Qt's scaling needs no
    // copy of it.
    bool premultipliedFirst = false;
};

ReadPlan readPlan(const std::filesystem::path& file, QImageReader& reader, bool scaled)
{
    ReadPlan plan;
    plan.webp = PhotoDecodeBudget::isWebp(file);
    // Qt's WebP reader tells its format only after decoding: the wider of the two it uses.
    plan.format = reader.imageFormat();
    if (plan.format == QImage::Format_Invalid && plan.webp)
        plan.format = QImage::Format_ARGB32;
    plan.rowByRow = (plan.format == QImage::Format_RGB32 || plan.format == QImage::Format_ARGB32)
        && PhotoDecodeBudget::isProgressivelyReadablePng(file);
    // Qt scales straight alpha only from a premultiplied copy of the whole photo: made in
    // place, the copy costs nothing. A turned photo is copied by the turn anyway.
    plan.premultipliedFirst = scaled && premultipliedTwin(plan.format) != QImage::Format_Invalid
        && reader.transformation() == QImageIOHandler::TransformationNone && !plan.rowByRow;
    return plan;
}

// What decoding to `target` takes, from the header alone.
std::int64_t decodeBytes(const std::filesystem::path& file, const ReadPlan& plan, QSize stored, QSize target)
{
    if (const auto jpeg = PhotoDecodeBudget::readJpegLayout(file))
        return PhotoDecodeBudget::jpegDecodeBytes(*jpeg, target.width(), target.height());
    const std::int64_t targetPixels = std::int64_t{target.width()} * target.height();
    const bool scaled = target != stored;
    if (scaled && plan.rowByRow)
        return targetPixels * 4 + std::int64_t{stored.width()} * 8;
    // Decoded whole at its own depth, then scaled. A GIF's canvas is its logical screen,
    // whatever its first frame says.
    QSize canvas = stored;
    if (const auto screen = PhotoDecodeBudget::readGifScreen(file))
        canvas = canvas.expandedTo(QSize(screen->first, screen->second));
    const std::int64_t canvasPixels = std::int64_t{canvas.width()} * canvas.height();
    std::int64_t bytes = canvasPixels * pixelBytes(plan.format);
    if (scaled || canvas != stored) {
        const std::int64_t scaling = scalingPixelBytes(plan.format);
        bytes += targetPixels * scaling;
        if (!scalesInPlace(plan.format) && !plan.premultipliedFirst)
            bytes += canvasPixels * scaling;
    }
    // Qt's WebP reader holds the whole file, and the decoder an alpha plane.
    if (plan.webp) {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(file, error);
        bytes += canvasPixels + (error ? 0 : static_cast<std::int64_t>(size));
    }
    return bytes;
}

} // namespace

QImage decode(const std::filesystem::path& path, int maxPixelSize)
{
    std::optional<RegularFile> opened = RegularFile::open(path);
    if (!opened)
        return {};
    // Every later reader goes through the descriptor checked here, never the user's path again.
    const std::filesystem::path file = opened->reopenPath();
    if (startsAsHeif(*opened))
        return decodeHeif(file, path, maxPixelSize);

    setAllocationLimit();
    PhotoReader photo(std::move(opened));
    if (!photo.device.isOpen())
        return {};
    QImageReader& reader = photo.reader;
    const QSize stored = reader.size();
    // The longer side is the same before and after the orientation is applied.
    const QSize target = boundedSize(stored, maxPixelSize);
    const bool scaled = stored.isValid() && target != stored;
    // A reader that cannot tell the size has no format worth asking for either.
    const ReadPlan plan = stored.isValid() ? readPlan(file, reader, scaled) : ReadPlan{};
    // A format that cannot tell its size is bounded by Qt's allocation limit alone.
    const std::int64_t bytes = stored.isValid() ? decodeBytes(file, plan, stored, target)
                                                : PhotoDecodeBudget::perDecodeLimitBytes;
    if (bytes > PhotoDecodeBudget::perDecodeLimitBytes) {
        logRefusal(path, stored, bytes);
        return {};
    }
    const PhotoDecodeBudget::Reservation reservation(bytes);
    if (scaled && !plan.premultipliedFirst)
        reader.setScaledSize(target);
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (const QImage::Format twin = premultipliedTwin(image.format()); plan.premultipliedFirst && twin != QImage::Format_Invalid)
        image.convertTo(twin);
    // A decoder may give more than its header said (a GIF frame on a larger screen).
    const QSize bounded = boundedSize(image.size(), maxPixelSize);
    if (bounded != image.size())
        image = image.scaled(bounded, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return inSrgb(std::move(image));
}

QSize uprightSize(const std::filesystem::path& path)
{
    std::optional<RegularFile> opened = RegularFile::open(path);
    if (!opened)
        return {};
    if (startsAsHeif(*opened)) {
        const HeifPrimary primary = openHeif(opened->reopenPath());
        if (!primary.handle)
            return {};
        return {heif_image_handle_get_width(primary.handle.get()), heif_image_handle_get_height(primary.handle.get())};
    }
    PhotoReader photo(std::move(opened));
    if (!photo.device.isOpen())
        return {};
    QImageReader& reader = photo.reader;
    const QSize stored = reader.size();
    if (!stored.isValid())
        return {};
    // Orientations 5 to 8 turn the picture by a quarter.
    if (reader.transformation().testFlag(QImageIOHandler::TransformationRotate90))
        return stored.transposed();
    return stored;
}

bool mayHaveTransparency(const std::filesystem::path& path)
{
    std::optional<RegularFile> opened = RegularFile::open(path);
    if (!opened)
        return false;
    if (startsAsHeif(*opened)) {
        const HeifPrimary primary = openHeif(opened->reopenPath());
        return primary.handle && heif_image_handle_has_alpha_channel(primary.handle.get()) != 0;
    }
    if (const std::optional<bool> declared = PhotoTransparencyHeader::read(*opened))
        return *declared;
    PhotoReader photo(std::move(opened));
    if (!photo.device.isOpen() || !photo.reader.canRead())
        return false;
    const QImage::Format format = photo.reader.imageFormat();
    return format == QImage::Format_Invalid || QImage::toPixelFormat(format).alphaUsage() == QPixelFormat::UsesAlpha;
}

} // namespace fotivela::PhotoDecoder
