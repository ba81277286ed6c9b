#pragma once

#include "platform/json_decoding.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fotivela {

// The cloud AI configuration the account service publishes. Nothing is defaulted on decoding: the
// readers count an absent cost as 20 or 180 and an absent switch as open.
struct CloudAIConfig {
    std::optional<std::string> lyricsModel;
    std::optional<std::string> musicModel;
    std::optional<std::int64_t> lyricsCost;
    std::optional<std::int64_t> musicCost;
    std::optional<bool> isLyricsEnabled;
    std::optional<bool> isMusicEnabled;
    std::optional<std::string> latestMacVersion;
    std::optional<std::string> macDownloadURL;
    std::optional<std::string> latestWindowsVersion;
    std::optional<std::string> windowsDownloadURL;

    // What the session holds until the service has answered.
    static CloudAIConfig fallback();

    static CloudAIConfig decode(const nlohmann::json& j, const JsonPath& path = {});
    nlohmann::json encode() const;
    friend bool operator==(const CloudAIConfig&, const CloudAIConfig&) = default;
};

// A request for lyrics, or with styleOnly for a music style alone.
struct CloudLyricsRequest {
    std::string operationId;
    std::string modelPreference;
    std::string contactSheetBase64;
    std::string contactSheetMimeType;
    std::int64_t slideCount = 0;
    double duration = 0.0;
    std::string format;
    std::string subjectName;
    std::string requestedMusicStyle;
    std::string generationNotes;
    std::string existingStylePrompt;
    bool withVocals = true;
    bool styleOnly = false;

    static CloudLyricsRequest decode(const nlohmann::json& j, const JsonPath& path = {});
    // Throws JsonEncodingError for a duration that is not a finite number.
    nlohmann::json encode() const;
    friend bool operator==(const CloudLyricsRequest&, const CloudLyricsRequest&) = default;
};

struct CloudLyricsResponse {
    std::string lyrics;
    std::optional<std::string> style;
    std::optional<std::string> model;
    std::optional<std::string> operationId;
    std::optional<std::int64_t> cost;
    std::optional<std::int64_t> balance;

    static CloudLyricsResponse decode(const nlohmann::json& j, const JsonPath& path = {});
    nlohmann::json encode() const;
    friend bool operator==(const CloudLyricsResponse&, const CloudLyricsResponse&) = default;
};

struct CloudMusicRequest {
    std::string operationId;
    std::string modelPreference;
    std::string lyrics;
    std::string stylePrompt;
    std::string subjectName;
    std::string requestedMusicStyle;
    std::string generationNotes;
    bool withVocals = true;
    double duration = 0.0;
    std::string format;

    static CloudMusicRequest decode(const nlohmann::json& j, const JsonPath& path = {});
    // Throws JsonEncodingError for a duration that is not a finite number.
    nlohmann::json encode() const;
    friend bool operator==(const CloudMusicRequest&, const CloudMusicRequest&) = default;
};

struct CloudMusicResponse {
    std::optional<std::string> audioURL;
    std::optional<std::string> audioBase64;
    std::optional<std::string> mimeType;
    std::optional<std::string> fileName;
    std::optional<std::string> model;
    std::optional<std::string> operationId;
    std::optional<std::int64_t> cost;
    std::optional<std::int64_t> balance;

    // The inline song, when audioBase64 is present and strict base64 (no line breaks, nothing
    // outside the alphabet, correct padding).
    std::optional<std::string> inlineAudio() const;

    static CloudMusicResponse decode(const nlohmann::json& j, const JsonPath& path = {});
    nlohmann::json encode() const;
    friend bool operator==(const CloudMusicResponse&, const CloudMusicResponse&) = default;
};

// Standard base64 read strictly; nothing for any character outside the alphabet or bad padding.
std::optional<std::string> decodeStrictBase64(std::string_view text);
std::string encodeBase64(std::string_view bytes);

} // namespace fotivela
