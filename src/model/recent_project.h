#pragma once

#include <chrono>
#include <filesystem>
#include <string>

namespace fotivela {

// One entry of the recent-project list; identified by its project file.
struct RecentProject {
    std::string name;
    std::filesystem::path url;
    std::chrono::system_clock::time_point savedAt;

    friend bool operator==(const RecentProject&, const RecentProject&) = default;
};

} // namespace fotivela
