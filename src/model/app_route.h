#pragma once

namespace fotivela {

// The screen the window shows.
enum class AppRoute { home, editor };

} // namespace fotivela
