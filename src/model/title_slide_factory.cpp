#include "model/title_slide_factory.h"

#include "platform/atomic_file.h"
#include "platform/log.h"

#include <QBuffer>
#include <QImage>

#include <cstring>
#include <system_error>

namespace fotivela::TitleSlideFactory {

namespace fs = std::filesystem;

fs::path generatedTitleSlideImageURL(const Uuid& id, const fs::path& projectURL)
{
    return projectURL.parent_path() / "Previos" / "TitleSlides" / ("title-" + id.toString() + ".png");
}

void createBlackTitleSlideImage(const fs::path& url)
{
    std::error_code error;
    fs::create_directories(url.parent_path(), error);
    if (error) {
        logLine("No se pudo crear la pantalla de titulo: " + error.message());
        return;
    }
    QImage image(titleImageWidth, titleImageHeight, QImage::Format_RGB32);
    image.fill(Qt::black);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return;
    try {
        atomicWriteFile(url, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), 0644);
    } catch (const FileWriteError& failure) {
        logLine("No se pudo crear la pantalla de titulo: " + std::string(std::strerror(failure.errorNumber())));
    }
}

void copyTitleStyle(const Slide& source, Slide& target, const std::string& fallbackTitle)
{
    target.title = source.title.empty() ? fallbackTitle : source.title;
    target.titleFontSize = source.titleFontSize;
    target.titleColorHex = source.titleColorHex;
    target.titleFontDesign = source.titleFontDesign;
    target.titleHasBackground = source.titleHasBackground;
    target.titlePositionX = source.titlePositionX;
    target.titlePositionY = source.titlePositionY;
}

} // namespace fotivela::TitleSlideFactory
