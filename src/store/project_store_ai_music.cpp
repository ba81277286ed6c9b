#include "store/project_store.h"

#include "account/account_api.h"
#include "account/account_error.h"
#include "account/ai_contact_sheet_builder.h"
#include "account/ai_music_text_processor.h"
#include "analysis/ai_music_file_layout.h"
#include "model/preview_image_cache.h"
#include "model/project_audio_resource_storage.h"
#include "model/project_file_layout.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace fotivela {

namespace fs = std::filesystem;

namespace {

constexpr const char* lyricsModel = "gemini-2.5-flash-lite";
constexpr const char* musicModel = "lyria-3-pro-preview";
constexpr const char* noAudioText = "La nube no ha devuelto audio.";
// A generation takes minutes; the user may have opened another project meanwhile.
constexpr const char* otherProjectText =
    "Has abierto otro proyecto mientras se generaba; el resultado no se ha aplicado a este proyecto.";

// Texts up to this size are cleaned on the spot (a few milliseconds at most); longer ones, which
// only a paste or a faulty answer makes, off the main thread.
constexpr std::size_t longAIMusicTextBytes = 16 * 1024;

struct PreparedLyricsAnswer {
    std::string lyrics;
    std::optional<std::string> stylePrompt;
};

PreparedLyricsAnswer prepareLyricsAnswer(const CloudLyricsResponse& response, bool styleOnly, const std::string& fallback)
{
    const GeneratedMusicText parsed = AIMusicTextProcessor::parseGeneratedMusicText(response.lyrics);
    const std::string responseStyle = std::string(trimmedWhitespaceAndNewlines(response.style.value_or("")));
    const std::string source = responseStyle.empty() ? parsed.style : responseStyle;
    PreparedLyricsAnswer prepared;
    prepared.lyrics = styleOnly ? std::string() : parsed.lyrics;
    if (!source.empty())
        prepared.stylePrompt = styleOnly ? AIMusicTextProcessor::instrumentalStyle(source, fallback) : source;
    return prepared;
}

AIMusicSettings emptyDraft()
{
    AIMusicSettings draft;
    draft.requestedMusicStyle.clear();
    return draft;
}

std::string trimmed(std::string_view text)
{
    return std::string(trimmedWhitespaceAndNewlines(text));
}

std::string readBytes(const fs::path& url)
{
    std::ifstream in(url, std::ios::binary);
    if (!in)
        throw AIContactSheetError();
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        throw AIContactSheetError();
    return bytes;
}

// The song's bytes as the cloud sent them, or fetched from its address. An address that
// answers with anything but a body under a 2xx status is no song: an error page must never
// become the project's music.
std::string generatedAudioBytes(const CloudMusicResponse& response, const std::shared_ptr<AccountAPI>& client)
{
    if (std::optional<std::string> inline_ = response.inlineAudio())
        return std::move(*inline_);
    if (!response.audioURL)
        throw AccountError::message(noAudioText);
    CurlHTTPResponse fetched;
    try {
        fetched = client->download(*response.audioURL);
    } catch (const AccountError& error) {
        if (error.kind() == AccountError::Kind::invalidResponse)
            throw AccountError::message(noAudioText);
        throw;
    }
    if (fetched.statusCode < 200 || fetched.statusCode > 299 || fetched.body.empty())
        throw AccountError::message(noAudioText);
    return std::move(fetched.body);
}

} // namespace

// --- Settings and drafts ---

void ProjectStore::ensureAIMusicSettings()
{
    assertMainThread();
    if (!m_project.aiMusic)
        modifyProject([](FotivelaProject& project) { project.aiMusic = AIMusicSettings{}; });
}

void ProjectStore::changeAIMusicSettings(const std::function<void(AIMusicSettings&)>& change)
{
    ensureAIMusicSettings();
    modifyProject([&](FotivelaProject& project) { change(*project.aiMusic); });
    touchProject(true);
    saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::setAILyricsText(const std::string& text)
{
    changeAIMusicSettings([&](AIMusicSettings& settings) { settings.lyrics = text; });
}

void ProjectStore::setAIMusicStylePrompt(const std::string& text)
{
    changeAIMusicSettings([&](AIMusicSettings& settings) { settings.stylePrompt = text; });
}

void ProjectStore::setAIMusicSubjectName(const std::string& text)
{
    changeAIMusicSettings([&](AIMusicSettings& settings) { settings.subjectName = text; });
}

void ProjectStore::setAIMusicRequestedStyle(const std::string& text)
{
    changeAIMusicSettings([&](AIMusicSettings& settings) { settings.requestedMusicStyle = text; });
}

void ProjectStore::setAIMusicGenerationNotes(const std::string& text)
{
    changeAIMusicSettings([&](AIMusicSettings& settings) { settings.generationNotes = text; });
}

void ProjectStore::setAIMusicWithVocals(bool withVocals)
{
    assertMainThread();
    ensureAIMusicSettings();
    const std::string style = trimmed(m_project.aiMusic->stylePrompt);
    const std::string fallback = aiMusicRequestedStyle();
    const bool cleansLater = !withVocals && !style.empty() && style.size() + fallback.size() > longAIMusicTextBytes;
    const std::string written = m_project.aiMusic->stylePrompt;
    changeAIMusicSettings([&](AIMusicSettings& settings) {
        settings.withVocals = withVocals;
        if (withVocals)
            return;
        settings.lyrics.clear();
        if (!style.empty() && !cleansLater)
            settings.stylePrompt = AIMusicTextProcessor::instrumentalStyle(style, fallback);
    });
    if (!cleansLater)
        return;
    runInBackground(
        TaskPriority::userInitiated,
        [style, fallback](std::stop_token) { return AIMusicTextProcessor::instrumentalStyle(style, fallback); },
        [alive = std::weak_ptr<ProjectStore*>(m_lifetime), origin = currentAIMusicOrigin(), written](std::string cleaned) {
            const std::shared_ptr<ProjectStore*> lifetime = alive.lock();
            if (!lifetime)
                return;
            ProjectStore& store = **lifetime;
            // Only onto the text it was made from, while the song is still instrumental.
            const auto& settings = store.project().aiMusic;
            if (store.currentAIMusicOrigin() != origin || !settings || settings->withVocals ||
                settings->stylePrompt != written)
                return;
            store.changeAIMusicSettings([&](AIMusicSettings& changed) { changed.stylePrompt = cleaned; });
        });
}

void ProjectStore::beginNewAIMusicDraft()
{
    assertMainThread();
    restoreAIMusicSettings(std::nullopt);
}

void ProjectStore::restoreAIMusicSettings(const std::optional<AIMusicSettings>& settings)
{
    assertMainThread();
    modifyProject([&](FotivelaProject& project) { project.aiMusic = settings ? *settings : emptyDraft(); });
    setAiLyricsStatusMessage("");
}

bool ProjectStore::isAIMusicGenerationDraftEmpty() const
{
    const AIMusicSettings settings = project().aiMusic.value_or(emptyDraft());
    for (const std::string* text : {&settings.lyrics, &settings.stylePrompt, &settings.subjectName,
                                    &settings.requestedMusicStyle, &settings.generationNotes}) {
        if (!trimmedWhitespaceAndNewlines(*text).empty())
            return false;
    }
    return true;
}

fs::path ProjectStore::aiCloudContactSheetURL() const
{
    return projectFileLocation().parent_path() / "AI" / "ContactSheets" / "slideshow-contact-sheet-cloud.jpg";
}

fs::path ProjectStore::previewCacheURL(const Slide& slide) const
{
    return PreviewImageCache::previewURL(slide.id, projectFileLocation());
}

// --- Cloud requests ---

ProjectStore::AIMusicOrigin ProjectStore::currentAIMusicOrigin() const
{
    return AIMusicOrigin{m_project.id, currentProjectURL()};
}

void ProjectStore::makeCloudLyricsRequest(const std::string& operationId, bool styleOnly,
                                          std::function<void(std::optional<CloudLyricsRequest>, std::exception_ptr)> done)
{
    assertMainThread();
    if (m_project.slides.empty()) {
        done(std::nullopt, std::make_exception_ptr(AccountError::message("Necesitas añadir fotos antes de generar la letra.")));
        return;
    }
    ensureAIMusicSettings();
    const AIMusicOrigin origin = currentAIMusicOrigin();
    m_aiLyricsRequestOrigin = origin;
    const std::vector<Slide> sampled = AIContactSheetBuilder::sampleSlidesForCloudContactSheet(m_project.slides);
    // Worked out here: the drawing runs off the main thread.
    std::unordered_map<Uuid, fs::path> previews;
    for (const Slide& slide : sampled)
        previews.emplace(slide.id, previewCacheURL(slide));
    const fs::path output = aiCloudContactSheetURL();

    runInBackground(
        TaskPriority::userInitiated,
        [sampled, previews = std::move(previews), output](std::stop_token) -> std::exception_ptr {
            try {
                AIContactSheetBuilder::makeContactSheet(
                    sampled, [&](const Slide& slide) { return previews.at(slide.id); }, output,
                    AIContactSheetStyle::cloud);
                return nullptr;
            } catch (...) {
                return std::current_exception();
            }
        },
        [alive = std::weak_ptr<ProjectStore*>(m_lifetime), origin, operationId, styleOnly, output,
         done = std::move(done)](std::exception_ptr error) {
            const std::shared_ptr<ProjectStore*> lifetime = alive.lock();
            if (!lifetime)
                return;
            ProjectStore& store = **lifetime;
            if (error) {
                done(std::nullopt, error);
                return;
            }
            if (store.currentAIMusicOrigin() != origin) {
                done(std::nullopt, std::make_exception_ptr(AccountError::message(otherProjectText)));
                return;
            }
            store.ensureAIMusicSettings();
            // A record of the request, not an edit: the project is not marked changed.
            store.modifyProject([&](FotivelaProject& project) {
                project.aiMusic->lastContactSheetURL = output;
                project.aiMusic->lastGeneratedAt = Clock::now();
                if (styleOnly)
                    project.aiMusic->lyrics.clear();
            });
            try {
                const AIMusicSettings& settings = *store.project().aiMusic;
                CloudLyricsRequest request;
                request.operationId = operationId;
                request.modelPreference = lyricsModel;
                request.contactSheetBase64 = encodeBase64(readBytes(output));
                request.contactSheetMimeType = "image/jpeg";
                request.slideCount = static_cast<std::int64_t>(store.project().slides.size());
                request.duration = std::max(store.audioDuration(), store.totalDuration());
                request.format = std::string(toStored(store.project().format));
                request.subjectName = settings.subjectName;
                request.requestedMusicStyle = styleOnly
                    ? AIMusicTextProcessor::instrumentalStyleSeed(store.aiMusicRequestedStyle())
                    : store.aiMusicRequestedStyle();
                request.generationNotes = settings.generationNotes;
                request.existingStylePrompt = styleOnly
                    ? AIMusicTextProcessor::instrumentalStyleSeed(store.aiMusicStylePrompt())
                    : store.aiMusicStylePrompt();
                request.withVocals = styleOnly ? false : settings.withVocals;
                request.styleOnly = styleOnly;
                done(std::move(request), nullptr);
            } catch (...) {
                done(std::nullopt, std::current_exception());
            }
        });
}

bool ProjectStore::applyCloudLyricsResponse(const CloudLyricsResponse& response, bool styleOnly)
{
    assertMainThread();
    if (m_aiLyricsRequestOrigin && *m_aiLyricsRequestOrigin != currentAIMusicOrigin()) {
        setAiLyricsStatusMessage(otherProjectText);
        return false;
    }
    ensureAIMusicSettings();
    const std::string fallback = aiMusicRequestedStyle();
    if (response.lyrics.size() + response.style.value_or("").size() + fallback.size() <= longAIMusicTextBytes) {
        const PreparedLyricsAnswer prepared = prepareLyricsAnswer(response, styleOnly, fallback);
        applyAIMusicTexts(prepared.lyrics, prepared.stylePrompt);
        return true;
    }
    runInBackground(
        TaskPriority::userInitiated,
        [response, styleOnly, fallback](std::stop_token) { return prepareLyricsAnswer(response, styleOnly, fallback); },
        [alive = std::weak_ptr<ProjectStore*>(m_lifetime), origin = currentAIMusicOrigin()](PreparedLyricsAnswer prepared) {
            const std::shared_ptr<ProjectStore*> lifetime = alive.lock();
            if (!lifetime)
                return;
            ProjectStore& store = **lifetime;
            if (store.currentAIMusicOrigin() != origin) {
                store.setAiLyricsStatusMessage(otherProjectText);
                return;
            }
            store.ensureAIMusicSettings();
            store.applyAIMusicTexts(prepared.lyrics, prepared.stylePrompt);
        });
    return true;
}

void ProjectStore::applyAIMusicTexts(const std::string& lyrics, const std::optional<std::string>& stylePrompt)
{
    modifyProject([&](FotivelaProject& project) {
        AIMusicSettings& settings = *project.aiMusic;
        settings.lyrics = lyrics;
        if (stylePrompt)
            settings.stylePrompt = *stylePrompt;
        settings.lastGeneratedAt = Clock::now();
    });
    touchProject(true);
    setAiLyricsStatusMessage("");
    saveCurrentProjectSilentlyIfPossible();
}

CloudMusicRequest ProjectStore::makeCloudMusicRequest(const std::string& operationId)
{
    assertMainThread();
    ensureAIMusicSettings();
    const AIMusicSettings& settings = *m_project.aiMusic;
    const std::string lyrics = trimmed(settings.lyrics);
    const std::string style = trimmed(aiMusicStylePrompt());
    if (!settings.withVocals && style.empty())
        throw AccountError::message("Necesitas indicar un estilo musical para generar una canción instrumental.");
    if (settings.withVocals && lyrics.empty())
        throw AccountError::message("Necesitas tener una letra antes de generar la canción.");
    CloudMusicRequest request;
    request.operationId = operationId;
    request.modelPreference = musicModel;
    request.lyrics = lyrics;
    request.stylePrompt = style;
    request.subjectName = settings.subjectName;
    request.requestedMusicStyle = aiMusicRequestedStyle();
    request.generationNotes = settings.generationNotes;
    request.withVocals = settings.withVocals;
    request.duration = std::max(audioDuration(), totalDuration());
    request.format = std::string(toStored(m_project.format));
    return request;
}

std::string ProjectStore::generatedCloudMusicFileName(const CloudMusicResponse& response,
                                                      const std::string& fallbackName) const
{
    const std::string subject = project().aiMusic ? trimmed(project().aiMusic->subjectName) : std::string();
    const std::string given = trimmed(response.fileName.value_or(""));
    const fs::path source = given.empty() ? fs::path(fallbackName) : fs::path(given);
    std::string extension = source.extension().string();
    if (!extension.empty())
        extension.erase(0, 1);
    const std::string stem = subject.empty() ? fs::path(fallbackName).filename().stem().string() : subject;
    return ProjectFileLayout::sanitizedFileName(extension.empty() ? stem : stem + "." + extension);
}

void ProjectStore::installCloudGeneratedMusic(const CloudMusicResponse& response, std::function<void(std::exception_ptr)> done)
{
    assertMainThread();
    const AIMusicOrigin origin = currentAIMusicOrigin();
    const fs::path projectURL = projectFileLocation();
    const std::string fallbackName = AIMusicFileLayout::generatedAudioFallbackName(response.mimeType, Clock::now());
    const std::string fileName = generatedCloudMusicFileName(response, fallbackName);
    std::shared_ptr<AccountAPI> client = m_generatedAudioClient;
    // Made here, on the main thread, where the session made it first.
    if (!client && response.audioURL)
        client = AccountAPI::shared();

    runInBackground(
        TaskPriority::userInitiated,
        [response, client, fileName, projectURL](std::stop_token) -> std::pair<fs::path, std::exception_ptr> {
            try {
                const std::string bytes = generatedAudioBytes(response, client);
                return {ProjectAudioResourceStorage::persistGeneratedAudio(bytes, fileName, projectURL), nullptr};
            } catch (...) {
                return {fs::path(), std::current_exception()};
            }
        },
        [alive = std::weak_ptr<ProjectStore*>(m_lifetime), origin, done = std::move(done)](
            std::pair<fs::path, std::exception_ptr> result) {
            const std::shared_ptr<ProjectStore*> lifetime = alive.lock();
            if (!lifetime)
                return;
            ProjectStore& store = **lifetime;
            if (result.second) {
                done(result.second);
                return;
            }
            if (store.currentAIMusicOrigin() != origin) {
                done(std::make_exception_ptr(AccountError::message(otherProjectText)));
                return;
            }
            store.finishCloudMusicInstall(origin, result.first);
            done(nullptr);
        });
}

void ProjectStore::finishCloudMusicInstall(const AIMusicOrigin&, const fs::path& storedURL)
{
    registerUndoStep();
    const SyncMode mode = m_project.audio ? m_project.audio->syncMode : SyncMode::manual;
    setAudio(storedURL, mode, {}, syncSelectableKinds(), true);
    if (activeTab() != EditorTab::music)
        setActiveTab(EditorTab::music);
    if (route() != AppRoute::editor)
        setRoute(AppRoute::editor);
    touchProject(true);
    setAiLyricsStatusMessage("");
    if (m_project.audio && m_project.audio->syncMode == SyncMode::autoBeatV2)
        autoSyncSlidesToBeatTimes();
    saveCurrentProjectSilentlyIfPossible();
}

} // namespace fotivela
