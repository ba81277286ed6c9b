#include "ui/common/wheel_guard.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <QWidget>

namespace fotivela {

namespace {

const char* const armedProperty = "fotivelaWheelArmed";

bool isGuardedKind(const QWidget* widget)
{
    // Scroll bars are sliders too, and the scroll area hands them its own wheel events.
    if (qobject_cast<const QScrollBar*>(widget))
        return false;
    return qobject_cast<const QAbstractSlider*>(widget) || qobject_cast<const QComboBox*>(widget)
        || qobject_cast<const QAbstractSpinBox*>(widget) || qobject_cast<const QAbstractItemView*>(widget);
}

// The guarded control `widget` belongs to (itself, or the control it is part of, such as a
// spin box's line edit or a list's viewport), up to `column`.
QWidget* guardedControl(QWidget* widget, const QWidget* column)
{
    for (QWidget* w = widget; w && w != column; w = w->parentWidget()) {
        if (isGuardedKind(w))
            return w;
        if (w->isWindow())
            return nullptr;
    }
    return nullptr;
}

} // namespace

WheelGuard::WheelGuard(QWidget* column)
    : QObject(column)
    , m_column(column)
{
    // Wheel events reach a control before any filter on it could be installed by its
    // parent, and inspectors build their controls at any time: one filter sees them all.
    qApp->installEventFilter(this);
}

bool WheelGuard::takesWheel(const QWidget* control)
{
    return control->hasFocus() && control->property(armedProperty).toBool();
}

bool WheelGuard::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::Wheel && type != QEvent::MouseButtonPress && type != QEvent::FocusOut)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !m_column || !m_column->isAncestorOf(widget))
        return false;
    QWidget* control = guardedControl(widget, m_column);
    if (!control)
        return false;
    switch (type) {
    case QEvent::MouseButtonPress:
        // A click arms the control; the focus it takes keeps it armed.
        control->setProperty(armedProperty, true);
        return false;
    case QEvent::FocusOut:
        // A picker's own popup takes the focus for a moment; the control stays armed.
        if (widget == control && static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason)
            control->setProperty(armedProperty, false);
        return false;
    default:
        break;
    }
    if (takesWheel(control))
        return false;
    // Handed to the scroll area around the control, as if the control were not there.
    for (QWidget* w = control->parentWidget(); w; w = w->parentWidget()) {
        auto* area = qobject_cast<QAbstractScrollArea*>(w);
        if (!area)
            continue;
        const auto* wheel = static_cast<QWheelEvent*>(event);
        QWidget* viewport = area->viewport();
        const QPointF position = viewport->mapFromGlobal(wheel->globalPosition());
        QWheelEvent forwarded(position, wheel->globalPosition(), wheel->pixelDelta(), wheel->angleDelta(),
                              wheel->buttons(), wheel->modifiers(), wheel->phase(), wheel->inverted(), wheel->source(),
                              wheel->pointingDevice());
        QCoreApplication::sendEvent(viewport, &forwarded);
        break;
    }
    event->accept();
    return true;
}

} // namespace fotivela
