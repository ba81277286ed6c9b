#include "account/ai_music_text_processor.h"

#include <gtest/gtest.h>

#include <chrono>

namespace fotivela {
namespace {

using namespace AIMusicTextProcessor;

const std::string suffix =
    ", cinematic instrumental score, movie intro atmosphere, orchestral textures, piano, strings, deep percussion, "
    "dramatic build, emotional tension, polished film production";
const std::string defaultStyle =
    "Cinematic instrumental score, movie intro, orchestral textures, piano, strings, deep percussion, dramatic "
    "build, polished film production";

TEST(AIMusicText, SeedTurnsVocalPhrasesIntoMelodyIgnoringCaseAndAccents)
{
    EXPECT_EQ(instrumentalStyleSeed("  Pop con Voz Suave y LEAD VOCAL \n"), "Pop con melodia suave y lead melody");
    EXPECT_EQ(instrumentalStyleSeed("female vocals, male vocal"), "lead melodys, lead melody");
    EXPECT_EQ(instrumentalStyleSeed("vóz principal"), "melodia principal");
}

TEST(AIMusicText, InstrumentalStyleKeepsDetailedStylesAndEnrichesShortOnes)
{
    EXPECT_EQ(instrumentalStyle("Pop acústico con voz suave, guitarra y piano, ritmo alegre", "Pop calido, suave"),
              "Pop acústico con melodia suave, guitarra y piano, ritmo alegre");
    EXPECT_EQ(instrumentalStyle("Pop, no vocals", "Pop calido, suave"), "Pop calido, suave" + suffix);
    EXPECT_EQ(instrumentalStyle("Instrumental only", ""), defaultStyle);
    EXPECT_EQ(instrumentalStyle("", ""), defaultStyle);
    // Seven pieces are not enough; eight are.
    EXPECT_EQ(instrumentalStyle("uno dos tres cuatro cinco seis siete", "Jazz"), "Jazz" + suffix);
    EXPECT_EQ(instrumentalStyle("uno dos tres cuatro cinco seis siete ocho", "Jazz"), "uno dos tres cuatro cinco seis siete ocho");
    // "no" inside a word is left alone.
    EXPECT_EQ(instrumentalStyle("piano nocturno, guitarra, cuerdas, bajo, tambores, sintetizador, coro", ""),
              "piano nocturno, guitarra, cuerdas, bajo, tambores, sintetizador, coro");
    EXPECT_EQ(instrumentalStyle("Rock energico, guitarras electricas, bateria potente, bajo profundo, No vocals, no singer, no lyrics, no spoken words.", "x"),
              "Rock energico, guitarras electricas, bateria potente, bajo profundo");
    EXPECT_EQ(enrichedInstrumentalStyle(" piano. "), "piano" + suffix);
}

TEST(AIMusicText, ParsesLyricsAndStyle)
{
    EXPECT_EQ(parseGeneratedMusicText("Letra:\nHola mundo\n\nEstilo musical: Pop rock, guitarras\nOtra línea"),
              (GeneratedMusicText{"Hola mundo", "Pop rock, guitarras"}));
    EXPECT_EQ(parseGeneratedMusicText("Lyrics:\r\nverse\r\nMusical style: Folk\r\n"), (GeneratedMusicText{"verse", "Folk"}));
    EXPECT_EQ(parseGeneratedMusicText("LETRA: uno\nESTILO: jazz suave"), (GeneratedMusicText{"uno", "jazz suave"}));
    EXPECT_EQ(parseGeneratedMusicText("  solo versos \n"), (GeneratedMusicText{"  solo versos \n", ""}));
    EXPECT_EQ(parseGeneratedMusicText("Intro\nLyrics:\nverso\n[Style]\nambient"),
              (GeneratedMusicText{"Intro\nLyrics:\nverso", "ambient"}));
    EXPECT_EQ(parseGeneratedMusicText("Letra: ñandú\nEstílo: Bolero"), (GeneratedMusicText{"ñandú", "Bolero"}));
}

TEST(AIMusicText, ALongStyleIsCleanedInOnePassWithEveryMatchReplaced)
{
    // 64 KiB of the phrases the clean-up rewrites: each one is handled, and the whole takes a
    // moment, not the many seconds a fresh scan per match took (the ceiling is for a loaded,
    // sanitised build; the benchmark measures the real time).
    std::string text;
    std::string seeded;
    while (text.size() < 64 * 1024) {
        text += "Voz Suave y female vocal, ";
        seeded += "melodia suave y lead melody, ";
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(instrumentalStyleSeed(text) == seeded.substr(0, seeded.size() - 1));
    const std::string cleaned = instrumentalStyle(text + "no vocals, no singer, ", "Pop");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(cleaned.starts_with("melodia suave y lead melody, melodia suave")) << cleaned.substr(0, 80);
    EXPECT_EQ(cleaned.find("vocal"), std::string::npos);
    EXPECT_EQ(cleaned.find("singer"), std::string::npos);
    // Accented, decomposed and case-folded forms still meet whole characters only.
    EXPECT_EQ(instrumentalStyleSeed("vo\u0301z suave, VOZ SUAVE, voz suavemente"), "melodia suave, melodia suave, melodia suavemente");
    EXPECT_EQ(instrumentalStyleSeed("lead vocalß lead vocal"), "lead melodyß lead melody");
}

} // namespace
} // namespace fotivela
