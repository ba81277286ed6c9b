#include "stem_runtime/demucs_runtime_install_lock.h"

#include "stem_runtime/demucs_runtime_manager.h"
#include "stem_runtime/demucs_runtime_texts.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace fotivela {

DemucsRuntimeInstallLock::DemucsRuntimeInstallLock(const std::filesystem::path& lockFile, std::stop_token stop)
{
    m_fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0)
        throw DemucsRuntimeError(DemucsRuntimeTexts::installFailed);
    for (;;) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
            return;
        const int error = errno;
        if (error != EWOULDBLOCK && error != EINTR) {
            ::close(m_fd);
            throw DemucsRuntimeError(DemucsRuntimeTexts::installFailed);
        }
        if (stop.stop_requested()) {
            ::close(m_fd);
            throw DemucsRuntimeError(DemucsRuntimeTexts::cancelled);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

DemucsRuntimeInstallLock::~DemucsRuntimeInstallLock()
{
    ::close(m_fd);
}

} // namespace fotivela
