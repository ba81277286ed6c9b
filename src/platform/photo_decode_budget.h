#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace fotivela {

// What decoding a photo costs in memory, read from its header before any pixel is
// decoded, and the process-wide allowance those decodes share. A header declaring
// 20000 × 20000 pixels fits in a few bytes; decoding it would not fit in memory.
namespace PhotoDecodeBudget {

// No single photo decode may need more than this: a 12-megapixel photo needs a
// fraction of it, a 48-megapixel HEIC or a 100-megapixel progressive JPEG fits.
inline constexpr std::int64_t perDecodeLimitBytes = std::int64_t{320} << 20;
// All photo decodes running at once (preview workers, export, contact sheets) share this.
inline constexpr std::int64_t sharedLimitBytes = std::int64_t{640} << 20;

// The parts of a JPEG header that decide libjpeg's memory.
struct JpegLayout {
    int width = 0;
    int height = 0;
    // Progressive or several scans: libjpeg holds every DCT coefficient of the whole
    // image until the last scan, whatever the output size.
    bool buffersWholeImage = false;
    std::int64_t coefficientBytes = 0;
};

// None when the file does not start as a JPEG or its frame header is missing or damaged.
std::optional<JpegLayout> readJpegLayout(const std::filesystem::path& file);
// The logical screen of a GIF (its frames may be smaller); none for other files.
std::optional<std::pair<int, int>> readGifScreen(const std::filesystem::path& file);
// True for a PNG stored without interlacing: Qt can then scale it row by row as it reads.
bool isProgressivelyReadablePng(const std::filesystem::path& file);
// True when the file starts as a WebP: Qt's reader holds the whole file while it decodes.
bool isWebp(const std::filesystem::path& file);

// Bytes to decode a JPEG to at least (targetWidth × targetHeight) the way Qt's reader
// does (libjpeg's scaling by 1/2, 1/4 or 1/8), or whole when no target is given.
std::int64_t jpegDecodeBytes(const JpegLayout& layout, int targetWidth, int targetHeight);

// Holds part of the shared allowance while a decode runs; waits while others hold
// too much of it. A decode alone in the process always proceeds.
class Reservation {
public:
    explicit Reservation(std::int64_t bytes);
    ~Reservation();
    Reservation(const Reservation&) = delete;
    Reservation& operator=(const Reservation&) = delete;

private:
    std::int64_t m_bytes;
};

} // namespace PhotoDecodeBudget

} // namespace fotivela
