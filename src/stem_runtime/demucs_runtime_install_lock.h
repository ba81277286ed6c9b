#pragma once

#include <filesystem>
#include <stop_token>

namespace fotivela {

// An exclusive flock on the install lock file, held for this object's life. Installs of every
// process on the machine pass through it one at a time. The lock is tried without blocking and
// retried every 100 ms until it is taken or `stop` is requested (DemucsRuntimeError).
class DemucsRuntimeInstallLock {
public:
    DemucsRuntimeInstallLock(const std::filesystem::path& lockFile, std::stop_token stop);
    ~DemucsRuntimeInstallLock();
    DemucsRuntimeInstallLock(const DemucsRuntimeInstallLock&) = delete;
    DemucsRuntimeInstallLock& operator=(const DemucsRuntimeInstallLock&) = delete;

private:
    int m_fd = -1;
};

} // namespace fotivela
