#include "ui/timeline/photo_timeline_lane_interaction_view.h"

#include <QMenu>
#include <QMouseEvent>

#include <algorithm>
#include <cmath>

namespace fotivela {

namespace {

constexpr Qt::KeyboardModifiers clickModifiers =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

} // namespace

PhotoTimelineLaneInteractionView::PhotoTimelineLaneInteractionView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
}

std::optional<PhotoTimelineLaneInteractionView::HitSlide> PhotoTimelineLaneInteractionView::hitSlide(QPointF point) const
{
    if (!QRectF(rect()).contains(point))
        return std::nullopt;
    // At a shared edge the earlier slide wins.
    const auto found = std::find_if(hitSlides.begin(), hitSlides.end(), [&](const HitSlide& slide) {
        return slide.startX <= point.x() && point.x() <= slide.endX;
    });
    if (found == hitSlides.end())
        return std::nullopt;
    return *found;
}

TimelinePointerRegion PhotoTimelineLaneInteractionView::region(const HitSlide& slide, double x) const
{
    if (!allowResize)
        return TimelinePointerRegion::move;
    if (x - slide.startX <= edgeWidth)
        return TimelinePointerRegion::leftResize;
    if (slide.endX - x <= edgeWidth)
        return TimelinePointerRegion::rightResize;
    return TimelinePointerRegion::move;
}

void PhotoTimelineLaneInteractionView::updateHoverAndCursor(QPointF point)
{
    const auto hit = hitSlide(point);
    if (!hit) {
        if (onHover)
            onHover(std::nullopt, TimelinePointerRegion::none);
        setCursor(Qt::ArrowCursor);
        return;
    }
    const TimelinePointerRegion where = region(*hit, point.x());
    if (onHover)
        onHover(hit->id, where);
    setCursor(where == TimelinePointerRegion::move ? Qt::OpenHandCursor : Qt::SizeHorCursor);
}

void PhotoTimelineLaneInteractionView::reset()
{
    m_pressedSlideID.reset();
    m_isDragging = false;
    m_dragMode = TimelinePointerRegion::none;
    m_pendingPlainClick = false;
}

void PhotoTimelineLaneInteractionView::mousePressEvent(QMouseEvent* event)
{
    const QPointF p = event->position();
    if (event->button() == Qt::RightButton) {
        const auto hit = hitSlide(p);
        if (!hit)
            return;
        m_pressedSlideID = hit->id;
        if (m_menu)
            m_menu->deleteLater();
        m_menu = new QMenu(this);
        m_menu->setAttribute(Qt::WA_DeleteOnClose);
        QAction* remove = m_menu->addAction(deleteTitle);
        connect(remove, &QAction::triggered, this, [this] {
            if (m_pressedSlideID && onDelete)
                onDelete(*m_pressedSlideID);
            m_pressedSlideID.reset();
        });
        m_menu->popup(event->globalPosition().toPoint());
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    setFocus(Qt::MouseFocusReason);
    m_mouseDownPoint = p;
    m_lastDragPoint = p;
    const auto hit = hitSlide(p);
    m_pressedSlideID = hit ? std::optional<Uuid>(hit->id) : std::nullopt;
    m_dragMode = hit ? region(*hit, p.x()) : TimelinePointerRegion::none;
    m_isDragging = false;
    m_pendingPlainClick = false;
    if (!hit)
        return;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & clickModifiers;
    if (modifiers == Qt::NoModifier && selectedSlideIDs.contains(hit->id)) {
        // Held back until release: a drag from here moves the whole selection.
        m_pendingPlainClick = true;
        return;
    }
    if (onClick)
        onClick(hit->id, modifiers);
}

void PhotoTimelineLaneInteractionView::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF p = event->position();
    if (!(event->buttons() & Qt::LeftButton)) {
        updateHoverAndCursor(p);
        return;
    }
    const double deltaX = p.x() - m_lastDragPoint.x();
    m_lastDragPoint = p;
    if (!m_pressedSlideID)
        return;
    switch (m_dragMode) {
    case TimelinePointerRegion::none:
        return;
    case TimelinePointerRegion::leftResize:
    case TimelinePointerRegion::rightResize:
        if (allowResize && onResize)
            onResize(*m_pressedSlideID,
                     m_dragMode == TimelinePointerRegion::leftResize ? ResizeEdge::left : ResizeEdge::right,
                     deltaX * secondsPerPoint);
        return;
    case TimelinePointerRegion::move:
        if (!m_isDragging && std::hypot(p.x() - m_mouseDownPoint.x(), p.y() - m_mouseDownPoint.y()) <= dragThreshold)
            return;
        m_isDragging = true;
        setCursor(Qt::ClosedHandCursor);
        if (onDragChanged)
            onDragChanged(*m_pressedSlideID, std::clamp(p.x(), 0.0, static_cast<double>(width())));
        return;
    }
}

void PhotoTimelineLaneInteractionView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (!m_pressedSlideID) {
        if (onDragCancelled)
            onDragCancelled();
        reset();
        return;
    }
    const Uuid pressed = *m_pressedSlideID;
    if (m_isDragging && m_dragMode == TimelinePointerRegion::move) {
        if (onDragEnded)
            onDragEnded(pressed, std::clamp(event->position().x(), 0.0, static_cast<double>(width())));
    } else if (m_pendingPlainClick && onClick) {
        onClick(pressed, Qt::NoModifier);
    }
    // The callbacks above may have rebuilt the lane; the gesture ends either way.
    if (onResizeEnded)
        onResizeEnded();
    reset();
    updateHoverAndCursor(event->position());
}

void PhotoTimelineLaneInteractionView::leaveEvent(QEvent* event)
{
    if (onHover)
        onHover(std::nullopt, TimelinePointerRegion::none);
    setCursor(Qt::ArrowCursor);
    QWidget::leaveEvent(event);
}

} // namespace fotivela
