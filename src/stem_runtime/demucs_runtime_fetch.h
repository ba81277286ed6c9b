#pragma once

#include "stem_runtime/demucs_runtime_manager.h"
#include "stem_runtime/demucs_runtime_package.h"

#include <filesystem>
#include <stop_token>
#include <string>

namespace fotivela::DemucsRuntimeFetch {

// The package's bytes, checked against the source's SHA-256. A file URL (or an absolute path)
// is read where it lies, when it is a regular file; an http(s) URL is downloaded with
// /usr/bin/curl into partialFile, resuming what an earlier attempt left there, and never
// written past the package's size (1 GiB where that is not known). A download that fails leaves
// partialFile only where a later attempt can resume it. Progress is in bytes (expected 0 when
// unknown). Throws DemucsRuntimeError: missing package, failed download, digest mismatch (also
// for a file larger than the package), full disk, stop request.
std::string fetchVerifiedArchive(const DemucsRuntimePackageSource& source, const std::filesystem::path& partialFile,
    const DemucsInstallProgress& progress, std::stop_token stop);

} // namespace fotivela::DemucsRuntimeFetch
