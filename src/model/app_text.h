#pragma once

#include "model/app_language.h"

#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

namespace fotivela {

// One row of the translation table: a Spanish interface text and its English.
struct AppTextPair {
    std::string_view spanish;
    std::string_view english;
};

// The interface is written in Spanish; this is its English.
namespace AppText {

// The rows in table order: the interface's own texts, then the status and error texts the program
// shows elsewhere.
std::span<const AppTextPair> interfaceTexts();
std::span<const AppTextPair> messageTexts();

// Spanish to English, built once on first use. Keys are in Unicode canonical composition.
const std::unordered_map<std::string, std::string>& english();

// Spanish returns the text unchanged; English looks it up and gives back the Spanish text on a miss.
// Canonically equivalent spellings match; case, accents, blanks and punctuation all count.
std::string translate(std::string_view text, AppLanguage language);

} // namespace AppText

} // namespace fotivela
