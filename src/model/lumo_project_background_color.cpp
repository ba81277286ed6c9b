#include "model/lumo_project_background_color.h"

namespace fotivela::LumoProjectBackgroundColor {

namespace {

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

std::string normalized(const std::optional<std::string>& hex)
{
    // Seven bytes, all ASCII, is the same test as seven characters here:
    // any non-ASCII character would fail the digit test anyway.
    if (!hex || hex->size() != 7 || (*hex)[0] != '#')
        return std::string(fallback);
    std::string result = *hex;
    for (std::size_t i = 1; i < result.size(); ++i) {
        const char c = result[i];
        if (!isHexDigit(c))
            return std::string(fallback);
        if (c >= 'a' && c <= 'f')
            result[i] = static_cast<char>(c - 'a' + 'A');
    }
    return result;
}

} // namespace fotivela::LumoProjectBackgroundColor
