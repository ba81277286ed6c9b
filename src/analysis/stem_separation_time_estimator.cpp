#include "analysis/stem_separation_time_estimator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

namespace fotivela::StemSeparationTimeEstimator {

namespace {

// The separator this program ships runs at a small fraction of the song's length (a few
// seconds for a four-minute song on a desktop machine); the first guess leaves room for a
// slow machine, and what it learns from each run does the rest.
constexpr double defaultRate = 0.25;
constexpr double minimumEstimate = 5;
constexpr double maximumEstimate = 900;
// Runs this short teach nothing: process start-up would pass for the machine's speed.
constexpr double shortestLearnedRun = 0.5;
constexpr double observedWeight = 0.35;
constexpr double storedWeight = 0.65;

// A rate that is not a positive finite number counts as never learned.
std::optional<double> storedRate(const FotivelaPreferences& preferences)
{
    const std::optional<PlistValue> value = preferences.object(rateKey);
    if (!value)
        return std::nullopt;
    double rate = 0;
    if (const double* real = value->as<double>())
        rate = *real;
    else if (const std::int64_t* integer = value->as<std::int64_t>())
        rate = static_cast<double>(*integer);
    else
        return std::nullopt;
    if (!std::isfinite(rate) || !(rate > 0))
        return std::nullopt;
    return rate;
}

} // namespace

double estimatedDuration(double audioDuration, const FotivelaPreferences& preferences)
{
    const double estimate = audioDuration * storedRate(preferences).value_or(defaultRate);
    if (!(estimate > minimumEstimate))
        return minimumEstimate;
    if (estimate > maximumEstimate)
        return maximumEstimate;
    return estimate;
}

void remember(double elapsed, double audioDuration, FotivelaPreferences& preferences)
{
    if (!(elapsed > shortestLearnedRun) || !(audioDuration > 1))
        return;
    const double observed = elapsed / audioDuration;
    // An endless run would poison every later estimate.
    if (!std::isfinite(observed))
        return;
    const std::optional<double> stored = storedRate(preferences);
    const double rate = stored ? observed * observedWeight + *stored * storedWeight : observed;
    preferences.setValue(rateKey, PlistValue(rate));
}

std::string formattedRemainingTime(double seconds)
{
    // Callers pass a running countdown; anything else reads as nothing left.
    const double rounded = std::isfinite(seconds) ? std::round(seconds) : 0;
    const std::int64_t total = rounded > 0 ? static_cast<std::int64_t>(std::min(rounded, 1e15)) : 0;
    if (total < 60)
        return std::to_string(total) + " s";
    const std::int64_t minutes = total / 60;
    const std::int64_t rest = total % 60;
    if (rest == 0)
        return std::to_string(minutes) + " min";
    return std::to_string(minutes) + " min " + std::to_string(rest) + " s";
}

} // namespace fotivela::StemSeparationTimeEstimator
