#include "store/project_store.h"

#include "model/app_text.h"
#include "model/preview_image_cache.h"
#include "model/project_asset_relinker.h"
#include "model/project_file_layout.h"
#include "model/project_file_reader.h"
#include "model/project_packager.h"
#include "model/title_slide_factory.h"
#include "platform/atomic_file.h"
#include "platform/log.h"

#include <QTimer>

namespace fotivela {

namespace fs = std::filesystem;

namespace {

constexpr const char* relinkMessage = "No encuentro algunos archivos originales";
constexpr const char* relinkInformativeText =
    "Indica la carpeta donde estan ahora las fotos o la musica para volver a enlazarlas.";
constexpr const char* relinkFindButton = "Buscar carpeta";
constexpr const char* relinkCancelButton = "Cancelar";
constexpr const char* relinkFolderPrompt = "Usar carpeta";
constexpr const char* packagePanelMessage = "Crea una carpeta empaquetada con proyecto, previos y originales.";

constexpr const char* leftOutMessage = "No se han empaquetado los archivos que no son fotos ni canciones (";
constexpr std::size_t leftOutNamesShown = 10;

// The alert after a package that left files out, in the interface language; the names stand as they are.
std::string leftOutNotice(const std::vector<fs::path>& leftOut, AppLanguage language)
{
    std::string text = AppText::translate(leftOutMessage + std::to_string(leftOut.size()) + "): ", language);
    for (std::size_t i = 0; i < leftOut.size() && i < leftOutNamesShown; ++i)
        text += (i > 0 ? ", " : "") + ("\xe2\x80\x9c" + leftOut[i].string() + "\xe2\x80\x9d");
    text += leftOut.size() > leftOutNamesShown ? ", …" : ".";
    return text;
}

// A save or a preview write killed mid-way leaves its temporary file beside its target for
// ever; only files far older than any write still running are taken. The file being opened
// stays whatever its name: it may be such a leftover, opened to get the work back.
void removeLeftoversOfKilledWrites(const fs::path& projectURL)
{
    const fs::path folder = projectURL.parent_path();
    const fs::path previews = PreviewImageCache::previewURL(Uuid(), projectURL).parent_path();
    const fs::path titles = TitleSlideFactory::generatedTitleSlideImageURL(Uuid(), projectURL).parent_path();
    for (const fs::path& below : {fs::path(), previews.lexically_relative(folder), titles.lexically_relative(folder)})
        removeAbandonedTemporaryFiles(folder, below, projectURL);
    // A project file that is a link is saved beside the file it leads to.
    std::error_code error;
    const fs::path target = fs::canonical(projectURL, error);
    if (!error && target.parent_path() != fs::canonical(folder, error))
        removeAbandonedTemporaryFiles(target.parent_path(), {}, projectURL);
}

// A leftover of a killed save, opened to get the work back, goes on as a project file beside it:
// under the leftover's name, what the user saves there would be swept by a later opening of the folder.
fs::path continuedProjectFile(const fs::path& opened, const std::string& projectName)
{
    if (!isAtomicWriteTemporaryName(opened.filename().string()))
        return opened;
    try {
        const std::string bytes = readProjectFileText(opened);
        const fs::path continued = ProjectFileLayout::uniqueDestination(
            ProjectFileLayout::safePathComponent(projectName) + "." + std::string(ProjectFileLayout::projectFileExtension),
            opened.parent_path());
        atomicWriteFile(continued, bytes);
        logLine("Fotivela opened the leftover " + opened.string() + " as " + continued.string());
        return continued;
    } catch (const std::exception& error) {
        logLine("Fotivela leftover opened under its own name: " + opened.string() + ": " + error.what());
        return opened;
    }
}

std::set<AutoBeatInstrument> stemInstrumentsOf(const std::set<AutoBeatInstrument>& instruments)
{
    std::set<AutoBeatInstrument> stems;
    for (AutoBeatInstrument instrument : instruments) {
        if (demucsStemInstrumentSet().contains(instrument))
            stems.insert(instrument);
    }
    return stems;
}

} // namespace

void ProjectStore::showError(const std::string& message)
{
    if (m_dialogs.showError)
        m_dialogs.showError(AppText::translate(message, appLanguage()));
}

void ProjectStore::openProject()
{
    assertMainThread();
    if (!m_dialogs.chooseProjectToOpen)
        return;
    const std::optional<fs::path> selection = m_dialogs.chooseProjectToOpen();
    if (!selection || selection->empty())
        return;
    if (const std::optional<fs::path> file = ProjectFileLayout::projectFileURL(*selection))
        loadProject(*file);
}

bool ProjectStore::loadProject(const fs::path& url)
{
    assertMainThread();
    FotivelaProject loaded;
    try {
        loaded = readProjectFile(url);
    } catch (const std::exception& error) {
        logLine("Fotivela project not opened: " + url.string() + ": " + error.what());
        showError(error.what());
        return false;
    }
    const fs::path projectURL = continuedProjectFile(url, loaded.name);

    closeCurrentProjectForLoad();

    // The store's analysis state still describes the previous project until it is reset,
    // and the normalisation below reads it: reset first, so nothing of the previous song
    // (its manual markers above all) is merged into this one.
    m_audioPlayback.mainPlayer.reset();
    setAudioDuration(0);
    setAudioWaveform({});
    setAttackDetectionWaveform({});
    setAudioBeatTimes({});
    setAudioBeatMarkers({});
    setAttackBeatMarkers({});
    setIsAttackWaveformEnabled(false);
    setVisibleStemWaveformInstruments({});
    setSelectedBeatMarkerID(std::nullopt);
    setIsEditingBeatMarker(false);

    setProject(std::move(loaded));
    normalizeAutoBeatSourceSelection();
    recalculateTotalDuration();
    setSelectedSlideID(m_project.slides.empty() ? std::nullopt : std::optional<Uuid>(m_project.slides.front().id));
    setTimelineSelection({});
    m_timelineAnchorID.reset();
    setActiveTab(EditorTab::photos);
    setRoute(AppRoute::editor);

    m_audioPlayback.mainPlayer.reset();
    setAudioDuration(0);
    setAudioWaveform({});
    setAttackDetectionWaveform({});
    setAudioBeatTimes({});
    setAudioBeatMarkers({});
    setAttackBeatMarkers({});
    setIsAttackWaveformEnabled(false);
    setVisibleStemWaveformInstruments({});
    setSelectedBeatMarkerID(std::nullopt);
    setIsEditingBeatMarker(false);
    setAudioAnalysisStatusMessage("");

    setCurrentProjectURL(projectURL);
    setHasUnsavedChanges(false);
    removeLeftoversOfKilledWrites(url);

    resolveMissingAssetsIfNeeded();
    clearPreviewImageCache();
    generatePreviewCache(m_project.slides);
    prepareAudioPlayerIfNeeded();
    syncVisibleStemWaveformsWithSelectedInstrumentsIfNeeded();
    remember(m_project.name, projectURL);
    return true;
}

void ProjectStore::closeCurrentProjectForLoad()
{
    stopPreview();
    m_audioPlayback.stopTimelinePlayers();
    stopInstrumentPreview();
    setAudibleTimelineInstruments({});
    setSoloTimelineInstrument(std::nullopt);
    setIsMainAudioSoloed(false);
    // Nothing runs at quit: the last edits of the project being left are written now, to
    // its own file, before the pending autosave could write the next project there.
    if (hasUnsavedChanges() || hasPendingAutosave())
        saveCurrentProjectImmediatelyIfPossible();
    m_pendingAutosaveTask->stop();
    // Results of the previous song's analyses must never land in the new project, even
    // when both use the same song file.
    cancelSongAnalysisTasks(true);
    if (m_audioWaveformTask) {
        m_audioWaveformTask->cancel();
        m_audioWaveformTask.reset();
    }
    stopInstrumentAnalysisTask(true);
    m_activeInstrumentAnalysisRunID.reset();
    setIsAnalyzingAudio(false);
    if (m_previewGenerationTask) {
        m_previewGenerationTask->cancel();
        m_previewGenerationTask.reset();
    }
    m_pendingTimelineResizeUndo = false;
    m_pendingBeatMarkerMoveUndo = false;
    m_pendingAttackMarkerOverrideID.reset();
    m_sensitivityBeforePreview.reset();
    setSnappedBeatTime(std::nullopt);
    setPreviewTime(0);
}

void ProjectStore::normalizeAutoBeatSourceSelection()
{
    if (!m_project.audio || m_project.audio->syncMode != SyncMode::autoBeatV2)
        return;
    const std::set<AutoBeatInstrument> stems = stemInstrumentsOf(m_project.audio->autoBeatInstruments);
    const bool memory = hasMemoryForInstrumentAnalysis();
    const auto attackModeWithoutInstruments = [this] {
        setAttackFlag(true);
        modifyProject([](FotivelaProject& project) {
            project.audio->autoBeatInstruments.clear();
            project.audio->beatDetectionFocus = fallbackDetectionFocus({});
        });
        setVisibleStemWaveformInstruments({});
    };

    if (memory && m_project.audio->isAttackWaveformEnabled) {
        attackModeWithoutInstruments();
        removeAutomaticAudioBeatMarkers();
        regenerateAttackBeatMarkers();
        syncBeatTimesFromMarkers();
    } else if (memory && stems.empty()) {
        attackModeWithoutInstruments();
        regenerateAttackBeatMarkers();
        syncBeatTimesFromMarkers();
    } else if (memory) {
        setIsAttackWaveformEnabled(false);
        modifyProject([&](FotivelaProject& project) { project.audio->autoBeatInstruments = stems; });
    } else {
        attackModeWithoutInstruments();
        stopInstrumentPreview();
        removeAutomaticAudioBeatMarkers();
        regenerateAttackBeatMarkers();
        syncBeatTimesFromMarkers();
    }
    syncVisibleStemWaveformsWithSelectedInstrumentsIfNeeded();
}

void ProjectStore::resolveMissingAssetsIfNeeded()
{
    if (!ProjectAssetRelinker::hasMissingAssets(m_project))
        return;
    const auto text = [this](const char* spanish) { return AppText::translate(spanish, appLanguage()); };
    if (!m_dialogs.confirm
        || !m_dialogs.confirm({text(relinkMessage), text(relinkInformativeText), text(relinkFindButton),
                               text(relinkCancelButton)}))
        return;
    const std::optional<fs::path> folder = chooseRelinkDirectory();
    if (!folder)
        return;
    bool changed = false;
    modifyProject([&](FotivelaProject& project) { changed = ProjectAssetRelinker::relinkMissingAssets(project, *folder); });
    if (!changed)
        return;
    touchProject(true);
    saveCurrentProjectSilentlyIfPossible();
}

std::optional<fs::path> ProjectStore::chooseRelinkDirectory()
{
    if (!m_dialogs.chooseFolder)
        return std::nullopt;
    std::optional<fs::path> folder = m_dialogs.chooseFolder(AppText::translate(relinkFolderPrompt, appLanguage()));
    if (!folder || folder->empty())
        return std::nullopt;
    return folder;
}

fs::path ProjectStore::projectFileLocation() const
{
    if (const std::optional<fs::path>& url = currentProjectURL())
        return *url;
    return ProjectFileLayout::defaultProjectURL(project().name, defaultProjectDirectory());
}

fs::path ProjectStore::previewCacheDirectory() const
{
    assertMainThread();
    return projectFileLocation().parent_path() / "Previews";
}

void ProjectStore::packageProject()
{
    assertMainThread();
    if (!m_dialogs.choosePackageDestination)
        return;
    const std::optional<fs::path> destination = m_dialogs.choosePackageDestination(
        ProjectFileLayout::sanitizedFileName(project().name), AppText::translate(packagePanelMessage, appLanguage()));
    if (!destination || destination->empty())
        return;
    packageProject(*destination);
}

bool ProjectStore::packageProject(const fs::path& destination)
{
    assertMainThread();
    const std::optional<fs::path> current = currentProjectURL();
    if (current)
        saveCurrentProjectSilentlyIfPossible();
    const std::optional<fs::path> previews = current ? std::optional<fs::path>(previewCacheDirectory()) : std::nullopt;
    fs::path normal = destination.lexically_normal();
    if (!normal.has_filename())
        normal = normal.parent_path();
    const std::string packageName = normal.filename().string();
    try {
        std::vector<fs::path> leftOut;
        const fs::path packaged = ProjectPackager::package(project(), normal, packageName, current, previews, &leftOut);
        remember(packageName, packaged);
        if (!leftOut.empty()) {
            logLine("Fotivela package left out " + std::to_string(leftOut.size()) + " files that are no photo or song");
            showError(leftOutNotice(leftOut, appLanguage()));
        }
        return true;
    } catch (const std::exception& error) {
        logLine("Fotivela package failed: " + normal.string() + ": " + error.what());
        showError(error.what());
        return false;
    }
}

} // namespace fotivela
