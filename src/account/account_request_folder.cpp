#include "account/account_request_folder.h"

#include "platform/atomic_file.h"
#include "platform/uuid.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fotivela {

namespace {

constexpr const char* folderPrefix = "fotivela-http-";
constexpr const char* lockName = "owner.lock";

} // namespace

AccountRequestFolder::AccountRequestFolder(const std::filesystem::path& parent)
    : m_path(parent / (folderPrefix + Uuid::random().toString()))
{
    if (::mkdir(m_path.c_str(), 0700) != 0)
        throw FileWriteError(m_path, errno);
    // Close-on-exec: the curl children must not hold the lock on their own.
    m_lock = ::open((m_path / lockName).c_str(), O_CREAT | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lock < 0 || ::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
        if (m_lock >= 0)
            ::close(m_lock);
        throw FileWriteError(m_path, error);
    }
}

AccountRequestFolder::~AccountRequestFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
    ::close(m_lock);
}

void AccountRequestFolder::removeAbandoned(const std::filesystem::path& parent)
{
    std::error_code error;
    const auto now = std::filesystem::file_time_type::clock::now();
    for (const auto& entry : std::filesystem::directory_iterator(parent, error)) {
        if (!entry.path().filename().string().starts_with(folderPrefix))
            continue;
        std::error_code ignored;
        if (!entry.is_directory(ignored) || entry.is_symlink(ignored))
            continue;
        const int lock = ::open((entry.path() / lockName).c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        bool abandoned = false;
        if (lock >= 0) {
            // Taken at once only when no running request holds it.
            abandoned = ::flock(lock, LOCK_EX | LOCK_NB) == 0;
        } else {
            const auto modified = std::filesystem::last_write_time(entry.path(), ignored);
            abandoned = !ignored && now - modified > std::chrono::minutes(1);
        }
        if (abandoned)
            std::filesystem::remove_all(entry.path(), ignored);
        if (lock >= 0)
            ::close(lock);
    }
}

} // namespace fotivela
