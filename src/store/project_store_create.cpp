#include "store/project_store.h"

#include "model/project_file_layout.h"

#include <QTimer>

#include <system_error>

namespace fotivela {

namespace {

bool somethingAt(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

} // namespace

void ProjectStore::createProject(const std::string& name)
{
    assertMainThread();
    std::string projectName = normalizedProjectName(name);
    // Another project's folder is never taken over: its file would be replaced and the save
    // would prune its songs and stems. The new project gets the first free name instead.
    std::filesystem::path url = ProjectFileLayout::defaultProjectURL(projectName, defaultProjectDirectory());
    for (int suffix = 2; somethingAt(url.parent_path()); ++suffix) {
        const std::string candidate = normalizedProjectName(name) + "-" + std::to_string(suffix);
        url = ProjectFileLayout::defaultProjectURL(candidate, defaultProjectDirectory());
        projectName = candidate;
    }

    setIsNewProjectDialogPresented(false);
    stopPreview();
    // The last edit of the project being left belongs in its own file, written before the new
    // project takes the store (and the pending autosave) over.
    if (hasUnsavedChanges() || hasPendingAutosave())
        saveCurrentProjectImmediatelyIfPossible();
    m_pendingAutosaveTask->stop();
    FotivelaProject fresh = FotivelaProject::empty();
    fresh.name = projectName;
    setProject(std::move(fresh));
    recalculateTotalDuration();

    setSelectedSlideID(std::nullopt);
    setTimelineSelection({});
    setPreviewTime(0);
    setIsPlaying(false);
    setAudioDuration(0);
    setAudioWaveform({});
    setAttackDetectionWaveform({});
    setAudioBeatTimes({});
    setAudioBeatMarkers({});
    setAttackBeatMarkers({});
    setIsAttackWaveformEnabled(false);
    setSelectedBeatMarkerID(std::nullopt);
    setIsEditingBeatMarker(false);
    setAudioAnalysisStatusMessage("");

    setCurrentProjectURL(url);
    setHasUnsavedChanges(false);
    setActiveTab(EditorTab::photos);
    setRoute(AppRoute::editor);
    saveCurrentProjectImmediatelyIfPossible();
}

} // namespace fotivela
