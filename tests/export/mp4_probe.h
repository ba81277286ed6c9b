#pragma once

// Reads back an exported MP4 with FFmpeg: what its tracks say and what they decode to.

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fotivela::test {

struct Mp4Info {
    bool hasVideo = false;
    AVCodecID videoCodec = AV_CODEC_ID_NONE;
    std::uint32_t videoTag = 0;
    int width = 0;
    int height = 0;
    double videoDuration = 0.0;
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
    bool hasAudio = false;
    AVCodecID audioCodec = AV_CODEC_ID_NONE;
    int sampleRate = 0;
    int channels = 0;
    double audioDuration = 0.0;
};

Mp4Info probeMp4(const std::filesystem::path& file);

// The bytes of all the video stream's packets.
std::int64_t videoStreamBytes(const std::filesystem::path& file);

// Y, Cb, Cr of one pixel of the first frame shown at or after the time.
struct YCbCr {
    int y = 0;
    int cb = 0;
    int cr = 0;
};
YCbCr decodedPixel(const std::filesystem::path& file, double seconds, int x, int y);

// One checksum per decoded video frame, in presentation order (Y, Cb and Cr
// of the visible picture).
std::vector<std::uint64_t> frameChecksums(const std::filesystem::path& file);

// The luma plane of each decoded video frame, row after row, in presentation order.
std::vector<std::vector<std::uint8_t>> frameLumas(const std::filesystem::path& file);

// Mean absolute difference of two luma planes of the same size.
double meanLumaDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

// True when the file's index ("moov") comes before its media ("mdat").
bool indexAtFront(const std::filesystem::path& file);

// The first audio channel decoded as float, and its rate.
std::vector<float> decodedAudio(const std::filesystem::path& file, int& sampleRate);

// Root mean square of samples [from, to) seconds.
double rms(const std::vector<float>& samples, int sampleRate, double from, double to);

} // namespace fotivela::test
