#pragma once

class QWidget;

namespace fotivela {

// The opacity-and-move transition of panes that come and go inside a column: the pane fades
// in while it slides down from a little above its place, and fades out while it slides back
// up. Both run for a fifth of a second.
namespace Transitions {

inline constexpr int durationMilliseconds = 200;
inline constexpr double travel = 14;

// Plays the entrance on `widget`, which is already shown in its place. A widget that carries
// another graphics effect (a shadow) just appears.
void enter(QWidget* widget);

// Plays the exit of `widget` over its place from a picture of it, so the caller may hide or
// delete the widget right after.
void leave(QWidget* widget);

// How far the entrance of `widget` has come (0 ... 1); 1 when none is running.
double entranceProgress(const QWidget* widget);

} // namespace Transitions

} // namespace fotivela
