#include "stem_runtime/demucs_runtime_installer.h"

#include "platform/duskmere_storage.h"
#include "platform/log.h"
#include "platform/uuid.h"
#include "stem_runtime/demucs_runtime_archive.h"
#include "stem_runtime/demucs_runtime_digest.h"
#include "stem_runtime/demucs_runtime_fetch.h"
#include "stem_runtime/demucs_runtime_install_lock.h"
#include "stem_runtime/demucs_runtime_install_state.h"
#include "stem_runtime/demucs_runtime_texts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <string>

namespace fotivela::DemucsRuntimeInstaller {

namespace {

// Unpacked, the runtime is a few megabytes; this bounds a hostile archive.
constexpr std::uint64_t largestUnpackedSize = 4ull << 30;

namespace Layout = DemucsRuntimeInstallLayout;

void removeQuietly(const std::filesystem::path& path)
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

// What an interrupted install left: staging folders, and installed folders that are not active.
void removeLeftovers(const std::filesystem::path& root, const std::optional<DemucsRuntimeActiveRecord>& active)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(Layout::stagingFolder(root), error))
        removeQuietly(entry.path());
    for (const auto& entry : std::filesystem::directory_iterator(Layout::versionsFolder(root), error)) {
        if (!active || entry.path().filename() != active->folder)
            removeQuietly(entry.path());
    }
}

// Created when missing; either way a real folder of this user, never a link to elsewhere.
void makeFolder(const std::filesystem::path& folder)
{
    if (!DuskmereStorage::createPrivateDirectories(folder))
        throw DemucsRuntimeError(DemucsRuntimeArchive::writeFailureText(errno));
    if (!isOwnedDirectory(folder))
        throw DemucsRuntimeError(DemucsRuntimeTexts::installFailed);
}

// Removes a staging or unactivated folder unless it was handed over.
class FolderGuard {
public:
    explicit FolderGuard(std::filesystem::path folder) : m_folder(std::move(folder)) {}
    ~FolderGuard()
    {
        if (!m_folder.empty())
            removeQuietly(m_folder);
    }
    FolderGuard(const FolderGuard&) = delete;
    FolderGuard& operator=(const FolderGuard&) = delete;
    void retarget(std::filesystem::path folder) { m_folder = std::move(folder); }
    void release() { m_folder.clear(); }

private:
    std::filesystem::path m_folder;
};

DemucsRuntimeHandle install(const std::filesystem::path& root, const DemucsRuntimePackageSource& source,
    const DemucsInstallProgress& progress, std::stop_token stop)
{
    const auto previous = DemucsRuntimeInstallState::readActiveRecord(root);
    removeLeftovers(root, previous);
    makeFolder(Layout::stagingFolder(root));
    makeFolder(Layout::versionsFolder(root));
    makeFolder(Layout::downloadsFolder(root));

    const auto partialFile = Layout::downloadsFolder(root) / (source.sha256 + ".partial");
    const std::string archive = DemucsRuntimeFetch::fetchVerifiedArchive(source, partialFile, progress, stop);

    const std::string installName = Uuid::random().toString();
    const auto staging = Layout::stagingFolder(root) / installName;
    makeFolder(staging);
    FolderGuard guard(staging);
    DemucsRuntimeArchive::extract(archive, staging, stop, largestUnpackedSize);

    const auto manifest = DemucsRuntimeInstallState::readManifest(staging);
    if (!source.version.empty() && manifest.version != source.version)
        throw DemucsRuntimeError(DemucsRuntimeTexts::wrongVersion);
    DemucsRuntimeInstallState::verifyPayload(staging, manifest,
        {std::string(DemucsRuntimeManifestRules::manifestFileName)}, {});
    if (::chmod((staging / DemucsRuntimeManifestRules::executablePath).c_str(), 0700) != 0)
        throw DemucsRuntimeError(DemucsRuntimeTexts::installFailed);
    makeFolder(staging / Layout::cacheFolderName);

    const DemucsRuntimeActiveRecord record {manifest.version, manifest.version + "-" + installName, source.sha256};
    DemucsRuntimeInstallState::writeMarker(staging, record);
    if (stop.stop_requested())
        throw DemucsRuntimeError(DemucsRuntimeTexts::cancelled);

    // Activation: the whole folder moves in one rename, then active.json names it.
    const auto installed = Layout::versionsFolder(root) / record.folder;
    if (::rename(staging.c_str(), installed.c_str()) != 0)
        throw DemucsRuntimeError(DemucsRuntimeArchive::writeFailureText(errno));
    guard.retarget(installed);
    DemucsRuntimeInstallState::writeActiveRecord(root, record);
    guard.release();

    removeLeftovers(root, record);
    // Partial downloads of this or of older packages are of no further use.
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(Layout::downloadsFolder(root), error))
        removeQuietly(entry.path());
    logLine("Fotivela stem runtime " + record.version + " installed in " + installed.string());
    return DemucsRuntimeInstallState::handleFor(installed, record.version);
}

} // namespace

DemucsRuntimeHandle ensureRuntime(const std::filesystem::path& root, const DemucsRuntimePackageSource& given,
    const DemucsInstallProgress& progress, std::stop_token stop)
{
    DemucsRuntimePackageSource source = given;
    for (char& c : source.sha256)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!DemucsRuntimeDigest::isSha256Hex(source.sha256))
        throw DemucsRuntimeError(DemucsRuntimeTexts::packageMissing);
    if (auto active = DemucsRuntimeInstallState::verifiedActiveRuntime(root, source.sha256))
        return *active;
    makeFolder(root);
    DemucsRuntimeInstallLock lock(root / Layout::lockFileName, stop);
    // Another process may have installed it while this one waited.
    if (auto active = DemucsRuntimeInstallState::verifiedActiveRuntime(root, source.sha256))
        return *active;
    return install(root, source, progress, stop);
}

bool isOwnedDirectory(const std::filesystem::path& path) noexcept
{
    // A final slash would make lstat look through a link; a URL's path has none.
    std::string text = path.native();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    struct stat info {};
    if (text.empty() || ::lstat(text.c_str(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid();
}

} // namespace fotivela::DemucsRuntimeInstaller
