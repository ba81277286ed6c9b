#include "stem_runtime/demucs_runtime_installer.h"

#include <sys/stat.h>
#include <unistd.h>

namespace fotivela::DemucsRuntimeInstaller {

bool isOwnedDirectory(const std::filesystem::path& path) noexcept
{
    struct stat info {};
    if (path.empty() || ::lstat(path.c_str(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid();
}

} // namespace fotivela::DemucsRuntimeInstaller
