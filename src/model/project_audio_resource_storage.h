#pragma once

#include "platform/error.h"

#include <filesystem>
#include <optional>
#include <set>
#include <string>
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
// compared with links resolved on both sides; work folders of a separation in progress
// (".separation-*") are never touched. Throws file errors.
void pruneUnreferencedResources(const std::filesystem::path& projectURL,
                                const std::vector<std::filesystem::path>& retaining);

} // namespace ProjectAudioResourceStorage
} // namespace fotivela
