#include "stem_runtime/demucs_runtime_installer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace fotivela::DemucsRuntimeInstaller {

bool isOwnedDirectory(const std::filesystem::path& path) noexcept
{
    // A final slash would make lstat look through a link; a URL's path has none.
    std::string text = path.native();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    struct stat info {};
    if (text.empty() || ::lstat(text.c_str(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid();
}

} // namespace fotivela::DemucsRuntimeInstaller
