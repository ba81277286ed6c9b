#include "model/project_file_layout.h"

#include "model/fotivela_preferences.h"
#include "platform/documents_folder.h"
#include "platform/text_trimming.h"

#include <QString>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <system_error>
#include <vector>

namespace fotivela::ProjectFileLayout {

namespace {

constexpr std::string_view forbiddenCharacters = "/\\:?%*|\"<>";

// "<name>.fotivela". Appending in place also keeps GCC 12's -Wrestrict false alarm on
// `"." + std::string(...)` out of optimised builds.
std::string projectFileName(std::string name)
{
    name += '.';
    name += projectFileExtension;
    return name;
}

bool isOnlyDots(std::string_view s)
{
    return !s.empty() && s.find_first_not_of('.') == std::string_view::npos;
}

bool entryExists(const std::filesystem::path& path)
{
    // A dangling symbolic link is taken: writing there would write through it.
    std::error_code error;
    return std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found
        || (error && error != std::errc::no_such_file_or_directory);
}

std::string lowercasedFileName(std::string_view name)
{
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii)
        return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).toLower().toStdString();
    std::string lower(name);
    for (auto& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

struct DirEntry {
    std::string name;
    unsigned char type;
};

// Reads one folder's visible entries; false when it cannot be opened.
bool readVisibleEntries(const std::string& folder, std::vector<DirEntry>& entries)
{
    entries.clear();
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return false;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        entries.push_back({entry->d_name, entry->d_type});
    }
    closedir(dir);
    return true;
}

void indexFolder(std::string& path, std::unordered_map<std::string, std::filesystem::path>& index)
{
    std::vector<DirEntry> entries;
    // The root folder is walked as "" so that its children read "/name", not "//name".
    if (!readVisibleEntries(path.empty() ? std::string("/") : path, entries))
        return;
    const std::size_t base = path.size();
    for (const auto& entry : entries) {
        path.push_back('/');
        path += entry.name;
        unsigned char type = entry.type;
        if (type == DT_UNKNOWN) {
            struct stat info {};
            if (lstat(path.c_str(), &info) == 0)
                type = S_ISREG(info.st_mode) ? DT_REG : S_ISDIR(info.st_mode) ? DT_DIR : DT_UNKNOWN;
        }
        if (type == DT_REG)
            index.insert_or_assign(lowercasedFileName(entry.name), std::filesystem::path(path));
        else if (type == DT_DIR)
            indexFolder(path, index);
        path.resize(base);
    }
}

} // namespace

std::string sanitizedFileName(std::string_view name)
{
    std::string replaced(name);
    for (auto& c : replaced) {
        if (forbiddenCharacters.find(c) != std::string_view::npos)
            c = '-';
    }
    return std::string(trimmedWhitespaceAndNewlines(replaced));
}

std::string shortenedNameComponent(const std::string& name)
{
    if (name.size() <= maximumNameComponentBytes)
        return name;
    // 32 bits of FNV-1a over the whole name: stable from run to run, unlike std::hash.
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char byte : name) {
        hash ^= byte;
        hash *= 1099511628211ull;
    }
    char fingerprint[10] = {};
    std::snprintf(fingerprint, sizeof fingerprint, "-%08x", static_cast<unsigned>(hash ^ (hash >> 32)));
    std::size_t cut = maximumNameComponentBytes - (sizeof fingerprint - 1);
    // Never in the middle of a character: continuation bytes look like 10xxxxxx.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;
    return name.substr(0, cut) + fingerprint;
}

std::string safePathComponent(std::string_view name, std::string_view fallback)
{
    std::string safe = sanitizedFileName(name);
    if (safe.empty() || isOnlyDots(safe))
        return std::string(fallback);
    return shortenedNameComponent(safe);
}

std::filesystem::path defaultProjectURL(std::string_view name, const std::filesystem::path& parent)
{
    const std::string safe = safePathComponent(name.empty() ? defaultProjectName : name);
    return parent / safe / projectFileName(safe);
}

std::optional<std::filesystem::path> projectFileURL(const std::filesystem::path& selection)
{
    std::error_code error;
    if (!std::filesystem::is_directory(selection, error))
        return selection;
    const std::string folderName = selection.filename().empty() ? selection.parent_path().filename().string()
                                                                : selection.filename().string();
    const auto named = selection / projectFileName(folderName);
    if (std::filesystem::exists(named, error))
        return named;

    std::vector<DirEntry> entries;
    if (!readVisibleEntries(selection.string(), entries))
        return std::nullopt;
    // The folder's own listing order is arbitrary on Linux; by name the choice is repeatable.
    std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    const std::string suffix = projectFileName("");
    for (const auto& entry : entries) {
        if (entry.name.size() > suffix.size() && entry.name.ends_with(suffix))
            return selection / entry.name;
    }
    return std::nullopt;
}

std::filesystem::path loadDefaultProjectDirectory(std::string_view userDefaultsKey, FotivelaPreferences& preferences)
{
    if (const auto stored = preferences.object(std::string(userDefaultsKey))) {
        if (const auto* text = stored->as<std::string>(); text && !text->empty())
            return std::filesystem::path(*text);
    }
    const auto parent = userDocumentsFolder().value_or(userHomeFolder());
    return parent / std::string(projectsFolderName);
}

std::filesystem::path loadDefaultProjectDirectory(std::string_view userDefaultsKey)
{
    return loadDefaultProjectDirectory(userDefaultsKey, FotivelaPreferences::shared());
}

std::filesystem::path uniqueDestination(std::string_view fileName, const std::filesystem::path& folder)
{
    auto candidate = folder / std::string(fileName);
    if (!entryExists(candidate))
        return candidate;
    // "a.b.c" has base "a.b" and extension "c"; a leading dot alone or a trailing dot makes none.
    const auto dot = fileName.rfind('.');
    const bool hasExtension = dot != std::string_view::npos && dot != 0 && dot + 1 < fileName.size();
    const std::string base(hasExtension ? fileName.substr(0, dot) : fileName);
    const std::string ext(hasExtension ? fileName.substr(dot + 1) : std::string_view());
    for (std::uint64_t n = 2;; ++n) {
        std::string name = base + "-" + std::to_string(n);
        if (!ext.empty())
            name += "." + ext;
        candidate = folder / name;
        if (!entryExists(candidate))
            return candidate;
    }
}

std::unordered_map<std::string, std::filesystem::path> regularFileIndex(const std::filesystem::path& folder)
{
    std::unordered_map<std::string, std::filesystem::path> index;
    if (folder.empty())
        return index;
    std::string path = folder.string();
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    indexFolder(path, index);
    return index;
}

} // namespace fotivela::ProjectFileLayout
