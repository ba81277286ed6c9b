#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

namespace fotivela::SeparationWorkFolder {

// A separation writes into stems root / (namePrefix + UUID) and moves the folder into place
// when it is done; a killed program leaves it behind.
inline constexpr std::string_view namePrefix = ".separation-";

bool isWorkFolderName(std::string_view name);

// An exclusive flock on the work folder itself, held by the separation writing in it for as
// long as it runs (also in another process), and released by the kernel when that process
// dies however it dies: a folder nobody holds is a leftover.
class Lock {
public:
    // Locks the folder just made at this path. Throws std::filesystem::filesystem_error when it
    // cannot, or when the folder was swept away before it was locked.
    explicit Lock(const std::filesystem::path& folder);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    int m_fd = -1;
};

// Removes the work folders directly in stemsRoot that no running separation holds; only
// owned folders of plain files and folders. Answers what it removed; never throws.
std::vector<std::filesystem::path> sweepAbandoned(const std::filesystem::path& stemsRoot);

} // namespace fotivela::SeparationWorkFolder
