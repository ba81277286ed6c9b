#include "model/separation_work_folder.h"

#include "model/project_audio_resource_storage.h"
#include "platform/log.h"
#include "stem_runtime/demucs_runtime_installer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace fs = std::filesystem;

namespace fotivela::SeparationWorkFolder {

namespace {

int openFolder(const fs::path& folder)
{
    return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

[[noreturn]] void fail(const char* what, const fs::path& folder, int error)
{
    throw fs::filesystem_error(what, folder, std::error_code(error, std::generic_category()));
}

} // namespace

bool isWorkFolderName(std::string_view name)
{
    return name.size() > namePrefix.size() && name.substr(0, namePrefix.size()) == namePrefix;
}

Lock::Lock(const fs::path& folder)
{
    m_fd = openFolder(folder);
    if (m_fd < 0)
        fail("cannot open work folder", folder, errno);
    int error = 0;
    // Waits out a sweep that took the folder for a leftover in the instant before this lock.
    while (::flock(m_fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            error = errno;
            break;
        }
    }
    struct stat locked {};
    struct stat named {};
    if (error == 0 && (::fstat(m_fd, &locked) != 0 || ::lstat(folder.c_str(), &named) != 0
            || locked.st_dev != named.st_dev || locked.st_ino != named.st_ino))
        error = ENOENT;
    if (error != 0) {
        ::close(m_fd);
        m_fd = -1;
        fail("cannot lock work folder", folder, error);
    }
}

Lock::~Lock()
{
    if (m_fd >= 0)
        ::close(m_fd); // closing releases the lock
}

std::vector<fs::path> sweepAbandoned(const fs::path& stemsRoot)
{
    std::vector<fs::path> removed;
    std::error_code error;
    for (fs::directory_iterator entry(stemsRoot, error), end; !error && entry != end; entry.increment(error)) {
        const fs::path folder = entry->path();
        if (!isWorkFolderName(folder.filename().native()) || !DemucsRuntimeInstaller::isOwnedDirectory(folder))
            continue;
        const int fd = openFolder(folder);
        if (fd < 0)
            continue;
        // Held: a separation writes here now, in this process or another.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            try {
                if (ProjectAudioResourceStorage::containsOnlyRegularFilesAndDirectories(folder)) {
                    fs::remove_all(folder);
                    removed.push_back(folder);
                    logLine("Fotivela removed an abandoned separation folder: " + folder.string());
                }
            } catch (const std::exception&) {
            }
        }
        ::close(fd);
    }
    return removed;
}

} // namespace fotivela::SeparationWorkFolder
