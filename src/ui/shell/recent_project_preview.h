#pragma once

#include "model/project_format.h"
#include "model/slide.h"

#include <QImage>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace fotivela {

// The pictures of the home screen's cards, kept between its visits: every save of a project
// changes the recent list and so makes new cards, and decoding a large photo again each time
// costs seconds and hundreds of megabytes. A picture is decoded again once its slide, photo or
// preview file changes. Safe to use from any thread.
class RecentProjectPictures {
public:
    QImage picture(const Slide& slide, const std::filesystem::path& project);

    // A file as the card last read it: a different time or size means other pixels.
    struct FileStamp {
        bool exists = false;
        std::filesystem::file_time_type modified;
        std::uintmax_t size = 0;

        friend bool operator==(const FileStamp&, const FileStamp&) = default;
    };

    // Everything a card's picture is decoded from.
    struct Source {
        std::filesystem::path project;
        Uuid slide;
        std::filesystem::path photo;
        FileStamp photoStamp;
        FileStamp previewStamp;

        friend bool operator==(const Source&, const Source&) = default;
    };

private:
    std::mutex m_mutex;
    std::deque<std::pair<Source, QImage>> m_kept;
};

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
    // unreadable or foreign file gives the fallback value. The picture comes from `pictures`
    // when given, else it is decoded.
    static RecentProjectPreview load(const std::filesystem::path& url, RecentProjectPictures* pictures = nullptr);

    // "#" and six hex digits, upper-cased; anything else "#000000".
    static std::string normalizedBackgroundHex(const std::optional<std::string>& hex);
};

} // namespace fotivela
