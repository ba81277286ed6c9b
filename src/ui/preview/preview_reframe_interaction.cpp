#include "ui/preview/preview_reframe_interaction.h"

#include <algorithm>
#include <cmath>

namespace fotivela {

void PreviewReframeInteraction::mouseDown(QPointF location)
{
    if (onBegin)
        onBegin();
    m_lastDragLocation = location;
}

void PreviewReframeInteraction::mouseDragged(QPointF location, QSizeF bounds)
{
    // A drag whose press never arrived starts from here without a jump.
    if (m_lastDragLocation && onPan) {
        const QPointF last = *m_lastDragLocation;
        onPan((location.x() - last.x()) / std::max(bounds.width(), 1.0),
              (location.y() - last.y()) / std::max(bounds.height(), 1.0));
    }
    m_lastDragLocation = location;
}

void PreviewReframeInteraction::mouseUp()
{
    m_lastDragLocation.reset();
}

void PreviewReframeInteraction::scrollWheel(double deltaX, double deltaY, bool precise)
{
    if (onBegin)
        onBegin();
    const double d = std::abs(deltaX) > std::abs(deltaY) ? deltaX : deltaY;
    if (d == 0 || !std::isfinite(d))
        return;
    if (onZoom)
        onZoom(d * (precise ? precisePixelZoom : wheelStepZoom));
}

void PreviewReframeInteraction::magnify(double magnification)
{
    if (onBegin)
        onBegin();
    if (onZoom && std::isfinite(magnification))
        onZoom(magnification * magnificationZoom);
}

} // namespace fotivela
