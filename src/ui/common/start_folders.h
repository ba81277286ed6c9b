#pragma once

#include <QString>

#include <filesystem>

namespace fotivela::StartFolders {

// Where a file panel opens when nothing better is known: the user's own folder for that kind
// of file, or the home folder where the desktop has none. Never the program's working folder.
QString pictures();
QString music();
QString videos();
QString documents();
QString home();

// `folder` when it exists, otherwise `fallback`.
QString existingOr(const std::filesystem::path& folder, const QString& fallback);

} // namespace fotivela::StartFolders
