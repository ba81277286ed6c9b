#include "store/project_store.h"

#include "model/app_language.h"
#include "model/app_text.h"
#include "model/fotivela_preferences.h"
#include "model/project_file_layout.h"
#include "model/recent_project_persistence.h"
#include "store/project_store_derived_cache.h"
#include "store/project_store_helpers.h"
#include "platform/log.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <array>
#include <vector>

namespace fotivela {

namespace {

constexpr const char* showInterfaceTooltipsKey = "showInterfaceTooltips";

constexpr std::array<std::string_view, storeFieldCount> fieldNames{
    "project", "recentProjects", "defaultProjectDirectory", "route", "selectedSlideID",
    "timelineSelection", "activeTab", "previewTime", "isPlaying", "audioDuration", "audioWaveform",
    "attackDetectionWaveform", "audioBeatTimes", "audioBeatMarkers", "snappedBeatTime", "isExporting",
    "exportProgress", "exportMessage", "currentProjectURL", "hasUnsavedChanges", "isAnalyzingAudio",
    "audioAnalysisStatusMessage", "isGeneratingLyrics", "isGeneratingCloudMusic", "aiLyricsStatusMessage",
    "playingInstrumentPreview", "isMainAudioMuted", "isMainAudioSoloed", "soloTimelineInstrument",
    "audibleTimelineInstruments", "visibleStemWaveformInstruments", "isAttackWaveformEnabled",
    "attackBeatMarkers", "selectedBeatMarkerID", "totalDuration", "previewCacheRevision", "timelineZoom",
    "timelineZoomFocusRevision", "showInterfaceTooltips", "appLanguage", "isEditingBeatMarker",
    "playbackClockRevision", "playbackClockAnchorTime", "isNewProjectDialogPresented",
    "recentProjectPendingDeletion", "manualBeatMarkerDeletionCount"};

} // namespace

std::string_view storeFieldName(StoreField field)
{
    return fieldNames[static_cast<std::size_t>(field)];
}

ProjectStore::ProjectStore()
    : m_project(FotivelaProject::empty())
{
    assertMainThread();
    m_pendingAutosaveTask = std::make_unique<QTimer>();
    m_pendingAutosaveTask->setSingleShot(true);
    m_pendingAutosaveTask->setTimerType(Qt::PreciseTimer);
    m_pendingAutosaveTask->setInterval(autosaveDelayMilliseconds);
    // The timer dies with the store, so a store that is gone never saves.
    QObject::connect(m_pendingAutosaveTask.get(), &QTimer::timeout, [this] { saveCurrentProjectInBackgroundIfPossible(); });
    m_fileWriter = std::make_unique<ProjectFileWriter>(m_pendingAutosaveTask.get());

    m_defaultProjectDirectory = ProjectFileLayout::loadDefaultProjectDirectory(ProjectFileLayout::defaultProjectDirectoryKey);

    FotivelaPreferences& preferences = FotivelaPreferences::shared();
    if (const std::optional<PlistValue> tooltips = preferences.object(showInterfaceTooltipsKey)) {
        if (const bool* shown = tooltips->as<bool>())
            m_showInterfaceTooltips = *shown;
    }

    std::optional<AppLanguage> stored;
    if (const std::optional<PlistValue> language = preferences.object(std::string(appLanguagePreferenceKey))) {
        if (const std::string* text = language->as<std::string>())
            stored = fromStored<AppLanguage>(*text);
    }
    if (stored) {
        m_appLanguage = *stored;
    } else {
        m_appLanguage = AppLanguages::detectedDefault();
        preferences.setValue(std::string(appLanguagePreferenceKey), std::string(toStored(m_appLanguage)));
    }
    AppLanguages::applyRuntimeLocalization(m_appLanguage);

    m_recentProjects = RecentProjectPersistence::load();
}

ProjectStore::~ProjectStore()
{
    // Work left running would keep decoding for a store that is gone, and hold the
    // program's exit until it ends.
    for (std::optional<TaskHandle>* task : {&m_audioWaveformTask, &m_audioAnalysisTask, &m_previewGenerationTask})
        if (*task)
            (*task)->cancel();
}

void ProjectStore::assertMainThread() const
{
    Q_ASSERT_X(QCoreApplication::instance() == nullptr
                   || QThread::currentThread() == QCoreApplication::instance()->thread(),
               "ProjectStore", "used off the main thread");
}

ProjectStore::ObserverID ProjectStore::addObserver(Observer observer)
{
    assertMainThread();
    const ObserverID id = m_nextObserverID++;
    m_observers.emplace(id, std::move(observer));
    return id;
}

void ProjectStore::removeObserver(ObserverID id)
{
    assertMainThread();
    m_observers.erase(id);
}

void ProjectStore::notify(StoreField field)
{
    if (field == StoreField::project)
        ++m_projectRevision;
    switch (field) {
    case StoreField::project:
    case StoreField::audioBeatMarkers:
    case StoreField::attackBeatMarkers:
    case StoreField::isAttackWaveformEnabled:
    case StoreField::visibleStemWaveformInstruments:
    case StoreField::selectedBeatMarkerID:
        ++m_derivedInputsGeneration;
        break;
    default:
        break;
    }
    if (m_observers.empty())
        return;
    // An observer may add or remove observers, or write the store again, while it is told.
    std::vector<ObserverID> ids;
    ids.reserve(m_observers.size());
    for (const auto& entry : m_observers)
        ids.push_back(entry.first);
    for (ObserverID id : ids) {
        const auto found = m_observers.find(id);
        if (found == m_observers.end())
            continue;
        const Observer observer = found->second;
        observer(field);
    }
}

void ProjectStore::noteRead(StoreField field) const
{
    assertMainThread();
    for (ReadTracking* tracking = m_readTracking; tracking; tracking = tracking->m_outer)
        tracking->m_read.set(static_cast<std::size_t>(field));
}

ProjectStore::ReadTracking::ReadTracking(const ProjectStore& store)
    : m_store(store)
    , m_outer(store.m_readTracking)
{
    m_store.m_readTracking = this;
}

ProjectStore::ReadTracking::~ReadTracking()
{
    m_store.m_readTracking = m_outer;
}

// Stamps the project's edit time (an in-place change, so it always notifies) and, when
// asked, marks the project changed.
void ProjectStore::touchProject(bool markChanged)
{
    modifyProject([](FotivelaProject& project) { project.updatedAt = ProjectStore::Clock::now(); });
    if (markChanged)
        setHasUnsavedChanges(true);
}

void ProjectStore::remember(const std::string& projectName, const std::filesystem::path& projectURL)
{
    assertMainThread();
    const RecentProject entry{projectName, projectURL, Clock::now()};
    std::vector<RecentProject> list = RecentProjectPersistence::remembering(entry, m_recentProjects);
    setRecentProjects(list);
    try {
        RecentProjectPersistence::save(list);
    } catch (const std::exception& error) {
        // The list on screen is right; the next save writes it again.
        logLine(std::string("Fotivela recent projects not stored: ") + error.what());
    }
}

void ProjectStore::chooseDefaultProjectDirectory(const FolderChooser& chooseFolder)
{
    assertMainThread();
    const std::optional<std::filesystem::path> folder = chooseFolder(defaultProjectDirectory(), AppText::translate("Usar carpeta", appLanguage()));
    if (!folder || folder->empty())
        return;
    setDefaultProjectDirectory(*folder);
    FotivelaPreferences::shared().setValue(std::string(ProjectFileLayout::defaultProjectDirectoryKey), folder->string());
}

void ProjectStore::clearPreviewImageCache()
{
    assertMainThread();
    m_previewImageCache.clear();
    // Raised even when it was empty: the views load their images again.
    setPreviewCacheRevision(m_previewCacheRevision + 1);
}

std::string ProjectStore::normalizedProjectName(std::string_view name)
{
    const std::string_view trimmed = trimmedWhitespaceAndNewlines(name);
    return trimmed.empty() ? std::string("Nuevo video") : std::string(trimmed);
}

} // namespace fotivela
