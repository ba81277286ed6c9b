#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace fotivela {

class FotivelaPreferences;

// The project document type: the identifier the program declares for its files, and the
// shared-mime-info type the desktop registers for them (glob "*.fotivela", a kind of JSON).
struct DocumentType {
    std::string_view identifier;
    std::string_view mimeType;
    std::string_view conformsToMimeType;
    std::string_view fileExtension;
    bool operator==(const DocumentType&) const = default;
};

// Where a project lives on disk: <parent>/<safe name>/<safe name>.fotivela.
namespace ProjectFileLayout {

inline constexpr std::string_view projectFileExtension = "fotivela";
inline constexpr std::string_view defaultProjectName = "Nuevo video";
inline constexpr std::string_view defaultProjectDirectoryKey = "defaultProjectDirectory";
inline constexpr std::string_view projectsFolderName = "Fotivela Projects";

inline constexpr DocumentType fotivelaProject{
    "com.fotivela.project", "application/x-fotivela-project", "application/json", "fotivela"};

// Each of / \ : ? % * | " < > becomes one hyphen, then blanks and line breaks are trimmed from
// both ends. May be empty.
std::string sanitizedFileName(std::string_view name);

// File names hold at most 255 bytes, and the project's file adds ".fotivela" to its folder's name.
inline constexpr std::size_t maximumNameComponentBytes = 200;

// The name itself when it fits in maximumNameComponentBytes; otherwise its start, cut at a character
// boundary, and "-" with eight hexadecimal digits of a hash of the whole name, so that long names
// sharing a start stay apart. The name shown to the user is never shortened.
std::string shortenedNameComponent(const std::string& name);

// The sanitised name when it is usable as one path component, else `fallback`: an empty name, or one
// of nothing but dots ("." or ".."), would put the files in (or above) the parent folder. Long names
// are shortened as above.
std::string safePathComponent(std::string_view name, std::string_view fallback = defaultProjectName);

// <parent>/<s>/<s>.fotivela with s the safe form of the name ("Nuevo video" for an empty one).
// Creates nothing.
std::filesystem::path defaultProjectURL(std::string_view name, const std::filesystem::path& parent);

// The project file behind what the user picked or the desktop handed over: a file unchanged; for a
// folder, <folder>/<folder name>.fotivela when it exists, else the first (by name) visible entry
// whose extension is exactly "fotivela"; nothing when there is none.
std::optional<std::filesystem::path> projectFileURL(const std::filesystem::path& selection);

// The folder stored under the key when it is non-empty text, else <Documents>/"Fotivela Projects"
// (the home folder standing in for a missing Documents folder). Neither checked nor created.
std::filesystem::path loadDefaultProjectDirectory(std::string_view userDefaultsKey, FotivelaPreferences& preferences);
std::filesystem::path loadDefaultProjectDirectory(std::string_view userDefaultsKey = defaultProjectDirectoryKey);

// folder/fileName when nothing is there, else the first free folder/<base>-<n>.<ext>, n = 2, 3, ...
std::filesystem::path uniqueDestination(std::string_view fileName, const std::filesystem::path& folder);

// Every visible regular file below the folder, keyed by its lower-cased name; a later file in the
// walk replaces an earlier one of the same key. Hidden entries and symbolic links are skipped; a
// folder that cannot be read gives an empty index.
std::unordered_map<std::string, std::filesystem::path> regularFileIndex(const std::filesystem::path& folder);

} // namespace ProjectFileLayout

} // namespace fotivela
