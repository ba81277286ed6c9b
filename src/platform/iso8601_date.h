#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace fotivela {

// "2026-03-01T09:30:00Z": UTC, whole seconds (a fraction is dropped, rounding
// towards the past). Empty for a year outside 0000 to 9999, which no reader
// would accept.
std::string formatIso8601Date(std::chrono::system_clock::time_point date);

// Reads the form above, or a numeric zone ("+01:00", "-0530") in place of
// "Z". A fraction of a second, a missing zone, an impossible calendar date
// or time, or a date the clock cannot hold (about 1678 to 2261) gives nothing.
std::optional<std::chrono::system_clock::time_point> parseIso8601Date(std::string_view text);

} // namespace fotivela
