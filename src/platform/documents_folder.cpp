#include "platform/documents_folder.h"

#include <QStandardPaths>
#include <QString>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace fotivela {

std::optional<std::filesystem::path> userDocumentsFolder()
{
    const QString location = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (location.isEmpty())
        return std::nullopt;
    return std::filesystem::path(location.toStdString());
}

std::filesystem::path userHomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home);
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_dir && *result->pw_dir)
        return std::filesystem::path(result->pw_dir);
    return std::filesystem::path("/");
}

} // namespace fotivela
