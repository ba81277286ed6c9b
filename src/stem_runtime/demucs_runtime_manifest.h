#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fotivela {

// One payload file of the runtime package, path relative to the package root.
struct DemucsRuntimeManifestFile {
    std::string path;
    std::string sha256;
    std::uint64_t size = 0;

    friend bool operator==(const DemucsRuntimeManifestFile&, const DemucsRuntimeManifestFile&) = default;
};

// "manifest.json" at the root of the package: what every other file must be.
struct DemucsRuntimeManifest {
    std::string format;
    std::string version;
    std::vector<DemucsRuntimeManifestFile> files;

    friend bool operator==(const DemucsRuntimeManifest&, const DemucsRuntimeManifest&) = default;
};

namespace DemucsRuntimeManifestRules {

inline constexpr std::string_view formatName = "fotivela-stem-runtime-1";
inline constexpr std::string_view manifestFileName = "manifest.json";
// The package's fixed layout: the separator and its model folder.
inline constexpr std::string_view executablePath = "bin/fotivela-stem-separator";
inline constexpr std::string_view modelFolder = "model";
inline constexpr std::string_view modelName = "htdemucs";
inline constexpr std::string_view modelFilePath = "model/htdemucs.json";

// Reads a manifest; nothing when it is not JSON of that shape, has an unknown format, an invalid
// version, an unsafe or repeated path, or a digest that is not 64 hex digits.
std::optional<DemucsRuntimeManifest> parse(std::string_view json);

std::string encode(const DemucsRuntimeManifest& manifest);

// The version field of the model file; nothing when it has none.
std::optional<std::string> modelVersion(std::string_view modelFileJson);

// 1 to 64 of letters, digits, '.', '_', '+' and '-', not starting with '.'; it names a folder.
bool isValidVersion(std::string_view version);

// Relative, '/'-separated, no empty, "." or ".." component, no NUL or backslash.
bool isSafeRelativePath(std::string_view path);

} // namespace DemucsRuntimeManifestRules

} // namespace fotivela
