#pragma once

#include <QColor>

#include <string_view>

namespace fotivela {

// A colour text of the design system: hash signs stripped from both ends, the
// rest read as a signed 64-bit hexadecimal number whose lowest 24 bits are
// red, green and blue; opaque. Anything unreadable is white.
QColor colorFromHex(std::string_view hex);

} // namespace fotivela
