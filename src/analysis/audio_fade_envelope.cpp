#include "analysis/audio_fade_envelope.h"

#include <algorithm>
#include <cmath>

namespace fotivela::AudioFadeEnvelope {

namespace {

constexpr double minimumFadeOut = 0.2;

} // namespace

double fadeStart(double cutTime, double fadeOutDuration)
{
    const double fade = std::isnan(fadeOutDuration) ? minimumFadeOut : std::max(fadeOutDuration, minimumFadeOut);
    const double start = cutTime - fade;
    // The export builds a gain ramp from it: only a finite time may leave here.
    return std::isfinite(start) ? std::max(start, 0.0) : 0.0;
}

} // namespace fotivela::AudioFadeEnvelope
