#include "store/timeline_audio_transport_rules.h"

#include <algorithm>
#include <cmath>

namespace fotivela::TimelineAudioTransportRules {

std::optional<double> mainAudioStartTime(double montageTime, double audioDuration)
{
    if (!std::isfinite(montageTime) || !std::isfinite(audioDuration) || !(audioDuration > 0.0))
        return std::nullopt;
    const double start = std::max(montageTime, 0.0);
    if (!(start < audioDuration))
        return std::nullopt;
    return start;
}

} // namespace fotivela::TimelineAudioTransportRules
