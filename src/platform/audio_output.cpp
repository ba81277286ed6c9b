#include "platform/audio_output.h"

#include "platform/log.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

namespace fotivela {

PlaybackSource::PlaybackSource(int channelCount, int rate, std::size_t capacity)
    : channels(channelCount), outputRate(rate), capacityFrames(capacity),
      ring(capacity * static_cast<std::size_t>(channelCount))
{
}

void PlaybackSource::clear()
{
    readFrame = 0;
    queuedFrames = 0;
    consumedFrames = 0;
    owedFrames = 0;
    lastMixFrames = 0;
    endReached = false;
    finished = false;
}

std::size_t PlaybackSource::push(const float* interleaved, std::size_t frames)
{
    const std::size_t ch = static_cast<std::size_t>(channels);
    const std::size_t dropped = std::min(frames, static_cast<std::size_t>(owedFrames));
    owedFrames -= static_cast<std::int64_t>(dropped);
    interleaved += dropped * ch;
    frames -= dropped;
    const std::size_t count = std::min(frames, freeFrames());
    std::size_t writeFrame = (readFrame + queuedFrames) % capacityFrames;
    std::size_t done = 0;
    while (done < count) {
        const std::size_t run = std::min(count - done, capacityFrames - writeFrame);
        std::memcpy(ring.data() + writeFrame * ch, interleaved + done * ch, run * ch * sizeof(float));
        done += run;
        writeFrame = (writeFrame + run) % capacityFrames;
    }
    queuedFrames += count;
    filled.notify_all();
    return dropped + count;
}

void PlaybackSource::mixInto(float* out, std::size_t frames, std::chrono::steady_clock::time_point now)
{
    if (!playing)
        return;
    const std::size_t ch = static_cast<std::size_t>(channels);
    const std::size_t count = std::min(frames, queuedFrames);
    // Volume moves across the buffer rather than in one step, so fades do not crackle.
    const float target = std::clamp(volume.load(std::memory_order_relaxed), 0.0f, 1.0f);
    const float start = appliedVolume;
    const float step = count > 0 ? (target - start) / static_cast<float>(count) : 0.0f;
    std::size_t done = 0;
    while (done < count) {
        const std::size_t run = std::min(count - done, capacityFrames - readFrame);
        const float* from = ring.data() + readFrame * ch;
        float* to = out + done * ch;
        for (std::size_t i = 0; i < run; ++i) {
            const float gain = start + step * static_cast<float>(done + i + 1);
            for (std::size_t c = 0; c < ch; ++c)
                to[i * ch + c] += from[i * ch + c] * gain;
        }
        done += run;
        readFrame = (readFrame + run) % capacityFrames;
    }
    appliedVolume = count > 0 ? target : appliedVolume;
    queuedFrames -= count;
    const std::size_t missing = endReached ? 0 : frames - count;
    owedFrames += static_cast<std::int64_t>(missing);
    consumedFrames += static_cast<std::int64_t>(count + missing);
    lastMixFrames = static_cast<std::int64_t>(count + missing);
    lastMixTime = now;
    if (queuedFrames == 0 && endReached) {
        playing = false;
        finished = true;
    }
    wake.notify_one();
}

namespace {
std::mutex sharedOutputMutex;
std::weak_ptr<AudioOutput> sharedOutput;
} // namespace

std::shared_ptr<AudioOutput> AudioOutput::shared()
{
    std::lock_guard lock(sharedOutputMutex);
    std::shared_ptr<AudioOutput> output = sharedOutput.lock();
    if (!output) {
        output = std::make_shared<AudioOutput>(Token{});
        sharedOutput = output;
    }
    return output;
}

AudioOutput::AudioOutput(Token)
{
    // SIGTERM and SIGINT belong to the program, which saves before it ends; SDL's own handlers
    // would turn them into a quit event that nothing reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        m_sdlStarted = true;
        SDL_AudioSpec wanted{};
        wanted.freq = 48000;
        wanted.format = AUDIO_F32SYS;
        wanted.channels = 2;
        wanted.samples = 1024;
        wanted.callback = &AudioOutput::callback;
        wanted.userdata = this;
        SDL_AudioSpec obtained{};
        // SDL converts the sample format itself; rate and channel count we take as the device has them.
        m_device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained,
            SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
        if (m_device != 0) {
            m_sampleRate = obtained.freq;
            m_channels = obtained.channels;
            m_bufferFrames = obtained.samples;
        }
    }
    if (m_device == 0) {
        logLine(std::string("Fotivela audio: no output device (") + SDL_GetError() + "), playing silently");
        if (m_sdlStarted) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            m_sdlStarted = false;
        }
        m_silentClock = std::jthread([this](std::stop_token stop) { runSilentClock(stop); });
        return;
    }
    SDL_PauseAudioDevice(m_device, 0);
}

AudioOutput::~AudioOutput()
{
    if (m_device != 0)
        SDL_CloseAudioDevice(m_device); // waits for a running callback
    if (m_silentClock.joinable()) {
        m_silentClock.request_stop();
        m_silentClock.join();
    }
    if (m_sdlStarted)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void AudioOutput::add(std::shared_ptr<PlaybackSource> source)
{
    std::lock_guard lock(m_sourcesMutex);
    if (std::find(m_sources.begin(), m_sources.end(), source) == m_sources.end())
        m_sources.push_back(std::move(source));
}

void AudioOutput::remove(const PlaybackSource* source)
{
    // Once this returns the mixer can no longer touch the source.
    std::lock_guard lock(m_sourcesMutex);
    std::erase_if(m_sources, [source](const auto& s) { return s.get() == source; });
}

void AudioOutput::withMixerHeld(const std::function<void()>& change)
{
    std::lock_guard lock(m_sourcesMutex);
    change();
}

void AudioOutput::mix(float* out, std::size_t frames)
{
    std::fill_n(out, frames * static_cast<std::size_t>(m_channels), 0.0f);
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(m_sourcesMutex);
    for (const auto& source : m_sources) {
        std::lock_guard sourceLock(source->mutex);
        source->mixInto(out, frames, now);
    }
}

void AudioOutput::callback(void* self, std::uint8_t* stream, int bytes)
{
    auto* output = static_cast<AudioOutput*>(self);
    const std::size_t frames = static_cast<std::size_t>(bytes) / (sizeof(float) * static_cast<std::size_t>(output->m_channels));
    output->mix(reinterpret_cast<float*>(stream), frames);
}

void AudioOutput::runSilentClock(std::stop_token stop)
{
    using namespace std::chrono;
    const auto tick = milliseconds(10);
    std::vector<float> scratch(static_cast<std::size_t>(m_bufferFrames * m_channels));
    const auto start = steady_clock::now();
    std::int64_t done = 0;
    while (!stop.stop_requested()) {
        const auto elapsed = duration<double>(steady_clock::now() - start).count();
        const auto due = static_cast<std::int64_t>(elapsed * m_sampleRate);
        while (done < due) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(due - done, m_bufferFrames));
            mix(scratch.data(), n);
            done += static_cast<std::int64_t>(n);
        }
        std::this_thread::sleep_for(tick);
    }
}

} // namespace fotivela
