#pragma once

#include <filesystem>

namespace fotivela::DemucsRuntimeInstaller {

// True for a real directory (not a link to one) owned by the process's real user.
// Missing paths and every failure answer false.
bool isOwnedDirectory(const std::filesystem::path& path) noexcept;

} // namespace fotivela::DemucsRuntimeInstaller
