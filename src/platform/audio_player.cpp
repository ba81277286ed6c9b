#include "platform/audio_player.h"

#include "platform/audio_output.h"
#include "platform/log.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

namespace fotivela {
namespace {

constexpr std::int64_t decodeChunkFrames = 2048;
// How far decoding runs ahead of what is heard.
constexpr double bufferAheadSeconds = 0.75;

struct AudioStreamDeleter {
    void operator()(SDL_AudioStream* stream) const { SDL_FreeAudioStream(stream); }
};
using AudioStreamPtr = std::unique_ptr<SDL_AudioStream, AudioStreamDeleter>;

std::int64_t outputFramesFor(std::int64_t sourceFrames, int sourceRate, int outputRate)
{
    return (sourceFrames * outputRate + sourceRate - 1) / sourceRate;
}

// Decodes ahead into the source's ring, converting to the output's rate and
// channels; follows seeks by generation and stops on workerStop.
void runDecoder(AudioDecoder& decoder, PlaybackSource& source, int sourceRate, int sourceChannels)
{
    // SDL converts rate and channel layout (5.1 downmix included); a layout it
    // does not know is mixed to mono first.
    bool toMono = false;
    AudioStreamPtr stream(SDL_NewAudioStream(AUDIO_F32SYS, static_cast<Uint8>(sourceChannels), sourceRate, AUDIO_F32SYS,
        static_cast<Uint8>(source.channels), source.outputRate));
    if (!stream) {
        toMono = true;
        stream.reset(SDL_NewAudioStream(AUDIO_F32SYS, 1, sourceRate, AUDIO_F32SYS, static_cast<Uint8>(source.channels),
            source.outputRate));
    }
    if (!stream) {
        logLine(std::string("Fotivela audio: cannot convert for output: ") + SDL_GetError());
        std::lock_guard lock(source.mutex);
        source.endReached = true;
        return;
    }
    const std::size_t chunkOutput = static_cast<std::size_t>(outputFramesFor(decodeChunkFrames, sourceRate, source.outputRate)) + 512;
    std::vector<std::vector<float>> planar(static_cast<std::size_t>(sourceChannels),
        std::vector<float>(decodeChunkFrames));
    std::vector<float*> pointers;
    for (auto& channel : planar)
        pointers.push_back(channel.data());
    std::vector<float> interleaved;
    std::vector<float> converted;
    std::uint64_t generation = ~std::uint64_t{0};
    bool decodedToEnd = false;

    for (;;) {
        std::int64_t seekTarget = -1;
        {
            std::unique_lock lock(source.mutex);
            source.wake.wait(lock, [&] {
                return source.workerStop || source.generation != generation
                    || (!decodedToEnd && source.freeFrames() >= chunkOutput);
            });
            if (source.workerStop)
                return;
            if (source.generation != generation) {
                generation = source.generation;
                seekTarget = source.baseFrame;
            }
        }
        try {
            if (seekTarget >= 0) {
                if (decoder.position() != seekTarget)
                    decoder.seekToFrame(seekTarget);
                SDL_AudioStreamClear(stream.get());
                decodedToEnd = false;
                continue;
            }
            const std::int64_t n = decoder.read(pointers.data(), decodeChunkFrames);
            if (n > 0) {
                const std::size_t frames = static_cast<std::size_t>(n);
                const std::size_t ch = toMono ? 1 : static_cast<std::size_t>(sourceChannels);
                interleaved.resize(frames * ch);
                for (std::size_t i = 0; i < frames; ++i) {
                    if (toMono) {
                        float sum = 0.0f;
                        for (const auto& channel : planar)
                            sum += channel[i];
                        interleaved[i] = sum / static_cast<float>(sourceChannels);
                    } else {
                        for (std::size_t c = 0; c < ch; ++c)
                            interleaved[i * ch + c] = planar[c][i];
                    }
                }
                SDL_AudioStreamPut(stream.get(), interleaved.data(), static_cast<int>(interleaved.size() * sizeof(float)));
            } else {
                SDL_AudioStreamFlush(stream.get());
                decodedToEnd = true;
            }
        } catch (const std::exception& error) {
            logLine(std::string("Fotivela audio: decoding stopped: ") + error.what());
            SDL_AudioStreamFlush(stream.get());
            decodedToEnd = true;
        }
        const int available = SDL_AudioStreamAvailable(stream.get());
        converted.resize(static_cast<std::size_t>(available) / sizeof(float));
        const int got = available > 0 ? SDL_AudioStreamGet(stream.get(), converted.data(), available) : 0;
        const std::size_t frames = got > 0 ? static_cast<std::size_t>(got) / (sizeof(float) * static_cast<std::size_t>(source.channels)) : 0;

        std::lock_guard lock(source.mutex);
        if (source.generation != generation)
            continue; // a seek came in meanwhile: this audio is from the old place
        source.push(converted.data(), frames);
        if (decodedToEnd && SDL_AudioStreamAvailable(stream.get()) == 0)
            source.endReached = true;
    }
}

} // namespace

struct AudioPlayer::Worker {
    std::jthread thread;
};

AudioPlayer::AudioPlayer(const std::filesystem::path& file)
    : m_file(file), m_decoder(std::make_unique<AudioDecoder>(file))
{
    m_info = m_decoder->info();
}

AudioPlayer::~AudioPlayer()
{
    stopWorker();
}

std::unique_ptr<AudioPlayer> AudioPlayer::open(const std::filesystem::path& file)
{
    try {
        return std::make_unique<AudioPlayer>(file);
    } catch (const AudioDecoderError& error) {
        logLine("Fotivela audio player: " + error.detail());
    }
    return nullptr;
}

void AudioPlayer::startWorker()
{
    if (!m_output)
        m_output = AudioOutput::shared();
    const int outputRate = m_output->sampleRate();
    const std::size_t capacity = static_cast<std::size_t>(bufferAheadSeconds * outputRate)
        + 2 * static_cast<std::size_t>(outputFramesFor(decodeChunkFrames, m_info.sampleRate, outputRate) + 512);
    m_source = std::make_shared<PlaybackSource>(m_output->channels(), outputRate, capacity);
    m_source->baseFrame = m_positionFrames;
    m_source->volume.store(m_volume);
    m_source->appliedVolume = m_volume;
    m_worker = std::make_unique<Worker>();
    m_worker->thread = std::jthread([decoder = m_decoder.get(), source = m_source.get(), rate = m_info.sampleRate,
                                        channels = m_info.channelCount] { runDecoder(*decoder, *source, rate, channels); });
    m_output->add(m_source);
}

void AudioPlayer::stopWorker()
{
    if (!m_source)
        return;
    m_positionFrames = positionFrames();
    m_output->remove(m_source.get());
    {
        std::lock_guard lock(m_source->mutex);
        m_source->workerStop = true;
    }
    m_source->wake.notify_all();
    m_worker.reset(); // joins
    m_source.reset();
}

bool AudioPlayer::prepareToPlay()
{
    if (!m_source)
        startWorker();
    return true;
}

std::int64_t AudioPlayer::endFrame() const
{
    // A file whose length nobody could tell still plays to wherever it ends.
    return m_info.frameCount > 0 ? m_info.frameCount : std::numeric_limits<std::int64_t>::max();
}

bool AudioPlayer::play()
{
    if (positionFrames() >= endFrame())
        return false;
    prepareToPlay();
    std::unique_lock lock(m_source->mutex);
    if (m_source->finished)
        return false;
    waitForFirstSamples(lock);
    m_source->playing = true;
    return true;
}

bool AudioPlayer::playInStepWith(const AudioPlayer& leader)
{
    pause();
    setCurrentTime(leader.currentTime());
    if (!leader.isPlaying() || !leader.m_output || (m_output && m_output != leader.m_output))
        return play();
    if (positionFrames() >= endFrame())
        return false;
    prepareToPlay();
    {
        // Decoded ahead from where the leader is heard, a little behind where it is mixed,
        // so that the step below finds the samples it needs waiting.
        std::unique_lock lock(m_source->mutex);
        const std::size_t wanted = std::min(m_source->capacityFrames / 2, static_cast<std::size_t>(4 * m_output->bufferFrames()));
        m_source->filled.wait_for(lock, std::chrono::milliseconds(300),
            [&] { return m_source->queuedFrames >= wanted || m_source->endReached || m_source->workerStop; });
    }
    bool started = false;
    m_output->withMixerHeld([&] {
        const PlaybackSource& lead = *leader.m_source;
        double leaderSeconds = 0;
        {
            std::lock_guard leadLock(leader.m_source->mutex);
            leaderSeconds = static_cast<double>(lead.baseFrame) / leader.m_info.sampleRate
                + static_cast<double>(lead.consumedFrames) / lead.outputRate;
        }
        std::lock_guard lock(m_source->mutex);
        PlaybackSource& source = *m_source;
        const double queuedStart = static_cast<double>(source.baseFrame) / m_info.sampleRate
            + static_cast<double>(source.consumedFrames) / source.outputRate;
        const long long skip = std::llround((leaderSeconds - queuedStart) * source.outputRate);
        if (skip >= 0 && static_cast<std::size_t>(skip) <= source.queuedFrames && !source.finished) {
            // Drop what the leader has already played: the next mix takes both from one frame.
            source.readFrame = (source.readFrame + static_cast<std::size_t>(skip)) % source.capacityFrames;
            source.queuedFrames -= static_cast<std::size_t>(skip);
            source.consumedFrames += skip;
        } else {
            // Too far off: start afresh at the leader's place; frames the output runs past while
            // the worker refills are dropped, so the two stay in step.
            const std::int64_t frame = std::llround(leaderSeconds * m_info.sampleRate);
            if (frame >= endFrame())
                return;
            ++source.generation;
            source.baseFrame = std::max<std::int64_t>(frame, 0);
            source.clear();
            source.wake.notify_all();
        }
        source.lastMixFrames = 0;
        source.playing = true;
        started = true;
    });
    return started;
}

void AudioPlayer::waitForFirstSamples(std::unique_lock<std::mutex>& lock)
{
    // A player that starts on an empty ring would run past its first samples;
    // the worker needs well under a millisecond for them.
    const std::size_t wanted = static_cast<std::size_t>(m_output->bufferFrames());
    m_source->filled.wait_for(lock, std::chrono::milliseconds(100),
        [&] { return m_source->queuedFrames >= wanted || m_source->endReached || m_source->workerStop; });
}

void AudioPlayer::pause()
{
    if (!m_source)
        return;
    std::lock_guard lock(m_source->mutex);
    m_source->playing = false;
}

void AudioPlayer::stop()
{
    pause();
    stopWorker();
}

bool AudioPlayer::isPlaying() const
{
    if (!m_source)
        return false;
    std::lock_guard lock(m_source->mutex);
    return m_source->playing;
}

std::int64_t AudioPlayer::positionFrames() const
{
    if (!m_source)
        return m_positionFrames;
    std::lock_guard lock(m_source->mutex);
    double played = static_cast<double>(m_source->consumedFrames);
    if (m_source->playing && m_source->lastMixFrames > 0) {
        // The latest mixed buffer is still being heard: count only the part its time has covered.
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_source->lastMixTime).count();
        const double heard = std::min(elapsed * m_source->outputRate, static_cast<double>(m_source->lastMixFrames));
        played -= static_cast<double>(m_source->lastMixFrames) - heard;
    }
    const double frames = static_cast<double>(m_source->baseFrame) + played * m_info.sampleRate / m_source->outputRate;
    return std::clamp<std::int64_t>(std::llround(frames), 0, endFrame());
}

double AudioPlayer::currentTime() const
{
    return static_cast<double>(positionFrames()) / m_info.sampleRate;
}

void AudioPlayer::setCurrentTime(double seconds)
{
    if (std::isnan(seconds))
        seconds = 0.0;
    const double clamped = std::clamp(seconds, 0.0, m_info.frameCount > 0 ? m_info.durationSeconds : 1e9);
    const std::int64_t frame = std::min(endFrame(), static_cast<std::int64_t>(std::llround(clamped * m_info.sampleRate)));
    m_positionFrames = frame;
    if (!m_source)
        return;
    std::unique_lock lock(m_source->mutex);
    ++m_source->generation;
    m_source->baseFrame = frame;
    m_source->clear();
    m_source->wake.notify_all();
    if (m_source->playing) {
        // Held while the worker refills, so that playing goes on from the target itself.
        m_source->playing = false;
        waitForFirstSamples(lock);
        m_source->playing = true;
    }
}

double AudioPlayer::duration() const
{
    return m_info.durationSeconds;
}

void AudioPlayer::setDecodedFrameCount(std::int64_t frames)
{
    if (frames <= 0)
        return;
    m_info.frameCount = frames;
    m_info.durationSeconds = static_cast<double>(frames) / m_info.sampleRate;
    m_info.isLengthExact = true;
}

float AudioPlayer::volume() const
{
    return m_volume;
}

void AudioPlayer::setVolume(float volume)
{
    m_volume = std::isnan(volume) ? 0.0f : std::clamp(volume, 0.0f, 1.0f);
    if (m_source)
        m_source->volume.store(m_volume, std::memory_order_relaxed);
}

bool AudioPlayer::hasOutputDevice() const
{
    return m_output && m_output->hasDevice();
}

std::size_t AudioPlayer::bufferBytes() const
{
    return m_source ? m_source->ring.size() * sizeof(float) : 0;
}

} // namespace fotivela
