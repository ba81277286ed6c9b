#pragma once

#include <string>
#include <string_view>

namespace fotivela {

struct GeneratedMusicText {
    std::string lyrics;
    std::string style;
    friend bool operator==(const GeneratedMusicText&, const GeneratedMusicText&) = default;
};

// Text rules for what the user and the cloud write about a song: styles fit for an instrumental
// (so the song generator is not pushed towards singing) and the split of generated text into lyrics
// and a one-line style. Phrase matching ignores case and accents.
namespace AIMusicTextProcessor {

// Vocal phrases turned into melody phrases, nothing else.
std::string instrumentalStyleSeed(std::string_view text);

// The seed rewrite plus removal of vocal and negation wording; a short or empty result is replaced
// by the fallback (or what is left) with the cinematic enrichment.
std::string instrumentalStyle(std::string_view text, std::string_view fallback);

// The text with the cinematic suffix, or the default instrumental style when it is empty.
std::string enrichedInstrumentalStyle(std::string_view text);

GeneratedMusicText parseGeneratedMusicText(std::string_view text);

} // namespace AIMusicTextProcessor

} // namespace fotivela
