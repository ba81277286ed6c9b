#include "platform/photo_transparency_header.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace fotivela::PhotoTransparencyHeader {

namespace {

constexpr std::array<std::uint8_t, 8> pngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Optimisers and editors write a handful of chunks before the image data; a file with
// thousands is not worth walking, and is decoded from its original like a transparent one.
constexpr int maximumPngChunksBeforeData = 1000;

bool readAt(const RegularFile& file, std::uint64_t offset, void* into, std::size_t count)
{
    if (offset > file.size() || file.size() - offset < count)
        return false;
    auto* bytes = static_cast<std::uint8_t*>(into);
    while (count > 0) {
        const ssize_t done = ::pread(file.descriptor(), bytes, count, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        bytes += done;
        offset += static_cast<std::uint64_t>(done);
        count -= static_cast<std::size_t>(done);
    }
    return true;
}

std::uint32_t bigEndian32(const std::uint8_t* bytes)
{
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

std::uint32_t littleEndian32(const std::uint8_t* bytes)
{
    return (std::uint32_t{bytes[3]} << 24) | (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[1]} << 8) | bytes[0];
}

bool isType(const std::uint8_t* bytes, const char (&type)[5])
{
    return std::memcmp(bytes, type, 4) == 0;
}

// Grey with alpha (4) or RGBA (6); a tRNS chunk gives any other colour type a
// transparent colour or palette entries. It must come before the first IDAT.
bool pngDeclaresTransparency(const RegularFile& file)
{
    // Signature, IHDR's length and type, width, height, bit depth, colour type.
    std::array<std::uint8_t, 26> head{};
    if (!readAt(file, 0, head.data(), head.size()) || !isType(head.data() + 12, "IHDR"))
        return false;
    const std::uint8_t colourType = head[25];
    if (colourType == 4 || colourType == 6)
        return true;
    std::uint64_t offset = pngSignature.size();
    for (int chunk = 0; chunk < maximumPngChunksBeforeData; ++chunk) {
        std::array<std::uint8_t, 8> header{};
        if (!readAt(file, offset, header.data(), header.size()))
            return false;
        const std::uint32_t length = bigEndian32(header.data());
        if (length > 0x7FFFFFFFu)
            return false;
        if (isType(header.data() + 4, "tRNS"))
            return true;
        if (isType(header.data() + 4, "IDAT") || isType(header.data() + 4, "IEND"))
            return false;
        // Length, type, data and CRC.
        offset += 12 + std::uint64_t{length};
    }
    return true;
}

// RIFF, size, WEBP, then the first chunk: VP8X's flags, VP8L's header bits or plain VP8.
bool webpDeclaresTransparency(const RegularFile& file)
{
    std::array<std::uint8_t, 25> head{};
    if (!readAt(file, 0, head.data(), head.size()))
        return false;
    const std::uint8_t* chunk = head.data() + 12;
    if (isType(chunk, "VP8X"))
        return (head[20] & 0x10) != 0;
    // Signature byte 0x2F, then 14 bits of width, 14 of height and the alpha_is_used bit.
    if (isType(chunk, "VP8L"))
        return head[20] == 0x2F && (littleEndian32(head.data() + 21) & (1u << 28)) != 0;
    return false;
}

} // namespace

std::optional<bool> read(const RegularFile& file)
{
    std::array<std::uint8_t, 12> head{};
    if (readAt(file, 0, head.data(), pngSignature.size())
        && std::memcmp(head.data(), pngSignature.data(), pngSignature.size()) == 0)
        return pngDeclaresTransparency(file);
    if (readAt(file, 0, head.data(), head.size()) && isType(head.data(), "RIFF") && isType(head.data() + 8, "WEBP"))
        return webpDeclaresTransparency(file);
    return std::nullopt;
}

} // namespace fotivela::PhotoTransparencyHeader
