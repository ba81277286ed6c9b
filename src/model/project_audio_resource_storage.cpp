#include "model/project_audio_resource_storage.h"

#include "model/separation_work_folder.h"

#include "stem_runtime/demucs_runtime_installer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace fs = std::filesystem;

namespace fotivela::ProjectAudioResourceStorage {

namespace {

constexpr std::string_view generatedTemporaryPrefix = ".generated-";

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

bool isStrictlyBelow(const fs::path& target, const fs::path& root)
{
    const std::string& t = target.native();
    const std::string& r = root.native();
    return t.size() > r.size() + 1 && startsWith(t, r) && t[r.size()] == '/';
}

// Links resolved as far as the path exists, then standardised.
fs::path resolvedStandardized(const fs::path& path) noexcept
{
    std::error_code error;
    fs::path resolved = fs::weakly_canonical(standardized(path), error);
    return error ? standardized(path) : standardized(resolved);
}

bool isRetained(const fs::path& resolvedEntry, const std::vector<fs::path>& resolvedRetained, bool orInside)
{
    return std::any_of(resolvedRetained.begin(), resolvedRetained.end(), [&](const fs::path& kept) {
        return kept == resolvedEntry || (orInside && isStrictlyBelow(kept, resolvedEntry));
    });
}

std::vector<fs::path> listEntries(const fs::path& folder)
{
    std::vector<fs::path> entries;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        entries.push_back(entry.path());
    return entries;
}

} // namespace

// Both cases show the generic failure text: the user cannot act on which one it was.
StorageError::StorageError(StorageErrorCase errorCase)
    : Error("No se ha podido completar la operación.")
    , m_case(errorCase)
{
}

fs::path standardized(const fs::path& path)
{
    std::error_code error;
    fs::path absolute = path.is_absolute() ? path : fs::absolute(path, error);
    if (error)
        absolute = path;
    fs::path normal = absolute.lexically_normal();
    if (normal.has_relative_path() && !normal.has_filename())
        normal = normal.parent_path();
    return normal;
}

fs::path projectDirectory(const fs::path& projectURL)
{
    return standardized(standardized(projectURL).parent_path());
}

bool realPathComponents(const fs::path& rootPath, const fs::path& targetPath, std::optional<FileKind> finalKind) noexcept
{
    const fs::path root = standardized(rootPath);
    const fs::path target = standardized(targetPath);
    if (!isStrictlyBelow(target, root) || !DemucsRuntimeInstaller::isOwnedDirectory(root))
        return false;

    const fs::path relative = target.lexically_relative(root);
    std::vector<fs::path> components;
    for (const fs::path& component : relative)
        if (!component.empty() && component != ".")
            components.push_back(component);
    if (components.empty())
        return false;

    const uid_t user = ::getuid();
    fs::path current = root;
    for (size_t i = 0; i < components.size(); ++i) {
        current /= components[i];
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || info.st_uid != user)
            return false;
        const bool isLast = i + 1 == components.size();
        if (!isLast) {
            if (!S_ISDIR(info.st_mode))
                return false;
            continue;
        }
        if (!finalKind)
            return S_ISREG(info.st_mode) || S_ISDIR(info.st_mode);
        return *finalKind == FileKind::regularFile ? S_ISREG(info.st_mode) : S_ISDIR(info.st_mode);
    }
    return false;
}

bool isOwnedURL(const fs::path& url, const fs::path& projectURL) noexcept
{
    const fs::path root = resolvedStandardized(projectDirectory(projectURL));
    const fs::path target = resolvedStandardized(url);
    return isStrictlyBelow(target, root) && realPathComponents(root, target, std::nullopt);
}

bool isRegularOwnedFile(const fs::path& url, const fs::path& rootFolder) noexcept
{
    const fs::path root = resolvedStandardized(rootFolder);
    const fs::path target = resolvedStandardized(url);
    return isStrictlyBelow(target, root) && realPathComponents(root, target, FileKind::regularFile);
}

bool containsOnlyRegularFilesAndDirectories(const fs::path& folder)
{
    if (!DemucsRuntimeInstaller::isOwnedDirectory(folder))
        return false;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        const fs::file_status status = entry.symlink_status();
        if (fs::is_symlink(status) || !(fs::is_regular_file(status) || fs::is_directory(status)))
            return false;
    }
    return true;
}

namespace {

// A dangling link counts as taken: writing through it would land somewhere else.
bool isTaken(const fs::path& path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

} // namespace

fs::path uniqueDestination(const std::string& fileName, const fs::path& folder)
{
    fs::path candidate = folder / fileName;
    if (!isTaken(candidate))
        return candidate;
    const fs::path name(fileName);
    const std::string base = name.stem().string();
    const std::string extension = name.extension().string();
    for (int index = 2;; ++index) {
        candidate = folder / (base + "-" + std::to_string(index) + extension);
        if (!isTaken(candidate))
            return candidate;
    }
}

fs::path uniqueDirectory(const std::string& name, const fs::path& parent)
{
    fs::path candidate = parent / name;
    for (int index = 2; isTaken(candidate); ++index)
        candidate = parent / (name + "-" + std::to_string(index));
    return candidate;
}

std::optional<fs::path> copyOwnedStemDirectory(const fs::path& source, const fs::path& sourceProjectURL,
                                               const fs::path& destinationProjectURL)
{
    if (!DemucsRuntimeInstaller::isOwnedDirectory(source) || !isOwnedURL(source, sourceProjectURL))
        return std::nullopt;
    const fs::path sourceStems = standardized(projectDirectory(sourceProjectURL) / stemsFolder);
    if (!isStrictlyBelow(standardized(source), sourceStems))
        return std::nullopt;
    if (!containsOnlyRegularFilesAndDirectories(source))
        return std::nullopt;

    const fs::path targetParent = projectDirectory(destinationProjectURL) / stemsFolder;
    fs::create_directories(targetParent);
    const fs::path target = uniqueDirectory(standardized(source).filename().string(), targetParent);
    fs::copy(source, target, fs::copy_options::recursive);
    return target;
}

void pruneUnreferencedResources(const fs::path& projectURL, const std::vector<fs::path>& retaining)
{
    std::vector<fs::path> resolvedRetained;
    resolvedRetained.reserve(retaining.size());
    for (const fs::path& kept : retaining)
        resolvedRetained.push_back(resolvedStandardized(kept));

    const fs::path folder = projectDirectory(projectURL);

    const fs::path music = folder / generatedMusicFolder;
    if (DemucsRuntimeInstaller::isOwnedDirectory(music)) {
        for (const fs::path& entry : listEntries(music)) {
            // A generated song still being written has only its temporary name.
            if (startsWith(entry.filename().native(), generatedTemporaryPrefix))
                continue;
            if (!isRegularOwnedFile(entry, music))
                continue;
            if (!isRetained(resolvedStandardized(entry), resolvedRetained, false))
                fs::remove(entry);
        }
    }

    const fs::path stems = folder / stemsFolder;
    if (!DemucsRuntimeInstaller::isOwnedDirectory(stems))
        return;
    // A separation writes in its work folder for minutes before anything refers to it; one that
    // no running separation holds was left by a program that ended mid-way.
    if (isOwnedURL(stems, projectURL))
        SeparationWorkFolder::sweepAbandoned(stems);
    for (const fs::path& entry : listEntries(stems)) {
        if (SeparationWorkFolder::isWorkFolderName(entry.filename().native()))
            continue;
        // Only a stem set that is provably the project's own may go; anything else, such as a
        // set reached through a linked "AI" folder, may belong to someone else.
        if (!DemucsRuntimeInstaller::isOwnedDirectory(entry) || !isOwnedURL(entry, projectURL))
            continue;
        if (isRetained(resolvedStandardized(entry), resolvedRetained, true))
            continue;
        if (containsOnlyRegularFilesAndDirectories(entry))
            fs::remove_all(entry);
    }
}

} // namespace fotivela::ProjectAudioResourceStorage
