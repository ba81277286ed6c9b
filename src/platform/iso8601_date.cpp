#include "platform/iso8601_date.h"

#include <cstdint>

namespace fotivela {

namespace {

using Seconds = std::chrono::seconds;
using Days = std::chrono::days;

int digit(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : -1;
}

// Reads count digits at text[pos]; -1 when any is not a digit.
int number(std::string_view text, std::size_t pos, std::size_t count)
{
    if (pos + count > text.size())
        return -1;
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int d = digit(text[pos + i]);
        if (d < 0)
            return -1;
        value = value * 10 + d;
    }
    return value;
}

void appendDigits(std::string& out, long long value, int width)
{
    char buffer[8];
    for (int i = width - 1; i >= 0; --i) {
        buffer[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(buffer, static_cast<std::size_t>(width));
}

} // namespace

std::string formatIso8601Date(std::chrono::system_clock::time_point date)
{
    const auto seconds = std::chrono::floor<Seconds>(date);
    const auto days = std::chrono::floor<Days>(seconds);
    const std::chrono::year_month_day ymd{days};
    const std::chrono::hh_mm_ss<Seconds> time{seconds - days};
    const int year = static_cast<int>(ymd.year());
    if (year < 0 || year > 9999)
        return {};
    std::string out;
    out.reserve(20);
    appendDigits(out, year, 4);
    out.push_back('-');
    appendDigits(out, static_cast<unsigned>(ymd.month()), 2);
    out.push_back('-');
    appendDigits(out, static_cast<unsigned>(ymd.day()), 2);
    out.push_back('T');
    appendDigits(out, time.hours().count(), 2);
    out.push_back(':');
    appendDigits(out, time.minutes().count(), 2);
    out.push_back(':');
    appendDigits(out, time.seconds().count(), 2);
    out.push_back('Z');
    return out;
}

std::optional<std::chrono::system_clock::time_point> parseIso8601Date(std::string_view text)
{
    // yyyy-MM-ddTHH:mm:ss
    if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':')
        return std::nullopt;
    const int year = number(text, 0, 4);
    const int month = number(text, 5, 2);
    const int day = number(text, 8, 2);
    const int hour = number(text, 11, 2);
    const int minute = number(text, 14, 2);
    const int second = number(text, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    if (hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const std::chrono::year_month_day ymd{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                          std::chrono::day{static_cast<unsigned>(day)}};
    if (!ymd.ok())
        return std::nullopt;

    int offsetMinutes = 0;
    const auto zone = text.substr(19);
    if (zone == "Z") {
        offsetMinutes = 0;
    } else if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':') {
        const int h = number(zone, 1, 2);
        const int m = number(zone, 4, 2);
        if (h < 0 || m < 0 || h > 23 || m > 59)
            return std::nullopt;
        offsetMinutes = (zone[0] == '-' ? -1 : 1) * (h * 60 + m);
    } else if (zone.size() == 5 && (zone[0] == '+' || zone[0] == '-')) {
        const int h = number(zone, 1, 2);
        const int m = number(zone, 3, 2);
        if (h < 0 || m < 0 || h > 23 || m > 59)
            return std::nullopt;
        offsetMinutes = (zone[0] == '-' ? -1 : 1) * (h * 60 + m);
    } else {
        return std::nullopt;
    }

    const auto local = std::chrono::sys_days{ymd} + std::chrono::hours{hour} + std::chrono::minutes{minute} +
                       Seconds{second};
    const auto utc = local - std::chrono::minutes{offsetMinutes};
    // The clock's nanosecond ticks span the years 1677 to 2262; a date beyond
    // them cannot be held (and a zone could also move year 0 or 9999 out of
    // what the writer writes).
    using Clock = std::chrono::system_clock;
    constexpr auto earliest = std::chrono::ceil<Seconds>(Clock::time_point::min().time_since_epoch());
    constexpr auto latest = std::chrono::floor<Seconds>(Clock::time_point::max().time_since_epoch());
    const auto sinceEpoch = utc.time_since_epoch();
    if (sinceEpoch < earliest || sinceEpoch > latest)
        return std::nullopt;
    return std::chrono::time_point_cast<Clock::duration>(utc);
}

} // namespace fotivela
