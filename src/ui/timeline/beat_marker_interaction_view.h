#pragma once

#include "analysis/beat_marker_editing_rules.h"
#include "model/beat_marker.h"

#include <QPointF>
#include <QMenu>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>



namespace fotivela {

// Transparent surface over the ruler's marker strip: hover, selection, dragging markers within
// the editing rules' bounds, seeking in empty strip and the enable/disable context menu. It
// only reports; the panel turns the reports into store operations.
class BeatMarkerInteractionView : public QWidget {

public:
    explicit BeatMarkerInteractionView(QWidget* parent = nullptr);

    std::vector<BeatMarker> markers;
    double duration = 1;
    double horizontalInset = 0;
    double snapTolerance = 0;
    std::function<void(double)> onScrub;
    std::function<void(std::optional<Uuid>)> onSelect;
    std::function<void(Uuid)> onToggle;
    std::function<void(Uuid, double)> onMove;
    std::function<void(bool)> onEditingChanged;

    static constexpr double markerDragThreshold = 7;

    const std::optional<Uuid>& hoveredMarkerID() const { return m_hoveredMarkerID; }
    const std::optional<Uuid>& draggedMarkerID() const { return m_draggedMarkerID; }
    // The context menu of the last right click, while it is open.
    QMenu* contextMenu() const { return m_menu.data(); }

    double markerX(const BeatMarker& marker) const;
    double timeAt(QPointF point) const;
    std::optional<BeatMarker> marker(QPointF near, bool preferDisabled) const;
    double snappedTime(QPointF point) const;
    double clampedMarkerTime(const Uuid& id, QPointF point) const;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QRectF hitBox(double x) const;
    void endMarkerDrag();
    void showContextMenu(const BeatMarker& marker, QPoint globalPosition);

    std::optional<Uuid> m_hoveredMarkerID;
    std::optional<Uuid> m_draggedMarkerID;
    std::optional<BeatMarkerEditingRules::TimeRange> m_draggedMarkerBounds;
    std::optional<QPointF> m_dragStartPoint;
    bool m_hasStartedMarkerDrag = false;
    bool m_pressedDisabledMarker = false;
    QPointer<QMenu> m_menu;
};

} // namespace fotivela
