#pragma once

#include "platform/error.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace fotivela {

class RegularFile;

// A file that cannot be read as audio. what() is the user's message.
class AudioDecoderError : public Error {
public:
    enum class Kind { cannotOpen, noAudioStream, unsupportedCodec, undecodable, readFailed };

    AudioDecoderError(Kind kind, std::string detail);

    Kind kind() const { return m_kind; }
    // FFmpeg's own words and the file, for the log.
    const std::string& detail() const { return m_detail; }

private:
    Kind m_kind;
    std::string m_detail;
};

struct AudioStreamInfo {
    std::string formatName; // the container as FFmpeg names it ("wav", "mp3", "mov,mp4,m4a,3gp,3g2,mj2", ...)
    std::string codecName;  // "pcm_s16le", "mp3float", "aac", "flac", ...
    int channelCount = 0;
    int sampleRate = 0;
    // Length after encoder delay and padding are removed. Exact for PCM, FLAC and
    // MP4 with an edit list or MP3 with a LAME header; otherwise the container's estimate.
    std::int64_t frameCount = 0;
    double durationSeconds = 0.0;
    bool isLengthExact = false;
    // How the file stores its samples: uncompressed PCM, its bits per sample where
    // the file states them (0 otherwise) and whether they are floating point.
    bool isLinearPcm = false;
    int bitsPerSample = 0;
    bool isFloat = false;

    friend bool operator==(const AudioStreamInfo&, const AudioStreamInfo&) = default;
};

// Streams one audio file as 32-bit float planar samples at its own rate and
// channel count. Samples that are not finite as floats (NaN, infinities) come
// out as 0; all others unchanged, however loud. Not thread-safe: one thread at a time.
class AudioDecoder {
public:
    // Probes the file and decodes its first packet; throws AudioDecoderError when
    // that fails, also for a file that holds no sample at all, and at once for anything
    // but a regular file (a FIFO, a device).
    explicit AudioDecoder(const std::filesystem::path& file);
    // The same over a file already open; `file` names it in messages and helps probing.
    AudioDecoder(std::shared_ptr<const RegularFile> opened, const std::filesystem::path& file);
    ~AudioDecoder();
    AudioDecoder(AudioDecoder&&) noexcept;
    AudioDecoder& operator=(AudioDecoder&&) noexcept;

    const AudioStreamInfo& info() const;
    const std::filesystem::path& file() const;

    // Reads up to maxFrames into channels[0 .. channelCount-1] (each with room for
    // maxFrames). Returns the frames written; 0 at the end of the audio. A damaged
    // packet is skipped; a damaged file ends early rather than throwing.
    std::int64_t read(float* const* channels, std::int64_t maxFrames);
    // The same into vectors, resized to the frames read.
    std::int64_t read(std::vector<std::vector<float>>& channels, std::int64_t maxFrames);

    // The next read starts at this frame (clamped at 0); sample-accurate where
    // the container's timestamps are. Past the end, the next read returns 0.
    void seekToFrame(std::int64_t frame);
    void seek(double seconds);
    // Frame index of the next sample read returns.
    std::int64_t position() const;

    // Reads everything from the current position (for short files and tests).
    std::vector<std::vector<float>> readAll();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The file's length in frames found by decoding it to its last sample (what every
// header only estimates); none when it stopped first. Throws AudioDecoderError.
std::optional<std::int64_t> decodedFrameCount(const std::filesystem::path& file, std::stop_token stop = {});

} // namespace fotivela
