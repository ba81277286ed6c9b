#pragma once

#include <filesystem>
#include <optional>

namespace fotivela {

// The user's Documents folder from the XDG user directories (XDG_DOCUMENTS_DIR), nothing when
// none can be named. Not checked for existence, as the desktop's own look-up does not.
std::optional<std::filesystem::path> userDocumentsFolder();

// The user's home folder: $HOME, else the password database's entry for the real user.
std::filesystem::path userHomeFolder();

} // namespace fotivela
