#include "model/preview_image_cache.h"

#include "platform/atomic_file.h"
#include "platform/photo_decoder.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageWriter>
#include <QPainter>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

namespace fotivela::PreviewImageCache {

namespace fs = std::filesystem;

namespace {

// Previews are background work beside the analysis and the interface: at most a few cores.
const std::size_t maximumWorkers = std::clamp<std::size_t>(std::thread::hardware_concurrency() / 2, 1, 4);

} // namespace

fs::path previewURL(const Uuid& slideID, const fs::path& projectURL)
{
    return projectURL.parent_path() / "Previews" / (slideID.toString() + ".jpg");
}

QImage decodeShownImage(const Slide& slide, const fs::path& projectURL, int maxPixelSize)
{
    const fs::path preview = previewURL(slide.id, projectURL);
    std::error_code error;
    const bool previewExists = fs::exists(preview, error);
    if (!previewExists || PhotoDecoder::mayHaveTransparency(slide.imageURL)) {
        QImage image = PhotoDecoder::decode(slide.imageURL, maxPixelSize);
        // The preview stands in for an original that cannot be read.
        if (!image.isNull() || !previewExists)
            return image;
    }
    return PhotoDecoder::decode(preview, maxPixelSize);
}

void generate(const std::vector<Slide>& slides, const fs::path& projectURL, std::stop_token stop)
{
    const fs::path folder = projectURL.parent_path() / "Previews";
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    std::vector<const Slide*> missing;
    for (const Slide& slide : slides) {
        std::error_code error;
        if (!fs::exists(fs::symlink_status(previewURL(slide.id, projectURL), error)))
            missing.push_back(&slide);
    }

    // Decoding dominates and each photo is independent: a few workers share the list, each
    // taking the next slide in order and checking for a stop request before it starts one.
    std::atomic<std::size_t> next = 0;
    const auto work = [&] {
        for (std::size_t i = next++; i < missing.size(); i = next++) {
            if (stop.stop_requested())
                return;
            writeDownsampledPreview(missing[i]->imageURL, previewURL(missing[i]->id, projectURL));
        }
    };
    const std::size_t helpers = std::min<std::size_t>(maximumWorkers, missing.size()) - (missing.empty() ? 0 : 1);
    std::vector<std::jthread> threads;
    threads.reserve(helpers);
    for (std::size_t i = 0; i < helpers; ++i)
        threads.emplace_back(work);
    work();
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
