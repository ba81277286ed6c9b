#pragma once

#include "model/fotivela_preferences.h"

#include <string>

namespace fotivela {

// Predicts how long a stem separation takes on this machine and learns from each
// finished one. Its only memory is the rate stored under "stemSecondsPerAudioSecond".
namespace StemSeparationTimeEstimator {

inline constexpr const char* rateKey = "stemSecondsPerAudioSecond";

// Seconds of separation for a song of that length, within 5 … 900 s.
double estimatedDuration(double audioDuration, const FotivelaPreferences& preferences = FotivelaPreferences::shared());

// Moves the stored rate 35 % towards the observed one; runs of half a second or less and
// songs of 1 s or less teach nothing.
void remember(double elapsed, double audioDuration, FotivelaPreferences& preferences = FotivelaPreferences::shared());

// "45 s", "2 min", "2 min 5 s".
std::string formattedRemainingTime(double seconds);

} // namespace StemSeparationTimeEstimator

} // namespace fotivela
