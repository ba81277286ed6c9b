#pragma once

#include <algorithm>
#include <cmath>

// Where the song's closing fade begins when it is cut to the slideshow.
namespace fotivela::AudioFadeEnvelope {

inline constexpr double minimumFadeOutDuration = 0.2;

// The fade lasts at least 0.2 s (also for a length that is not a number) and
// never starts before 0.
inline double fadeStart(double cutTime, double fadeOutDuration)
{
    const double fade = std::isfinite(fadeOutDuration) ? std::max(fadeOutDuration, minimumFadeOutDuration)
                                                       : minimumFadeOutDuration;
    return std::max(cutTime - fade, 0.0);
}

} // namespace fotivela::AudioFadeEnvelope
