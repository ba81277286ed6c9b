#include "account_service/local_account_service.h"

#include <httplib.h>

// The cloud AI answers, made here: lyrics from a template, a style, a synthesised song.
namespace fotivela::tools {

namespace {

using Json = nlohmann::json;

std::optional<Json> jsonBody(const httplib::Request& request)
{
    try {
        auto body = Json::parse(request.body);
        if (body.is_object())
            return body;
    } catch (const Json::exception&) {
    }
    return std::nullopt;
}

void answerJson(httplib::Response& response, const Json& body, int status = 200)
{
    response.status = status;
    response.set_content(body.dump(), "application/json");
}

// Every key present with its JSON type; any number passes for a number field.
bool hasTypes(const Json& body, std::initializer_list<std::pair<const char*, Json::value_t>> fields)
{
    for (const auto& [key, type] : fields) {
        const auto found = body.find(key);
        if (found == body.end())
            return false;
        if (type == Json::value_t::number_float ? !found->is_number()
            : type == Json::value_t::number_integer ? !found->is_number_integer()
                                                    : found->type() != type)
            return false;
    }
    return true;
}

} // namespace

void LocalAccountService::handleLyrics(const httplib::Request& request, httplib::Response& response)
{
    const auto body = jsonBody(request);
    std::lock_guard lock(m_lock);
    Account* account = sessionAccount(request);
    if (!account)
        return answerError(response, 401, "unauthorized");
    using T = Json::value_t;
    if (!body || !hasTypes(*body, {{"operationId", T::string}, {"modelPreference", T::string},
                                   {"contactSheetBase64", T::string}, {"contactSheetMimeType", T::string},
                                   {"slideCount", T::number_integer}, {"duration", T::number_float},
                                   {"format", T::string}, {"subjectName", T::string},
                                   {"requestedMusicStyle", T::string}, {"generationNotes", T::string},
                                   {"existingStylePrompt", T::string}, {"withVocals", T::boolean},
                                   {"styleOnly", T::boolean}}))
        return answerError(response, 400, "invalid_ai_request");
    const auto sheet = base64Decoded((*body)["contactSheetBase64"].get<std::string>());
    if (!sheet || sheet->size() < 2 || static_cast<unsigned char>((*sheet)[0]) != 0xFF ||
        static_cast<unsigned char>((*sheet)[1]) != 0xD8)
        return answerError(response, 400, "invalid_ai_request");
    if (m_aiConfig.value("isLyricsEnabled", true) == false)
        return answerError(response, 503, "ai_provider_unavailable");
    const std::int64_t cost = m_aiConfig.value("lyricsCost", 20);
    if (account->balance < cost)
        return answerError(response, 402, "insufficient_credits");
    account->balance -= cost;
    const std::string style = (*body)["requestedMusicStyle"];
    Json answer = {{"model", m_aiConfig.value("lyricsModel", "local-lyrics")},
                   {"operationId", (*body)["operationId"]},
                   {"cost", cost},
                   {"balance", account->balance}};
    if ((*body)["styleOnly"].get<bool>()) {
        answer["lyrics"] = "";
        answer["style"] = (style.empty() ? std::string("Cinematic") : style) +
                          ", instrumental, piano, strings, soft percussion, warm pads, slow build, gentle ending";
    } else {
        answer["lyrics"] = lyricsFromTemplate((*body)["subjectName"], (*body)["slideCount"], style, (*body)["generationNotes"]);
        answer["style"] = style.empty() ? "Pop calido, suave" : style;
    }
    answerJson(response, answer);
}

void LocalAccountService::handleMusic(const httplib::Request& request, httplib::Response& response)
{
    const auto body = jsonBody(request);
    std::lock_guard lock(m_lock);
    Account* account = sessionAccount(request);
    if (!account)
        return answerError(response, 401, "unauthorized");
    using T = Json::value_t;
    if (!body || !hasTypes(*body, {{"operationId", T::string}, {"modelPreference", T::string}, {"lyrics", T::string},
                                   {"stylePrompt", T::string}, {"subjectName", T::string},
                                   {"requestedMusicStyle", T::string}, {"generationNotes", T::string},
                                   {"withVocals", T::boolean}, {"duration", T::number_float}, {"format", T::string}}))
        return answerError(response, 400, "invalid_ai_request");
    if (m_aiConfig.value("isMusicEnabled", true) == false)
        return answerError(response, 503, "ai_provider_unavailable");
    const std::int64_t cost = m_aiConfig.value("musicCost", 180);
    if (account->balance < cost)
        return answerError(response, 402, "insufficient_credits");
    account->balance -= cost;
    const std::string operation = (*body)["operationId"];
    const std::string wav = synthesisedSongWav((*body)["duration"].get<double>());
    Json answer = {{"mimeType", "audio/wav"},
                   {"fileName", "track.wav"},
                   {"model", m_aiConfig.value("musicModel", "local-music")},
                   {"operationId", operation},
                   {"cost", cost},
                   {"balance", account->balance}};
    if (m_musicAsDownload) {
        m_songs[operation] = wav;
        answer["audioURL"] = baseURL() + "/audio/" + operation + ".wav";
    } else {
        answer["audioBase64"] = base64Encoded(wav);
    }
    answerJson(response, answer);
}

} // namespace fotivela::tools
