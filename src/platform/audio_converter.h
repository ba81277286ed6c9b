#pragma once

#include <filesystem>

namespace fotivela {

// The system's audio converter, in process: the three conversions the program asks of
// it, each ending in success or failure as the converter's exit status would. Output
// is written straight to the given path, mode 0600, replacing what stands there, and
// synced to disk; a failed conversion removes what it had written.
namespace AudioConverter {

// "-f flac -d flac": FLAC at the source's own integer bit depth (8, 16 or 24).
// Sources of any other depth, float samples included, fail.
bool convertToFLAC(const std::filesystem::path& source, const std::filesystem::path& destination) noexcept;

// "-f WAVE -d LEI16" / "LEI24": a RIFF/WAVE file of little-endian integer samples of
// that depth from any audio the decoder reads. Samples that are not finite become 0.
bool convertToIntegerWAV(const std::filesystem::path& source, const std::filesystem::path& destination,
                         int bitsPerSample) noexcept;

// "-f WAVE -d LEF32 -c 2": two channels of 32-bit float, the stereo the player
// makes of the source (a mono source on both sides, more channels mixed down).
bool convertToStereoFloatWAV(const std::filesystem::path& source, const std::filesystem::path& destination) noexcept;

} // namespace AudioConverter

} // namespace fotivela
