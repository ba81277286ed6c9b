#pragma once

#include "model/project_format.h"
#include "model/slide.h"

#include <QImage>

#include <filesystem>
#include <optional>
#include <string>

namespace fotivela {

// What a recent-project card draws: the first slide's picture on the project's background, in
// its format, read from the project file alone.
struct RecentProjectPreview {
    QImage image; // null when there is no slide or no readable picture
    std::optional<Slide> slide;
    ProjectFormat format = ProjectFormat::youtube;
    std::string backgroundColorHex = "#000000";
    bool fillPhotosToScreen = false;

    static inline constexpr int maximumPixelSize = 360;

    // Reads the project file at `url` (blocking: call it off the main thread). Never fails: an
    // unreadable or foreign file gives the fallback value.
    static RecentProjectPreview load(const std::filesystem::path& url);

    // "#" and six hex digits, upper-cased; anything else "#000000".
    static std::string normalizedBackgroundHex(const std::optional<std::string>& hex);
};

} // namespace fotivela
