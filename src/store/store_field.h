#pragma once

#include <cstddef>
#include <string_view>

namespace fotivela {

// One case per observed property of the store, in declaration order. A change
// notification names the property that changed; views re-read what they need.
enum class StoreField {
    project,
    recentProjects,
    defaultProjectDirectory,
    route,
    selectedSlideID,
    timelineSelection,
    activeTab,
    previewTime,
    isPlaying,
    audioDuration,
    audioWaveform,
    attackDetectionWaveform,
    audioBeatTimes,
    audioBeatMarkers,
    snappedBeatTime,
    isExporting,
    exportProgress,
    exportMessage,
    currentProjectURL,
    hasUnsavedChanges,
    isAnalyzingAudio,
    audioAnalysisStatusMessage,
    isGeneratingLyrics,
    isGeneratingCloudMusic,
    aiLyricsStatusMessage,
    playingInstrumentPreview,
    isMainAudioMuted,
    isMainAudioSoloed,
    soloTimelineInstrument,
    audibleTimelineInstruments,
    visibleStemWaveformInstruments,
    isAttackWaveformEnabled,
    attackBeatMarkers,
    selectedBeatMarkerID,
    totalDuration,
    previewCacheRevision,
    timelineZoom,
    timelineZoomFocusRevision,
    showInterfaceTooltips,
    appLanguage,
    isEditingBeatMarker,
    playbackClockRevision,
    playbackClockAnchorTime,
    isNewProjectDialogPresented,
    recentProjectPendingDeletion,
    manualBeatMarkerDeletionCount,
};

inline constexpr std::size_t storeFieldCount = static_cast<std::size_t>(StoreField::manualBeatMarkerDeletionCount) + 1;

// The property's name as the views and the log know it.
std::string_view storeFieldName(StoreField field);

} // namespace fotivela
