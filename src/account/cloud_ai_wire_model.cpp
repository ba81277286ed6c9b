#include "account/cloud_ai_wire_model.h"

#include "account/account_wire_model.h"
#include "platform/json_encoder.h"

#include <array>
#include <cmath>

namespace fotivela {

namespace {

const auto readString = [](const nlohmann::json& j, const JsonPath& path) { return readJsonString(j, path); };
const auto readInt = [](const nlohmann::json& j, const JsonPath& path) { return readJsonInt64(j, path); };
const auto readBool = [](const nlohmann::json& j, const JsonPath& path) { return readJsonBool(j, path); };
const auto readNumber = [](const nlohmann::json& j, const JsonPath& path) { return readJsonDouble(j, path); };

template <class T>
void putIfPresent(nlohmann::json& out, const char* key, const std::optional<T>& value)
{
    if (value)
        out[key] = *value;
}

void requireFinite(double value)
{
    // The JSON writer would turn it into null, which the service cannot read as a duration.
    if (!std::isfinite(value))
        throw JsonEncodingError("duration no es un número finito");
}

constexpr std::string_view base64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

CloudAIConfig CloudAIConfig::fallback()
{
    CloudAIConfig config;
    config.lyricsCost = 20;
    config.musicCost = 180;
    config.isLyricsEnabled = true;
    config.isMusicEnabled = true;
    return config;
}

CloudAIConfig CloudAIConfig::decode(const nlohmann::json& j, const JsonPath& path)
{
    const JsonObjectReader o(j, path);
    CloudAIConfig c;
    c.lyricsModel = o.optional("lyricsModel", readString);
    c.musicModel = o.optional("musicModel", readString);
    c.lyricsCost = o.optional("lyricsCost", readInt);
    c.musicCost = o.optional("musicCost", readInt);
    c.isLyricsEnabled = o.optional("isLyricsEnabled", readBool);
    c.isMusicEnabled = o.optional("isMusicEnabled", readBool);
    c.latestMacVersion = o.optional("latestMacVersion", readString);
    c.macDownloadURL = decodeURL(o, "macDownloadURL");
    c.latestWindowsVersion = o.optional("latestWindowsVersion", readString);
    c.windowsDownloadURL = decodeURL(o, "windowsDownloadURL");
    return c;
}

nlohmann::json CloudAIConfig::encode() const
{
    nlohmann::json out = nlohmann::json::object();
    putIfPresent(out, "lyricsModel", lyricsModel);
    putIfPresent(out, "musicModel", musicModel);
    putIfPresent(out, "lyricsCost", lyricsCost);
    putIfPresent(out, "musicCost", musicCost);
    putIfPresent(out, "isLyricsEnabled", isLyricsEnabled);
    putIfPresent(out, "isMusicEnabled", isMusicEnabled);
    putIfPresent(out, "latestMacVersion", latestMacVersion);
    putIfPresent(out, "macDownloadURL", macDownloadURL);
    putIfPresent(out, "latestWindowsVersion", latestWindowsVersion);
    putIfPresent(out, "windowsDownloadURL", windowsDownloadURL);
    return out;
}

CloudLyricsRequest CloudLyricsRequest::decode(const nlohmann::json& j, const JsonPath& path)
{
    const JsonObjectReader o(j, path);
    CloudLyricsRequest r;
    r.operationId = o.required("operationId", readString);
    r.modelPreference = o.required("modelPreference", readString);
    r.contactSheetBase64 = o.required("contactSheetBase64", readString);
    r.contactSheetMimeType = o.required("contactSheetMimeType", readString);
    r.slideCount = o.required("slideCount", readInt);
    r.duration = o.required("duration", readNumber);
    r.format = o.required("format", readString);
    r.subjectName = o.required("subjectName", readString);
    r.requestedMusicStyle = o.required("requestedMusicStyle", readString);
    r.generationNotes = o.required("generationNotes", readString);
    r.existingStylePrompt = o.required("existingStylePrompt", readString);
    r.withVocals = o.required("withVocals", readBool);
    r.styleOnly = o.required("styleOnly", readBool);
    return r;
}

nlohmann::json CloudLyricsRequest::encode() const
{
    requireFinite(duration);
    return {{"operationId", operationId},
            {"modelPreference", modelPreference},
            {"contactSheetBase64", contactSheetBase64},
            {"contactSheetMimeType", contactSheetMimeType},
            {"slideCount", slideCount},
            {"duration", duration},
            {"format", format},
            {"subjectName", subjectName},
            {"requestedMusicStyle", requestedMusicStyle},
            {"generationNotes", generationNotes},
            {"existingStylePrompt", existingStylePrompt},
            {"withVocals", withVocals},
            {"styleOnly", styleOnly}};
}

CloudLyricsResponse CloudLyricsResponse::decode(const nlohmann::json& j, const JsonPath& path)
{
    const JsonObjectReader o(j, path);
    CloudLyricsResponse r;
    r.lyrics = o.required("lyrics", readString);
    r.style = o.optional("style", readString);
    r.model = o.optional("model", readString);
    r.operationId = o.optional("operationId", readString);
    r.cost = o.optional("cost", readInt);
    r.balance = o.optional("balance", readInt);
    return r;
}

nlohmann::json CloudLyricsResponse::encode() const
{
    nlohmann::json out = {{"lyrics", lyrics}};
    putIfPresent(out, "style", style);
    putIfPresent(out, "model", model);
    putIfPresent(out, "operationId", operationId);
    putIfPresent(out, "cost", cost);
    putIfPresent(out, "balance", balance);
    return out;
}

CloudMusicRequest CloudMusicRequest::decode(const nlohmann::json& j, const JsonPath& path)
{
    const JsonObjectReader o(j, path);
    CloudMusicRequest r;
    r.operationId = o.required("operationId", readString);
    r.modelPreference = o.required("modelPreference", readString);
    r.lyrics = o.required("lyrics", readString);
    r.stylePrompt = o.required("stylePrompt", readString);
    r.subjectName = o.required("subjectName", readString);
    r.requestedMusicStyle = o.required("requestedMusicStyle", readString);
    r.generationNotes = o.required("generationNotes", readString);
    r.withVocals = o.required("withVocals", readBool);
    r.duration = o.required("duration", readNumber);
    r.format = o.required("format", readString);
    return r;
}

nlohmann::json CloudMusicRequest::encode() const
{
    requireFinite(duration);
    return {{"operationId", operationId},
            {"modelPreference", modelPreference},
            {"lyrics", lyrics},
            {"stylePrompt", stylePrompt},
            {"subjectName", subjectName},
            {"requestedMusicStyle", requestedMusicStyle},
            {"generationNotes", generationNotes},
            {"withVocals", withVocals},
            {"duration", duration},
            {"format", format}};
}

CloudMusicResponse CloudMusicResponse::decode(const nlohmann::json& j, const JsonPath& path)
{
    const JsonObjectReader o(j, path);
    CloudMusicResponse r;
    r.audioURL = o.optional("audioURL", readJsonAddress);
    r.audioBase64 = o.optional("audioBase64", readString);
    r.mimeType = o.optional("mimeType", readString);
    r.fileName = o.optional("fileName", readString);
    r.model = o.optional("model", readString);
    r.operationId = o.optional("operationId", readString);
    r.cost = o.optional("cost", readInt);
    r.balance = o.optional("balance", readInt);
    return r;
}

nlohmann::json CloudMusicResponse::encode() const
{
    nlohmann::json out = nlohmann::json::object();
    putIfPresent(out, "audioURL", audioURL);
    putIfPresent(out, "audioBase64", audioBase64);
    putIfPresent(out, "mimeType", mimeType);
    putIfPresent(out, "fileName", fileName);
    putIfPresent(out, "model", model);
    putIfPresent(out, "operationId", operationId);
    putIfPresent(out, "cost", cost);
    putIfPresent(out, "balance", balance);
    return out;
}

std::optional<std::string> CloudMusicResponse::inlineAudio() const
{
    if (!audioBase64)
        return std::nullopt;
    return decodeStrictBase64(*audioBase64);
}

std::optional<std::string> decodeStrictBase64(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::array<int, 256> value{};
    value.fill(-1);
    for (std::size_t i = 0; i < base64Alphabet.size(); ++i)
        value[static_cast<unsigned char>(base64Alphabet[i])] = static_cast<int>(i);
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=')
        padding = (text.size() >= 2 && text[text.size() - 2] == '=') ? 2 : 1;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t group = 0;
        const bool last = i + 4 == text.size();
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            int v = 0;
            if (c == '=') {
                if (!last || k < 4 - padding)
                    return std::nullopt;
            } else {
                v = value[static_cast<unsigned char>(c)];
                if (v < 0)
                    return std::nullopt;
            }
            group = (group << 6) | static_cast<std::uint32_t>(v);
        }
        out.push_back(static_cast<char>((group >> 16) & 0xff));
        if (!last || padding < 2)
            out.push_back(static_cast<char>((group >> 8) & 0xff));
        if (!last || padding < 1)
            out.push_back(static_cast<char>(group & 0xff));
    }
    return out;
}

std::string encodeBase64(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        out.push_back(base64Alphabet[(group >> 18) & 63]);
        out.push_back(base64Alphabet[(group >> 12) & 63]);
        out.push_back(n > 1 ? base64Alphabet[(group >> 6) & 63] : '=');
        out.push_back(n > 2 ? base64Alphabet[group & 63] : '=');
    }
    return out;
}

} // namespace fotivela
