#include "platform/regular_file.h"

#include "platform/descriptor_copy.h"

#include <cerrno>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fotivela {

namespace {

RegularFile::Refusal refusalOf(int errorNumber)
{
    switch (errorNumber) {
    case ENOENT:
    case ENOTDIR:
        return RegularFile::Refusal::missing;
    case EACCES:
    case EPERM:
        return RegularFile::Refusal::notPermitted;
    case EISDIR:
    case ENXIO: // a socket, or a device with nothing behind it
        return RegularFile::Refusal::notRegular;
    default:
        return RegularFile::Refusal::other;
    }
}

} // namespace

std::optional<RegularFile> RegularFile::open(const std::filesystem::path& path, Refusal* refusal, Links links)
{
    const auto refuse = [&](Refusal why) -> std::optional<RegularFile> {
        if (refusal)
            *refusal = why;
        return std::nullopt;
    };
    if (path.empty())
        return refuse(Refusal::missing);
    // O_NONBLOCK makes the open of a FIFO with no writer return at once; O_NOCTTY keeps a
    // terminal from becoming ours.
    const int noLinks = links == Links::refuse ? O_NOFOLLOW : 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | noLinks);
    if (fd < 0)
        return refuse(errno == ELOOP && noLinks ? Refusal::notRegular : refusalOf(errno));
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return refuse(Refusal::notRegular);
    }
    // Reads of a regular file never wait anyway; the flag is dropped so that nothing
    // downstream sees EAGAIN-style behaviour it does not expect.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return RegularFile(fd, static_cast<std::uint64_t>(status.st_size));
}

bool RegularFile::isReadable(const std::filesystem::path& path)
{
    return open(path).has_value();
}

RegularFile::~RegularFile()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1))
    , m_size(other.m_size)
{
}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept
{
    if (this != &other) {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        m_descriptor = std::exchange(other.m_descriptor, -1);
        m_size = other.m_size;
    }
    return *this;
}

std::filesystem::path RegularFile::reopenPath() const
{
    return "/proc/self/fd/" + std::to_string(m_descriptor);
}

std::error_code RegularFile::copyTo(const std::filesystem::path& to) const
{
    const auto failure = [] { return std::error_code(errno, std::generic_category()); };
    struct stat status {};
    if (::fstat(m_descriptor, &status) != 0)
        return failure();
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, status.st_mode & 0777);
    if (out < 0)
        return failure();
    std::error_code error = copyDescriptorBytes(m_descriptor, out);
    if (::close(out) != 0 && !error)
        error = failure();
    if (error)
        ::unlink(to.c_str());
    return error;
}

} // namespace fotivela
