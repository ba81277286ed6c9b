#include "ui/common/window_fit.h"

#include <QScreen>
#include <QVariant>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace fotivela::WindowFit {

namespace {

const char* const roomProperty = "fotivelaContentRoom";

QMargins frameMargins(const QWidget& window)
{
    return window.windowHandle() ? window.windowHandle()->frameMargins() : QMargins();
}

const QWidget* parentWindow(const QWidget& dialog)
{
    return dialog.parentWidget() ? dialog.parentWidget()->window() : nullptr;
}

QMargins dialogFrame(const QWidget& dialog)
{
    const QMargins own = frameMargins(dialog);
    if (!own.isNull())
        return own;
    const QWidget* parent = parentWindow(dialog);
    return parent ? frameMargins(*parent) : QMargins();
}

QScreen* dialogScreen(const QWidget& dialog)
{
    const QWidget* parent = parentWindow(dialog);
    return parent ? parent->screen() : dialog.screen();
}

} // namespace

QSize contentMinimumSizeHint(const QWidget& content, QSize wanted, QSize layoutMinimum)
{
    if (const std::optional<QSize> room = contentRoom(*content.window()))
        wanted = wanted.boundedTo(*room);
    return layoutMinimum.expandedTo(wanted);
}

std::optional<QSize> contentRoom(const QWidget& window)
{
    const QVariant room = window.property(roomProperty);
    if (!room.isValid())
        return std::nullopt;
    return room.toSize();
}

void setContentRoom(QWidget& window, std::optional<QSize> room)
{
    if (contentRoom(window) == room)
        return;
    window.setProperty(roomProperty, room ? QVariant(*room) : QVariant());
    // The content's minimum changed with it; the layouts above it ask again.
    for (QWidget* widget : window.findChildren<QWidget*>())
        widget->updateGeometry();
}

QPoint placedInside(QPoint position, QSize outer, const QRect& free)
{
    return {std::clamp(position.x(), free.left(), std::max(free.left(), free.right() + 1 - outer.width())),
            std::clamp(position.y(), free.top(), std::max(free.top(), free.bottom() + 1 - outer.height()))};
}

QSize dialogRoom(const QWidget& dialog)
{
    const QScreen* screen = dialogScreen(dialog);
    if (!screen)
        return {QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    return screen->availableGeometry().size().shrunkBy(dialogFrame(dialog));
}

void keepDialogOnScreen(QWidget& dialog)
{
    const QScreen* screen = dialogScreen(dialog);
    if (!screen)
        return;
    // The placement over the parent leaves out the frame's bottom.
    const QPoint place = placedInside(dialog.pos(), dialog.size().grownBy(dialogFrame(dialog)), screen->availableGeometry());
    if (place != dialog.pos())
        dialog.move(place);
}

} // namespace fotivela::WindowFit
