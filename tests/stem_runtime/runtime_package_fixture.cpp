#include "stem_runtime/runtime_package_fixture.h"

#include "platform/file_url.h"
#include "stem_runtime/demucs_runtime_digest.h"
#include "stem_runtime/demucs_runtime_manifest.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace fotivela::test {

namespace {

la_ssize_t appendToString(archive*, void* target, const void* buffer, size_t length)
{
    static_cast<std::string*>(target)->append(static_cast<const char*>(buffer), length);
    return static_cast<la_ssize_t>(length);
}

void require(bool condition, const char* what)
{
    if (!condition)
        throw std::runtime_error(std::string("runtime package fixture: ") + what);
}

} // namespace

std::string makeTarGz(const std::vector<ArchiveEntry>& entries, bool padded)
{
    std::string bytes;
    std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(), archive_write_free);
    require(archive_write_add_filter_gzip(writer.get()) == ARCHIVE_OK, "gzip");
    // No time in the gzip header: the same entries give the same bytes, and the same digest.
    require(archive_write_set_filter_option(writer.get(), "gzip", "timestamp", nullptr) == ARCHIVE_OK, "timestamp");
    require(archive_write_set_format_gnutar(writer.get()) == ARCHIVE_OK, "format");
    if (!padded)
        archive_write_set_bytes_in_last_block(writer.get(), 1);
    require(archive_write_open(writer.get(), &bytes, nullptr, appendToString, nullptr) == ARCHIVE_OK, "open");
    for (const auto& item : entries) {
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(), archive_entry_free);
        archive_entry_set_pathname(entry.get(), item.path.c_str());
        archive_entry_set_mtime(entry.get(), 946684800, 0);
        switch (item.kind) {
        case ArchiveEntry::Kind::file:
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_perm(entry.get(), 0755);
            archive_entry_set_size(entry.get(), static_cast<la_int64_t>(item.content.size()));
            break;
        case ArchiveEntry::Kind::directory:
            archive_entry_set_filetype(entry.get(), AE_IFDIR);
            archive_entry_set_perm(entry.get(), 0755);
            break;
        case ArchiveEntry::Kind::symlink:
            archive_entry_set_filetype(entry.get(), AE_IFLNK);
            archive_entry_set_perm(entry.get(), 0777);
            archive_entry_set_symlink(entry.get(), item.content.c_str());
            break;
        case ArchiveEntry::Kind::hardlink:
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_perm(entry.get(), 0644);
            archive_entry_set_hardlink(entry.get(), item.content.c_str());
            archive_entry_set_size(entry.get(), 0);
            break;
        }
        require(archive_write_header(writer.get(), entry.get()) == ARCHIVE_OK, "header");
        if (item.kind == ArchiveEntry::Kind::file && !item.content.empty())
            require(archive_write_data(writer.get(), item.content.data(), item.content.size())
                    == static_cast<la_ssize_t>(item.content.size()),
                "data");
    }
    require(archive_write_close(writer.get()) == ARCHIVE_OK, "close");
    return bytes;
}

std::vector<ArchiveEntry> samplePayload(const std::string& version)
{
    return {
        {"bin/", "", ArchiveEntry::Kind::directory},
        {std::string(DemucsRuntimeManifestRules::executablePath), "#!/bin/sh\necho runtime " + version + " \"$@\"\n"},
        {"model/", "", ArchiveEntry::Kind::directory},
        {std::string(DemucsRuntimeManifestRules::modelFilePath), "{\"version\": \"" + version + "\", \"fftSize\": 4096}\n"},
    };
}

ArchiveEntry manifestEntry(const std::vector<ArchiveEntry>& payload, const std::string& version)
{
    DemucsRuntimeManifest manifest;
    manifest.format = std::string(DemucsRuntimeManifestRules::formatName);
    manifest.version = version;
    for (const auto& item : payload) {
        if (item.kind == ArchiveEntry::Kind::file)
            manifest.files.push_back({item.path, DemucsRuntimeDigest::sha256Hex(item.content), item.content.size()});
    }
    return {std::string(DemucsRuntimeManifestRules::manifestFileName), DemucsRuntimeManifestRules::encode(manifest)};
}

std::string samplePackage(const std::string& version)
{
    auto payload = samplePayload(version);
    payload.insert(payload.begin(), manifestEntry(payload, version));
    return makeTarGz(payload);
}

std::uint64_t largestEntrySize(const std::string& tarGz)
{
    std::unique_ptr<archive, decltype(&archive_read_free)> reader(archive_read_new(), archive_read_free);
    require(archive_read_support_filter_gzip(reader.get()) == ARCHIVE_OK, "gunzip");
    require(archive_read_support_format_tar(reader.get()) == ARCHIVE_OK, "tar");
    require(archive_read_open_memory(reader.get(), tarGz.data(), tarGz.size()) == ARCHIVE_OK, "open");
    std::uint64_t largest = 0;
    archive_entry* entry = nullptr;
    while (archive_read_next_header(reader.get(), &entry) == ARCHIVE_OK) {
        if (archive_entry_filetype(entry) == AE_IFREG)
            largest = std::max(largest, static_cast<std::uint64_t>(archive_entry_size(entry)));
    }
    return largest;
}

DemucsRuntimePackageSource writePackage(const std::filesystem::path& file, const std::string& bytes,
    const std::string& version)
{
    writeFile(file, bytes);
    return {fileUrlString(file), DemucsRuntimeDigest::sha256Hex(bytes), version};
}

std::string readFile(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << stream.rdbuf();
    return bytes.str();
}

void writeFile(const std::filesystem::path& file, const std::string& bytes)
{
    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    stream << bytes;
    require(static_cast<bool>(stream), "write");
}

std::vector<std::string> entryNames(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> listTree(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
        names.push_back(it->path().lexically_relative(folder).generic_string());
    std::sort(names.begin(), names.end());
    return names;
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::string& value) : m_name(std::move(name))
{
    if (const char* old = std::getenv(m_name.c_str())) {
        m_hadValue = true;
        m_oldValue = old;
    }
    ::setenv(m_name.c_str(), value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment()
{
    if (m_hadValue)
        ::setenv(m_name.c_str(), m_oldValue.c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}

} // namespace fotivela::test
