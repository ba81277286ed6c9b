#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fotivela::LumoProjectBackgroundColor {

inline constexpr std::string_view fallback = "#000000";

// "#" and six hex digits, upper-cased; "#000000" for anything else.
std::string normalized(const std::optional<std::string>& hex);

} // namespace fotivela::LumoProjectBackgroundColor
