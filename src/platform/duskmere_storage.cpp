#include "platform/duskmere_storage.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fotivela::DuskmereStorage {

namespace {

constexpr const char* suiteName = "com.quenbarrow.orvelant";

std::filesystem::path homeDirectory()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

} // namespace

std::filesystem::path suiteDirectory()
{
    if (const char* root = std::getenv("DUSKMERE_TEST_ROOT"); root && *root) {
        std::error_code error;
        auto absolute = std::filesystem::absolute(root, error);
        return error ? std::filesystem::path(root) : absolute;
    }
    // XDG: a relative value is invalid and ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        return std::filesystem::path(data) / suiteName;
    return homeDirectory() / ".local" / "share" / suiteName;
}

bool createPrivateDirectories(const std::filesystem::path& path)
{
    std::filesystem::path partial;
    for (const auto& component : path) {
        partial /= component;
        if (component.empty() || partial == partial.root_path())
            continue;
        if (::mkdir(partial.c_str(), 0700) == 0) {
            // The umask may have narrowed the mode; the folder is ours, so set it exactly.
            ::chmod(partial.c_str(), 0700);
            continue;
        }
        if (errno != EEXIST)
            return false;
        struct stat info {};
        if (::stat(partial.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            return false;
    }
    return true;
}

std::filesystem::path temporaryDirectory()
{
    const auto folder = suiteDirectory() / "Fotivela" / "Temporary";
    createPrivateDirectories(folder);
    return folder;
}

} // namespace fotivela::DuskmereStorage
