#pragma once

#include <cstdint>

namespace fotivela {

// The stereo a song is heard as on a two-channel output: mono on both sides,
// 3 to 8 channels through the output's own matrix for the usual layout of that
// count (5.1's centre goes to both sides), and more channels than that as their
// plain mean on both sides, as the player mixes them. Each side's shares add
// up to 1: the downmix adds no gain.
void downmixToStereo(const float* const* channels, int channelCount, std::int64_t frames, float* left, float* right);

} // namespace fotivela
