#pragma once

#include <string_view>

namespace fotivela {

// One plain line on stderr; the journal collects it. No levels of our own.
void logLine(std::string_view line);

} // namespace fotivela
