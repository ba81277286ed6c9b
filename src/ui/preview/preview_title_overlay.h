#pragma once

#include "model/slide.h"

#include <QPointF>
#include <QSizeF>

#include <functional>
#include <optional>

class QPainter;

namespace fotivela {

// A slide's title over the monitor: drawn as the video will show it and dragged with
// snapping to the centre lines, where thin guides show the snap.
class PreviewTitleOverlay {
public:
    static constexpr double snapDistance = 0.025;

    std::function<void(double, double)> onMove;

    // Each change of a drag, with the pointer's translation in points since it began.
    void dragChanged(const Slide& slide, QSizeF monitorSize, QPointF translation);
    void dragEnded();

    bool isDragging() const { return m_dragStartPosition.has_value(); }
    bool showVerticalCenterGuide() const { return m_showVerticalCenterGuide; }
    bool showHorizontalCenterGuide() const { return m_showHorizontalCenterGuide; }

    // True when the point lies on the drawn title (its padded box).
    static bool hitTest(const Slide& slide, QSizeF monitorSize, QPointF point);

    // The guides of this overlay and the slide's title, in monitor coordinates.
    void paint(QPainter& painter, const Slide& slide, QSizeF monitorSize) const;

private:
    std::optional<QPointF> m_dragStartPosition;
    bool m_showVerticalCenterGuide = false;
    bool m_showHorizontalCenterGuide = false;
};

} // namespace fotivela
