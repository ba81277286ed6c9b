#include "platform/photo_decode_budget.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <vector>

namespace fotivela::PhotoDecodeBudget {

namespace {

int bigEndian16(const unsigned char* p)
{
    return (p[0] << 8) | p[1];
}

std::int64_t blocks(std::int64_t pixels, int factor, int maxFactor)
{
    // Component samples, then 8 × 8 blocks rounded up to whole MCUs as libjpeg allocates them.
    const std::int64_t samples = (pixels * factor + maxFactor - 1) / maxFactor;
    const std::int64_t count = (samples + 7) / 8;
    return (count + factor - 1) / factor * factor;
}

// Counts start-of-scan markers after the frame header. 0xFF 0xDA never occurs inside
// entropy-coded data, where every 0xFF is followed by 0x00 or a restart marker.
int countScans(std::ifstream& in)
{
    int scans = 0;
    std::vector<char> chunk(1 << 16);
    bool afterFF = false;
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
        const auto n = static_cast<std::size_t>(in.gcount());
        for (std::size_t i = 0; i < n; ++i) {
            const auto byte = static_cast<unsigned char>(chunk[i]);
            if (afterFF && byte == 0xda && ++scans > 1)
                return scans;
            afterFF = byte == 0xff;
        }
    }
    return scans;
}

// The one allowance of the process, like the worker pool it serves.
struct SharedAllowance {
    std::mutex mutex;
    std::condition_variable released;
    std::int64_t reservedBytes = 0; // held by decodes now running
};

SharedAllowance& sharedAllowance()
{
    static SharedAllowance allowance;
    return allowance;
}

} // namespace

std::optional<JpegLayout> readJpegLayout(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::array<unsigned char, 4> head{};
    if (!in.read(reinterpret_cast<char*>(head.data()), 2) || head[0] != 0xff || head[1] != 0xd8)
        return std::nullopt;
    for (;;) {
        int byte = in.get();
        if (byte != 0xff)
            return std::nullopt;
        while (byte == 0xff)
            byte = in.get();
        if (byte == EOF)
            return std::nullopt;
        const auto marker = static_cast<unsigned char>(byte);
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7))
            continue;
        if (marker == 0xda || marker == 0xd9)
            return std::nullopt; // pixels before any frame header
        if (!in.read(reinterpret_cast<char*>(head.data()), 2))
            return std::nullopt;
        const int length = bigEndian16(head.data());
        if (length < 2)
            return std::nullopt;
        const bool frameHeader = marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
        if (!frameHeader) {
            in.seekg(length - 2, std::ios::cur);
            continue;
        }
        std::vector<unsigned char> frame(static_cast<std::size_t>(length - 2));
        if (frame.size() < 6 || !in.read(reinterpret_cast<char*>(frame.data()), static_cast<std::streamsize>(frame.size())))
            return std::nullopt;
        JpegLayout layout;
        layout.height = bigEndian16(frame.data() + 1);
        layout.width = bigEndian16(frame.data() + 3);
        const int components = frame[5];
        if (layout.width <= 0 || layout.height <= 0 || components <= 0 || frame.size() < 6 + 3 * std::size_t(components))
            return std::nullopt;
        int maxH = 1;
        int maxV = 1;
        for (int c = 0; c < components; ++c) {
            const unsigned char sampling = frame[7 + 3 * std::size_t(c)];
            maxH = std::max(maxH, sampling >> 4);
            maxV = std::max(maxV, sampling & 0x0f);
        }
        for (int c = 0; c < components; ++c) {
            const unsigned char sampling = frame[7 + 3 * std::size_t(c)];
            const int h = std::clamp(sampling >> 4, 1, 4);
            const int v = std::clamp(sampling & 0x0f, 1, 4);
            // 64 coefficients of two bytes per block.
            layout.coefficientBytes += blocks(layout.width, h, maxH) * blocks(layout.height, v, maxV) * 128;
        }
        const bool progressive = (marker & 0x03) == 0x02; // SOF2, SOF6, SOF10, SOF14
        layout.buffersWholeImage = progressive || (components > 1 && countScans(in) > 1);
        return layout;
    }
}

std::optional<std::pair<int, int>> readGifScreen(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::array<unsigned char, 10> head{};
    if (!in.read(reinterpret_cast<char*>(head.data()), head.size()) || head[0] != 'G' || head[1] != 'I' || head[2] != 'F')
        return std::nullopt;
    return std::pair{head[6] | (head[7] << 8), head[8] | (head[9] << 8)};
}

bool isProgressivelyReadablePng(const std::filesystem::path& file)
{
    // The signature, then the IHDR chunk; its interlace method is the 29th byte of the file.
    std::ifstream in(file, std::ios::binary);
    std::array<unsigned char, 29> head{};
    if (!in.read(reinterpret_cast<char*>(head.data()), head.size()))
        return false;
    static constexpr std::array<unsigned char, 8> signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    return std::equal(signature.begin(), signature.end(), head.begin()) && std::equal(head.begin() + 12, head.begin() + 16, "IHDR")
        && head[28] == 0;
}

bool isWebp(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::array<char, 12> head{};
    return in.read(head.data(), head.size()) && std::equal(head.begin(), head.begin() + 4, "RIFF")
        && std::equal(head.begin() + 8, head.end(), "WEBP");
}

std::int64_t jpegDecodeBytes(const JpegLayout& layout, int targetWidth, int targetHeight)
{
    int denominator = 1;
    if (targetWidth > 0 && targetHeight > 0) {
        const int ratio = std::min(layout.width / targetWidth, layout.height / targetHeight);
        denominator = ratio >= 8 ? 8 : ratio >= 4 ? 4 : ratio >= 2 ? 2 : 1;
    }
    const std::int64_t outputWidth = (std::int64_t{layout.width} + denominator - 1) / denominator;
    const std::int64_t outputHeight = (std::int64_t{layout.height} + denominator - 1) / denominator;
    // The output image, its scaled copy and libjpeg's row buffers over the full width.
    std::int64_t bytes = outputWidth * outputHeight * 4 + std::int64_t{std::max(targetWidth, 1)} * std::max(targetHeight, 1) * 4
        + std::int64_t{layout.width} * 3 * 64;
    if (layout.buffersWholeImage)
        bytes += layout.coefficientBytes;
    return bytes;
}

Reservation::Reservation(std::int64_t bytes) : m_bytes(std::clamp<std::int64_t>(bytes, 0, sharedLimitBytes))
{
    SharedAllowance& shared = sharedAllowance();
    std::unique_lock lock(shared.mutex);
    shared.released.wait(lock, [&] { return shared.reservedBytes == 0 || shared.reservedBytes + m_bytes <= sharedLimitBytes; });
    shared.reservedBytes += m_bytes;
}

Reservation::~Reservation()
{
    SharedAllowance& shared = sharedAllowance();
    {
        std::lock_guard lock(shared.mutex);
        shared.reservedBytes -= m_bytes;
    }
    shared.released.notify_all();
}

} // namespace fotivela::PhotoDecodeBudget
