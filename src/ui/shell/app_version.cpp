#include "ui/shell/app_version.h"

#include <QCoreApplication>

#include <algorithm>
#include <charconv>

namespace fotivela::AppVersion {

namespace {

bool isBlank(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c); });
}

} // namespace

std::string current()
{
    const QString bundled = QCoreApplication::applicationVersion();
    if (!bundled.isEmpty())
        return bundled.toStdString();
    return "0.2";
}

std::vector<long long> versionPieces(std::string_view version)
{
    std::vector<long long> pieces;
    std::size_t i = 0;
    while (i < version.size()) {
        if (version[i] < '0' || version[i] > '9') {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < version.size() && version[i] >= '0' && version[i] <= '9')
            ++i;
        long long value = 0;
        const auto [end, error] = std::from_chars(version.data() + start, version.data() + i, value);
        if (error == std::errc() && end == version.data() + i)
            pieces.push_back(value);
    }
    return pieces;
}

int compare(std::string_view left, std::string_view right)
{
    const auto a = versionPieces(left);
    const auto b = versionPieces(right);
    const std::size_t count = std::max(a.size(), b.size());
    for (std::size_t i = 0; i < count; ++i) {
        const long long x = i < a.size() ? a[i] : 0;
        const long long y = i < b.size() ? b[i] : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

bool isServerVersionNewer(const std::optional<std::string>& serverVersion, std::string_view running)
{
    if (!serverVersion || isBlank(*serverVersion))
        return false;
    return compare(*serverVersion, running) > 0;
}

bool isServerVersionNewer(const std::optional<std::string>& serverVersion)
{
    return isServerVersionNewer(serverVersion, current());
}

} // namespace fotivela::AppVersion
