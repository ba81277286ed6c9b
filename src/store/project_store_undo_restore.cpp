#include "store/project_store.h"

#include <algorithm>

namespace fotivela {

void ProjectStore::undoLastStep()
{
    assertMainThread();
    if (m_undoStack.empty())
        return;
    ProjectUndoSnapshot snapshot = std::move(m_undoStack.back());
    m_undoStack.pop_back();

    stopPreview();
    stopInstrumentPreview();
    cancelSongAnalysisTasks(true);

    setProject(std::move(snapshot.project));
    setRoute(snapshot.route);
    setSelectedSlideID(snapshot.selectedSlideID);
    setTimelineSelection(std::move(snapshot.timelineSelection));
    setActiveTab(snapshot.activeTab);
    setPreviewTime(std::min(snapshot.previewTime, std::max(snapshot.playbackDuration, 0.0)));
    setAudioDuration(snapshot.audioDuration);
    setAudioWaveform(std::move(snapshot.audioWaveform));
    setAudioBeatTimes(std::move(snapshot.audioBeatTimes));
    setAudioBeatMarkers(std::move(snapshot.audioBeatMarkers));
    setAttackBeatMarkers(std::move(snapshot.attackBeatMarkers));
    setIsAttackWaveformEnabled(snapshot.isAttackWaveformEnabled);
    setSelectedBeatMarkerID(snapshot.selectedBeatMarkerID);
    setTotalDuration(snapshot.totalDuration);
    setVisibleStemWaveformInstruments(std::move(snapshot.visibleStemWaveformInstruments));
    syncVisibleStemWaveformsWithSelectedInstrumentsIfNeeded();
    setCurrentProjectURL(std::move(snapshot.currentProjectURL));

    setIsEditingBeatMarker(false);
    m_pendingTimelineResizeUndo = false;
    m_pendingBeatMarkerMoveUndo = false;
    if (m_project.audio)
        modifyProject([this](FotivelaProject& project) { project.audio->beatMarkers = m_audioBeatMarkers; });
    syncBeatTimesFromMarkers();

    // A fresh player for the restored song; the preparation brings back its waveform and
    // markers and starts whatever analysis the light snapshot left out.
    m_audioPlayback.mainPlayer.reset();
    prepareAudioPlayerIfNeeded();
    // Any run active now was started here: the cancellation above ended the older ones.
    m_undoRestoreAnalysisRunID = m_activeInstrumentAnalysisRunID;
    recalculateTotalDuration();
    discardInvalidBeatMarkerSelection();
    touchProject(true);
    saveCurrentProjectSilentlyIfPossible();
}

} // namespace fotivela
