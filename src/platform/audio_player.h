#pragma once

#include "platform/audio_decoder.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace fotivela {

class AudioOutput;
struct PlaybackSource;

// Plays one audio file through the program's shared output. Opening probes the
// file and decodes its first packet, never the whole song; decoding then runs
// ahead of playback on a worker thread into a bounded buffer. The position
// comes from the samples the output has played. Where there is no sound device
// the player still runs, silently, on a real-time clock.
//
// Used from one thread (the main thread); the worker and the output's thread
// share only the source's locked ring and atomics.
class AudioPlayer {
public:
    // Throws AudioDecoderError when the file is not playable audio.
    explicit AudioPlayer(const std::filesystem::path& file);
    // The player falls silent at once.
    ~AudioPlayer();
    AudioPlayer(const AudioPlayer&) = delete;
    AudioPlayer& operator=(const AudioPlayer&) = delete;

    // The player, or none when the file cannot be played (the reason is logged).
    static std::unique_ptr<AudioPlayer> open(const std::filesystem::path& file);

    // Starts decoding ahead and joins the output; true when ready to play.
    bool prepareToPlay();
    // True when playback started (false at or past the end).
    bool play();
    // Joins a leader that plays on the same output at the leader's own place, frame for
    // frame: both then move on one sample clock. Without a playing leader, plays from the
    // leader's time. False when that lies at or past this file's end.
    bool playInStepWith(const AudioPlayer& leader);
    // Holds the position.
    void pause();
    // Stops and releases the decoding buffer; the position stays.
    void stop();

    bool isPlaying() const;
    double currentTime() const;
    // Clamped to 0 ... duration; playing continues from there.
    void setCurrentTime(double seconds);
    double duration() const;
    // The length found by decoding the whole file, which replaces the header's
    // estimate in duration() and in every clamp of the position.
    void setDecodedFrameCount(std::int64_t frames);
    float volume() const;
    // 0 ... 1, applied by the output as it mixes.
    void setVolume(float volume);

    const std::filesystem::path& file() const { return m_file; }
    const AudioStreamInfo& streamInfo() const { return m_info; }
    // False when the output plays into a silent clock for want of a device.
    bool hasOutputDevice() const;
    // Bytes held for decoded audio (ring buffer), for memory reports.
    std::size_t bufferBytes() const;

private:
    struct Worker;

    void startWorker();
    void stopWorker();
    std::int64_t positionFrames() const; // in the file's frames
    std::int64_t endFrame() const;
    void waitForFirstSamples(std::unique_lock<std::mutex>& lock);

    std::filesystem::path m_file;
    AudioStreamInfo m_info;
    std::unique_ptr<AudioDecoder> m_decoder; // owned by the worker while it runs
    std::shared_ptr<AudioOutput> m_output;
    std::shared_ptr<PlaybackSource> m_source;
    std::unique_ptr<Worker> m_worker;
    std::int64_t m_positionFrames = 0; // where playback resumes when no source runs
    float m_volume = 1.0f;
};

} // namespace fotivela
