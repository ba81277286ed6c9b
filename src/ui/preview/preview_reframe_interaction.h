#pragma once

#include <QPointF>
#include <QSizeF>

#include <functional>
#include <optional>

namespace fotivela {

// Turns pointer, wheel and pinch input over the monitor into framing changes of the shown
// photo. Pans are fractions of the monitor (y down); zooms are changes of the image scale.
class PreviewReframeInteraction {
public:
    std::function<void()> onBegin;
    std::function<void(double)> onZoom;
    std::function<void(double, double)> onPan;

    // Wheel steps zoom by 0.035 each; precise (touchpad) pixels by 0.006 each.
    static constexpr double wheelStepZoom = 0.035;
    static constexpr double precisePixelZoom = 0.006;
    static constexpr double magnificationZoom = 1.2;

    void mouseDown(QPointF location);
    void mouseDragged(QPointF location, QSizeF bounds);
    void mouseUp();
    // Deltas in wheel steps (precise false) or in pixels (precise true); the larger axis
    // wins, ties go to y.
    void scrollWheel(double deltaX, double deltaY, bool precise);
    void magnify(double magnification);

    const std::optional<QPointF>& lastDragLocation() const { return m_lastDragLocation; }

private:
    std::optional<QPointF> m_lastDragLocation;
};

} // namespace fotivela
