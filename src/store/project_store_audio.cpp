#include "store/project_store.h"

#include <algorithm>
#include <cmath>

namespace fotivela {

namespace {

constexpr double defaultCutFadeOutDuration = 2.5;
constexpr double minimumCutFade = 0.2;
constexpr double minimumFadeSpan = 0.001;

} // namespace

float ProjectStore::mainAudioVolume(double time) const
{
    if (isMainAudioMuted())
        return 0;
    const std::optional<double> cut = audioCutTime();
    if (!cut)
        return 1;
    if (std::isnan(time))
        time = 0;
    if (time >= *cut)
        return 0;
    const std::optional<AudioTrack>& audio = project().audio;
    double fade = audio ? audio->cutFadeOutDuration : defaultCutFadeOutDuration;
    if (std::isnan(fade))
        fade = defaultCutFadeOutDuration;
    // At least 0.2 s, or the whole song before the cut when that is shorter.
    const double length = std::min(std::max(fade, minimumCutFade), *cut);
    const double start = std::max(*cut - length, 0.0);
    if (time <= start)
        return 1;
    const double volume = 1 - (time - start) / std::max(*cut - start, minimumFadeSpan);
    return static_cast<float>(std::clamp(volume, 0.0, 1.0));
}

} // namespace fotivela
