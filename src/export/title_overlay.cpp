#include "export/title_overlay.h"

#include "platform/hex_color.h"
#include "platform/title_font.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace fotivela {

namespace {

constexpr double referenceWidth = 960.0;
constexpr double referenceHeight = 540.0;
constexpr double minimumFontSize = 12.0;
constexpr double horizontalMarginFactor = 16.0 / 42.0;
constexpr double verticalMarginFactor = 9.0 / 42.0;
constexpr int textFlags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap;

// Frames are drawn at 72 dots per inch, so that a point is a pixel.
const QImage& measuringDevice()
{
    static const QImage device = [] {
        QImage image(1, 1, QImage::Format_RGB32);
        image.setDotsPerMeterX(2835);
        image.setDotsPerMeterY(2835);
        return image;
    }();
    return device;
}

QString trimmedTitle(const std::string& title)
{
    return QString::fromStdString(title).trimmed();
}

} // namespace

std::optional<TitleOverlayLayout> titleOverlayLayout(const Slide& slide, QSizeF canvasSize)
{
    const QString text = trimmedTitle(slide.title);
    if (text.isEmpty())
        return std::nullopt;
    const double w = canvasSize.width();
    const double h = canvasSize.height();
    const double s = std::min(w / referenceWidth, h / referenceHeight) * slide.titleFontSize;
    if (!std::isfinite(s) || w <= 0 || h <= 0)
        return std::nullopt;

    TitleOverlayLayout layout;
    layout.scale = s;
    // Glyphs taller than the frame show nothing more and would only cost memory.
    layout.fontSize = std::clamp(s, minimumFontSize, std::max(minimumFontSize, 2 * h));
    const QFontMetricsF metrics(nsFont(slide.titleFontDesign, layout.fontSize), &measuringDevice());
    const QRectF measured = metrics.boundingRect(QRectF(0, 0, 0.78 * w, 0.5 * h), textFlags, text);

    const double padX = s * horizontalMarginFactor;
    const double padY = s * verticalMarginFactor;
    const double boxWidth = std::min(std::ceil(measured.width() + 2 * padX), 0.86 * w);
    const double boxHeight = std::ceil(measured.height() + 2 * padY);
    const double cx = std::clamp(std::isnan(slide.titlePositionX) ? 0.05 : slide.titlePositionX, 0.05, 0.95);
    const double cy = std::clamp(std::isnan(slide.titlePositionY) ? 0.08 : slide.titlePositionY, 0.08, 0.92);
    layout.box = QRectF(cx * w - boxWidth / 2, cy * h - boxHeight / 2, boxWidth, boxHeight);
    layout.textRect = layout.box.adjusted(padX, padY, -padX, -padY);
    return layout;
}

void drawTitleOverlay(const Slide& slide, QPainter& context, QSizeF canvasSize)
{
    const auto layout = titleOverlayLayout(slide, canvasSize);
    if (!layout)
        return;
    const double s = layout->scale;

    context.save();
    context.setRenderHint(QPainter::Antialiasing, true);
    context.setRenderHint(QPainter::TextAntialiasing, true);
    context.setOpacity(1.0);
    if (slide.titleHasBackground) {
        QPainterPath box;
        box.addRoundedRect(layout->box, 0.18 * s, 0.18 * s);
        context.fillPath(box, QColor(0, 0, 0, qRound(0.34 * 255)));
        QPen outline(QColor(255, 255, 255, qRound(0.24 * 255)));
        outline.setWidthF(std::max(1.0, 0.012 * s));
        context.strokePath(box, outline);
    }
    context.setFont(nsFont(slide.titleFontDesign, layout->fontSize));
    context.setPen(colorFromHex(slide.titleColorHex));
    context.drawText(layout->textRect, textFlags, trimmedTitle(slide.title));
    context.restore();
}

} // namespace fotivela
