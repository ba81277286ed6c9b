#include "export/export_temporaries.h"

#include "platform/atomic_file.h"
#include "platform/duskmere_storage.h"
#include "platform/log.h"

#include <algorithm>
#include <cctype>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fotivela::ExportTemporaries {

namespace {

namespace fs = std::filesystem;

constexpr const char* lockName = ".exports.lock";
constexpr const char* destinationsName = "export-destinations.txt";
constexpr std::size_t rememberedDestinations = 16;

fs::path temporaryFolder()
{
    return DuskmereStorage::temporaryDirectory();
}

int openLockFile()
{
    return ::open((temporaryFolder() / lockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

// 8-4-4-4-12 hexadecimal digits.
bool isUuid(std::string_view text)
{
    if (text.size() != 36)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

bool isOlderThan(const fs::path& file, std::chrono::seconds age)
{
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::getuid())
        return false;
    const auto modified = std::chrono::system_clock::from_time_t(info.st_mtim.tv_sec);
    return std::chrono::system_clock::now() - modified >= age;
}

void sweepFolder(const fs::path& folder, bool (*matches)(const std::string&), std::chrono::seconds age,
                 std::vector<fs::path>& removed)
{
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const fs::path file = entry->path();
        if (!matches(file.filename().string()) || !isOlderThan(file, age))
            continue;
        if (::unlink(file.c_str()) == 0) {
            removed.push_back(file);
            logLine("Fotivela removed a leftover export file: " + file.string());
        }
    }
}

} // namespace

ActivityLock::ActivityLock()
{
    try {
        m_fd = openLockFile();
    } catch (const std::exception&) {
        m_fd = -1;
    }
    if (m_fd >= 0 && ::flock(m_fd, LOCK_SH) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

ActivityLock::~ActivityLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // closing releases the lock
}

bool isTemporaryVideoName(const std::string& name)
{
    constexpr std::string_view prefix = ".fotivela-";
    if (!name.starts_with(prefix))
        return false;
    const std::string_view rest = std::string_view(name).substr(prefix.size());
    if (rest.size() == 36 + 4 && rest.ends_with(".mp4"))
        return isUuid(rest.substr(0, 36));
    if (rest.size() == 36 + 10 && rest.ends_with("-audio.mp4"))
        return isUuid(rest.substr(0, 36));
    return false;
}

bool isStagedCopyName(const std::string& name)
{
    constexpr std::string_view suffix = ".part";
    // "." + at least one character + "-" + UUID + ".part"
    if (name.size() < 1 + 1 + 1 + 36 + suffix.size() || name[0] != '.' || !name.ends_with(suffix))
        return false;
    const std::size_t uuidStart = name.size() - suffix.size() - 36;
    return name[uuidStart - 1] == '-' && isUuid(std::string_view(name).substr(uuidStart, 36));
}

void recordDestinationFolder(const fs::path& destination)
{
    try {
        fs::path folder = destination.parent_path();
        if (folder.empty())
            folder = fs::current_path();
        std::vector<fs::path> folders = recordedDestinationFolders();
        std::erase(folders, folder);
        folders.push_back(folder);
        if (folders.size() > rememberedDestinations)
            folders.erase(folders.begin(), folders.end() - rememberedDestinations);
        std::string text;
        for (const fs::path& each : folders)
            text += each.string() + '\n';
        atomicWriteFile(temporaryFolder() / destinationsName, text);
    } catch (const std::exception&) {
        // The record only helps a later clean-up; it never fails an export.
    }
}

std::vector<fs::path> recordedDestinationFolders()
{
    std::vector<fs::path> folders;
    try {
        std::ifstream in(temporaryFolder() / destinationsName);
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line.front() == '/')
                folders.emplace_back(line);
    } catch (const std::exception&) {
    }
    return folders;
}

std::vector<fs::path> sweepStale(std::chrono::seconds age)
{
    std::vector<fs::path> removed;
    try {
        const int fd = openLockFile();
        if (fd < 0)
            return removed;
        // A shared lock held anywhere means an export runs: its files are not leftovers.
        const bool idle = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (idle) {
            sweepFolder(temporaryFolder(), isTemporaryVideoName, age, removed);
            for (const fs::path& folder : recordedDestinationFolders())
                sweepFolder(folder, isStagedCopyName, age, removed);
        }
        ::close(fd);
    } catch (const std::exception&) {
    }
    return removed;
}

} // namespace fotivela::ExportTemporaries
