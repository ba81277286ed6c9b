#pragma once

#include "model/slide.h"

#include <QPainter>
#include <QRectF>
#include <QSizeF>

namespace fotivela {

// The box of a title and the text inside it, in frame coordinates (origin
// top-left), with the font size it is drawn at.
struct TitleOverlayLayout {
    QRectF box;
    QRectF textRect;
    double scale = 0.0; // s: the title size scaled to the frame
    double fontSize = 0.0;

    friend bool operator==(const TitleOverlayLayout&, const TitleOverlayLayout&) = default;
};

// The layout of the slide's title on a frame of canvasSize; none for a blank title.
std::optional<TitleOverlayLayout> titleOverlayLayout(const Slide& slide, QSizeF canvasSize);

// Draws the slide's title over the frame: centred text in the slide's face,
// size and colour, with an optional translucent rounded box, everything scaled
// from a 960 × 540 reference frame. A blank title draws nothing.
void drawTitleOverlay(const Slide& slide, QPainter& context, QSizeF canvasSize);

} // namespace fotivela
