#pragma once

#include "model/slide.h"
#include "ui/preview/preview_geometry.h"

#include <QColor>
#include <QImage>
#include <QSizeF>

class QPainter;

namespace fotivela {

class PreviewTitleOverlay;

// What one slide layer of the monitor needs to be drawn.
struct PreviewSlideScene {
    Slide slide;
    QImage image; // null until the slide's preview image is available
    QColor background;
    PreviewGeometry::KenBurnsMotion motion;
    bool fillsFrame = false;
};

// Draws one slide on a monitor of the given size with its origin at the painter's origin:
// the background, the framed and moving photo, the title (with the overlay's guides when
// given). The painter's opacity applies to all of it.
void paintPreviewSlide(QPainter& painter, const PreviewSlideScene& scene, QSizeF monitorSize,
                       const PreviewTitleOverlay* overlay);

} // namespace fotivela
