#include "account/ai_contact_sheet_builder.h"

#include "platform/atomic_file.h"
#include "platform/photo_decoder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace fotivela {

namespace {

const QColor canvasColor = QColor::fromRgbF(0.08f, 0.08f, 0.08f);
const QColor emptyCellColor = QColor::fromRgbF(0.14f, 0.14f, 0.14f);
const QColor borderColor = QColor::fromRgbF(1, 1, 1, 0.85f);
const QColor captionColor = QColor::fromRgbF(1, 1, 1, 0.92f);
constexpr double cornerRadius = 8;

std::filesystem::path previewOnMainThread(const std::function<std::filesystem::path(const Slide&)>& previewURL,
                                          const Slide& slide)
{
    auto* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        return previewURL(slide);
    std::filesystem::path result;
    QMetaObject::invokeMethod(app, [&] { result = previewURL(slide); }, Qt::BlockingQueuedConnection);
    return result;
}

QFont captionFont(int pixelSize)
{
    QFont font;
    font.setFamilies({QStringLiteral("Helvetica Neue"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    font.setWeight(QFont::Medium);
    font.setPixelSize(pixelSize);
    return font;
}

void drawCenteredLabel(QPainter& painter, const std::string& text, const QRectF& rect, int fontSize)
{
    const QFont font = captionFont(fontSize);
    const QFontMetricsF metrics(font);
    const QString line = QString::fromStdString(AIContactSheetBuilder::truncatedLabel(
        text, rect.width(), [&](const QString& candidate) { return metrics.horizontalAdvance(candidate); }));
    const double lineWidth = metrics.horizontalAdvance(line);
    const QRectF bounds = metrics.tightBoundingRect(line);
    painter.save();
    painter.setFont(font);
    painter.setPen(captionColor);
    const double baseline = rect.center().y() - (bounds.top() + bounds.bottom()) / 2;
    painter.drawText(QPointF(rect.center().x() - lineWidth / 2, baseline), line);
    painter.restore();
}

} // namespace

QImage ImageDownsampler::image(const std::filesystem::path& file, int maxPixelSize)
{
    return PhotoDecoder::decode(file, std::max(maxPixelSize, 1));
}

namespace AIContactSheetBuilder {

AIContactSheetLayout layout(AIContactSheetStyle style)
{
    if (style == AIContactSheetStyle::local)
        return {220, 150, 28, 16, 8, 8, 11, 86};
    return {150, 102, 22, 10, 6, 6, 9, 72};
}

std::vector<Slide> sampleSlidesForCloudContactSheet(const std::vector<Slide>& slides)
{
    const std::size_t n = slides.size();
    if (n <= cloudSlideLimit)
        return slides;
    std::vector<Slide> sampled;
    sampled.reserve(cloudSlideLimit);
    for (std::size_t k = 0; k < cloudSlideLimit; ++k) {
        const auto index = static_cast<std::size_t>(static_cast<double>(k) / 35.0 * static_cast<double>(n - 1));
        sampled.push_back(slides[index]);
    }
    return sampled;
}

int columnCount(std::size_t slideCount, AIContactSheetStyle style)
{
    const auto columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(std::max<std::size_t>(slideCount, 1)))));
    return std::clamp(columns, 3, layout(style).maximumColumns);
}

QSize sheetSize(std::size_t slideCount, AIContactSheetStyle style)
{
    const auto l = layout(style);
    const int columns = columnCount(slideCount, style);
    const int rows = static_cast<int>((slideCount + static_cast<std::size_t>(columns) - 1) / static_cast<std::size_t>(columns));
    return {2 * l.margin + columns * l.cellWidth + (columns - 1) * l.spacing,
            2 * l.margin + rows * (l.pictureHeight + l.captionHeight) + std::max(rows - 1, 0) * l.spacing};
}

QRectF pictureRect(std::size_t index, std::size_t slideCount, AIContactSheetStyle style)
{
    const auto l = layout(style);
    const auto columns = static_cast<std::size_t>(columnCount(slideCount, style));
    const auto column = static_cast<int>(index % columns);
    const auto row = static_cast<int>(index / columns);
    return QRectF(l.margin + column * (l.cellWidth + l.spacing),
                  l.margin + row * (l.pictureHeight + l.captionHeight + l.spacing), l.cellWidth, l.pictureHeight);
}

QRectF aspectFitRect(QSizeF image, const QRectF& rect)
{
    const double imageAspect = image.width() / std::max(image.height(), 1.0);
    const double rectAspect = rect.height() > 1 ? rect.width() / rect.height() : rect.width();
    if (rectAspect < imageAspect) {
        const double height = rect.width() / imageAspect;
        return QRectF(rect.left(), rect.center().y() - height / 2, rect.width(), height);
    }
    const double width = imageAspect * rect.height();
    return QRectF(rect.center().x() - width / 2, rect.top(), width, rect.height());
}

std::string truncatedLabel(std::string_view text, double width, const std::function<double(const QString&)>& measure)
{
    const QString whole = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (measure(whole) <= width)
        return whole.toStdString();
    const QString token = QStringLiteral("...");
    // Longest prefix (whole characters) that fits with the token.
    qsizetype low = 0;
    qsizetype high = whole.size();
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (measure(whole.left(middle) + token) <= width)
            low = middle;
        else
            high = middle - 1;
    }
    if (low > 0 && whole[low - 1].isHighSurrogate())
        --low;
    return (whole.left(low) + token).toStdString();
}

std::filesystem::path makeContactSheet(const std::vector<Slide>& slides,
                                       const std::function<std::filesystem::path(const Slide&)>& previewURL,
                                       const std::filesystem::path& outputURL, AIContactSheetStyle style)
{
    std::error_code folderError;
    std::filesystem::create_directories(outputURL.parent_path(), folderError);
    if (folderError)
        throw FileWriteError(outputURL.parent_path(), folderError.value());

    const auto l = layout(style);
    const QSize size = sheetSize(slides.size(), style);
    QImage sheet(size, QImage::Format_ARGB32_Premultiplied);
    if (sheet.isNull())
        throw AIContactSheetError();
    sheet.fill(canvasColor);
    {
        QPainter painter(&sheet);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
        const int thumbnailSize = 3 * std::max(l.cellWidth, l.pictureHeight);
        for (std::size_t k = 0; k < slides.size(); ++k) {
            const Slide& slide = slides[k];
            const auto preview = previewOnMainThread(previewURL, slide);
            std::error_code ignored;
            const auto source = !preview.empty() && std::filesystem::exists(preview, ignored) ? preview : slide.imageURL;

            const QRectF picture = pictureRect(k, slides.size(), style);
            QPainterPath rounded;
            rounded.addRoundedRect(picture, cornerRadius, cornerRadius);
            painter.fillRect(picture, emptyCellColor);
            const QImage thumbnail = ImageDownsampler::image(source, thumbnailSize);
            if (!thumbnail.isNull()) {
                painter.save();
                painter.setClipPath(rounded);
                painter.drawImage(aspectFitRect(thumbnail.size(), picture), thumbnail);
                painter.restore();
            }
            painter.save();
            painter.setPen(QPen(borderColor, 1));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(rounded);
            painter.restore();

            const QRectF caption(picture.left(), picture.bottom() + 2, l.cellWidth, l.captionHeight - 8);
            drawCenteredLabel(painter, std::to_string(k + 1) + ". " + slide.name, caption, l.captionFontSize);
        }
    }

    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !sheet.convertToFormat(QImage::Format_RGB32).save(&buffer, "JPG", l.jpegQuality))
        throw AIContactSheetError();
    try {
        atomicWriteFile(outputURL, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), 0644);
    } catch (const FileWriteError&) {
        throw AIContactSheetError();
    }
    return outputURL;
}

} // namespace AIContactSheetBuilder

} // namespace fotivela
