#include "account/account_error.h"
#include "account/account_session.h"
#include "ui/account/ai_music_availability.h"
#include "ui_account_test_support.h"

#include <gtest/gtest.h>

namespace fotivela {
namespace {

using namespace AIMusicAvailability;

// Everything in order for both buttons: slides, sung lyrics, signed in, enough credits.
AIMusicAvailabilityState ready()
{
    AIMusicAvailabilityState state;
    state.slideCount = 3;
    state.settings = AIMusicSettings{};
    state.settings->lyrics = "La la la";
    state.isAuthenticated = true;
    state.balance = 1000;
    state.config = CloudAIConfig{};
    return state;
}

std::string textReason(const AIMusicAvailabilityState& state)
{
    return cloudTextGenerationDisabledReason(state, AppLanguage::spanish).value_or(QString()).toStdString();
}

std::string songReason(const AIMusicAvailabilityState& state)
{
    return cloudSongDisabledReason(state, AppLanguage::spanish).value_or(QString()).toStdString();
}

TEST(AIMusicAvailability, CloudTextReasonsInOrder)
{
    EXPECT_EQ(textReason(ready()), "");
    auto state = ready();
    state.slideCount = 0;
    state.isAuthenticated = false;
    state.balance = 0;
    EXPECT_EQ(textReason(state), "Añade fotos al timeline antes de generar.") << "no slides comes first";

    state = ready();
    state.isGeneratingLyrics = true;
    state.isWorking = true;
    EXPECT_EQ(textReason(state), "") << "a running generation keeps its button";
    state.isGeneratingLyrics = false;
    EXPECT_EQ(textReason(state), "Hay otra operación en curso.");
    state.isWorking = false;
    state.isAuthenticated = false;
    EXPECT_EQ(textReason(state), "Inicia sesión para generar en la nube.");

    state = ready();
    state.balance = 20;
    EXPECT_EQ(textReason(state), "") << "a balance equal to the default cost is enough";
    state.balance = 19;
    EXPECT_EQ(textReason(state), "No tienes créditos suficientes para esta generación.");
    state.config.lyricsCost = 5;
    EXPECT_EQ(textReason(state), "");
    state.config.isLyricsEnabled = true;
    EXPECT_EQ(textReason(state), "");
    state.config.isLyricsEnabled = false;
    EXPECT_EQ(textReason(state), "La generación de letra está desactivada en Orvelant.");
    EXPECT_EQ(cloudTextGenerationDisabledReason(state, AppLanguage::english), QStringLiteral("Lyrics generation is disabled in Orvelant."));
}

TEST(AIMusicAvailability, SongReasonsInOrder)
{
    auto state = ready();
    state.slideCount = 0;
    EXPECT_EQ(songReason(state), "") << "the song needs no slides";

    state.settings->lyrics = "  \n\t ";
    EXPECT_EQ(songReason(state), "Genera o escribe una letra antes de crear la canción.");
    state.settings.reset();
    EXPECT_EQ(songReason(state), "Genera o escribe una letra antes de crear la canción.") << "no settings: a sung song";
    state.settings = AIMusicSettings{};
    state.settings->withVocals = false;
    state.stylePrompt = " ";
    EXPECT_EQ(songReason(state), "Genera o escribe un estilo musical antes de crear la canción.");
    state.stylePrompt = "Pop";
    EXPECT_EQ(songReason(state), "") << "an instrumental song needs no lyrics";

    state.isGeneratingCloudMusic = true;
    state.stylePrompt.clear();
    EXPECT_EQ(songReason(state), "");
    state = ready();
    state.isWorking = true;
    EXPECT_EQ(songReason(state), "Hay otra operación en curso.");
    state.isWorking = false;
    state.isAuthenticated = false;
    EXPECT_EQ(songReason(state), "Inicia sesión para generar la canción.");
    state.isAuthenticated = true;
    state.balance = 179;
    EXPECT_EQ(songReason(state), "No tienes créditos suficientes para generar la canción.");
    state.balance = 180;
    state.config.isMusicEnabled = false;
    EXPECT_EQ(songReason(state), "La generación de música está desactivada en Orvelant.");
}

TEST(AIMusicAvailability, OnlySpanishCreditReasonsAreErrorsAndFailuresReadAsTheirOwnText)
{
    EXPECT_TRUE(isErrorReason(QStringLiteral("No tienes créditos suficientes para generar la canción.")));
    EXPECT_FALSE(isErrorReason(QStringLiteral("You do not have enough credits to generate the song.")));
    EXPECT_FALSE(isErrorReason(QStringLiteral("Hay otra operación en curso.")));

    EXPECT_EQ(readable(std::make_exception_ptr(AccountError::message("No tienes créditos suficientes.")), AppLanguage::spanish),
              QStringLiteral("No tienes créditos suficientes."));
    EXPECT_EQ(readable(std::make_exception_ptr(RequestTimedOutError()), AppLanguage::spanish),
              QStringLiteral("El servidor ha tardado demasiado en responder."));
    EXPECT_EQ(readable(std::make_exception_ptr(std::runtime_error("Disco lleno")), AppLanguage::spanish),
              QStringLiteral("Disco lleno"));
}

} // namespace
} // namespace fotivela
