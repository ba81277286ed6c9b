#include "platform/hex_color.h"

#include <charconv>
#include <cstdint>

namespace fotivela {

QColor colorFromHex(std::string_view hex)
{
    while (!hex.empty() && hex.front() == '#')
        hex.remove_prefix(1);
    while (!hex.empty() && hex.back() == '#')
        hex.remove_suffix(1);

    std::uint64_t bits = 0xFFFFFF;
    if (!hex.empty()) {
        bool negative = false;
        std::string_view digits = hex;
        if (digits.front() == '+' || digits.front() == '-') {
            negative = digits.front() == '-';
            digits.remove_prefix(1);
        }
        std::uint64_t magnitude = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, 16);
        const bool whole = !digits.empty() && error == std::errc() && end == digits.data() + digits.size();
        // The value must fit in a signed 64-bit integer.
        const std::uint64_t limit = negative ? (1ull << 63) : (1ull << 63) - 1;
        if (whole && digits.front() != '+' && digits.front() != '-' && magnitude <= limit)
            bits = negative ? ~magnitude + 1 : magnitude;
    }
    return QColor(static_cast<int>((bits >> 16) & 0xFF), static_cast<int>((bits >> 8) & 0xFF),
                  static_cast<int>(bits & 0xFF));
}

} // namespace fotivela
