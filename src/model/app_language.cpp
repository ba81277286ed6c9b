#include "model/app_language.h"

#include "model/fotivela_preferences.h"

#include <algorithm>
#include <cstdlib>

namespace fotivela {

namespace AppLanguages {

std::vector<std::string> systemPreferredLanguages()
{
    std::vector<std::string> languages;
    if (const char* list = std::getenv("LANGUAGE"); list && *list) {
        std::string_view rest(list);
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            const auto entry = rest.substr(0, colon);
            if (!entry.empty())
                languages.emplace_back(entry);
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
        if (!languages.empty())
            return languages;
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* value = std::getenv(name); value && *value) {
            languages.emplace_back(value);
            break;
        }
    }
    return languages;
}

AppLanguage detectedDefault(const std::vector<std::string>& preferredLanguages, std::string_view localeIdentifier)
{
    std::string identifier = preferredLanguages.empty() ? std::string(localeIdentifier) : preferredLanguages.front();
    std::transform(identifier.begin(), identifier.end(), identifier.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    static constexpr std::string_view romancePrefixes[] = {"es", "ca", "gl", "eu", "pt", "it", "fr", "ro"};
    for (const auto prefix : romancePrefixes) {
        if (identifier.starts_with(prefix))
            return AppLanguage::spanish;
    }
    return AppLanguage::english;
}

AppLanguage detectedDefault()
{
    return detectedDefault(systemPreferredLanguages(), "en");
}

AppLanguage storedOrDetected(FotivelaPreferences& preferences)
{
    if (const auto stored = preferences.object(std::string(appLanguagePreferenceKey))) {
        if (const auto* text = stored->as<std::string>()) {
            if (const auto language = fromStored<AppLanguage>(*text))
                return *language;
        }
    }
    return detectedDefault();
}

AppLanguage storedOrDetected()
{
    return storedOrDetected(FotivelaPreferences::shared());
}

void applyRuntimeLocalization(AppLanguage language, FotivelaPreferences& preferences)
{
    preferences.setValue(std::string(appLanguagePreferenceKey), PlistValue(std::string(toStored(language))));
}

void applyRuntimeLocalization(AppLanguage language)
{
    applyRuntimeLocalization(language, FotivelaPreferences::shared());
}

} // namespace AppLanguages

} // namespace fotivela
