#pragma once

#include "stem_runtime/demucs_runtime_manager.h"
#include "stem_runtime/demucs_runtime_manifest.h"

#include <filesystem>
#include <optional>
#include <set>
#include <string>

namespace fotivela {

// Where the runtime lives under its root (suite / "DemucsRuntime"):
//   install.lock, active.json, versions/<version>-<UUID>/ (the installs),
//   staging/<UUID>/ (an install being unpacked), downloads/<sha256>.partial.
// An installed version folder holds the package's files, its manifest.json, the marker
// ".duskmere-demucs-install.json" and the runtime's cache folder "cache".
namespace DemucsRuntimeInstallLayout {

inline constexpr const char* rootFolderName = "DemucsRuntime";
inline constexpr const char* lockFileName = "install.lock";
inline constexpr const char* activeFileName = "active.json";
inline constexpr const char* markerFileName = ".duskmere-demucs-install.json";
inline constexpr const char* cacheFolderName = "cache";

std::filesystem::path defaultRoot();
inline std::filesystem::path versionsFolder(const std::filesystem::path& root) { return root / "versions"; }
inline std::filesystem::path stagingFolder(const std::filesystem::path& root) { return root / "staging"; }
inline std::filesystem::path downloadsFolder(const std::filesystem::path& root) { return root / "downloads"; }

} // namespace DemucsRuntimeInstallLayout

// active.json: which installed folder is the runtime.
struct DemucsRuntimeActiveRecord {
    std::string version;
    std::string folder;        // a folder name inside versions/
    std::string archiveSha256; // of the package it was installed from

    friend bool operator==(const DemucsRuntimeActiveRecord&, const DemucsRuntimeActiveRecord&) = default;
};

namespace DemucsRuntimeInstallState {

std::optional<DemucsRuntimeActiveRecord> readActiveRecord(const std::filesystem::path& root);
// Written atomically: readers see the earlier record or this one.
void writeActiveRecord(const std::filesystem::path& root, const DemucsRuntimeActiveRecord& record);

// The marker of a complete install, written into its folder before it is moved into place.
void writeMarker(const std::filesystem::path& versionFolder, const DemucsRuntimeActiveRecord& record);

// Every file under folder is one the manifest names, with its size and SHA-256, and every
// named file is there; folders only as parents. Paths in `extras` (relative) are allowed
// besides; folders in `skippedFolders` are not looked into. The package layout's executable and
// model file must be named, and the model file's version must be the manifest's.
// Throws DemucsRuntimeError (files not matching; wrong version).
void verifyPayload(const std::filesystem::path& folder, const DemucsRuntimeManifest& manifest,
    const std::set<std::string>& extras, const std::set<std::string>& skippedFolders);

// Reads and checks folder's manifest.json (DemucsRuntimeError when it cannot be read or is wrong).
DemucsRuntimeManifest readManifest(const std::filesystem::path& folder);

DemucsRuntimeHandle handleFor(const std::filesystem::path& versionFolder, const std::string& version);

// The active runtime when it was installed from the package with this digest and is whole:
// marker, manifest, every file's size and digest, the executable's mode. Nothing otherwise.
std::optional<DemucsRuntimeHandle> verifiedActiveRuntime(const std::filesystem::path& root,
    const std::string& archiveSha256);

} // namespace DemucsRuntimeInstallState

} // namespace fotivela
