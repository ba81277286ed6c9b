#include "ui/common/window_fit.h"

#include <QVariant>
#include <QWidget>

namespace fotivela::WindowFit {

namespace {

const char* const roomProperty = "fotivelaContentRoom";

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

} // namespace fotivela::WindowFit
