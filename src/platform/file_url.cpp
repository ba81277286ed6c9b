#include "platform/file_url.h"

#include <array>

namespace fotivela {

namespace {

// Unreserved, sub-delims, ":", "@" and "/": what a URL path keeps unescaped.
constexpr std::array<bool, 256> makePathAllowed()
{
    std::array<bool, 256> allowed{};
    for (int c = 'a'; c <= 'z'; ++c)
        allowed[static_cast<std::size_t>(c)] = true;
    for (int c = 'A'; c <= 'Z'; ++c)
        allowed[static_cast<std::size_t>(c)] = true;
    for (int c = '0'; c <= '9'; ++c)
        allowed[static_cast<std::size_t>(c)] = true;
    for (char c : std::string_view("-._~!$&'()*+,;=:@/"))
        allowed[static_cast<unsigned char>(c)] = true;
    return allowed;
}

constexpr auto pathAllowed = makePathAllowed();

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

} // namespace

std::string fileUrlString(const std::filesystem::path& path)
{
    std::error_code error;
    const auto absolute = path.is_absolute() ? path : std::filesystem::absolute(path, error);
    const std::string& text = error ? path.native() : absolute.native();
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    url.reserve(url.size() + text.size() + 8);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (pathAllowed[c]) {
            url.push_back(ch);
        } else {
            url.push_back('%');
            url.push_back(hex[c >> 4]);
            url.push_back(hex[c & 0x0F]);
        }
    }
    return url;
}

std::optional<std::filesystem::path> pathFromFileUrl(std::string_view url)
{
    if (!startsWithIgnoringCase(url, "file:"))
        return std::nullopt;
    std::string_view rest = url.substr(5);
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const auto slash = rest.find('/');
        if (slash == std::string_view::npos)
            return std::nullopt;
        const auto authority = rest.substr(0, slash);
        if (!authority.empty() && !startsWithIgnoringCase(authority, "localhost"))
            return std::nullopt;
        if (!authority.empty() && authority.size() != 9)
            return std::nullopt;
        rest.remove_prefix(slash);
    }
    const auto end = rest.find_first_of("?#");
    if (end != std::string_view::npos)
        rest = rest.substr(0, end);
    if (!rest.starts_with('/'))
        return std::nullopt;

    std::string path;
    path.reserve(rest.size());
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const char c = rest[i];
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return std::nullopt;
        if (c != '%') {
            path.push_back(c);
            continue;
        }
        if (i + 2 >= rest.size())
            return std::nullopt;
        const int high = hexValue(rest[i + 1]);
        const int low = hexValue(rest[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0))
            return std::nullopt;
        path.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return std::filesystem::path(std::move(path));
}

} // namespace fotivela
