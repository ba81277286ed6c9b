#include "model/project_audio_resource_storage.h"

#include "platform/atomic_file.h"
#include "platform/audio_converter.h"
#include "platform/audio_file_reader.h"
#include "platform/uuid.h"
#include "stem_runtime/demucs_runtime_installer.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

namespace fs = std::filesystem;

namespace fotivela::ProjectAudioResourceStorage {

namespace {

// Digests never hold more than this much of a file in memory.
constexpr size_t digestReadBytes = 1048576;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Removes a temporary file or folder on every way out of a scope; failures are ignored.
class RemoveOnExit {
public:
    explicit RemoveOnExit(fs::path path) : m_path(std::move(path)) {}
    ~RemoveOnExit()
    {
        std::error_code error;
        fs::remove_all(m_path, error);
    }
    RemoveOnExit(const RemoveOnExit&) = delete;
    RemoveOnExit& operator=(const RemoveOnExit&) = delete;

private:
    fs::path m_path;
};

std::string lowercased(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The extension without its dot, as written; empty when there is none.
std::string extensionOf(const fs::path& name)
{
    const std::string extension = name.extension().string();
    return extension.size() > 1 ? extension.substr(1) : std::string();
}

// The last path component of a suggested name. A name that leaves nothing usable
// ("", ".", "..", "a/") would otherwise address the folder itself or its parent.
std::string usableLeaf(const std::string& fileName)
{
    std::string_view text = fileName;
    while (!text.empty() && text.back() == '/')
        text.remove_suffix(1);
    const size_t slash = text.rfind('/');
    const std::string leaf(slash == std::string_view::npos ? text : text.substr(slash + 1));
    if (leaf.empty() || leaf == "." || leaf == ".." || leaf.find('\0') != std::string::npos)
        return "cancion";
    return leaf;
}

std::string hex(const unsigned char* bytes, size_t count)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::uint32_t littleEndian32(const unsigned char* bytes)
{
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}

// The data chunk's bytes through SHA-256, in bounded reads.
std::optional<std::string> sha256OfNextBytes(std::FILE* file, std::uint64_t count)
{
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return std::nullopt;
    std::vector<unsigned char> buffer(static_cast<size_t>(std::min<std::uint64_t>(count, digestReadBytes)));
    while (count > 0) {
        const size_t want = static_cast<size_t>(std::min<std::uint64_t>(count, buffer.size()));
        if (std::fread(buffer.data(), 1, want, file) != want)
            return std::nullopt;
        if (EVP_DigestUpdate(context.get(), buffer.data(), want) != 1)
            return std::nullopt;
        count -= want;
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest {};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1)
        return std::nullopt;
    return hex(digest.data(), length);
}

// A new name in a folder becomes durable before the old file it replaces is deleted.
void syncDirectory(const fs::path& folder)
{
    const int descriptor = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        ::fsync(descriptor);
        ::close(descriptor);
    }
}

// Gives the temporary file its final name without copying; copies where the file
// system has no hard links. Never replaces an existing file.
void placeFile(const fs::path& temporary, const fs::path& destination)
{
    if (::link(temporary.c_str(), destination.c_str()) == 0)
        return;
    std::error_code error;
    fs::copy_file(temporary, destination, fs::copy_options::none, error);
    if (error) {
        // A half-copied song must not stay behind under its final name.
        if (error != std::errc::file_exists) {
            std::error_code ignored;
            fs::remove(destination, ignored);
        }
        throw fs::filesystem_error("cannot store the generated song", temporary, destination, error);
    }
}

} // namespace

fs::path persistGeneratedAudio(std::string_view data, const std::string& fileName, const fs::path& projectURL)
{
    const fs::path folder = projectDirectory(projectURL) / generatedMusicFolder;
    fs::create_directories(folder);

    const std::string leaf = usableLeaf(fileName);
    const std::string extension = extensionOf(leaf);
    const std::string storedExtension = extension.empty() ? "mp3" : lowercased(extension);
    const fs::path temporary = folder / (".generated-" + Uuid::random().toString() + "." + storedExtension);
    const RemoveOnExit removeTemporary(temporary);
    atomicWriteFile(temporary, data);

    if (storedExtension == "wav" && canRepresentLosslesslyAsFLAC(temporary)) {
        const fs::path destination = uniqueDestination(fs::path(leaf).stem().string() + ".flac", folder);
        try {
            convertWAVToFLAC(temporary, destination);
            return destination;
        } catch (const std::exception&) {
            // Not lossless after all: the song is kept as it was delivered.
        }
    }
    const fs::path destination = uniqueDestination(leaf, folder);
    placeFile(temporary, destination);
    return destination;
}

bool canRepresentLosslesslyAsFLAC(const fs::path& url) noexcept
{
    try {
        const AudioFileFormat format = AudioFileReader::formatOf(url);
        return format.formatID == AudioFormatID::linearPCM && (format.bitsPerSample == 16 || format.bitsPerSample == 24) &&
               !format.isFloat && format.channelCount >= 1 && format.sampleRate > 0;
    } catch (...) {
        return false;
    }
}

std::optional<FLACStreamInfo> flacStreamInfo(const fs::path& url) noexcept
{
    const FileHandle file(std::fopen(url.c_str(), "rb"));
    std::array<unsigned char, 26> header {};
    if (!file || std::fread(header.data(), 1, header.size(), file.get()) != header.size())
        return std::nullopt;
    const bool isStreamInfo = std::memcmp(header.data(), "fLaC", 4) == 0 && (header[4] & 0x7f) == 0 &&
                              (std::uint32_t(header[5]) << 16 | std::uint32_t(header[6]) << 8 | header[7]) == 34;
    if (!isStreamInfo)
        return std::nullopt;
    std::uint64_t word = 0;
    for (size_t i = 18; i < 26; ++i)
        word = word << 8 | header[i];
    FLACStreamInfo info;
    info.sampleRate = static_cast<std::int64_t>(word >> 44);
    info.channels = static_cast<int>((word >> 41) & 7) + 1;
    info.bitsPerSample = static_cast<int>((word >> 36) & 31) + 1;
    info.totalSamples = static_cast<std::int64_t>(word & ((std::uint64_t(1) << 36) - 1));
    if (info.sampleRate == 0 || info.totalSamples == 0)
        return std::nullopt;
    return info;
}

std::optional<std::string> wavPCMDataDigest(const fs::path& url) noexcept
{
    try {
        const FileHandle file(std::fopen(url.c_str(), "rb"));
        std::array<unsigned char, 12> head {};
        if (!file || std::fread(head.data(), 1, head.size(), file.get()) != head.size() ||
            std::memcmp(head.data(), "RIFF", 4) != 0 || std::memcmp(head.data() + 8, "WAVE", 4) != 0)
            return std::nullopt;
        for (;;) {
            std::array<unsigned char, 8> chunk {};
            if (std::fread(chunk.data(), 1, chunk.size(), file.get()) != chunk.size())
                return std::nullopt;
            const std::uint32_t size = littleEndian32(chunk.data() + 4);
            if (std::memcmp(chunk.data(), "data", 4) == 0)
                return sha256OfNextBytes(file.get(), size);
            // Chunks are padded to an even size.
            if (::fseeko(file.get(), static_cast<off_t>(size) + (size & 1), SEEK_CUR) != 0)
                return std::nullopt;
        }
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::string> decodedPCMDigest(const fs::path& url, int bits) noexcept
{
    if (bits != 16 && bits != 24)
        return std::nullopt;
    try {
        const fs::path folder = fs::temp_directory_path() / ("Fotivela-FLAC-verify-" + Uuid::random().toString());
        if (::mkdir(folder.c_str(), 0700) != 0)
            return std::nullopt;
        const RemoveOnExit removeFolder(folder);
        const fs::path decoded = folder / "decoded.wav";
        if (!AudioConverter::convertToIntegerWAV(url, decoded, bits))
            return std::nullopt;
        return wavPCMDataDigest(decoded);
    } catch (...) {
        return std::nullopt;
    }
}

bool outputMatches(const fs::path& source, const fs::path& flac) noexcept
{
    try {
        const AudioFileFormat input = AudioFileReader::formatOf(source);
        const AudioFileFormat output = AudioFileReader::formatOf(flac);
        if (output.formatID != AudioFormatID::flac || input.channelCount != output.channelCount ||
            !(std::fabs(input.sampleRate - output.sampleRate) < 0.01) || input.lengthFrames != output.lengthFrames ||
            !input.bitsPerSample)
            return false;
        const int bits = *input.bitsPerSample;
        const std::optional<FLACStreamInfo> info = flacStreamInfo(flac);
        if (!info || info->bitsPerSample != bits || info->sampleRate != static_cast<std::int64_t>(input.sampleRate) ||
            info->channels != input.channelCount || info->totalSamples != input.lengthFrames)
            return false;
        const std::optional<std::string> sourceDigest = decodedPCMDigest(source, bits);
        const std::optional<std::string> flacDigest = decodedPCMDigest(flac, bits);
        return sourceDigest && flacDigest && *sourceDigest == *flacDigest;
    } catch (...) {
        return false;
    }
}

void convertWAVToFLAC(const fs::path& source, const fs::path& destinationURL)
{
    if (!canRepresentLosslesslyAsFLAC(source))
        throw StorageError(StorageErrorCase::conversionFailed);
    const fs::path folder = destinationURL.parent_path();
    const fs::path temporary = folder / (".flac-" + Uuid::random().toString() + ".flac");
    const RemoveOnExit removeTemporary(temporary);

    std::error_code error;
    // The link fails when the destination exists: a FLAC already there is never replaced.
    const bool accepted = AudioConverter::convertToFLAC(source, temporary) && fs::exists(temporary, error) &&
                          outputMatches(source, temporary) && ::link(temporary.c_str(), destinationURL.c_str()) == 0;
    if (!accepted)
        throw StorageError(StorageErrorCase::conversionFailed);
    syncDirectory(folder);
}

void convertLosslessWAVFiles(const fs::path& folder)
{
    if (!DemucsRuntimeInstaller::isOwnedDirectory(folder))
        throw StorageError(StorageErrorCase::invalidOwnedPath);
    // Listed first: the folder gains FLAC files while it is being converted.
    std::vector<fs::path> entries;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        entries.push_back(entry.path());

    for (const fs::path& entry : entries) {
        if (lowercased(extensionOf(entry.filename())) != "wav" || !isRegularOwnedFile(entry, folder) ||
            !canRepresentLosslesslyAsFLAC(entry))
            continue;
        fs::path destination = entry;
        destination.replace_extension(".flac");
        try {
            convertWAVToFLAC(entry, destination);
        } catch (const std::exception&) {
            continue;
        }
        std::error_code ignored;
        fs::remove(entry, ignored);
    }
}

} // namespace fotivela::ProjectAudioResourceStorage
