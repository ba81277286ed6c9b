#include "model/preview_image_cache.h"

#include "platform/atomic_file.h"
#include "platform/photo_decoder.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageWriter>
#include <QPainter>

#include <system_error>

namespace fotivela::PreviewImageCache {

namespace fs = std::filesystem;

fs::path previewURL(const Uuid& slideID, const fs::path& projectURL)
{
    return projectURL.parent_path() / "Previews" / (slideID.toString() + ".jpg");
}

void generate(const std::vector<Slide>& slides, const fs::path& projectURL, std::stop_token stop)
{
    const fs::path folder = projectURL.parent_path() / "Previews";
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    for (const Slide& slide : slides) {
        if (stop.stop_requested())
            return;
        const fs::path target = previewURL(slide.id, projectURL);
        std::error_code error;
        if (fs::exists(fs::symlink_status(target, error)))
            continue;
        writeDownsampledPreview(slide.imageURL, target);
    }
}

bool writeDownsampledPreview(const fs::path& source, const fs::path& target)
{
    const QImage image = PhotoDecoder::decode(source, maximumPixelSize);
    if (image.isNull())
        return false;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(jpegQuality);
    // A photo with transparency is flattened on white rather than on JPEG's black.
    QImage opaque = image;
    if (image.hasAlphaChannel()) {
        opaque = QImage(image.size(), QImage::Format_RGB32);
        opaque.fill(Qt::white);
        opaque.setColorSpace(image.colorSpace());
        QPainter painter(&opaque);
        painter.drawImage(0, 0, image);
    }
    if (!writer.write(opaque))
        return false;
    try {
        atomicWriteFile(target, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), 0644);
    } catch (const FileWriteError&) {
        return false;
    }
    return true;
}

} // namespace fotivela::PreviewImageCache
