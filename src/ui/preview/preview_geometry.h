#pragma once

#include "model/fotivela_project.h"
#include "model/slide.h"

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <optional>

class QImage;
class QPainter;

namespace fotivela {

// The sizes and positions the preview monitor draws with, kept apart from the widgets so
// that the preview and its tests share one rule.
namespace PreviewGeometry {

// The monitor for the space its area offers: the project's ratio, a little inset, never
// smaller than a 240 x 135 box allows.
QSizeF previewSize(QSizeF offered, ProjectFormat format);

// The project background as drawn behind every slide.
QColor backgroundColor(const FotivelaProject& project);

// Cut when the project has no slides or its first slide cuts; dissolve otherwise.
SlideTransition panelTransition(const FotivelaProject& project);

struct KenBurnsMotion {
    double scale = 1.0;
    QPointF offset; // points of the monitor, y down
};

// The motion of a slide at progress p (0...1) inside it, on a monitor of the given size.
KenBurnsMotion kenBurnsMotion(const Slide& slide, double progress, QSizeF monitorSize);

// Where the photo lands on the monitor: the framing rule with the user's scale and offsets,
// then the Ken Burns pan, the same way exported frames place it.
QRectF imageRect(const Slide& slide, QSizeF imageSize, QSizeF monitorSize, const KenBurnsMotion& motion,
                 bool fillsFrame);

// The title as the preview draws it: fixed paddings and no lower size limit.
struct TitleLayout {
    QRectF box;      // the padded text, what the pointer grabs
    QRectF textRect; // inside the paddings
    QFont font;
    double fontSize = 0;
};
inline constexpr double titleHorizontalPadding = 16;
inline constexpr double titleVerticalPadding = 9;
inline constexpr double titleCornerRadius = 9;

std::optional<TitleLayout> titleLayout(const Slide& slide, QSizeF monitorSize);

// The title position clamped to where the title may stand.
QPointF clampedTitlePosition(double x, double y);

} // namespace PreviewGeometry

} // namespace fotivela
