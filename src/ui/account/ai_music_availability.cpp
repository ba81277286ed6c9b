#include "ui/account/ai_music_availability.h"

#include "account/account_error.h"
#include "account/account_session.h"
#include "ui/account/account_view_support.h"

#include <QLocale>

namespace fotivela::AIMusicAvailability {

namespace {

bool isBlank(const std::string& text)
{
    return QString::fromStdString(text).trimmed().isEmpty();
}

} // namespace

std::int64_t lyricsCost(const CloudAIConfig& config)
{
    return config.lyricsCost.value_or(defaultLyricsCost);
}

std::int64_t musicCost(const CloudAIConfig& config)
{
    return config.musicCost.value_or(defaultMusicCost);
}

bool isWithVocals(const std::optional<AIMusicSettings>& settings)
{
    return !settings || settings->withVocals;
}

bool hasEnoughCloudLyricsCredits(const AIMusicAvailabilityState& state)
{
    return state.balance >= lyricsCost(state.config);
}

bool hasEnoughCloudMusicCredits(const AIMusicAvailabilityState& state)
{
    return state.balance >= musicCost(state.config);
}

std::optional<QString> cloudTextGenerationDisabledReason(const AIMusicAvailabilityState& state, AppLanguage language)
{
    if (state.slideCount == 0)
        return translated("Añade fotos al timeline antes de generar.", language);
    if (state.isGeneratingLyrics)
        return std::nullopt;
    if (state.isWorking)
        return translated("Hay otra operación en curso.", language);
    if (!state.isAuthenticated)
        return translated("Inicia sesión para generar en la nube.", language);
    if (!hasEnoughCloudLyricsCredits(state))
        return translated("No tienes créditos suficientes para esta generación.", language);
    if (state.config.isLyricsEnabled == false)
        return translated("La generación de letra está desactivada en Orvelant.", language);
    return std::nullopt;
}

std::optional<QString> cloudSongDisabledReason(const AIMusicAvailabilityState& state, AppLanguage language)
{
    if (state.isGeneratingCloudMusic)
        return std::nullopt;
    if (isWithVocals(state.settings)) {
        if (isBlank(state.settings ? state.settings->lyrics : std::string()))
            return translated("Genera o escribe una letra antes de crear la canción.", language);
    } else if (isBlank(state.stylePrompt)) {
        return translated("Genera o escribe un estilo musical antes de crear la canción.", language);
    }
    if (state.isWorking)
        return translated("Hay otra operación en curso.", language);
    if (!state.isAuthenticated)
        return translated("Inicia sesión para generar la canción.", language);
    if (!hasEnoughCloudMusicCredits(state))
        return translated("No tienes créditos suficientes para generar la canción.", language);
    if (state.config.isMusicEnabled == false)
        return translated("La generación de música está desactivada en Orvelant.", language);
    return std::nullopt;
}

bool isErrorReason(const QString& reason)
{
    // The word is not translated: only the Spanish credit reasons are drawn as errors.
    const QLocale locale;
    return locale.toLower(reason).contains(locale.toLower(QStringLiteral("créditos")));
}

QString readable(const std::exception_ptr& error, AppLanguage language)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const AccountError& accountError) {
        return QString::fromUtf8(accountError.what());
    } catch (const RequestTimedOutError&) {
        return translated("El servidor ha tardado demasiado en responder.", language);
    } catch (const std::exception& other) {
        return QString::fromUtf8(other.what());
    } catch (...) {
    }
    return translated("No se ha podido completar la operación.", language);
}

} // namespace fotivela::AIMusicAvailability
