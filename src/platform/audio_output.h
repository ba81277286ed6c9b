#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace fotivela {

// What one player feeds the output: samples already in the output's format,
// decoded ahead by the player's worker into a bounded ring. The output's mixing
// thread and the player's worker meet only under `mutex`.
struct PlaybackSource {
    PlaybackSource(int channels, int outputRate, std::size_t capacityFrames);

    const int channels;
    const int outputRate;
    const std::size_t capacityFrames;

    std::mutex mutex;
    std::condition_variable wake;   // the worker waits for room, a seek or the end
    std::condition_variable filled; // a starting player waits for its first samples

    // All below under `mutex`.
    std::vector<float> ring; // interleaved frames
    std::size_t readFrame = 0;
    std::size_t queuedFrames = 0;
    std::uint64_t generation = 0;      // bumped by every seek; stale decoded data is dropped
    std::int64_t baseFrame = 0;        // file frame where the generation begins
    std::int64_t consumedFrames = 0;   // output frames mixed since the generation began
    std::int64_t owedFrames = 0;       // frames the output ran past while the ring was empty
    std::int64_t lastMixFrames = 0;    // frames taken by the latest mix, still being heard
    std::chrono::steady_clock::time_point lastMixTime{};
    bool endReached = false;           // the worker has queued the last sample of the file
    bool finished = false;             // the mixer played everything to the end
    bool playing = false;
    bool workerStop = false;
    float appliedVolume = 1.0f;        // mixer's own copy, ramped towards `volume`

    std::atomic<float> volume{1.0f};

    std::size_t freeFrames() const { return capacityFrames - queuedFrames; }
    void clear();
    // Appends as much as fits, after dropping frames the output already ran past;
    // returns frames taken. Caller holds `mutex`.
    std::size_t push(const float* interleaved, std::size_t frames);
    // Adds this source into out (frames × channels). A playing source whose ring ran
    // dry still moves on with the output, so players stay in step with each other
    // and with the clock. Caller holds `mutex`.
    void mixInto(float* out, std::size_t frames, std::chrono::steady_clock::time_point now);
};

// The program's one audio output: an SDL device whose callback mixes every
// playing source, or, where SDL finds no device, a thread that consumes the
// sources at the same real-time pace in silence. Shared by all players and
// closed when the last one goes.
class AudioOutput {
public:
    static std::shared_ptr<AudioOutput> shared();

    // Only shared() can make one.
    class Token {
        friend class AudioOutput;
        Token() = default;
    };
    explicit AudioOutput(Token);
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    int sampleRate() const { return m_sampleRate; }
    int channels() const { return m_channels; }
    int bufferFrames() const { return m_bufferFrames; }
    bool hasDevice() const { return m_device != 0; }

    void add(std::shared_ptr<PlaybackSource> source);
    void remove(const PlaybackSource* source);
    // Runs `change` while no mix runs, so that what it does to several sources is heard
    // from one and the same output frame.
    void withMixerHeld(const std::function<void()>& change);

private:
    void mix(float* out, std::size_t frames);
    static void callback(void* self, std::uint8_t* stream, int bytes);
    void runSilentClock(std::stop_token stop);

    std::uint32_t m_device = 0;
    bool m_sdlStarted = false;
    int m_sampleRate = 48000;
    int m_channels = 2;
    int m_bufferFrames = 1024;
    std::mutex m_sourcesMutex;
    std::vector<std::shared_ptr<PlaybackSource>> m_sources;
    std::jthread m_silentClock;
};

} // namespace fotivela
