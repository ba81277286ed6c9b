#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace fotivela {

// Files an export leaves behind when the program is killed: the encoded video and the muxed copy
// in the suite's temporary folder (".fotivela-<UUID>.mp4", ".fotivela-<UUID>-audio.mp4") and the
// hidden copy beside a destination on another drive (".<name>-<UUID>.part").
namespace ExportTemporaries {

// How old a leftover must be before a sweep takes it: far longer than any pause between two
// writes of a running export.
inline constexpr std::chrono::minutes minimumAge{10};

// Held for the whole of an export: a shared lock on a file in the temporary folder, so that a
// sweep in any process of this user sees that an export runs and leaves its files alone.
class ActivityLock {
public:
    ActivityLock();
    ~ActivityLock();
    ActivityLock(const ActivityLock&) = delete;
    ActivityLock& operator=(const ActivityLock&) = delete;

private:
    int m_fd = -1;
};

// Remembers the folder of an export's destination (the last few), for the sweep.
void recordDestinationFolder(const std::filesystem::path& destination);
std::vector<std::filesystem::path> recordedDestinationFolders();

bool isTemporaryVideoName(const std::string& name);
bool isStagedCopyName(const std::string& name);

// Removes leftovers older than `age` from the temporary folder and from the recorded destination
// folders; nothing at all while an export holds its lock. Returns the files removed. Never throws.
std::vector<std::filesystem::path> sweepStale(std::chrono::seconds age = minimumAge);

} // namespace ExportTemporaries

} // namespace fotivela
