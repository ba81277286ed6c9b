#include "platform/atomic_file.h"

#include "platform/log.h"
#include "platform/uuid.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fotivela {

namespace {

class TemporaryFile {
public:
    explicit TemporaryFile(std::filesystem::path path) : m_path(std::move(path)) {}
    ~TemporaryFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_kept)
            ::unlink(m_path.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    int& fd() { return m_fd; }
    void keep() { m_kept = true; }

private:
    std::filesystem::path m_path;
    int m_fd = -1;
    bool m_kept = false;
};

void syncDirectory(const std::filesystem::path& folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd); // The rename is already visible; this only makes it survive a crash.
    ::close(fd);
}

// The path at the end of a chain of symbolic links; the path itself when it is not one.
std::filesystem::path followLinks(const std::filesystem::path& path)
{
    std::filesystem::path current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return current;
        std::string text(static_cast<std::size_t>(PATH_MAX), '\0');
        const ssize_t length = ::readlink(current.c_str(), text.data(), text.size());
        if (length < 0)
            throw FileWriteError(path, errno);
        text.resize(static_cast<std::size_t>(length));
        const std::filesystem::path next(text);
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    throw FileWriteError(path, ELOOP);
}

} // namespace

FileWriteError::FileWriteError(const std::filesystem::path& target, int errorNumber)
    : Error("No se pudo guardar el archivo «" + target.filename().string() + "»."),
      m_target(target), m_errorNumber(errorNumber)
{
}

void atomicWriteFile(const std::filesystem::path& target, std::string_view bytes, mode_t mode)
{
    const auto folder = target.parent_path();
    std::string name = Uuid::random().toString();
    name.insert(name.begin(), '.');
    name.append(".tmp");
    TemporaryFile temporary(folder / name);
    auto fail = [&](int errorNumber) { throw FileWriteError(target, errorNumber); };

    int& fd = temporary.fd();
    fd = ::open(temporary.path().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0)
        fail(errno);
    if (::fchmod(fd, mode) != 0)
        fail(errno);

    const char* data = bytes.data();
    std::size_t remaining = bytes.size();
    while (remaining > 0) {
        const ssize_t written = ::write(fd, data, remaining);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        data += written;
        remaining -= static_cast<std::size_t>(written);
    }
    if (::fsync(fd) != 0)
        fail(errno);
    const int closing = fd;
    fd = -1;
    if (::close(closing) != 0)
        fail(errno);
    if (::rename(temporary.path().c_str(), target.c_str()) != 0)
        fail(errno);
    temporary.keep();
    syncDirectory(folder);
}

void atomicWriteFileThroughLinks(const std::filesystem::path& target, std::string_view bytes, mode_t mode)
{
    const std::filesystem::path file = followLinks(target);
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        mode = info.st_mode & 07777;
    atomicWriteFile(file, bytes, mode);
}

bool isAtomicWriteTemporaryName(std::string_view name)
{
    constexpr std::string_view suffix = ".tmp";
    constexpr std::size_t uuidLength = 36;
    if (name.size() != 1 + uuidLength + suffix.size() || name.front() != '.' || !name.ends_with(suffix))
        return false;
    // Exactly as Uuid::random() prints: upper case, version 4, the standard variant. Other
    // programs' temporaries (lower-case UUIDs above all) are not ours to take.
    const std::string_view id = name.substr(1, uuidLength);
    const std::optional<Uuid> parsed = Uuid::parse(id);
    constexpr std::string_view variants = "89AB";
    return parsed && parsed->toString() == id && id[14] == '4' && variants.find(id[19]) != std::string_view::npos;
}

std::vector<std::filesystem::path> removeAbandonedTemporaryFiles(const std::filesystem::path& root,
                                                                 const std::filesystem::path& below,
                                                                 const std::filesystem::path& spared,
                                                                 std::chrono::seconds age)
{
    std::vector<std::filesystem::path> removed;
    // Every step down refuses a link, the root's own name included: a link may lead anywhere.
    constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(root.c_str(), folderFlags);
    std::filesystem::path folder = root;
    for (const std::filesystem::path& part : below) {
        if (fd < 0)
            return removed;
        const int next = ::openat(fd, part.c_str(), folderFlags);
        ::close(fd);
        fd = next;
        folder /= part;
    }
    if (fd < 0)
        return removed;
    DIR* listing = ::fdopendir(fd);
    if (!listing) {
        ::close(fd);
        return removed;
    }
    struct stat sparedInfo {};
    const bool hasSpared = !spared.empty() && ::stat(spared.c_str(), &sparedInfo) == 0;
    while (const dirent* entry = ::readdir(listing)) {
        if (!isAtomicWriteTemporaryName(entry->d_name))
            continue;
        struct stat info {};
        if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)
            || info.st_uid != ::getuid())
            continue;
        if (hasSpared && info.st_dev == sparedInfo.st_dev && info.st_ino == sparedInfo.st_ino)
            continue;
        // A write still running keeps its file fresh: only one untouched for long was abandoned.
        const auto modified = std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
        if (std::chrono::system_clock::now() - modified < age)
            continue;
        if (::unlinkat(fd, entry->d_name, 0) == 0) {
            removed.push_back(folder / entry->d_name);
            logLine("Fotivela removed the leftover of a killed write: " + removed.back().string());
        }
    }
    ::closedir(listing);
    return removed;
}

} // namespace fotivela
