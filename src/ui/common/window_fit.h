#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

class QWidget;

namespace fotivela {

// The window's content asks for its full minimum where the screen has room for it. On a
// smaller screen the window records the room its screen leaves for the content: the content
// then asks for no more than that room beyond what its own layout needs, and whatever still
// does not fit scrolls inside the window.
namespace WindowFit {

// The minimum size hint of a window's content: `layoutMinimum` (what its own layout needs),
// grown to `wanted` as far as the room recorded on its window allows. Without a recorded room
// (a large screen, or the content as a window of its own) the whole of `wanted`.
QSize contentMinimumSizeHint(const QWidget& content, QSize wanted, QSize layoutMinimum);

// The room that the screen leaves for the content of `window`, recorded by the window; none
// when the screen holds the content's full minimum.
std::optional<QSize> contentRoom(const QWidget& window);

// Records the room and lays the window's content out again.
void setContentRoom(QWidget& window, std::optional<QSize> room);

// The room the free area of its parent's screen leaves for a dialog inside its frame. Before
// its first show a dialog has no frame yet: it is taken to wear its parent's.
QSize dialogRoom(const QWidget& dialog);

// Where a window whose frame is `outer` large stands inside `free`, moved as little as possible.
// A window's position is its frame's.
QPoint placedInside(QPoint position, QSize outer, const QRect& free);

// Moves a dialog that its placement over the parent left partly off the free area back into it.
void keepDialogOnScreen(QWidget& dialog);

} // namespace WindowFit

} // namespace fotivela
