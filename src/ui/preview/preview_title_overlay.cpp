#include "ui/preview/preview_title_overlay.h"

#include "platform/hex_color.h"
#include "ui/preview/preview_geometry.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace fotivela {

void PreviewTitleOverlay::dragChanged(const Slide& slide, QSizeF monitorSize, QPointF translation)
{
    // Captured once per drag: the live store updates must not add the translation twice.
    if (!m_dragStartPosition)
        m_dragStartPosition = PreviewGeometry::clampedTitlePosition(slide.titlePositionX, slide.titlePositionY);
    const double tx = std::isfinite(translation.x()) ? translation.x() : 0;
    const double ty = std::isfinite(translation.y()) ? translation.y() : 0;
    QPointF position = PreviewGeometry::clampedTitlePosition(
        m_dragStartPosition->x() + tx / std::max(monitorSize.width(), 1.0),
        m_dragStartPosition->y() + ty / std::max(monitorSize.height(), 1.0));

    m_showVerticalCenterGuide = std::abs(position.x() - 0.5) <= snapDistance;
    if (m_showVerticalCenterGuide)
        position.setX(0.5);
    m_showHorizontalCenterGuide = std::abs(position.y() - 0.5) <= snapDistance;
    if (m_showHorizontalCenterGuide)
        position.setY(0.5);
    if (onMove)
        onMove(position.x(), position.y());
}

void PreviewTitleOverlay::dragEnded()
{
    m_dragStartPosition.reset();
    m_showVerticalCenterGuide = false;
    m_showHorizontalCenterGuide = false;
}

bool PreviewTitleOverlay::hitTest(const Slide& slide, QSizeF monitorSize, QPointF point)
{
    const auto layout = PreviewGeometry::titleLayout(slide, monitorSize);
    return layout && layout->box.contains(point);
}

void PreviewTitleOverlay::paint(QPainter& painter, const Slide& slide, QSizeF monitorSize) const
{
    const double w = monitorSize.width();
    const double h = monitorSize.height();
    const QColor guide = QColor::fromRgbF(0, 1, 1, 0.86f);
    if (m_showVerticalCenterGuide)
        painter.fillRect(QRectF(w * 0.5 - 0.75, 0, 1.5, h), guide);
    if (m_showHorizontalCenterGuide)
        painter.fillRect(QRectF(0, h * 0.5 - 0.75, w, 1.5), guide);

    const auto layout = PreviewGeometry::titleLayout(slide, monitorSize);
    if (!layout)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    if (slide.titleHasBackground) {
        QPainterPath box;
        box.addRoundedRect(layout->box, PreviewGeometry::titleCornerRadius, PreviewGeometry::titleCornerRadius);
        painter.fillPath(box, QColor::fromRgbF(0, 0, 0, 0.34f));
        // An inner border: the stroke stays inside the box.
        QPainterPath inner;
        inner.addRoundedRect(layout->box.adjusted(0.5, 0.5, -0.5, -0.5), PreviewGeometry::titleCornerRadius - 0.5,
                             PreviewGeometry::titleCornerRadius - 0.5);
        QPen border(QColor::fromRgbF(1, 1, 1, 0.24f));
        border.setWidthF(1);
        painter.strokePath(inner, border);
    }
    painter.setFont(layout->font);
    painter.setPen(colorFromHex(slide.titleColorHex));
    painter.drawText(layout->textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                     QString::fromStdString(slide.title));
    painter.restore();
}

} // namespace fotivela
