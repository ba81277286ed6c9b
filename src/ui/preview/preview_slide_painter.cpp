#include "ui/preview/preview_slide_painter.h"

#include "ui/preview/preview_title_overlay.h"

#include <QPainter>

namespace fotivela {

void paintPreviewSlide(QPainter& painter, const PreviewSlideScene& scene, QSizeF monitorSize,
                       const PreviewTitleOverlay* overlay)
{
    const QRectF bounds(QPointF(0, 0), monitorSize);
    painter.save();
    painter.setClipRect(bounds, Qt::IntersectClip);
    painter.fillRect(bounds, scene.background);
    if (!scene.image.isNull()) {
        const QRectF target = PreviewGeometry::imageRect(scene.slide, QSizeF(scene.image.size()), monitorSize,
                                                         scene.motion, scene.fillsFrame);
        if (target.isValid()) {
            painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
            painter.drawImage(target, scene.image);
        }
    }
    if (overlay)
        overlay->paint(painter, scene.slide, monitorSize);
    else
        PreviewTitleOverlay().paint(painter, scene.slide, monitorSize);
    painter.restore();
}

} // namespace fotivela
