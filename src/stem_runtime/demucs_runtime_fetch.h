#pragma once

#include "stem_runtime/demucs_runtime_manager.h"

#include <filesystem>
#include <stop_token>
#include <string>

namespace fotivela::DemucsRuntimeFetch {

// The package's bytes, checked against the expected SHA-256. A file URL (or an absolute path)
// is read where it lies; an http(s) URL is downloaded with /usr/bin/curl into partialFile,
// resuming what an earlier attempt left there. Progress is in bytes (expected 0 when unknown).
// Throws DemucsRuntimeError: missing package, failed download, digest mismatch, stop request.
std::string fetchVerifiedArchive(const std::string& url, const std::string& expectedSha256,
    const std::filesystem::path& partialFile, const DemucsInstallProgress& progress, std::stop_token stop);

} // namespace fotivela::DemucsRuntimeFetch
