#pragma once

#include "model/slide.h"
#include "ui/common/view_helpers.h"

#include <QImage>
#include <QPainter>
#include <QRectF>

namespace fotivela {

// How a photo-lane tile looks. Tiles are painted by the lane, not made into widgets: a
// timeline holds hundreds of them.
namespace TimelineThumbnail {

struct Look {
    bool selected = false;
    bool active = false;
    TimelinePointerRegion hoverRegion = TimelinePointerRegion::none;
    bool allowResize = true;
};

// Tiles narrower than this show a glyph and never load a picture.
inline constexpr double pictureMinimumWidth = 58;

double pictureHeight(double tileHeight);
// The picture's frame inside a wide tile.
QRectF pictureFrame(const QRectF& tile);
QString durationLabel(double seconds);
// The tile's corner radius: 7, or half the tile's narrower side when that is smaller.
double cornerRadius(const QRect& tile);

// `image` is the slide's preview when one is loaded, else null.
void paint(QPainter& painter, const QRectF& tile, const Slide& slide, const Look& look, const QImage* image);

void paintResizeHandle(QPainter& painter, const QRectF& tile, ResizeEdge edge, bool active);

} // namespace TimelineThumbnail

} // namespace fotivela
