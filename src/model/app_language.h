#pragma once

#include "model/stored_enum.h"

#include <string>
#include <string_view>
#include <vector>

namespace fotivela {

class FotivelaPreferences;

// The interface language.
enum class AppLanguage { spanish, english };

// Reading a language is an exact match: upper case or a regional identifier (es-ES) is no language.
template <>
struct StoredEnum<AppLanguage> {
    static constexpr std::array<std::pair<AppLanguage, std::string_view>, 2> table{{
        {AppLanguage::spanish, "es"},
        {AppLanguage::english, "en"},
    }};
};

// The preferences key of the chosen language.
inline constexpr std::string_view appLanguagePreferenceKey = "fotivela.appLanguage";

namespace AppLanguages {

// The system's preferred languages: LANGUAGE (a colon-separated list), else the first non-empty
// of LC_ALL, LC_MESSAGES and LANG. Empty when none is set.
std::vector<std::string> systemPreferredLanguages();

// The first preferred language, else the locale identifier, lower-cased: Romance languages give
// Spanish, everything else English.
AppLanguage detectedDefault(const std::vector<std::string>& preferredLanguages, std::string_view localeIdentifier);
// From the process environment; the C locale counts as "en".
AppLanguage detectedDefault();

// The stored language when it is exactly "es" or "en", else the detected one. Writes nothing.
AppLanguage storedOrDetected(FotivelaPreferences& preferences);
AppLanguage storedOrDetected();

// Stores the language under "fotivela.appLanguage" with the preferences' writer order. Linux has no
// per-application language list for the platform to follow, so that is all there is to apply.
void applyRuntimeLocalization(AppLanguage language, FotivelaPreferences& preferences);
void applyRuntimeLocalization(AppLanguage language);

} // namespace AppLanguages

} // namespace fotivela
