#include "model/app_language.h"
#include "model/app_text.h"
#include "temporary_folder.h"

#include <gtest/gtest.h>

#include <set>

using namespace fotivela;
using fotivela::testing::ScopedEnvironment;

TEST(AppText, EverySpanishKeyOnceAndEveryEnglishTextPresent)
{
    std::set<std::string_view> seen;
    std::size_t rows = 0;
    for (const auto table : {AppText::interfaceTexts(), AppText::messageTexts()}) {
        for (const auto& row : table) {
            ++rows;
            EXPECT_TRUE(seen.insert(row.spanish).second) << "repeated key: " << row.spanish;
            EXPECT_FALSE(row.english.empty()) << "no English for: " << row.spanish;
            EXPECT_FALSE(row.spanish.empty());
        }
    }
    EXPECT_EQ(AppText::interfaceTexts().size(), 257u);
    EXPECT_EQ(AppText::english().size(), rows);
}

TEST(AppText, TranslatesExactSpanishTextsOnly)
{
    EXPECT_EQ(AppText::translate("Fundido", AppLanguage::english), "Dissolve");
    EXPECT_EQ(AppText::translate("Fundido.", AppLanguage::english), "Fundido.");
    EXPECT_EQ(AppText::translate("fundido", AppLanguage::english), "fundido");
    EXPECT_EQ(AppText::translate("Dissolve", AppLanguage::spanish), "Dissolve");
    EXPECT_EQ(AppText::translate("Fundido", AppLanguage::spanish), "Fundido");
    // Variant keys share one English text; accented and plain spellings both hit.
    EXPECT_EQ(AppText::translate("Iniciar sesión", AppLanguage::english), "Sign in");
    EXPECT_EQ(AppText::translate("Acceder", AppLanguage::english), "Sign in");
    EXPECT_EQ(AppText::translate("Entrar", AppLanguage::english), "Sign in");
    EXPECT_EQ(AppText::translate("Onda cancion", AppLanguage::english), AppText::translate("Onda canción", AppLanguage::english));
    EXPECT_EQ(AppText::translate("mín. 1.000", AppLanguage::english), "min. 1,000");
    EXPECT_EQ(AppText::translate("Ondas separadas listas: ", AppLanguage::english), "Separated waveforms ready: ");
}

TEST(AppText, MessagesBuiltFromPiecesTranslatePieceByPiece)
{
    EXPECT_EQ(AppText::translate("Ondas separadas listas: 1 activos, 3 preparados", AppLanguage::english),
              "Separated waveforms ready: 1 active, 3 prepared");
    // A word the table does not know keeps the whole message in Spanish, never half translated.
    EXPECT_EQ(AppText::translate("Ondas separadas listas: 1 activos, 3 listos", AppLanguage::english),
              "Ondas separadas listas: 1 activos, 3 listos");
    EXPECT_EQ(AppText::translate("12, 3", AppLanguage::english), "12, 3");
    // The separation countdown, with its units.
    EXPECT_EQ(AppText::translate("Separando instrumentos... 48 s aprox.", AppLanguage::english),
              "Separating instruments... 48 s approx.");
    EXPECT_EQ(AppText::translate("Separando instrumentos... 2 min 5 s aprox.", AppLanguage::english),
              "Separating instruments... 2 min 5 s approx.");
}

TEST(AppText, CanonicallyEquivalentSpellingsMatch)
{
    // "Canción actual" with the accent as a combining mark.
    EXPECT_EQ(AppText::translate("Cancio\xCC\x81n actual", AppLanguage::english), "Current song");
    // A miss comes back byte for byte, not normalised.
    EXPECT_EQ(AppText::translate("Cancio\xCC\x81n nueva", AppLanguage::english), "Cancio\xCC\x81n nueva");
}

TEST(AppLanguage, StoredTextsAreExact)
{
    EXPECT_EQ(toStored(AppLanguage::spanish), "es");
    EXPECT_EQ(toStored(AppLanguage::english), "en");
    EXPECT_EQ(fromStored<AppLanguage>("en"), AppLanguage::english);
    EXPECT_EQ(fromStored<AppLanguage>("EN"), std::nullopt);
    EXPECT_EQ(fromStored<AppLanguage>("es-ES"), std::nullopt);
    EXPECT_EQ(allCases<AppLanguage>(), (std::array{AppLanguage::spanish, AppLanguage::english}));
}

TEST(AppLanguage, DetectionUsesTheFirstPreferredLanguage)
{
    using AppLanguages::detectedDefault;
    EXPECT_EQ(detectedDefault({"ca-ES", "en-US"}, "en"), AppLanguage::spanish);
    EXPECT_EQ(detectedDefault({"en-ES", "es-ES"}, "es"), AppLanguage::english);
    EXPECT_EQ(detectedDefault({"ro"}, "en"), AppLanguage::spanish);
    EXPECT_EQ(detectedDefault({"PT_br.UTF-8"}, "en"), AppLanguage::spanish);
    EXPECT_EQ(detectedDefault({}, "es_MX"), AppLanguage::spanish);
    EXPECT_EQ(detectedDefault({}, "de_DE"), AppLanguage::english);
    EXPECT_EQ(detectedDefault({"C.UTF-8"}, "en"), AppLanguage::english);
}

TEST(AppLanguage, PreferredLanguagesComeFromTheLocaleEnvironment)
{
    ScopedEnvironment language("LANGUAGE", ":fr_FR:en");
    ScopedEnvironment all("LC_ALL", "de_DE.UTF-8");
    ScopedEnvironment messages("LC_MESSAGES", std::nullopt);
    ScopedEnvironment lang("LANG", "en_GB.UTF-8");
    EXPECT_EQ(AppLanguages::systemPreferredLanguages(), (std::vector<std::string>{"fr_FR", "en"}));
    EXPECT_EQ(AppLanguages::detectedDefault(), AppLanguage::spanish);
    {
        ScopedEnvironment noList("LANGUAGE", "");
        EXPECT_EQ(AppLanguages::systemPreferredLanguages(), std::vector<std::string>{"de_DE.UTF-8"});
        EXPECT_EQ(AppLanguages::detectedDefault(), AppLanguage::english);
        ScopedEnvironment noAll("LC_ALL", std::nullopt);
        ScopedEnvironment spanishMessages("LC_MESSAGES", "es_AR.UTF-8");
        EXPECT_EQ(AppLanguages::detectedDefault(), AppLanguage::spanish);
    }
    ScopedEnvironment none1("LANGUAGE", std::nullopt);
    ScopedEnvironment none2("LC_ALL", std::nullopt);
    ScopedEnvironment none3("LANG", std::nullopt);
    EXPECT_TRUE(AppLanguages::systemPreferredLanguages().empty());
    EXPECT_EQ(AppLanguages::detectedDefault(), AppLanguage::english);
}
