#include "ui/account/ai_music_inspector.h"

#include <QPointer>
#include <QUuid>

namespace fotivela {

namespace {

std::string newOperationId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
}

// A style alone exactly when the song is instrumental.
bool isStyleOnly(const ProjectStore& store)
{
    const auto& settings = store.project().aiMusic;
    return settings && !settings->withVocals;
}

} // namespace

// The runs below outlive the pane: they hold only the store, which lives for the whole run, and
// the session, which they stop following once it is gone.
void AIMusicInspector::generateCloudLyrics()
{
    ProjectStore& store = m_store;
    if (store.isGeneratingLyrics())
        return;
    store.setIsGeneratingLyrics(true);
    store.setAiLyricsStatusMessage({});
    QPointer<AccountSession> session(&m_session);
    const auto fail = [&store](const std::exception_ptr& error) {
        store.setAiLyricsStatusMessage(AIMusicAvailability::readable(error, store.appLanguage()).toStdString());
        store.setIsGeneratingLyrics(false);
    };
    store.makeCloudLyricsRequest(
        newOperationId(), isStyleOnly(store),
        [&store, session, fail](std::optional<CloudLyricsRequest> request, std::exception_ptr error) {
            if (!request)
                return fail(error);
            if (!session)
                return store.setIsGeneratingLyrics(false);
            session->generateCloudLyrics(*request, [&store, fail](AccountOutcome<CloudLyricsResponse> outcome) {
                if (!outcome.value)
                    return fail(outcome.error);
                // The Instrumental switch may have changed during the wait: the answer follows it.
                // An answer for a project that is no longer open leaves its reason in the status.
                if (store.applyCloudLyricsResponse(*outcome.value, isStyleOnly(store)))
                    store.setAiLyricsStatusMessage({});
                store.setIsGeneratingLyrics(false);
            });
        });
}

void AIMusicInspector::generateCloudSong()
{
    ProjectStore& store = m_store;
    if (store.isGeneratingCloudMusic())
        return;
    store.setIsGeneratingCloudMusic(true);
    store.setAiLyricsStatusMessage({});
    const auto fail = [&store](const std::exception_ptr& error) {
        store.setAiLyricsStatusMessage(AIMusicAvailability::readable(error, store.appLanguage()).toStdString());
        store.setIsGeneratingCloudMusic(false);
    };
    CloudMusicRequest request;
    try {
        request = store.makeCloudMusicRequest(newOperationId());
    } catch (...) {
        return fail(std::current_exception());
    }
    m_session.generateCloudMusic(request, [&store, fail](AccountOutcome<CloudMusicResponse> outcome) {
        if (!outcome.value)
            return fail(outcome.error);
        store.installCloudGeneratedMusic(*outcome.value, [&store, fail](std::exception_ptr error) {
            if (error)
                return fail(error);
            store.setAiLyricsStatusMessage({});
            store.setIsGeneratingCloudMusic(false);
        });
    });
}

} // namespace fotivela
