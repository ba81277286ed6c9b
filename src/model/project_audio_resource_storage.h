#pragma once

#include "platform/error.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace fotivela {

// The audio files a project owns inside its folder: generated songs and stem sets.
// Every path is trusted only after a walk that refuses links and foreign owners.
namespace ProjectAudioResourceStorage {

enum class StorageErrorCase { invalidOwnedPath, conversionFailed };

// Carries no text of its own: what() is the generic failure text.
class StorageError : public Error {
public:
    explicit StorageError(StorageErrorCase errorCase);
    StorageErrorCase errorCase() const { return m_case; }

private:
    StorageErrorCase m_case;
};

enum class FileKind { regularFile, directory };

inline constexpr const char* generatedMusicFolder = "AI/GeneratedMusic";
inline constexpr const char* stemsFolder = "AI/Stems";

// Lexically normalised absolute form, no trailing separator.
std::filesystem::path standardized(const std::filesystem::path& path);
// The folder that holds the project file, standardised.
std::filesystem::path projectDirectory(const std::filesystem::path& projectURL);

bool realPathComponents(const std::filesystem::path& root, const std::filesystem::path& target,
                        std::optional<FileKind> finalKind) noexcept;
bool isOwnedURL(const std::filesystem::path& url, const std::filesystem::path& projectURL) noexcept;
bool isRegularOwnedFile(const std::filesystem::path& url, const std::filesystem::path& root) noexcept;
// Throws std::filesystem::filesystem_error when an entry cannot be inspected.
bool containsOnlyRegularFilesAndDirectories(const std::filesystem::path& folder);

std::filesystem::path uniqueDestination(const std::string& fileName, const std::filesystem::path& folder);
std::filesystem::path uniqueDirectory(const std::string& name, const std::filesystem::path& parent);

std::optional<std::filesystem::path> copyOwnedStemDirectory(const std::filesystem::path& source,
                                                            const std::filesystem::path& sourceProjectURL,
                                                            const std::filesystem::path& destinationProjectURL);

// Deletes generated songs and stem sets that no retained path refers to. Paths are
// compared with links resolved on both sides; work folders (".separation-*") go only when no
// running separation holds them. Throws file errors.
void pruneUnreferencedResources(const std::filesystem::path& projectURL,
                                const std::vector<std::filesystem::path>& retaining);

// Lossless storage: a WAV the project keeps becomes FLAC only when the FLAC provably
// decodes to the very same samples; otherwise it stays a WAV.

// The values of a FLAC file's STREAMINFO block.
struct FLACStreamInfo {
    std::int64_t sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 0;
    std::int64_t totalSamples = 0;

    bool operator==(const FLACStreamInfo&) const = default;
};

// Stores a generated song in the project's "AI/GeneratedMusic" under a free name made
// from the last component of fileName (a lossless WAV as FLAC) and returns where it
// lies. Throws file errors; never leaves its temporary file behind.
std::filesystem::path persistGeneratedAudio(std::string_view data, const std::string& fileName,
                                            const std::filesystem::path& projectURL);

// Integer PCM of 16 or 24 bits, with channels and a sample rate.
bool canRepresentLosslesslyAsFLAC(const std::filesystem::path& url) noexcept;
std::optional<FLACStreamInfo> flacStreamInfo(const std::filesystem::path& url) noexcept;
// SHA-256 of the bytes of the first "data" chunk, as 64 lower-case hex digits.
std::optional<std::string> wavPCMDataDigest(const std::filesystem::path& url) noexcept;
// The PCM digest of the file decoded to little-endian integers of that depth (16 or 24).
std::optional<std::string> decodedPCMDigest(const std::filesystem::path& url, int bits) noexcept;
bool outputMatches(const std::filesystem::path& source, const std::filesystem::path& flac) noexcept;

// Writes the FLAC under a temporary name, verifies it and only then links it to the
// destination, which is never overwritten. The source is not touched. Throws
// StorageError(conversionFailed).
void convertWAVToFLAC(const std::filesystem::path& source, const std::filesystem::path& destinationURL);

// Replaces each lossless WAV of a fresh stem folder by its verified FLAC; a file that
// cannot be converted stays a WAV. Throws StorageError(invalidOwnedPath) for a folder
// that is not the user's own, and the error of listing it.
void convertLosslessWAVFiles(const std::filesystem::path& folder);

} // namespace ProjectAudioResourceStorage
} // namespace fotivela
