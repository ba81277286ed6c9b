#pragma once

#include "platform/uuid.h"
#include "ui/common/view_helpers.h"

#include <QPointF>
#include <QMenu>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>
#include <set>
#include <vector>



namespace fotivela {

// The pointer layer over the photo lane: hover, click with modifiers, the delete menu, edge
// resizing and drag reordering, reported through callbacks; it knows nothing of the store.
class PhotoTimelineLaneInteractionView : public QWidget {

public:
    struct HitSlide {
        Uuid id;
        double startX = 0;
        double endX = 0;
    };

    explicit PhotoTimelineLaneInteractionView(QWidget* parent = nullptr);

    static constexpr double edgeWidth = 30;
    static constexpr double dragThreshold = 4;

    std::vector<HitSlide> hitSlides;
    std::set<Uuid> selectedSlideIDs;
    double secondsPerPoint = 0.03;
    bool allowResize = true;
    QString deleteTitle = QStringLiteral("Eliminar");

    std::function<void(std::optional<Uuid>, TimelinePointerRegion)> onHover;
    std::function<void(Uuid, Qt::KeyboardModifiers)> onClick;
    std::function<void(Uuid)> onDelete;
    std::function<void(Uuid, ResizeEdge, double)> onResize;
    std::function<void()> onResizeEnded;
    std::function<void(Uuid, double)> onDragChanged;
    std::function<void(Uuid, double)> onDragEnded;
    std::function<void()> onDragCancelled;

    std::optional<HitSlide> hitSlide(QPointF point) const;
    TimelinePointerRegion region(const HitSlide& slide, double x) const;
    QMenu* contextMenu() const { return m_menu.data(); }

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void updateHoverAndCursor(QPointF point);
    void reset();

    QPointF m_mouseDownPoint;
    QPointF m_lastDragPoint;
    std::optional<Uuid> m_pressedSlideID;
    TimelinePointerRegion m_dragMode = TimelinePointerRegion::none;
    bool m_isDragging = false;
    bool m_pendingPlainClick = false;
    QPointer<QMenu> m_menu;
};

} // namespace fotivela
