#include "ui/timeline/timeline_thumbnail.h"

#include "ui/timeline/timeline_metrics.h"

#include <QPainterPath>

#include <optional>

#include <algorithm>
#include <cmath>

namespace fotivela::TimelineThumbnail {

using namespace TimelineMetrics;

double pictureHeight(double tileHeight) { return std::clamp(tileHeight - 10, 42.0, 66.0); }

QRectF pictureFrame(const QRectF& tile)
{
    const double w = std::min(std::max(tile.width() - 18, 34.0), 76.0);
    const double h = pictureHeight(tile.height());
    return QRectF(tile.left() + 5, tile.center().y() - h / 2, w, h);
}

QString durationLabel(double seconds) { return QString::asprintf("%.1fs", seconds); }

namespace {

// The raster engine hands fills of more than about a hundred rows to its thread pool; a lane of
// hundreds of thin tiles then spends its time waking threads. Bands of 64 rows stay on this one.
void fillBanded(QPainter& painter, const QRect& rect, const QColor& colour)
{
    for (int top = rect.top(); top <= rect.bottom(); top += 64)
        painter.fillRect(QRect(rect.left(), top, rect.width(), std::min(64, rect.bottom() + 1 - top)), colour);
}

// A rounded box drawn as two smoothed caps and a plain middle, so no single fill is tall
// enough to go to the thread pool.
void paintRoundedBox(QPainter& painter, const QRect& box, double radius, std::optional<QColor> fill,
                     std::optional<QColor> stroke, double strokeWidth)
{
    const QRectF r(box);
    const double capHeight = std::min(radius, r.height() / 2);
    const auto cap = [&](bool top) {
        QPainterPath path;
        const double edgeY = top ? r.top() + capHeight : r.bottom() - capHeight;
        const double outerY = top ? r.top() : r.bottom();
        path.moveTo(r.left(), edgeY);
        path.quadTo(r.left(), outerY, r.left() + radius, outerY);
        path.lineTo(r.right() - radius, outerY);
        path.quadTo(r.right(), outerY, r.right(), edgeY);
        return path;
    };
    painter.save();
    if (fill) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(*fill);
        painter.drawPath(cap(true));
        painter.drawPath(cap(false));
        fillBanded(painter, QRect(box.left(), box.top() + static_cast<int>(capHeight), box.width(),
                                  box.height() - 2 * static_cast<int>(capHeight)), *fill);
    }
    if (stroke) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(*stroke, strokeWidth, Qt::SolidLine, Qt::FlatCap));
        painter.drawPath(cap(true));
        painter.drawPath(cap(false));
        const int line = std::max(static_cast<int>(std::lround(strokeWidth / 2)), 1);
        const int top = box.top() + static_cast<int>(capHeight);
        const int height = box.height() - 2 * static_cast<int>(capHeight);
        fillBanded(painter, QRect(box.left(), top, line, height), *stroke);
        fillBanded(painter, QRect(box.right() + 1 - line, top, line, height), *stroke);
    }
    painter.restore();
}

void paintPicture(QPainter& painter, const QRectF& tile, const QImage* image)
{
    const QRectF frame = pictureFrame(tile);
    QPainterPath clip;
    clip.addRoundedRect(frame, 6, 6);
    painter.save();
    painter.setClipPath(clip, Qt::IntersectClip);
    painter.fillRect(frame, Qt::black);
    if (image && !image->isNull()) {
        QSizeF size = image->size();
        size.scale(frame.size(), Qt::KeepAspectRatio);
        const QRectF target(frame.center().x() - size.width() / 2, frame.center().y() - size.height() / 2,
                            size.width(), size.height());
        painter.drawImage(target, *image);
    } else {
        painter.fillRect(frame, withOpacity(Qt::black, 0.82));
    }
    painter.restore();
    painter.setPen(QPen(withOpacity(Qt::white, 0.12), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(clip);
}

void paintPlaceholder(QPainter& painter, const QRectF& tile)
{
    const double w = tile.width();
    const double frameWidth = std::max(w - 10, 4.0);
    const double h = pictureHeight(tile.height());
    const QRectF frame(tile.left() + 4, tile.center().y() - h / 2, frameWidth, h);
    const double radius = w < 18 ? 2 : 5;
    QPainterPath shape;
    shape.addRoundedRect(frame, radius, radius);
    painter.fillPath(shape, withOpacity(Qt::black, 0.5));
    // The "photo" glyph: a framed landscape.
    const double size = std::clamp(w * 0.38, 9.0, 22.0);
    const QRectF glyph(frame.center().x() - size / 2, frame.center().y() - size * 0.4, size, size * 0.8);
    painter.setPen(QPen(withOpacity(Qt::white, w < 14 ? 0.45 : 0.8), std::max(size / 12, 1.0)));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(glyph, size / 8, size / 8);
    painter.drawPolyline(QPolygonF({QPointF(glyph.left() + size * 0.12, glyph.bottom() - size * 0.12),
                                    QPointF(glyph.left() + size * 0.4, glyph.top() + size * 0.35),
                                    QPointF(glyph.right() - size * 0.12, glyph.bottom() - size * 0.12)}));
}

void paintDurationLabel(QPainter& painter, const QRectF& tile, double duration)
{
    const QString text = durationLabel(duration);
    QFont font = painter.font();
    font.setPixelSize(9);
    font.setBold(true);
    QFontMetricsF metrics(font);
    double textWidth = metrics.horizontalAdvance(text);
    const double available = std::max(tile.width() - 12 - 14, 1.0);
    if (textWidth > available) {
        // Shrinks to 0.7 of its size at most.
        const double factor = std::max(available / textWidth, 0.7);
        font.setPixelSize(std::max(1, static_cast<int>(std::lround(9 * factor))));
        metrics = QFontMetricsF(font);
        textWidth = metrics.horizontalAdvance(text);
    }
    const QRectF box(tile.right() - 6 - textWidth - 14, tile.top() + 6, textWidth + 14, metrics.height() + 8);
    QPainterPath shape;
    shape.addRoundedRect(box, 4, 4);
    painter.fillPath(shape, withOpacity(Qt::black, 0.78));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
}

} // namespace

void paintResizeHandle(QPainter& painter, const QRectF& tile, ResizeEdge edge, bool active)
{
    const QColor accent = accentColor();
    const QRectF strip(edge == ResizeEdge::left ? tile.left() : tile.right() - 30, tile.top(), 30, tile.height());
    // The idle strip is practically invisible (white at 0.001): only the hovered one is filled.
    if (active)
        painter.fillRect(strip.toAlignedRect(), withOpacity(accent, 0.16));
    const double barWidth = active ? 4 : 2;
    const double barHeight = std::min(active ? 48.0 : 34.0, tile.height());
    const double barX = edge == ResizeEdge::left ? strip.left() + 8 : strip.right() - 8 - barWidth;
    painter.fillRect(QRectF(barX, std::round(tile.center().y() - barHeight / 2), barWidth, barHeight).toAlignedRect(),
                     active ? accent : withOpacity(Qt::white, 0.42));
    if (active) {
        const QPointF c = strip.center();
        painter.setPen(QPen(accent, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawLine(c + QPointF(-5, 0), c + QPointF(5, 0));
        painter.drawPolyline(QPolygonF({c + QPointF(-2.5, -2.5), c + QPointF(-5, 0), c + QPointF(-2.5, 2.5)}));
        painter.drawPolyline(QPolygonF({c + QPointF(2.5, -2.5), c + QPointF(5, 0), c + QPointF(2.5, 2.5)}));
    }
}

double cornerRadius(const QRect& tile)
{
    // Corners never larger than half the tile: a narrow tile is a rounded bar, not a box.
    return std::min(7.0, std::min(tile.width(), tile.height()) / 2.0);
}

void paint(QPainter& painter, const QRectF& tile, const Slide& slide, const Look& look, const QImage* image)
{
    const QColor edge = look.selected ? accentColor() : withOpacity(Qt::white, look.active ? 0.85 : 0.15);
    const QRect pixels = tile.toAlignedRect();
    const double radius = cornerRadius(pixels);
    paintRoundedBox(painter, pixels, radius, withOpacity(Qt::black, 0.26), std::nullopt, 0);

    painter.save();
    // A pixel-aligned clip keeps the painter on its fast rectangular path; everything of the
    // tile, the glyph and the handles of a narrow one included, is cut off at its edges.
    painter.setClipRect(pixels, Qt::IntersectClip);
    if (tile.width() >= pictureMinimumWidth)
        paintPicture(painter, tile, image);
    else
        paintPlaceholder(painter, tile);
    if (tile.width() >= 38)
        paintDurationLabel(painter, tile, slide.duration);
    if (look.allowResize) {
        paintResizeHandle(painter, tile, ResizeEdge::left, look.hoverRegion == TimelinePointerRegion::leftResize);
        paintResizeHandle(painter, tile, ResizeEdge::right, look.hoverRegion == TimelinePointerRegion::rightResize);
    }
    painter.restore();

    // Selection outranks the current-slide look.
    paintRoundedBox(painter, pixels, radius, std::nullopt, edge, look.selected ? 3 : 1.5);
}

} // namespace fotivela::TimelineThumbnail
