#include "platform/text_trimming.h"

#include <cstddef>

namespace fotivela {

namespace {

// Unicode white space and line breaks, as trimming of user text treats them.
bool isWhitespaceOrNewline(char32_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680
        || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F
        || c == 0x3000;
}

// Decodes the code point starting at `pos`; malformed bytes count as one non-space unit.
char32_t decodeAt(std::string_view s, std::size_t pos, std::size_t& length)
{
    const auto b0 = static_cast<unsigned char>(s[pos]);
    length = 1;
    if (b0 < 0x80)
        return b0;
    const std::size_t need = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
    if (need == 0 || pos + need > s.size())
        return 0xFFFD;
    char32_t c = b0 & (0x7F >> need);
    for (std::size_t i = 1; i < need; ++i) {
        const auto b = static_cast<unsigned char>(s[pos + i]);
        if ((b & 0xC0) != 0x80)
            return 0xFFFD;
        c = (c << 6) | (b & 0x3F);
    }
    length = need;
    return c;
}

} // namespace

std::string_view trimmedWhitespaceAndNewlines(std::string_view s)
{
    std::size_t begin = 0;
    while (begin < s.size()) {
        std::size_t length = 0;
        if (!isWhitespaceOrNewline(decodeAt(s, begin, length)))
            break;
        begin += length;
    }
    std::size_t end = s.size();
    while (end > begin) {
        // Step back to the first byte of the last code point.
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80 && end - start < 4)
            --start;
        std::size_t length = 0;
        const char32_t c = decodeAt(s, start, length);
        if (start + length != end || !isWhitespaceOrNewline(c))
            break;
        end = start;
    }
    return s.substr(begin, end - begin);
}

} // namespace fotivela
