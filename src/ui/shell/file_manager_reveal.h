#pragma once

#include <QUrl>

#include <filesystem>
#include <functional>

namespace fotivela {

// Shows `file` selected in the desktop's file manager (the freedesktop FileManager1
// ShowItems call on the session bus). When no file manager takes the call, `openFolder`
// gets the folder that holds the file; by default the desktop opens it.
void revealInFileManager(const std::filesystem::path& file,
                         std::function<void(const QUrl& folder)> openFolder = {});

} // namespace fotivela
