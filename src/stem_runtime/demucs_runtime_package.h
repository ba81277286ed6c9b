#pragma once

#include <cstdint>
#include <string>

namespace fotivela {

// Where a runtime package comes from and what it must be.
struct DemucsRuntimePackageSource {
    std::string url;     // file, http or https URL of the archive (an absolute path is taken too)
    std::string sha256;  // the archive's SHA-256, lower-case hex; empty when none was built
    std::string version; // the runtime version the manifest must name; empty accepts any
    std::uint64_t size = 0; // the archive's size in bytes; 0 when not known

    friend bool operator==(const DemucsRuntimePackageSource&, const DemucsRuntimePackageSource&) = default;
};

namespace DemucsRuntimePackage {

inline constexpr const char* urlVariable = "FOTIVELA_STEM_RUNTIME_URL";
inline constexpr const char* archiveFileName = "fotivela-stem-runtime.tar.gz";

// The package this build of the program ships: its digest and version as the build compiled
// them in, at the URL of urlVariable when set and not empty, else defaultURL().
DemucsRuntimePackageSource shippedSource();

// The file URL of the archive beside the running program, or, where there is none, of the one
// in the build tree this program was built in.
std::string defaultURL();

// Compiled in by the build from the package it made (empty when it made none).
const char* builtArchiveSha256();
const char* builtVersion();
const char* builtArchivePath();
unsigned long long builtArchiveSize(); // 0 when it made none

} // namespace DemucsRuntimePackage

} // namespace fotivela
