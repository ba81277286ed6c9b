#include "stem_runtime/demucs_runtime_archive.h"

#include "platform/duskmere_storage.h"
#include "stem_runtime/demucs_runtime_manager.h"
#include "stem_runtime/demucs_runtime_manifest.h"
#include "stem_runtime/demucs_runtime_texts.h"

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace fotivela::DemucsRuntimeArchive {

namespace {

struct ArchiveDeleter {
    void operator()(archive* reader) const { archive_read_free(reader); }
};

// "./bin/x" and "model/" as tar writers spell them, to "bin/x" and "model".
std::string normalisedEntryPath(std::string path)
{
    while (path.size() >= 2 && path.compare(0, 2, "./") == 0)
        path.erase(0, 2);
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return path;
}

void writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            throw DemucsRuntimeError(writeFailureText(errno));
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void extractFile(archive* reader, archive_entry* entry, const std::filesystem::path& target, std::stop_token stop,
    std::uint64_t& budget)
{
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        // A repeated entry meets its own earlier file here.
        if (errno == EEXIST)
            throw DemucsRuntimeError(DemucsRuntimeTexts::unsafeEntry);
        throw DemucsRuntimeError(writeFailureText(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer { fd };
    if (archive_entry_size_is_set(entry) && static_cast<std::uint64_t>(std::max<la_int64_t>(archive_entry_size(entry), 0)) > budget)
        throw DemucsRuntimeError(DemucsRuntimeTexts::archiveDamaged);
    const void* block = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    for (;;) {
        if (stop.stop_requested())
            throw DemucsRuntimeError(DemucsRuntimeTexts::cancelled);
        const int status = archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK)
            throw DemucsRuntimeError(DemucsRuntimeTexts::archiveDamaged);
        if (size > budget)
            throw DemucsRuntimeError(DemucsRuntimeTexts::archiveDamaged);
        budget -= size;
        // Sparse entries leave holes: place the block where it belongs.
        if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0)
            throw DemucsRuntimeError(DemucsRuntimeTexts::installFailed);
        writeAll(fd, static_cast<const char*>(block), size);
    }
    // A sparse file may end in a hole that no block wrote.
    if (archive_entry_size_is_set(entry) && archive_entry_size(entry) >= 0
        && ::ftruncate(fd, static_cast<off_t>(archive_entry_size(entry))) != 0)
        throw DemucsRuntimeError(writeFailureText(errno));
}

// The tar reader stops at its end-of-archive blocks and forgives a missing end; the compressed
// stream must still be whole: one gzip member, inflated to its checked trailer, followed by
// nothing but the zero padding that tar writers add to fill their last block.
void checkCompressedStream(std::string_view archiveBytes, std::stop_token stop)
{
    z_stream stream {};
    if (archiveBytes.size() > std::numeric_limits<uInt>::max() || inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        throw DemucsRuntimeError(DemucsRuntimeTexts::archiveDamaged);
    struct Ender {
        z_stream* stream;
        ~Ender() { inflateEnd(stream); }
    } ender { &stream };
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(archiveBytes.data()));
    stream.avail_in = static_cast<uInt>(archiveBytes.size());
    std::vector<Bytef> buffer(1 << 20);
    for (;;) {
        if (stop.stop_requested())
            throw DemucsRuntimeError(DemucsRuntimeTexts::cancelled);
        stream.next_out = buffer.data();
        stream.avail_out = static_cast<uInt>(buffer.size());
        const int status = inflate(&stream, Z_NO_FLUSH);
        if (status == Z_STREAM_END)
            break;
        // Z_BUF_ERROR here means the input ran out before the stream's end.
        if (status != Z_OK)
            throw DemucsRuntimeError(DemucsRuntimeTexts::archiveDamaged);
    }
    const std::string_view rest = archiveBytes.substr(archiveBytes.size() - stream.avail_in);
    if (rest.find_first_not_of('\0') != std::string_view::npos)
        throw DemucsRuntimeError(DemucsRuntimeTexts::archiveDamaged);
}

} // namespace

const char* writeFailureText(int errorNumber)
{
    if (errorNumber == ENOSPC || errorNumber == EDQUOT || errorNumber == EFBIG)
        return DemucsRuntimeTexts::diskFull;
    return DemucsRuntimeTexts::installFailed;
}

void extract(std::string_view archiveBytes, const std::filesystem::path& destination, std::stop_token stop,
    std::uint64_t byteLimit)
{
    checkCompressedStream(archiveBytes, stop);
    std::unique_ptr<archive, ArchiveDeleter> reader(archive_read_new());
    if (!reader)
        throw DemucsRuntimeError(DemucsRuntimeTexts::installFailed);
    archive_read_support_filter_gzip(reader.get());
    archive_read_support_format_tar(reader.get());
    if (archive_read_open_memory(reader.get(), archiveBytes.data(), archiveBytes.size()) != ARCHIVE_OK)
        throw DemucsRuntimeError(DemucsRuntimeTexts::archiveDamaged);

    std::uint64_t budget = byteLimit;
    bool sawEntry = false;
    for (;;) {
        if (stop.stop_requested())
            throw DemucsRuntimeError(DemucsRuntimeTexts::cancelled);
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN)
            throw DemucsRuntimeError(DemucsRuntimeTexts::archiveDamaged);
        sawEntry = true;
        const char* rawPath = archive_entry_pathname(entry);
        if (rawPath == nullptr)
            throw DemucsRuntimeError(DemucsRuntimeTexts::unsafeEntry);
        const std::string path = normalisedEntryPath(rawPath);
        const auto type = archive_entry_filetype(entry);
        if (path.empty() && type == AE_IFDIR)
            continue; // the root itself, "./"
        if (!DemucsRuntimeManifestRules::isSafeRelativePath(path) || archive_entry_hardlink(entry) != nullptr
            || archive_entry_symlink(entry) != nullptr || (type != AE_IFREG && type != AE_IFDIR))
            throw DemucsRuntimeError(DemucsRuntimeTexts::unsafeEntry);

        const std::filesystem::path target = destination / path;
        // Parents are made here, never followed: no link can exist under destination.
        if (!DuskmereStorage::createPrivateDirectories(type == AE_IFDIR ? target : target.parent_path())) {
            // A folder where an earlier entry put a file: the archive contradicts itself.
            throw DemucsRuntimeError(errno == EEXIST ? DemucsRuntimeTexts::unsafeEntry : writeFailureText(errno));
        }
        if (type == AE_IFREG)
            extractFile(reader.get(), entry, target, stop, budget);
    }
    if (!sawEntry)
        throw DemucsRuntimeError(DemucsRuntimeTexts::archiveDamaged);
}

} // namespace fotivela::DemucsRuntimeArchive
