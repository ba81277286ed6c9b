#include "platform/atomic_file.h"

#include "platform/uuid.h"

#include <cerrno>
#include <climits>
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

} // namespace fotivela

namespace fotivela {

void atomicWriteFileThroughLinks(const std::filesystem::path& target, std::string_view bytes, mode_t mode)
{
    const std::filesystem::path file = followLinks(target);
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        mode = info.st_mode & 07777;
    atomicWriteFile(file, bytes, mode);
}

} // namespace fotivela
