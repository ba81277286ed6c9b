#pragma once

#include "platform/audio_decoder.h"
#include "platform/error.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fotivela {

// A file that could not be written as audio. what() is the user's message.
class AudioFileWriteError : public Error {
public:
    AudioFileWriteError(const std::filesystem::path& file, const std::string& detail);
    const std::string& detail() const { return m_detail; }

private:
    std::string m_detail;
};

enum class AudioFormatID { linearPCM, flac, other };

// What a file says about itself before it is decoded.
struct AudioFileFormat {
    AudioFormatID formatID = AudioFormatID::other;
    std::string formatName; // the container, as FFmpeg names it
    std::string codecName;
    // Stated only where the file stores integer or float samples of a fixed size.
    std::optional<int> bitsPerSample;
    bool isFloat = false;
    int channelCount = 0;
    double sampleRate = 0;
    // After encoder delay and padding; an estimate where isLengthExact is false.
    std::int64_t lengthFrames = 0;
    bool isLengthExact = false;

    bool operator==(const AudioFileFormat&) const = default;
};

// Samples in memory: one list per channel, all of one length.
struct AudioBuffer {
    double sampleRate = 0;
    std::vector<std::vector<float>> channels;

    std::int64_t frameCount() const { return channels.empty() ? 0 : static_cast<std::int64_t>(channels.front().size()); }
    bool operator==(const AudioBuffer&) const = default;
};

// Frames of every channel, valid until the next read from the same reader.
struct AudioBlockView {
    const float* const* channels = nullptr;
    int channelCount = 0;
    std::int64_t frameCount = 0;
};

// Reads any audio file FFmpeg decodes (MP3, WAV, AAC/M4A, FLAC, AIFF) as 32-bit
// float at its own rate and channel count, whole or block by block.
class AudioFileReader {
public:
    static constexpr std::int64_t defaultBlockFrames = 16384;

    // Throws AudioDecoderError when the file is not readable audio.
    static AudioFileReader open(const std::filesystem::path& file, std::int64_t blockFrames = defaultBlockFrames);
    static AudioFileFormat formatOf(const std::filesystem::path& file);
    // At most maxFrames frames from the start; throws AudioDecoderError.
    static AudioBuffer readWhole(const std::filesystem::path& file, std::int64_t maxFrames = INT32_MAX);
    // Writes a 32-bit float WAV beside the target and renames it into place, so
    // a failed write never leaves a partial file under the target's name.
    static void writeFloatWav(const std::filesystem::path& file, const AudioBuffer& buffer);

    const AudioFileFormat& format() const { return m_format; }
    // The next block; false at the end of the audio.
    bool readBlock(AudioBlockView& block);

private:
    AudioFileReader(AudioDecoder decoder, AudioFileFormat format, std::int64_t blockFrames);

    AudioDecoder m_decoder;
    AudioFileFormat m_format;
    std::vector<std::vector<float>> m_block;
    std::vector<float*> m_writePointers;
    std::vector<const float*> m_readPointers;
};

} // namespace fotivela
