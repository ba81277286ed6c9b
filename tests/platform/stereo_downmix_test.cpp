#include "platform/stereo_downmix.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using namespace fotivela;

namespace {

// What the player's output makes of the same samples when it has two channels.
std::vector<float> outputMix(const std::vector<std::vector<float>>& channels)
{
    const int count = static_cast<int>(channels.size());
    const std::size_t frames = channels.front().size();
    SDL_AudioStream* stream = SDL_NewAudioStream(AUDIO_F32SYS, static_cast<Uint8>(count), 44100, AUDIO_F32SYS, 2, 44100);
    if (stream == nullptr)
        return {};
    std::vector<float> interleaved(frames * channels.size());
    for (std::size_t i = 0; i < frames; ++i)
        for (std::size_t c = 0; c < channels.size(); ++c)
            interleaved[i * channels.size() + c] = channels[c][i];
    SDL_AudioStreamPut(stream, interleaved.data(), static_cast<int>(interleaved.size() * sizeof(float)));
    SDL_AudioStreamFlush(stream);
    std::vector<float> stereo(frames * 2);
    const int got = SDL_AudioStreamGet(stream, stereo.data(), static_cast<int>(stereo.size() * sizeof(float)));
    SDL_FreeAudioStream(stream);
    stereo.resize(static_cast<std::size_t>(std::max(got, 0)) / sizeof(float));
    return stereo;
}

TEST(StereoDownmix, IsWhatThePlayersOutputMakesOfEveryChannelCount)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    constexpr std::size_t frames = 256;
    for (int count = 1; count <= 12; ++count) {
        std::vector<std::vector<float>> channels(static_cast<std::size_t>(count), std::vector<float>(frames));
        for (auto& channel : channels)
            for (float& value : channel)
                value = sample(random);
        std::vector<const float*> pointers;
        for (const auto& channel : channels)
            pointers.push_back(channel.data());
        std::vector<float> left(frames), right(frames);
        downmixToStereo(pointers.data(), count, static_cast<std::int64_t>(frames), left.data(), right.data());

        std::vector<float> expected = outputMix(channels);
        if (count > 8) {
            // The output's mixer takes no more than eight: the player mixes such songs to mono.
            ASSERT_TRUE(expected.empty()) << count;
            for (std::size_t i = 0; i < frames; ++i) {
                float sum = 0;
                for (const auto& channel : channels)
                    sum += channel[i];
                expected.push_back(sum / static_cast<float>(count));
                expected.push_back(sum / static_cast<float>(count));
            }
        }
        ASSERT_EQ(expected.size(), 2 * frames) << count;
        for (std::size_t i = 0; i < frames; ++i) {
            ASSERT_NEAR(left[i], expected[2 * i], 1e-6f) << count << " channels, frame " << i;
            ASSERT_NEAR(right[i], expected[2 * i + 1], 1e-6f) << count << " channels, frame " << i;
        }
    }
}

} // namespace
