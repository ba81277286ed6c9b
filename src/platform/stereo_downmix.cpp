#include "platform/stereo_downmix.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace fotivela {

namespace {

// Per source channel, its share of the left and of the right side: the matrix
// SDL 2 applies when the player's output has two channels (SDL mixes the
// centre and LFE into both sides, each surround mostly into its own side).
struct Share {
    float left;
    float right;
};

constexpr std::array<Share, 3> threeChannels{{{0.800000012f, 0.0f}, {0.0f, 0.800000012f}, {0.200000003f, 0.200000003f}}};
constexpr std::array<Share, 4> fourChannels{
    {{0.421000004f, 0.0f}, {0.0f, 0.421000004f}, {0.358999997f, 0.219999999f}, {0.219999999f, 0.358999997f}}};
constexpr std::array<Share, 5> fiveChannels{{{0.374222219f, 0.0f}, {0.0f, 0.374222219f}, {0.111111112f, 0.111111112f},
    {0.319111109f, 0.195555553f}, {0.195555553f, 0.319111109f}}};
constexpr std::array<Share, 6> sixChannels{{{0.294545442f, 0.0f}, {0.0f, 0.294545442f}, {0.208181813f, 0.208181813f},
    {0.0909090936f, 0.0909090936f}, {0.25181818f, 0.154545456f}, {0.154545456f, 0.25181818f}}};
constexpr std::array<Share, 7> sevenChannels{{{0.247384623f, 0.0f}, {0.0f, 0.247384623f}, {0.174461529f, 0.174461529f},
    {0.0769230798f, 0.0769230798f}, {0.174461529f, 0.174461529f}, {0.226153851f, 0.100615382f},
    {0.100615382f, 0.226153851f}}};
constexpr std::array<Share, 8> eightChannels{{{0.211866662f, 0.0f}, {0.0f, 0.211866662f}, {0.150266662f, 0.150266662f},
    {0.0666666701f, 0.0666666701f}, {0.181066677f, 0.111066669f}, {0.111066669f, 0.181066677f},
    {0.194133341f, 0.0858666673f}, {0.0858666673f, 0.194133341f}}};

template <std::size_t N>
void mix(const float* const* channels, const std::array<Share, N>& shares, std::int64_t frames, float* left, float* right)
{
    for (std::int64_t i = 0; i < frames; ++i) {
        float l = 0.0f;
        float r = 0.0f;
        for (std::size_t c = 0; c < N; ++c) {
            l += channels[c][i] * shares[c].left;
            r += channels[c][i] * shares[c].right;
        }
        left[i] = l;
        right[i] = r;
    }
}

} // namespace

void downmixToStereo(const float* const* channels, int channelCount, std::int64_t frames, float* left, float* right)
{
    switch (channelCount) {
    case 1:
        std::copy_n(channels[0], frames, left);
        std::copy_n(channels[0], frames, right);
        return;
    case 2:
        std::copy_n(channels[0], frames, left);
        std::copy_n(channels[1], frames, right);
        return;
    case 3: mix(channels, threeChannels, frames, left, right); return;
    case 4: mix(channels, fourChannels, frames, left, right); return;
    case 5: mix(channels, fiveChannels, frames, left, right); return;
    case 6: mix(channels, sixChannels, frames, left, right); return;
    case 7: mix(channels, sevenChannels, frames, left, right); return;
    case 8: mix(channels, eightChannels, frames, left, right); return;
    default: break;
    }
    if (channelCount <= 0) {
        std::fill_n(left, frames, 0.0f);
        std::fill_n(right, frames, 0.0f);
        return;
    }
    // The output's mixer knows no layout this wide: the player mixes to mono first.
    const float divisor = static_cast<float>(channelCount);
    for (std::int64_t i = 0; i < frames; ++i) {
        float sum = 0.0f;
        for (int c = 0; c < channelCount; ++c)
            sum += channels[c][i];
        left[i] = right[i] = sum / divisor;
    }
}

} // namespace fotivela
