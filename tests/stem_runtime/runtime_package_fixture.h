#pragma once

#include "stem_runtime/demucs_runtime_package.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fotivela::test {

// One entry of a hand-made runtime archive.
struct ArchiveEntry {
    enum class Kind { file, directory, symlink, hardlink };
    std::string path;
    std::string content; // a file's bytes, or a link's target
    Kind kind = Kind::file;
};

// A gzip-compressed tar of the entries, in order, as libarchive writes it: padded with zeros to
// a whole 10240-byte block unless `padded` is false.
std::string makeTarGz(const std::vector<ArchiveEntry>& entries, bool padded = true);

// A small, valid runtime payload: a shell script as the separator and a model file of `version`.
std::vector<ArchiveEntry> samplePayload(const std::string& version);

// "manifest.json" naming every file entry of payload with its size and digest.
ArchiveEntry manifestEntry(const std::vector<ArchiveEntry>& payload, const std::string& version);

// payload plus its manifest, packed.
std::string samplePackage(const std::string& version);

// The size of the largest file entry in a gzip-compressed tar.
std::uint64_t largestEntrySize(const std::string& tarGz);

// Writes bytes to file and answers a source for them (file URL, their digest, version).
DemucsRuntimePackageSource writePackage(const std::filesystem::path& file, const std::string& bytes,
    const std::string& version);

std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& bytes);

// The names directly in folder, sorted.
std::vector<std::string> entryNames(const std::filesystem::path& folder);

// Everything under folder, as sorted relative paths ("" for none or a missing folder).
std::vector<std::string> listTree(const std::filesystem::path& folder);

// Sets an environment variable for the life of this object, restoring the earlier value.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string m_name;
    bool m_hadValue = false;
    std::string m_oldValue;
};

} // namespace fotivela::test
