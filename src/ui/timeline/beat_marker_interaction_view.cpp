#include "ui/timeline/beat_marker_interaction_view.h"

#include <QMenu>
#include <QMouseEvent>

#include <algorithm>
#include <cmath>

namespace fotivela {

BeatMarkerInteractionView::BeatMarkerInteractionView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
}

double BeatMarkerInteractionView::markerX(const BeatMarker& marker) const
{
    const double usable = std::max(width() - 2 * horizontalInset, 1.0);
    return horizontalInset + usable * marker.time / std::max(duration, 1.0);
}

QRectF BeatMarkerInteractionView::hitBox(double x) const
{
    const double h = height();
    const double top = h <= 60 ? 10 : std::max(h * 0.34 + 3 - 6, 0.0);
    return QRectF(x - 16, top, 32, 30);
}

double BeatMarkerInteractionView::timeAt(QPointF point) const
{
    const double local = point.x() - horizontalInset;
    const double usable = width() - 2 * horizontalInset;
    const double fraction = usable <= 1 ? std::clamp(local, 0.0, 1.0) : std::clamp(local, 0.0, usable) / usable;
    return fraction * duration;
}

std::optional<BeatMarker> BeatMarkerInteractionView::marker(QPointF near, bool preferDisabled) const
{
    const BeatMarker* best = nullptr;
    double bestDistance = 0;
    const BeatMarker* bestDisabled = nullptr;
    double bestDisabledDistance = 0;
    for (const BeatMarker& candidate : markers) {
        const double x = markerX(candidate);
        if (!hitBox(x).contains(near))
            continue;
        const double distance = std::abs(near.x() - x);
        if (!best || distance < bestDistance) {
            best = &candidate;
            bestDistance = distance;
        }
        if (!candidate.isEnabled && (!bestDisabled || distance < bestDisabledDistance)) {
            bestDisabled = &candidate;
            bestDisabledDistance = distance;
        }
    }
    if (preferDisabled && bestDisabled)
        return *bestDisabled;
    if (best)
        return *best;
    return std::nullopt;
}

double BeatMarkerInteractionView::snappedTime(QPointF point) const
{
    const double time = timeAt(point);
    if (snapTolerance <= 0)
        return time;
    const BeatMarker* nearest = nullptr;
    for (const BeatMarker& candidate : markers) {
        if (candidate.isEnabled && (!nearest || std::abs(candidate.time - time) < std::abs(nearest->time - time)))
            nearest = &candidate;
    }
    if (nearest && std::abs(nearest->time - time) <= snapTolerance)
        return nearest->time;
    return time;
}

double BeatMarkerInteractionView::clampedMarkerTime(const Uuid& id, QPointF point) const
{
    const double time = timeAt(point);
    BeatMarkerEditingRules::TimeRange bounds;
    if (m_draggedMarkerBounds) {
        bounds = *m_draggedMarkerBounds;
    } else {
        bounds = BeatMarkerEditingRules::moveBounds(id, markers, duration);
        if (!(bounds.lower <= bounds.upper))
            bounds = BeatMarkerEditingRules::TimeRange{0, std::max(duration, 0.0)};
    }
    return std::clamp(time, bounds.lower, std::max(bounds.lower, bounds.upper));
}

void BeatMarkerInteractionView::endMarkerDrag()
{
    m_pressedDisabledMarker = false;
    m_draggedMarkerID.reset();
    m_draggedMarkerBounds.reset();
    m_dragStartPoint.reset();
    m_hasStartedMarkerDrag = false;
    if (onEditingChanged)
        onEditingChanged(false);
}

void BeatMarkerInteractionView::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF p = event->position();
    if (!(event->buttons() & Qt::LeftButton)) {
        const auto hovered = marker(p, false);
        m_hoveredMarkerID = hovered ? std::optional<Uuid>(hovered->id) : std::nullopt;
        setCursor(hovered && hovered->isEnabled ? Qt::PointingHandCursor : Qt::ArrowCursor);
        return;
    }
    if (!m_draggedMarkerID) {
        // A press on a disabled marker selected it; dragging from there neither moves nor seeks.
        if (m_pressedDisabledMarker)
            return;
        if (onScrub)
            onScrub(snappedTime(p));
        return;
    }
    if (!m_hasStartedMarkerDrag) {
        const QPointF start = m_dragStartPoint.value_or(p);
        if (std::hypot(p.x() - start.x(), p.y() - start.y()) < markerDragThreshold) {
            setCursor(Qt::PointingHandCursor);
            return;
        }
        m_hasStartedMarkerDrag = true;
        if (onEditingChanged)
            onEditingChanged(true);
    }
    setCursor(Qt::ClosedHandCursor);
    if (onMove)
        onMove(*m_draggedMarkerID, clampedMarkerTime(*m_draggedMarkerID, p));
}

void BeatMarkerInteractionView::mousePressEvent(QMouseEvent* event)
{
    const QPointF p = event->position();
    setFocus(Qt::MouseFocusReason);
    if (event->button() == Qt::RightButton) {
        const auto hit = marker(p, true);
        if (!hit)
            return;
        if (onSelect)
            onSelect(hit->id);
        showContextMenu(*hit, event->globalPosition().toPoint());
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    const auto hit = marker(p, false);
    m_pressedDisabledMarker = hit && !hit->isEnabled;
    if (!hit) {
        m_draggedMarkerID.reset();
        m_draggedMarkerBounds.reset();
        m_dragStartPoint.reset();
        m_hasStartedMarkerDrag = false;
        if (onEditingChanged)
            onEditingChanged(false);
        if (onSelect)
            onSelect(std::nullopt);
        if (onScrub)
            onScrub(snappedTime(p));
        return;
    }
    if (onSelect)
        onSelect(hit->id);
    if (hit->isEnabled) {
        m_draggedMarkerID = hit->id;
        m_draggedMarkerBounds = BeatMarkerEditingRules::moveBounds(hit->id, markers, duration);
        m_dragStartPoint = p;
    } else {
        // A disabled marker can be selected but not dragged.
        m_draggedMarkerID.reset();
        m_draggedMarkerBounds.reset();
        m_dragStartPoint.reset();
    }
    m_hasStartedMarkerDrag = false;
    if (onEditingChanged)
        onEditingChanged(false);
}

void BeatMarkerInteractionView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        endMarkerDrag();
}

void BeatMarkerInteractionView::leaveEvent(QEvent* event)
{
    m_hoveredMarkerID.reset();
    if (!m_draggedMarkerID && onEditingChanged)
        onEditingChanged(false);
    QWidget::leaveEvent(event);
}

void BeatMarkerInteractionView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_draggedMarkerID)
        endMarkerDrag();
}

void BeatMarkerInteractionView::showContextMenu(const BeatMarker& hit, QPoint globalPosition)
{
    if (m_menu)
        m_menu->deleteLater();
    m_menu = new QMenu(this);
    m_menu->setAttribute(Qt::WA_DeleteOnClose);
    // These two titles stay in Spanish whatever the interface language.
    QAction* action = m_menu->addAction(hit.isEnabled ? QStringLiteral("Desactivar marcador")
                                                      : QStringLiteral("Activar marcador"));
    const Uuid id = hit.id;
    connect(action, &QAction::triggered, this, [this, id] {
        if (onToggle)
            onToggle(id);
    });
    // Not modal: a test or a timer never waits on it.
    m_menu->popup(globalPosition);
}

} // namespace fotivela
