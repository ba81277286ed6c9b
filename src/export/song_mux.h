#pragma once

#include <cstdint>

namespace fotivela {

// The closing fade of a song cut to the slideshow: full volume until start,
// then a straight ramp to silence that ends at the cut. Times are kept on a
// 1/600 s grid, as the project's media times are.
struct AudioFadeMix {
    double start = 0.0;
    double length = 0.0;

    // The volume at a time of the song, 0...1.
    double gain(double seconds) const;

    friend bool operator==(const AudioFadeMix&, const AudioFadeMix&) = default;
};

// The fade for a cut at cutTime lasting fadeOutDuration (at least 0.2 s, never before 0).
AudioFadeMix makeAudioFadeMix(double cutTime, double fadeOutDuration);

// Output of the song track: AAC stereo 44,100 Hz at 192 kbit/s.
inline constexpr int muxAudioSampleRate = 44100;
inline constexpr int muxAudioChannelCount = 2;
inline constexpr std::int64_t muxAudioBitRate = 192000;

} // namespace fotivela
