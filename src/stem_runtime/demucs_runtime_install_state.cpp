#include "stem_runtime/demucs_runtime_install_state.h"

#include "platform/atomic_file.h"
#include "platform/duskmere_storage.h"
#include "platform/iso8601_date.h"
#include "platform/json_encoder.h"
#include "stem_runtime/demucs_runtime_archive.h"
#include "stem_runtime/demucs_runtime_digest.h"
#include "stem_runtime/demucs_runtime_installer.h"
#include "stem_runtime/demucs_runtime_texts.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>

namespace fotivela {

namespace DemucsRuntimeInstallLayout {

std::filesystem::path defaultRoot()
{
    return DuskmereStorage::suiteDirectory() / rootFolderName;
}

} // namespace DemucsRuntimeInstallLayout

namespace DemucsRuntimeInstallState {

namespace {

// Small files of our own; anything past this size is not one.
constexpr std::uintmax_t largestRecord = 1 << 20;

std::optional<std::string> readSmallFile(const std::filesystem::path& file)
{
    std::error_code error;
    if (std::filesystem::symlink_status(file, error).type() != std::filesystem::file_type::regular
        || std::filesystem::file_size(file, error) > largestRecord || error)
        return std::nullopt;
    std::ifstream stream(file, std::ios::binary);
    if (!stream)
        return std::nullopt;
    std::ostringstream bytes;
    bytes << stream.rdbuf();
    return bytes.str();
}

std::optional<DemucsRuntimeActiveRecord> parseRecord(const std::string& text)
{
    const auto tree = nlohmann::json::parse(text, nullptr, false);
    if (!tree.is_object())
        return std::nullopt;
    DemucsRuntimeActiveRecord record;
    for (auto [key, field] : {std::pair {"version", &record.version}, std::pair {"folder", &record.folder},
             std::pair {"archiveSha256", &record.archiveSha256}}) {
        const auto value = tree.find(key);
        if (value == tree.end() || !value->is_string())
            return std::nullopt;
        *field = value->get<std::string>();
    }
    const bool folderIsOneName = record.folder.find('/') == std::string::npos
        && DemucsRuntimeManifestRules::isSafeRelativePath(record.folder);
    if (!DemucsRuntimeManifestRules::isValidVersion(record.version) || !folderIsOneName
        || !DemucsRuntimeDigest::isSha256Hex(record.archiveSha256))
        return std::nullopt;
    return record;
}

std::string encodeRecord(const DemucsRuntimeActiveRecord& record)
{
    nlohmann::json tree {{"version", record.version}, {"folder", record.folder}, {"archiveSha256", record.archiveSha256},
        {"installedAt", formatIso8601Date(std::chrono::system_clock::now())}};
    return encodeFotivelaJson(tree);
}

void writeRecordFile(const std::filesystem::path& file, const DemucsRuntimeActiveRecord& record)
{
    try {
        atomicWriteFile(file, encodeRecord(record));
    } catch (const FileWriteError& error) {
        throw DemucsRuntimeError(DemucsRuntimeArchive::writeFailureText(error.errorNumber()));
    } catch (const JsonEncodingError&) {
        throw DemucsRuntimeError(DemucsRuntimeTexts::installFailed);
    }
}

} // namespace

std::optional<DemucsRuntimeActiveRecord> readActiveRecord(const std::filesystem::path& root)
{
    const auto text = readSmallFile(root / DemucsRuntimeInstallLayout::activeFileName);
    return text ? parseRecord(*text) : std::nullopt;
}

void writeActiveRecord(const std::filesystem::path& root, const DemucsRuntimeActiveRecord& record)
{
    writeRecordFile(root / DemucsRuntimeInstallLayout::activeFileName, record);
}

void writeMarker(const std::filesystem::path& versionFolder, const DemucsRuntimeActiveRecord& record)
{
    writeRecordFile(versionFolder / DemucsRuntimeInstallLayout::markerFileName, record);
}

DemucsRuntimeManifest readManifest(const std::filesystem::path& folder)
{
    const auto text = readSmallFile(folder / DemucsRuntimeManifestRules::manifestFileName);
    if (!text)
        throw DemucsRuntimeError(DemucsRuntimeTexts::manifestMismatch);
    auto manifest = DemucsRuntimeManifestRules::parse(*text);
    if (!manifest)
        throw DemucsRuntimeError(DemucsRuntimeTexts::manifestMismatch);
    return *manifest;
}

void verifyPayload(const std::filesystem::path& folder, const DemucsRuntimeManifest& manifest,
    const std::set<std::string>& extras, const std::set<std::string>& skippedFolders)
{
    std::map<std::string, const DemucsRuntimeManifestFile*> expected;
    for (const auto& file : manifest.files)
        expected.emplace(file.path, &file);
    if (!expected.contains(std::string(DemucsRuntimeManifestRules::executablePath))
        || !expected.contains(std::string(DemucsRuntimeManifestRules::modelFilePath)))
        throw DemucsRuntimeError(DemucsRuntimeTexts::manifestMismatch);

    // Nothing on disk that the manifest does not name.
    std::error_code error;
    std::filesystem::recursive_directory_iterator it(folder, error);
    if (error)
        throw DemucsRuntimeError(DemucsRuntimeTexts::manifestMismatch);
    std::size_t filesSeen = 0;
    for (; it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (error)
            throw DemucsRuntimeError(DemucsRuntimeTexts::manifestMismatch);
        const std::string relative = it->path().lexically_relative(folder).generic_string();
        const auto type = it->symlink_status(error).type();
        if (type == std::filesystem::file_type::directory) {
            if (skippedFolders.contains(relative))
                it.disable_recursion_pending();
            continue;
        }
        if (type == std::filesystem::file_type::regular && extras.contains(relative))
            continue;
        if (type != std::filesystem::file_type::regular || !expected.contains(relative))
            throw DemucsRuntimeError(DemucsRuntimeTexts::manifestMismatch);
        ++filesSeen;
    }
    if (filesSeen != expected.size())
        throw DemucsRuntimeError(DemucsRuntimeTexts::manifestMismatch);

    // Every named file with its size and digest.
    for (const auto& file : manifest.files) {
        const auto digest = DemucsRuntimeDigest::digestOfFile(folder / file.path);
        if (!digest || digest->size != file.size || digest->sha256 != file.sha256)
            throw DemucsRuntimeError(DemucsRuntimeTexts::manifestMismatch);
    }

    const auto model = readSmallFile(folder / DemucsRuntimeManifestRules::modelFilePath);
    const auto modelVersion = model ? DemucsRuntimeManifestRules::modelVersion(*model) : std::nullopt;
    if (!modelVersion || *modelVersion != manifest.version)
        throw DemucsRuntimeError(DemucsRuntimeTexts::wrongVersion);
}

DemucsRuntimeHandle handleFor(const std::filesystem::path& versionFolder, const std::string& version)
{
    DemucsRuntimeHandle handle;
    handle.executableURL = versionFolder / DemucsRuntimeManifestRules::executablePath;
    handle.modelRepositoryURL = versionFolder / DemucsRuntimeManifestRules::modelFolder;
    handle.modelName = std::string(DemucsRuntimeManifestRules::modelName);
    handle.version = version;
    handle.cacheURL = versionFolder / DemucsRuntimeInstallLayout::cacheFolderName;
    return handle;
}

std::optional<DemucsRuntimeHandle> verifiedActiveRuntime(const std::filesystem::path& root,
    const std::string& archiveSha256)
{
    const auto active = readActiveRecord(root);
    if (!active || active->archiveSha256 != archiveSha256)
        return std::nullopt;
    const auto folder = DemucsRuntimeInstallLayout::versionsFolder(root) / active->folder;
    if (!DemucsRuntimeInstaller::isOwnedDirectory(folder))
        return std::nullopt;
    const auto markerText = readSmallFile(folder / DemucsRuntimeInstallLayout::markerFileName);
    const auto marker = markerText ? parseRecord(*markerText) : std::nullopt;
    if (!marker || *marker != *active)
        return std::nullopt;
    try {
        const auto manifest = readManifest(folder);
        if (manifest.version != active->version)
            return std::nullopt;
        verifyPayload(folder, manifest,
            {std::string(DemucsRuntimeManifestRules::manifestFileName), DemucsRuntimeInstallLayout::markerFileName},
            {DemucsRuntimeInstallLayout::cacheFolderName});
    } catch (const DemucsRuntimeError&) {
        return std::nullopt;
    }
    auto handle = handleFor(folder, active->version);
    struct stat info {};
    if (::stat(handle.executableURL.c_str(), &info) != 0 || (info.st_mode & S_IXUSR) == 0)
        return std::nullopt;
    return handle;
}

} // namespace DemucsRuntimeInstallState

} // namespace fotivela
