#pragma once

#include "account/cloud_ai_wire_model.h"
#include "analysis/timeline_derived_data.h"
#include "model/app_language.h"
#include "model/app_route.h"
#include "model/editor_tab.h"
#include "model/fotivela_project.h"
#include "model/project_undo_snapshot.h"
#include "model/recent_project.h"
#include "model/slide_edit_kinds.h"
#include "platform/uuid.h"
#include "store/audio_playback_controller.h"
#include "platform/background_task.h"
#include "store/project_file_writer.h"
#include "store/project_store_helpers.h"
#include "store/stem_source_preparation.h"
#include "store/store_dialogs.h"
#include "store/store_field.h"

#include <QColor>
#include <QImage>

#include <bitset>
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class QTimer;

namespace fotivela {

class AccountAPI;

// The one store of the editor. It holds the open project and the editor state around
// it; every user operation is a method here and every view reads its state from here.
// Main thread only: each access checks it. Observed properties notify through one
// channel (`changed(StoreField)`): an equal write stays silent, a write of a different
// value notifies once, an in-place change of the project always notifies.
class ProjectStore {
public:
    using Clock = std::chrono::system_clock;
    using Observer = std::function<void(StoreField)>;
    using ObserverID = std::uint64_t;

    static constexpr std::size_t maximumUndoSteps = 40;
    static constexpr int autosaveDelayMilliseconds = 700;
    static constexpr std::int64_t storedAnalysisVersion = 25;
    static constexpr const char* saveFailedStatus = "Analisis guardado en memoria; no se pudo actualizar el archivo";

    ProjectStore();
    ~ProjectStore();
    ProjectStore(const ProjectStore&) = delete;
    ProjectStore& operator=(const ProjectStore&) = delete;

    // --- Change notification -------------------------------------------------------
    ObserverID addObserver(Observer observer);
    void removeObserver(ObserverID id);

    // Records which observed properties are read while it lives, so that a view can
    // listen only to what it drew from. Nested trackers each see every read.
    class ReadTracking {
    public:
        explicit ReadTracking(const ProjectStore& store);
        ~ReadTracking();
        ReadTracking(const ReadTracking&) = delete;
        ReadTracking& operator=(const ReadTracking&) = delete;
        bool hasRead(StoreField field) const { return m_read.test(static_cast<std::size_t>(field)); }
        const std::bitset<storeFieldCount>& fields() const { return m_read; }

    private:
        friend class ProjectStore;
        const ProjectStore& m_store;
        std::bitset<storeFieldCount> m_read;
        ReadTracking* m_outer = nullptr;
    };

    // --- Observed properties ---------------------------------------------------------
    const FotivelaProject& project() const { return read(m_project, StoreField::project); }
    void setProject(FotivelaProject value) { assign(m_project, std::move(value), StoreField::project); }
    // Changes the open project in place; always notifies, without comparing.
    template <class Change> void modifyProject(Change&& change)
    {
        assertMainThread();
        change(m_project);
        notify(StoreField::project);
    }

    const std::vector<RecentProject>& recentProjects() const { return read(m_recentProjects, StoreField::recentProjects); }
    void setRecentProjects(std::vector<RecentProject> value) { assign(m_recentProjects, std::move(value), StoreField::recentProjects); }
    const std::filesystem::path& defaultProjectDirectory() const { return read(m_defaultProjectDirectory, StoreField::defaultProjectDirectory); }
    void setDefaultProjectDirectory(std::filesystem::path value) { assign(m_defaultProjectDirectory, std::move(value), StoreField::defaultProjectDirectory); }
    AppRoute route() const { return read(m_route, StoreField::route); }
    void setRoute(AppRoute value) { assign(m_route, value, StoreField::route); }
    const std::optional<Uuid>& selectedSlideID() const { return read(m_selectedSlideID, StoreField::selectedSlideID); }
    void setSelectedSlideID(std::optional<Uuid> value) { assign(m_selectedSlideID, value, StoreField::selectedSlideID); }
    const std::set<Uuid>& timelineSelection() const { return read(m_timelineSelection, StoreField::timelineSelection); }
    void setTimelineSelection(std::set<Uuid> value) { assign(m_timelineSelection, std::move(value), StoreField::timelineSelection); }
    EditorTab activeTab() const { return read(m_activeTab, StoreField::activeTab); }
    void setActiveTab(EditorTab value) { assign(m_activeTab, value, StoreField::activeTab); }
    double previewTime() const { return read(m_previewTime, StoreField::previewTime); }
    void setPreviewTime(double value) { assign(m_previewTime, value, StoreField::previewTime); }
    bool isPlaying() const { return read(m_isPlaying, StoreField::isPlaying); }
    void setIsPlaying(bool value) { assign(m_isPlaying, value, StoreField::isPlaying); }
    double audioDuration() const { return read(m_audioDuration, StoreField::audioDuration); }
    void setAudioDuration(double value) { assign(m_audioDuration, value, StoreField::audioDuration); }
    const std::vector<double>& audioWaveform() const { return read(m_audioWaveform, StoreField::audioWaveform); }
    void setAudioWaveform(std::vector<double> value) { assign(m_audioWaveform, std::move(value), StoreField::audioWaveform); }
    const std::vector<double>& attackDetectionWaveform() const { return read(m_attackDetectionWaveform, StoreField::attackDetectionWaveform); }
    void setAttackDetectionWaveform(std::vector<double> value) { assign(m_attackDetectionWaveform, std::move(value), StoreField::attackDetectionWaveform); }
    const std::vector<double>& audioBeatTimes() const { return read(m_audioBeatTimes, StoreField::audioBeatTimes); }
    void setAudioBeatTimes(std::vector<double> value) { assign(m_audioBeatTimes, std::move(value), StoreField::audioBeatTimes); }
    const std::vector<BeatMarker>& audioBeatMarkers() const { return read(m_audioBeatMarkers, StoreField::audioBeatMarkers); }
    void setAudioBeatMarkers(std::vector<BeatMarker> value) { assign(m_audioBeatMarkers, std::move(value), StoreField::audioBeatMarkers); }
    const std::optional<double>& snappedBeatTime() const { return read(m_snappedBeatTime, StoreField::snappedBeatTime); }
    void setSnappedBeatTime(std::optional<double> value) { assign(m_snappedBeatTime, value, StoreField::snappedBeatTime); }
    bool isExporting() const { return read(m_isExporting, StoreField::isExporting); }
    void setIsExporting(bool value) { assign(m_isExporting, value, StoreField::isExporting); }
    double exportProgress() const { return read(m_exportProgress, StoreField::exportProgress); }
    void setExportProgress(double value) { assign(m_exportProgress, value, StoreField::exportProgress); }
    const std::string& exportMessage() const { return read(m_exportMessage, StoreField::exportMessage); }
    void setExportMessage(std::string value) { assign(m_exportMessage, std::move(value), StoreField::exportMessage); }
    const std::optional<std::filesystem::path>& currentProjectURL() const { return read(m_currentProjectURL, StoreField::currentProjectURL); }
    void setCurrentProjectURL(std::optional<std::filesystem::path> value) { assign(m_currentProjectURL, std::move(value), StoreField::currentProjectURL); }
    bool hasUnsavedChanges() const { return read(m_hasUnsavedChanges, StoreField::hasUnsavedChanges); }
    void setHasUnsavedChanges(bool value) { assign(m_hasUnsavedChanges, value, StoreField::hasUnsavedChanges); }
    bool isAnalyzingAudio() const { return read(m_isAnalyzingAudio, StoreField::isAnalyzingAudio); }
    void setIsAnalyzingAudio(bool value) { assign(m_isAnalyzingAudio, value, StoreField::isAnalyzingAudio); }
    const std::string& audioAnalysisStatusMessage() const { return read(m_audioAnalysisStatusMessage, StoreField::audioAnalysisStatusMessage); }
    void setAudioAnalysisStatusMessage(std::string value) { assign(m_audioAnalysisStatusMessage, std::move(value), StoreField::audioAnalysisStatusMessage); }
    bool isGeneratingLyrics() const { return read(m_isGeneratingLyrics, StoreField::isGeneratingLyrics); }
    void setIsGeneratingLyrics(bool value) { assign(m_isGeneratingLyrics, value, StoreField::isGeneratingLyrics); }
    bool isGeneratingCloudMusic() const { return read(m_isGeneratingCloudMusic, StoreField::isGeneratingCloudMusic); }
    void setIsGeneratingCloudMusic(bool value) { assign(m_isGeneratingCloudMusic, value, StoreField::isGeneratingCloudMusic); }
    const std::string& aiLyricsStatusMessage() const { return read(m_aiLyricsStatusMessage, StoreField::aiLyricsStatusMessage); }
    void setAiLyricsStatusMessage(std::string value) { assign(m_aiLyricsStatusMessage, std::move(value), StoreField::aiLyricsStatusMessage); }
    const std::optional<AutoBeatInstrument>& playingInstrumentPreview() const { return read(m_playingInstrumentPreview, StoreField::playingInstrumentPreview); }
    void setPlayingInstrumentPreview(std::optional<AutoBeatInstrument> value) { assign(m_playingInstrumentPreview, value, StoreField::playingInstrumentPreview); }
    bool isMainAudioMuted() const { return read(m_isMainAudioMuted, StoreField::isMainAudioMuted); }
    void setIsMainAudioMuted(bool value) { assign(m_isMainAudioMuted, value, StoreField::isMainAudioMuted); }
    bool isMainAudioSoloed() const { return read(m_isMainAudioSoloed, StoreField::isMainAudioSoloed); }
    void setIsMainAudioSoloed(bool value) { assign(m_isMainAudioSoloed, value, StoreField::isMainAudioSoloed); }
    const std::optional<AutoBeatInstrument>& soloTimelineInstrument() const { return read(m_soloTimelineInstrument, StoreField::soloTimelineInstrument); }
    void setSoloTimelineInstrument(std::optional<AutoBeatInstrument> value) { assign(m_soloTimelineInstrument, value, StoreField::soloTimelineInstrument); }
    const std::set<AutoBeatInstrument>& audibleTimelineInstruments() const { return read(m_audibleTimelineInstruments, StoreField::audibleTimelineInstruments); }
    void setAudibleTimelineInstruments(std::set<AutoBeatInstrument> value) { assign(m_audibleTimelineInstruments, std::move(value), StoreField::audibleTimelineInstruments); }
    const std::set<AutoBeatInstrument>& visibleStemWaveformInstruments() const { return read(m_visibleStemWaveformInstruments, StoreField::visibleStemWaveformInstruments); }
    void setVisibleStemWaveformInstruments(std::set<AutoBeatInstrument> value) { assign(m_visibleStemWaveformInstruments, std::move(value), StoreField::visibleStemWaveformInstruments); }
    bool isAttackWaveformEnabled() const { return read(m_isAttackWaveformEnabled, StoreField::isAttackWaveformEnabled); }
    void setIsAttackWaveformEnabled(bool value) { assign(m_isAttackWaveformEnabled, value, StoreField::isAttackWaveformEnabled); }
    const std::vector<BeatMarker>& attackBeatMarkers() const { return read(m_attackBeatMarkers, StoreField::attackBeatMarkers); }
    void setAttackBeatMarkers(std::vector<BeatMarker> value) { assign(m_attackBeatMarkers, std::move(value), StoreField::attackBeatMarkers); }
    const std::optional<Uuid>& selectedBeatMarkerID() const { return read(m_selectedBeatMarkerID, StoreField::selectedBeatMarkerID); }
    void setSelectedBeatMarkerID(std::optional<Uuid> value) { assign(m_selectedBeatMarkerID, value, StoreField::selectedBeatMarkerID); }
    double totalDuration() const { return read(m_totalDuration, StoreField::totalDuration); }
    void setTotalDuration(double value) { assign(m_totalDuration, value, StoreField::totalDuration); }
    std::int64_t previewCacheRevision() const { return read(m_previewCacheRevision, StoreField::previewCacheRevision); }
    void setPreviewCacheRevision(std::int64_t value) { assign(m_previewCacheRevision, value, StoreField::previewCacheRevision); }
    double timelineZoom() const { return read(m_timelineZoom, StoreField::timelineZoom); }
    void setTimelineZoomValue(double value) { assign(m_timelineZoom, value, StoreField::timelineZoom); }
    std::int64_t timelineZoomFocusRevision() const { return read(m_timelineZoomFocusRevision, StoreField::timelineZoomFocusRevision); }
    void setTimelineZoomFocusRevision(std::int64_t value) { assign(m_timelineZoomFocusRevision, value, StoreField::timelineZoomFocusRevision); }
    bool showInterfaceTooltips() const { return read(m_showInterfaceTooltips, StoreField::showInterfaceTooltips); }
    void setShowInterfaceTooltipsValue(bool value) { assign(m_showInterfaceTooltips, value, StoreField::showInterfaceTooltips); }
    AppLanguage appLanguage() const { return read(m_appLanguage, StoreField::appLanguage); }
    void setAppLanguageValue(AppLanguage value) { assign(m_appLanguage, value, StoreField::appLanguage); }
    bool isEditingBeatMarker() const { return read(m_isEditingBeatMarker, StoreField::isEditingBeatMarker); }
    void setIsEditingBeatMarker(bool value) { assign(m_isEditingBeatMarker, value, StoreField::isEditingBeatMarker); }
    std::int64_t playbackClockRevision() const { return read(m_playbackClockRevision, StoreField::playbackClockRevision); }
    void setPlaybackClockRevision(std::int64_t value) { assign(m_playbackClockRevision, value, StoreField::playbackClockRevision); }
    double playbackClockAnchorTime() const { return read(m_playbackClockAnchorTime, StoreField::playbackClockAnchorTime); }
    void setPlaybackClockAnchorTime(double value) { assign(m_playbackClockAnchorTime, value, StoreField::playbackClockAnchorTime); }
    bool isNewProjectDialogPresented() const { return read(m_isNewProjectDialogPresented, StoreField::isNewProjectDialogPresented); }
    void setIsNewProjectDialogPresented(bool value) { assign(m_isNewProjectDialogPresented, value, StoreField::isNewProjectDialogPresented); }
    const std::optional<RecentProject>& recentProjectPendingDeletion() const { return read(m_recentProjectPendingDeletion, StoreField::recentProjectPendingDeletion); }
    void setRecentProjectPendingDeletion(std::optional<RecentProject> value) { assign(m_recentProjectPendingDeletion, std::move(value), StoreField::recentProjectPendingDeletion); }
    const std::optional<std::int64_t>& manualBeatMarkerDeletionCount() const { return read(m_manualBeatMarkerDeletionCount, StoreField::manualBeatMarkerDeletionCount); }
    void setManualBeatMarkerDeletionCount(std::optional<std::int64_t> value) { assign(m_manualBeatMarkerDeletionCount, value, StoreField::manualBeatMarkerDeletionCount); }

    // --- Internal state that views never observe -----------------------------------
    const std::vector<ProjectUndoSnapshot>& undoStack() const { assertMainThread(); return m_undoStack; }
    AudioPlaybackController& audioPlayback() { assertMainThread(); return m_audioPlayback; }
    bool hasPendingAutosave() const;

    // --- Derived state ----------------------------------------------------------------
    bool hasOpenProject() const;
    std::optional<Slide> selectedSlide() const;
    std::optional<Slide> previewSlide() const;
    std::optional<Slide> slide(double time) const;
    std::vector<Slide> selectedTimelineSlides() const;
    std::vector<Slide> editableSlides() const;
    // Rebuilt only when something that feeds it changed; the reference stays valid until
    // the next change of the store.
    const TimelineDerivedData& timelineDerivedData() const;
    const std::vector<BeatMarker>& autoSyncBeatMarkers() const;
    std::optional<BeatMarker> selectedBeatMarker() const;
    std::int64_t manualBeatMarkerCount() const;
    bool hasSurplusPhotosForAudioCut() const;
    std::int64_t autoBeatRequiredPhotoCount() const;
    std::optional<double> audioCutTime() const;
    bool isSeparatingInstrumentStems() const;
    bool isPreparingInstrumentAnalysis() const;
    std::string aiMusicStylePrompt() const;
    std::string aiMusicRequestedStyle() const;
    std::optional<std::filesystem::path> instrumentPreviewURL(AutoBeatInstrument instrument) const;
    std::optional<Slide> initialTitleSlide() const;
    std::optional<Slide> finalTitleSlide() const;
    std::optional<Slide> firstContentSlide() const;
    std::optional<Slide> lastContentSlide() const;
    bool hasInitialTitleScreen() const;
    bool hasFinalTitleScreen() const;

    // --- Undo and shared routines -------------------------------------------------------
    void registerUndoStep();
    ProjectUndoSnapshot makeUndoSnapshot() const;
    // Plays one instrument's audio (its filtered preview or its stem) alone, from the playhead,
    // or from its start when the playhead lies past its end; the preview playback stops first.
    // Nothing happens when the instrument has no file that plays. Ends by itself at the end.
    void startInstrumentPreview(AutoBeatInstrument instrument);
    void stopInstrumentPreview();
    void syncVisibleStemWaveformsWithSelectedInstrumentsIfNeeded();
    void syncBeatTimesFromMarkers();
    void recalculateTotalDuration();
    void discardInvalidBeatMarkerSelection();

    // --- Saving -------------------------------------------------------------------------
    void saveCurrentProjectSilentlyIfPossible();
    void saveCurrentProjectImmediatelyIfPossible();
    // Asks the interface for a folder (a modal folder panel starting at the given folder,
    // its confirm button labelled as given); none when the user cancelled.
    using FolderChooser = std::function<std::optional<std::filesystem::path>(const std::filesystem::path& start,
                                                                             const std::string& confirmLabel)>;
    void chooseDefaultProjectDirectory(const FolderChooser& chooseFolder);
    void remember(const std::string& projectName, const std::filesystem::path& projectURL);

    void clearPreviewImageCache();

    // --- Markers and placement ------------------------------------------------------------
    void restoreAttackBeatMarkers();
    void autoSyncSlidesToBeatTimes();

    // --- Shared value rules ---------------------------------------------------------------
    static std::string normalizedProjectName(std::string_view name);
    static std::vector<double> beatBoundaries(std::int64_t slideCount, double duration,
                                              const std::vector<BeatMarker>& markers);

    // --- Editing: projects, photos and song ---
    void createProject(const std::string& name);
    // The files the user chose in the photo panel, in the panel's order; an empty list is
    // a cancelled panel.
    void importPhotos(const std::vector<std::filesystem::path>& urls);
    void normalizeSlideOrder();
    TimelineTitleAnchors timelineTitleAnchorsBeforeOrderChange() const;
    void restoreTimelineTitleAnchorsAfterOrderChange(const TimelineTitleAnchors& anchors);
    void generatePreviewCache(const std::vector<Slide>& slides);
    // The file the user chose in the song panel; none is a cancelled panel. True when a
    // song was installed.
    bool importAudio(const std::optional<std::filesystem::path>& url);
    void setAudio(const std::filesystem::path& url, SyncMode syncMode, std::set<AutoBeatInstrument> instruments,
                  std::set<BeatKind> targets, bool preserveAIMusic);
    void prepareAudioPlayerIfNeeded();
    void undoLastStep();

    // --- Editing: slides ---
    void deleteSelectedSlide();
    // By value: the id may come from the slide list this replaces.
    void moveSlide(Uuid id, std::int64_t insertionIndex);
    void setFillPhotosToScreen(bool value);
    void setBackgroundColor(const QColor& color);
    void applyDurationToEditableSlides(double duration);
    void resizeSlideDuration(const Uuid& id, ResizeEdge edge, double delta);
    // Set by the first step of an edge drag; the timeline clears it when the drag ends.
    bool pendingTimelineResizeUndo() const { assertMainThread(); return m_pendingTimelineResizeUndo; }
    void setPendingTimelineResizeUndo(bool value) { assertMainThread(); m_pendingTimelineResizeUndo = value; }
    void applyTransitionToAllSlides(SlideTransition transition);
    void stepSelectedSlide(std::int64_t step);
    double previewProgress(const Uuid& slideID) const;
    void setKenBurnsEnabled(bool enabled);
    void setKenBurnsZoomAmount(double amount);
    void setKenBurnsMovementAmount(double amount);
    void adjustSelectedSlideReframe(double scaleDelta, double offsetDeltaX, double offsetDeltaY);
    void resetSelectedSlideReframe();

    // --- Editing: title screens ---
    void setTitleScreenMode(TitleSlidePlacement placement, bool useGeneratedSlide);
    void disableTitleScreen(TitleSlidePlacement placement);
    void updateSlideTitle(const std::optional<Uuid>& id, const std::function<void(Slide&)>& change);
    void setSlideTitlePosition(const Uuid& id, double x, double y);

    // --- Editing: timeline ---
    void setTimelineZoom(double zoom);
    void fitAudioTimeline(double width);
    void deleteActiveTimelineSelection();
    // Shift extends a range from the anchor; Control (the platform's Command) toggles one slide.
    void selectTimelineSlide(const Uuid& id, Qt::KeyboardModifiers modifiers);
    void selectOnlyTimelineSlide(const Uuid& id);
    void selectAllTimelineSlides();
    std::optional<Uuid> timelineAnchorID() const { assertMainThread(); return m_timelineAnchorID; }

    // --- Music: synchronisation settings ---
    void setSyncMode(SyncMode mode);
    // Live value while the slider moves: no undo step, no detection.
    void previewBeatSensitivity(double value);
    void setBeatSensitivity(double value);
    void setAutoBeatMinimumMarkerSpacing(double seconds);
    void setAutoBeatInstrumentsEnabled(bool enabled);
    void setAutoBeatInstrument(AutoBeatInstrument instrument, bool enabled);
    void setAttackWaveformEnabled(bool enabled);
    void setCutAudioToSlideshowDuration(bool enabled);
    void normalizeCutAudioToSlideshowDurationIfNeeded();
    void setCutAudioFadeOutDuration(double seconds);
    void placeSlidesOnManualBeatMarkers();

    // --- Music: marker editing ---
    void selectBeatMarker(std::optional<Uuid> id);
    void addManualBeatMarker(double time);
    // The add-marker button and shortcut: a manual marker where the playhead is now.
    void addManualBeatMarkerAtPlaybackTime();
    // One drag step; the first step of a drag records the undo step.
    void moveBeatMarker(const Uuid& id, double time);
    void commitPendingBeatMarkerMove();
    bool pendingBeatMarkerMoveUndo() const { assertMainThread(); return m_pendingBeatMarkerMoveUndo; }
    // The timeline clears it when a marker drag ends.
    void setPendingBeatMarkerMoveUndo(bool value) { assertMainThread(); m_pendingBeatMarkerMoveUndo = value; }
    void disableBeatMarker(const Uuid& id);
    void toggleBeatMarkerEnabled(const Uuid& id);
    void confirmDeleteManualBeatMarkers();

    // --- Music: preview playback ---
    void startPreview();
    void stopPreview();
    double currentPlaybackClockTime() const;
    void resetPlaybackClock(double anchorTime);
    void seekPreview(double time);
    // Where playback stops: the song cut, else the longer of song and slideshow.
    double playbackEndTime() const;

    // --- Music: instrument audio and settings ---
    bool canPreviewInstrument(AutoBeatInstrument instrument) const;
    void toggleMainAudioMute();
    void soloMainTimelineAudio();
    void toggleTimelineInstrumentAudio(AutoBeatInstrument instrument);
    void soloTimelineInstrumentAudio(AutoBeatInstrument instrument);
    void setShowInterfaceTooltips(bool shown);
    void setAppLanguage(AppLanguage language);

    // --- Opening and packaging ---
    // The dialogs of the operations below; the interface sets them once.
    StoreDialogs& dialogs() { assertMainThread(); return m_dialogs; }
    // The open panel, then the chosen project (a folder gives the project file inside it).
    void openProject();
    // Replaces the open project with the one in the file. A file that cannot be read is
    // shown in the error alert and leaves the open project as it was. True when loaded.
    bool loadProject(const std::filesystem::path& url);
    // The save panel, then a self-contained copy of the open project in the chosen folder.
    void packageProject();
    bool packageProject(const std::filesystem::path& destination);
    // The "Previews" folder beside the project file (or where a new project's file would be).
    std::filesystem::path previewCacheDirectory() const;

    // --- Export ---
    // The save panel for the video; none while an export runs or when cancelled.
    std::optional<std::filesystem::path> exportDestinationURL();
    // Exports the open project to the file, or beside it when a file is already there (an
    // existing file is never replaced). `finished` hears, on the main thread, true once the
    // MP4 stands there, false when the export failed or was cancelled, and false at once
    // when another export is running.
    void exportVideo(const std::filesystem::path& url, std::function<void(bool)> finished = {});
    // Stops the running export; nothing is written at its destination.
    void cancelExport();

    // --- Preview images ---
    // The slide's picture for the views: from memory when it was loaded before (then
    // `loaded` is called at once), else decoded off the main thread from the slide's preview
    // JPEG, or from its photo while the preview is not written yet. `loaded` runs on the main
    // thread with none when neither can be read, and not at all once the store is gone.
    // Views ask again when `previewCacheRevision` changes.
    void previewImage(const Slide& slide, std::function<void(std::optional<QImage>)> loaded);

    // --- AI music ---
    // The AI music settings of the project. Every setter marks the project changed and
    // schedules the silent save: typed texts must survive a quit.
    void ensureAIMusicSettings();
    void setAILyricsText(const std::string& text);
    void setAIMusicStylePrompt(const std::string& text);
    void setAIMusicSubjectName(const std::string& text);
    void setAIMusicRequestedStyle(const std::string& text);
    void setAIMusicGenerationNotes(const std::string& text);
    void setAIMusicWithVocals(bool withVocals);
    // The draft the music inspector opens around a generation, and the settings it puts back.
    void beginNewAIMusicDraft();
    void restoreAIMusicSettings(const std::optional<AIMusicSettings>& settings);
    bool isAIMusicGenerationDraftEmpty() const;
    // "AI/ContactSheets/slideshow-contact-sheet-cloud.jpg" beside the project file.
    std::filesystem::path aiCloudContactSheetURL() const;
    std::filesystem::path previewCacheURL(const Slide& slide) const;

    // The cloud requests and their answers. The contact sheet is drawn and a song is fetched
    // and stored off the main thread; `done` runs on the main thread with the result or the
    // error (an AccountError with the user's text, or the file, sheet or network error), and
    // not at all once the store is gone. An answer that arrives after another project was
    // opened is never applied to it.
    void makeCloudLyricsRequest(const std::string& operationId, bool styleOnly,
                                std::function<void(std::optional<CloudLyricsRequest>, std::exception_ptr)> done);
    // False (with the reason in `aiLyricsStatusMessage`) when the answer belongs to a project
    // that is no longer open. A long answer is worked out off the main thread and written a
    // moment later (to this project only).
    bool applyCloudLyricsResponse(const CloudLyricsResponse& response, bool styleOnly);
    // Throws AccountError.
    CloudMusicRequest makeCloudMusicRequest(const std::string& operationId);
    void installCloudGeneratedMusic(const CloudMusicResponse& response, std::function<void(std::exception_ptr)> done);
    // The client that fetches a song sent as an address; AccountAPI::shared() when unset.
    void setGeneratedAudioClient(std::shared_ptr<AccountAPI> client) { assertMainThread(); m_generatedAudioClient = std::move(client); }

private:
    // Tests reach the building blocks below through it.
    friend struct ProjectStoreTestAccess;

    // Building blocks of the store's own operations.
    // isUserEdit false: the markers come from an analysis, not from the user's hand.
    void storeBeatMarkers(std::vector<BeatMarker> markers, bool markDirty, bool isUserEdit = true);
    void regenerateAttackBeatMarkers();
    void persistInstrumentMarkerEdits(const AudioTrack& track, bool isUserEdit);
    // Stores an instrument's analysis variant and drops the least recently used ones.
    void storeInstrumentVariant(AudioTrack& song, AutoBeatInstrument instrument, const std::string& key,
                                AudioAnalysis analysis);
    double startTime(std::int64_t slideIndex) const;
    double snapTimelineEditTime(double time);

    void assertMainThread() const;
    void noteRead(StoreField field) const;
    void notify(StoreField field);

    template <class T> const T& read(const T& storage, StoreField field) const
    {
        noteRead(field);
        return storage;
    }
    template <class T> void assign(T& storage, T value, StoreField field)
    {
        assertMainThread();
        // A value equal by its own == (so NaN never is) is stored silently.
        const bool same = storage == value;
        storage = std::move(value);
        if (!same)
            notify(field);
    }

    void touchProject(bool markChanged);
    void saveCurrentProjectInBackgroundIfPossible();
    void stampProjectForSaving();
    // The files and folders a song refers to; the essential ones must exist before pruning.
    struct SongReferences {
        std::vector<std::filesystem::path> all;
        std::vector<std::filesystem::path> essential;
    };
    static SongReferences songReferences(const std::optional<AudioTrack>& audio);
    void finishSave(std::uint64_t sequence, std::uint64_t projectRevision, const std::string& projectName,
                    const std::filesystem::path& url, const SongReferences& savedSong, std::exception_ptr error);
    // The saved song's references: by the time a background write ends, another project
    // may be open.
    void pruneProjectAudioResourcesAfterDurableSave(const std::filesystem::path& projectURL,
                                                    const SongReferences& savedSong);
    void rebuildDerivedCacheIfNeeded() const;

    // Observed
    FotivelaProject m_project;
    std::vector<RecentProject> m_recentProjects;
    std::filesystem::path m_defaultProjectDirectory;
    AppRoute m_route = AppRoute::home;
    std::optional<Uuid> m_selectedSlideID;
    std::set<Uuid> m_timelineSelection;
    EditorTab m_activeTab = EditorTab::photos;
    double m_previewTime = 0;
    bool m_isPlaying = false;
    double m_audioDuration = 0;
    std::vector<double> m_audioWaveform;
    std::vector<double> m_attackDetectionWaveform;
    std::vector<double> m_audioBeatTimes;
    std::vector<BeatMarker> m_audioBeatMarkers;
    std::optional<double> m_snappedBeatTime;
    bool m_isExporting = false;
    double m_exportProgress = 0;
    std::string m_exportMessage;
    std::optional<std::filesystem::path> m_currentProjectURL;
    bool m_hasUnsavedChanges = false;
    bool m_isAnalyzingAudio = false;
    std::string m_audioAnalysisStatusMessage;
    bool m_isGeneratingLyrics = false;
    bool m_isGeneratingCloudMusic = false;
    std::string m_aiLyricsStatusMessage;
    std::optional<AutoBeatInstrument> m_playingInstrumentPreview;
    bool m_isMainAudioMuted = false;
    bool m_isMainAudioSoloed = false;
    std::optional<AutoBeatInstrument> m_soloTimelineInstrument;
    std::set<AutoBeatInstrument> m_audibleTimelineInstruments;
    std::set<AutoBeatInstrument> m_visibleStemWaveformInstruments;
    bool m_isAttackWaveformEnabled = false;
    std::vector<BeatMarker> m_attackBeatMarkers;
    std::optional<Uuid> m_selectedBeatMarkerID;
    double m_totalDuration = 0;
    std::int64_t m_previewCacheRevision = 0;
    double m_timelineZoom = 1.0;
    std::int64_t m_timelineZoomFocusRevision = 0;
    bool m_showInterfaceTooltips = true;
    AppLanguage m_appLanguage = AppLanguage::spanish;
    bool m_isEditingBeatMarker = false;
    std::int64_t m_playbackClockRevision = 0;
    double m_playbackClockAnchorTime = 0;
    bool m_isNewProjectDialogPresented = false;
    std::optional<RecentProject> m_recentProjectPendingDeletion;
    std::optional<std::int64_t> m_manualBeatMarkerDeletionCount;

    // Internal
    AudioPlaybackController m_audioPlayback;
    std::optional<Uuid> m_timelineAnchorID;
    std::unordered_map<Uuid, QImage> m_previewImageCache;
    std::vector<ProjectUndoSnapshot> m_undoStack;
    std::unique_ptr<QTimer> m_pendingAutosaveTask;
    // Declared after the timer, which its completions are posted to: it finishes its
    // writes before the timer goes.
    std::unique_ptr<ProjectFileWriter> m_fileWriter;
    // Raised by every change of the project: a save whose copy is older does not clear
    // the unsaved-changes flag.
    std::uint64_t m_projectRevision = 0;
    std::uint64_t m_saveSequence = 0;
    bool m_pendingTimelineResizeUndo = false;
    bool m_pendingBeatMarkerMoveUndo = false;
    std::optional<Uuid> m_pendingAttackMarkerOverrideID;
    std::optional<Clock::time_point> m_playbackClockAnchorDate;
    Clock::time_point m_lastPreviewPublishDate = Clock::time_point::min();
    std::set<std::string> m_failedStemSeparationSignatures;
    // Set while a per-instrument analysis runs; pruning waits for it, since its stems
    // are referred to by nothing until it ends.
    std::optional<Uuid> m_activeInstrumentAnalysisRunID;
    // The run an undo started to refill the analyses its light snapshot left out: the
    // markers it brought back are the ones the user had, moved markers included.
    std::optional<Uuid> m_undoRestoreAnalysisRunID;
    // Keys of the song's analysis variants in the order they were last used, oldest first.
    std::vector<std::string> m_recentAnalysisVariants;

    // Notification channel
    std::map<ObserverID, Observer> m_observers;
    ObserverID m_nextObserverID = 1;
    mutable ReadTracking* m_readTracking = nullptr;
    // Raised by every change of a property that feeds the timeline's derived data; the
    // derived cache is valid for one value of it.
    std::uint64_t m_derivedInputsGeneration = 0;

    struct DerivedCache;
    mutable std::unique_ptr<DerivedCache> m_derivedCache;

    // --- Editing: private building blocks ---
    friend struct ProjectStoreEditTestAccess;
    float mainAudioVolume(double time) const;
    void alignSlidesAfterTimelineOrderChangeIfNeeded(const std::optional<TimelineTitleAnchors>& titleAnchors);
    void resizeSlideBoundary(std::size_t index, ResizeEdge edge, double delta);
    double startTime(const Uuid& slideID) const;
    void selectTimelineRange(const Uuid& id, bool extending);
    void enableExistingTitleScreen(TitleSlidePlacement placement);
    Slide makeGeneratedTitleSlide(const std::string& title, TitleSlidePlacement placement);
    void clearTitle(const Uuid& slideID);
    void finishTitleScreenChange();
    void markProjectChangedAndSave();
    // Stops the song's analysis runs when the song is replaced or restored; a run stopped
    // here never delivers, so its busy flag and status text go with it.
    void cancelSongAnalysisTasks(bool includingWaveform);

    std::optional<TaskHandle> m_previewGenerationTask;

    // --- Music: analysis tasks ---
    friend struct ProjectStoreMusicTestAccess;
    struct InstrumentAnalysisRun;
    struct InstrumentAnalysisResult;
    void analyzeWaveformAsync(const std::filesystem::path& url, bool markDirtyOnCompletion);
    void applyWaveformAnalysis(const std::filesystem::path& url, bool markDirtyOnCompletion,
                               std::vector<double> display, std::vector<double> detection, double decodedDuration);
    // A song whose curves came from the project file: its length is decoded once more,
    // since the file's header only estimates it.
    void measureSongLengthAsync(const std::filesystem::path& url);
    // The decoded length replaces the header's in the player and in audioDuration.
    // True when it changed.
    bool correctAudioDuration(const std::filesystem::path& url, double decodedDuration);
    void loadInstrumentAnalysisOrAnalyze(bool markDirtyOnCompletion);
    void startStemTimeEstimate(double audioDuration);
    void cancelStemTimeEstimate();
    bool loadInstrumentAnalysisIfAvailable(const AudioTrack& track);
    void analyzeInstrumentAudioAsync(bool markDirtyOnCompletion, bool useCache);
    void applyInstrumentAnalysisResult(const InstrumentAnalysisRun& run, InstrumentAnalysisResult result);
    void finishInstrumentAnalysisRun(const Uuid& runID);
    // For settings that make a running analysis's result wrong: it is never applied.
    void cancelInstrumentAnalysisRun();
    // Cancels the run's task (its separation stops within a second); `forget` drops the handle.
    void stopInstrumentAnalysisTask(bool forget);
    // The worker's part: touches only the run's copies, never the store.
    static InstrumentAnalysisResult analyzeInstruments(const InstrumentAnalysisRun& run, std::stop_token stop);
    bool hasMemoryForInstrumentAnalysis() const;
    // Background results hold it weakly: a store that is gone takes nothing.
    std::shared_ptr<ProjectStore*> m_lifetime = std::make_shared<ProjectStore*>(this);
    std::optional<TaskHandle> m_audioWaveformTask;
    std::optional<TaskHandle> m_audioAnalysisTask;
    std::unique_ptr<QTimer> m_stemEstimateTask;
    StemSourcePreparer m_stemSourcePreparer = StemSourcePreparation::prepareWithRuntime;
    std::function<std::uint64_t()> m_physicalMemoryBytes = StemSourcePreparation::physicalMemoryBytes;

    // --- Music: synchronisation settings ---
    void removeAutomaticAudioBeatMarkers();
    void reapplyMinimumMarkerSpacingToCurrentMarkers();
    // After instrument markers were joined anew: when they are the ones the song already
    // held, the song's list stands as saved (enabled states, start and end markers);
    // otherwise the minimum interval is applied across the joined list. With
    // `keepsMovedMarkers` the saved list also stands when it holds the same hits, some of
    // them moved by the user. True when the list that stands differs from the joined one.
    bool settleJoinedInstrumentMarkers(const std::vector<BeatMarker>& saved, bool keepsMovedMarkers = false);
    // The attack flag lives twice: in the store and in the song.
    void setAttackFlag(bool enabled);
    // The song's sensitivity before the slider started moving: the undo step of the final
    // value must bring that one back, not the last live value.
    std::optional<double> m_sensitivityBeforePreview;

    // --- Music: marker editing ---
    double clampedNewManualBeatMarkerTime(double proposedTime) const;
    double clampedBeatMarkerMoveTime(const Uuid& id, double proposedTime) const;
    void persistAttackMarkerOverride(const BeatMarker& marker);
    void finishBeatMarkerEdit();

    // --- Music: preview playback ---
    void publishPreviewTime(bool force);
    double seekTimelineTransport(double time);
    void applyMainAudioVolume(double time);
    std::unique_ptr<QTimer> m_previewTask;

    // --- Music: instrument audio ---
    void stopTimelineInstrumentAudio(AutoBeatInstrument instrument);
    std::unique_ptr<AudioPlayer> m_instrumentPreviewPlayer;
    // Watches the preview player and ends the preview when its file has played out.
    std::unique_ptr<QTimer> m_instrumentPreviewTask;

    // --- Opening and packaging ---
    void normalizeAutoBeatSourceSelection();
    void resolveMissingAssetsIfNeeded();
    std::optional<std::filesystem::path> chooseRelinkDirectory();
    // Leaves the open project cleanly before another replaces it: its sound stops, its
    // analyses are dropped and its unsaved edits reach its own file.
    void closeCurrentProjectForLoad();
    std::filesystem::path projectFileLocation() const;
    void showError(const std::string& message);
    StoreDialogs m_dialogs;

    // --- Export ---
    friend struct ProjectStoreExportTestAccess;
    std::filesystem::path resolvedExportURL(const std::filesystem::path& url) const;
    FotivelaProject projectPreparedForExport() const;
    static void writeProjectExportDebugManifest(const FotivelaProject& project, const std::filesystem::path& outputURL);
    void finishExport(std::uint64_t run, const std::filesystem::path& destination, std::exception_ptr error,
                      const std::function<void(bool)>& finished);
    std::uint64_t m_exportRun = 0;
    // A store that goes away stops its export: nobody is left to hear of it.
    struct ExportCancellation {
        std::shared_ptr<std::stop_source> source;
        ~ExportCancellation()
        {
            if (source)
                source->request_stop();
        }
    };
    ExportCancellation m_exportCancellation;

    // --- AI music ---
    friend struct ProjectStoreAIMusicTestAccess;
    // The project an AI answer was asked for: its identity and its file.
    struct AIMusicOrigin {
        Uuid projectID;
        std::optional<std::filesystem::path> projectURL;
        bool operator==(const AIMusicOrigin&) const = default;
    };
    AIMusicOrigin currentAIMusicOrigin() const;
    void changeAIMusicSettings(const std::function<void(AIMusicSettings&)>& change);
    std::string generatedCloudMusicFileName(const CloudMusicResponse& response, const std::string& fallbackName) const;
    void finishCloudMusicInstall(const AIMusicOrigin& origin, const std::filesystem::path& storedURL);
    // The texts of a lyrics answer, worked out: written into the settings, marked changed, saved.
    void applyAIMusicTexts(const std::string& lyrics, const std::optional<std::string>& stylePrompt);
    std::optional<AIMusicOrigin> m_aiLyricsRequestOrigin;
    std::shared_ptr<AccountAPI> m_generatedAudioClient;
};

} // namespace fotivela
