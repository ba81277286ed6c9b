#include "model/recent_project_persistence.h"

#include "model/fotivela_preferences.h"
#include "model/project_json.h"
#include "platform/json_encoder.h"

#include <algorithm>
#include <exception>

namespace fotivela::RecentProjectPersistence {

namespace {

// Entries are the same project when their file URLs are the same text: no link resolving, no
// case folding.
bool sameURL(const RecentProject& a, const RecentProject& b)
{
    return a.url.native() == b.url.native();
}

} // namespace

std::vector<RecentProject> load(FotivelaPreferences& preferences)
{
    const auto stored = preferences.object(std::string(preferencesKey));
    if (!stored)
        return {};
    const auto* data = stored->as<PlistValue::Data>();
    if (!data)
        return {};
    try {
        const auto json = parseFotivelaJson(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()));
        return readJsonList(json, JsonPath(), decodeRecentProject);
    } catch (const std::exception&) {
        // An undecodable list is dropped; the next save replaces it.
        return {};
    }
}

std::vector<RecentProject> load()
{
    return load(FotivelaPreferences::shared());
}

std::vector<RecentProject> remembering(const RecentProject& entry, const std::vector<RecentProject>& list)
{
    std::vector<RecentProject> result;
    result.reserve(std::min(list.size() + 1, maximumCount));
    result.push_back(entry);
    for (const auto& other : list) {
        if (result.size() == maximumCount)
            break;
        if (!sameURL(other, entry))
            result.push_back(other);
    }
    return result;
}

std::vector<RecentProject> removing(const RecentProject& entry, const std::vector<RecentProject>& list)
{
    std::vector<RecentProject> result;
    std::copy_if(list.begin(), list.end(), std::back_inserter(result),
                 [&](const RecentProject& other) { return !sameURL(other, entry); });
    return result;
}

void save(const std::vector<RecentProject>& list, FotivelaPreferences& preferences)
{
    std::string text;
    try {
        nlohmann::json array = nlohmann::json::array();
        for (const auto& entry : list)
            array.push_back(toJson(entry));
        text = encodeFotivelaJson(array);
    } catch (const std::exception&) {
        return;
    }
    preferences.setValue(std::string(preferencesKey), PlistValue(PlistValue::Data(text.begin(), text.end())));
}

void save(const std::vector<RecentProject>& list)
{
    save(list, FotivelaPreferences::shared());
}

} // namespace fotivela::RecentProjectPersistence
