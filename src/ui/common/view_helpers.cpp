#include "ui/common/view_helpers.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace fotivela {

namespace {

// Rounds halves away from zero and clamps to [0, int64 max] so absurd times cannot overflow.
std::int64_t roundedNonNegative(double value)
{
    const double r = std::round(value);
    if (!(r > 0))
        return 0;
    if (r >= static_cast<double>(std::numeric_limits<std::int64_t>::max()))
        return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(r);
}

} // namespace

QColor instrumentColor(AutoBeatInstrument instrument)
{
    switch (instrument) {
    case AutoBeatInstrument::drums: return QColor::fromRgbF(0.98f, 0.52f, 0.24f, 1.0f);
    case AutoBeatInstrument::kick: return QColor::fromRgbF(0.94f, 0.22f, 0.20f, 1.0f);
    case AutoBeatInstrument::clapSnare: return QColor::fromRgbF(0.08f, 0.68f, 0.58f, 1.0f);
    case AutoBeatInstrument::cymbalHats: return QColor::fromRgbF(0.96f, 0.76f, 0.22f, 1.0f);
    case AutoBeatInstrument::bass: return QColor::fromRgbF(0.30f, 0.54f, 0.96f, 1.0f);
    case AutoBeatInstrument::vocals: return QColor::fromRgbF(0.78f, 0.38f, 0.92f, 1.0f);
    case AutoBeatInstrument::other: return QColor::fromRgbF(0.72f, 0.78f, 0.84f, 1.0f);
    }
    return QColor::fromRgbF(0.72f, 0.78f, 0.84f, 1.0f);
}

QString formatDuration(double seconds)
{
    if (!std::isfinite(seconds))
        return QStringLiteral("0:00");
    const std::int64_t s = roundedNonNegative(seconds);
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString formatPreviewTimecode(double seconds)
{
    if (!std::isfinite(seconds))
        return QStringLiteral("00:00:00");
    const std::int64_t c = roundedNonNegative(seconds * 100.0);
    return QStringLiteral("%1:%2:%3")
        .arg(c / 6000, 2, 10, QLatin1Char('0'))
        .arg((c / 100) % 60, 2, 10, QLatin1Char('0'))
        .arg(c % 100, 2, 10, QLatin1Char('0'));
}

} // namespace fotivela
