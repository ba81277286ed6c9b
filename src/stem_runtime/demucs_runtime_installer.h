#pragma once

#include "stem_runtime/demucs_runtime_manager.h"
#include "stem_runtime/demucs_runtime_package.h"

#include <filesystem>
#include <stop_token>

namespace fotivela::DemucsRuntimeInstaller {

// True for a real directory (not a link to one) owned by the process's real user.
// Missing paths and every failure answer false.
bool isOwnedDirectory(const std::filesystem::path& path) noexcept;

// The runtime of `source` under root: the active install when it came from this package and is
// whole, else a fresh install. Installing takes the cross-process install lock, fetches and
// checks the archive, unpacks it into a staging folder, checks every file against the manifest,
// and activates it with one rename and an atomic write of active.json. Any failure leaves the
// earlier active runtime (or none) as it was and throws DemucsRuntimeError.
DemucsRuntimeHandle ensureRuntime(const std::filesystem::path& root, const DemucsRuntimePackageSource& source,
    const DemucsInstallProgress& progress, std::stop_token stop);

} // namespace fotivela::DemucsRuntimeInstaller
