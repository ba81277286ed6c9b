#pragma once

#include "account/cloud_ai_wire_model.h"
#include "model/ai_music_settings.h"
#include "model/app_language.h"

#include <QString>

#include <cstdint>
#include <exception>
#include <optional>

namespace fotivela {

// What the AI music pane's two buttons depend on, read from the store and the session.
struct AIMusicAvailabilityState {
    std::int64_t slideCount = 0;
    std::optional<AIMusicSettings> settings;
    std::string stylePrompt;
    bool isGeneratingLyrics = false;
    bool isGeneratingCloudMusic = false;
    bool isWorking = false;
    bool isAuthenticated = false;
    std::int64_t balance = 0;
    CloudAIConfig config;
};

// When the pane's cloud buttons may be pressed, and why not. A reason is shown under its button and
// keeps it disabled; no reason means enabled.
namespace AIMusicAvailability {
inline constexpr std::int64_t defaultLyricsCost = 20;
inline constexpr std::int64_t defaultMusicCost = 180;

std::int64_t lyricsCost(const CloudAIConfig& config);
std::int64_t musicCost(const CloudAIConfig& config);
// Absent settings mean a sung song.
bool isWithVocals(const std::optional<AIMusicSettings>& settings);
bool hasEnoughCloudLyricsCredits(const AIMusicAvailabilityState& state);
bool hasEnoughCloudMusicCredits(const AIMusicAvailabilityState& state);
std::optional<QString> cloudTextGenerationDisabledReason(const AIMusicAvailabilityState& state, AppLanguage language);
std::optional<QString> cloudSongDisabledReason(const AIMusicAvailabilityState& state, AppLanguage language);
// Reason lines about credits are drawn as errors.
bool isErrorReason(const QString& reason);
// The text a failed generation shows.
QString readable(const std::exception_ptr& error, AppLanguage language);
} // namespace AIMusicAvailability

} // namespace fotivela
