#pragma once

#include "ui/shell/fotivela_design_system.h"

#include <QColor>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <string>

namespace fotivela::TimelineMetrics {

// One second at zoom 1.
inline constexpr double pointsPerSecondAtZoomOne = 42.0;
inline constexpr double minimumContentWidth = 320.0;
inline constexpr double rulerHeight = 40.0;
inline constexpr double musicLaneBaseHeight = 52.0;
inline constexpr double stemRowHeight = 22.0;
inline constexpr std::size_t maximumStemRows = 7;
inline constexpr double audioColumnWidth = 72.0;
inline constexpr double minimumPhotoLaneHeight = 58.0;

inline std::size_t visibleStemRows(std::size_t stemCount) { return std::min(stemCount, maximumStemRows); }
inline double musicLaneHeight(std::size_t stemCount)
{
    return musicLaneBaseHeight + stemRowHeight * static_cast<double>(visibleStemRows(stemCount));
}

// sRGB components with an opacity, as the drawing rules give them.
inline QColor rgba(double red, double green, double blue, double opacity = 1.0)
{
    return QColor::fromRgbF(static_cast<float>(red), static_cast<float>(green), static_cast<float>(blue),
                            static_cast<float>(opacity));
}

// The program's theme colours the timeline uses; the one place to take them from.
QColor accentColor();
QColor musicLaneColor();

inline QString qtext(const std::string& text) { return QString::fromStdString(text); }
// The program's theme colours the timeline uses; the one place to take them from.
QColor accentColor();
QColor musicLaneColor();

inline QString qtext(const QString& text) { return text; }

} // namespace fotivela::TimelineMetrics
