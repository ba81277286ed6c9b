#pragma once

#include <optional>

namespace fotivela::TimelineAudioTransportRules {

// Where an audio file must be when the timeline is at montageTime. The song and
// the stems run one to one with the timeline, so it is the same second; none when
// that second lies outside the audio or a number is not finite.
std::optional<double> mainAudioStartTime(double montageTime, double audioDuration);

} // namespace fotivela::TimelineAudioTransportRules
