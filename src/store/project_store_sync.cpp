#include "store/project_store.h"

#include "analysis/beat_marker_detector.h"
#include "platform/log.h"
#include "store/instrument_marker_joining.h"
#include "store/project_store_helpers.h"

#include <algorithm>
#include <utility>

namespace fotivela {

namespace {

constexpr double activeMarkerMinimumTime = 0.05;

// Lower bound first, then upper: a value that is not a number becomes the lower bound.
double clamped(double value, double lower, double upper)
{
    return std::min(std::max(lower, value), upper);
}

double clampedSpacing(double value)
{
    return clamped(value, 0.08, 2.0);
}

std::set<AutoBeatInstrument> stemInstruments(const std::set<AutoBeatInstrument>& instruments)
{
    std::set<AutoBeatInstrument> result;
    for (AutoBeatInstrument instrument : instruments) {
        if (demucsStemInstrumentSet().contains(instrument))
            result.insert(instrument);
    }
    return result;
}

std::string joinedStoredNames(const std::set<AutoBeatInstrument>& instruments)
{
    std::string text;
    for (AutoBeatInstrument instrument : instruments) {
        if (!text.empty())
            text += ",";
        text += toStored(instrument);
    }
    return text;
}

} // namespace

void ProjectStore::setAttackFlag(bool enabled)
{
    setIsAttackWaveformEnabled(enabled);
    if (project().audio && project().audio->isAttackWaveformEnabled != enabled)
        modifyProject([enabled](FotivelaProject& project) { project.audio->isAttackWaveformEnabled = enabled; });
}

void ProjectStore::setSyncMode(SyncMode mode)
{
    assertMainThread();
    if (!project().audio)
        return;
    registerUndoStep();
    modifyProject([mode](FotivelaProject& project) { project.audio->syncMode = mode; });
    if (mode == SyncMode::manual) {
        setAttackFlag(false);
        setAttackBeatMarkers({});
        syncBeatTimesFromMarkers();
    } else {
        cancelInstrumentAnalysisRun();
        setAttackFlag(true);
        modifyProject([](FotivelaProject& project) { project.audio->autoBeatInstruments.clear(); });
        removeAutomaticAudioBeatMarkers();
        if (audioWaveform().empty())
            analyzeWaveformAsync(project().audio->url, true);
        else
            regenerateAttackBeatMarkers();
        autoSyncSlidesToBeatTimes();
    }
    discardInvalidBeatMarkerSelection();
    touchProject(true);
    // Nothing runs at quit: a changed project must reach the file.
    saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::previewBeatSensitivity(double value)
{
    assertMainThread();
    if (!project().audio)
        return;
    const double sensitivity = clamped(value, -1.5, 1.5);
    if (!m_sensitivityBeforePreview)
        m_sensitivityBeforePreview = project().audio->beatSensitivity;
    if (project().audio->beatSensitivity != sensitivity)
        modifyProject([sensitivity](FotivelaProject& project) { project.audio->beatSensitivity = sensitivity; });
}

void ProjectStore::setBeatSensitivity(double value)
{
    assertMainThread();
    if (!project().audio)
        return;
    if (const std::optional<double> before = std::exchange(m_sensitivityBeforePreview, std::nullopt)) {
        modifyProject([&](FotivelaProject& project) { project.audio->beatSensitivity = *before; });
    }
    registerUndoStep();
    const double sensitivity = clamped(value, -1.5, 1.5);
    modifyProject([sensitivity](FotivelaProject& project) { project.audio->beatSensitivity = sensitivity; });
    regenerateAttackBeatMarkers();
    const AudioTrack& song = *project().audio;
    if (song.syncMode != SyncMode::autoBeatV2) {
        touchProject(true);
        saveCurrentProjectSilentlyIfPossible();
        return;
    }
    if (!song.autoBeatInstruments.empty()) {
        loadInstrumentAnalysisOrAnalyze(true);
        return;
    }
    syncBeatTimesFromMarkers();
    autoSyncSlidesToBeatTimes();
    saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::setAutoBeatMinimumMarkerSpacing(double seconds)
{
    assertMainThread();
    if (!project().audio)
        return;
    registerUndoStep();
    const double spacing = clampedSpacing(seconds);
    modifyProject([spacing](FotivelaProject& project) { project.audio->autoBeatMinimumMarkerSpacing = spacing; });
    if (isAttackWaveformEnabled())
        regenerateAttackBeatMarkers();
    else
        reapplyMinimumMarkerSpacingToCurrentMarkers();
    syncBeatTimesFromMarkers();
    if (project().audio->syncMode == SyncMode::autoBeatV2)
        autoSyncSlidesToBeatTimes();
    touchProject(true);
    saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::reapplyMinimumMarkerSpacingToCurrentMarkers()
{
    assertMainThread();
    if (!project().audio)
        return;
    // The interval holds across every instrument at once, manual markers first: it is
    // the interval between the cuts.
    const double spacing = clampedSpacing(project().audio->autoBeatMinimumMarkerSpacing);
    std::vector<BeatMarker> automatic;
    std::vector<BeatMarker> manual;
    for (const BeatMarker& marker : InstrumentMarkerJoining::spacedAcrossInstruments(audioBeatMarkers(), spacing))
        (marker.isManual ? manual : automatic).push_back(marker);
    std::vector<BeatMarker> merged = BeatMarkerDetector::mergedMarkers({automatic, manual});
    sortMarkersByTime(merged);
    setAudioBeatMarkers(merged);
    modifyProject([&](FotivelaProject& project) { project.audio->beatMarkers = std::move(merged); });
    syncBeatTimesFromMarkers();
    discardInvalidBeatMarkerSelection();
}

bool ProjectStore::settleJoinedInstrumentMarkers(const std::vector<BeatMarker>& saved, bool keepsMovedMarkers)
{
    assertMainThread();
    if (!project().audio)
        return false;
    const bool same = InstrumentMarkerJoining::haveSameInstrumentMarkers(saved, audioBeatMarkers());
    if (!same && !(keepsMovedMarkers && InstrumentMarkerJoining::haveSameInstrumentHits(saved, audioBeatMarkers()))) {
        reapplyMinimumMarkerSpacingToCurrentMarkers();
        return false;
    }
    std::vector<BeatMarker> kept = saved;
    sortMarkersByTime(kept);
    setAudioBeatMarkers(kept);
    modifyProject([&](FotivelaProject& project) { project.audio->beatMarkers = std::move(kept); });
    syncBeatTimesFromMarkers();
    discardInvalidBeatMarkerSelection();
    return !same;
}

void ProjectStore::removeAutomaticAudioBeatMarkers()
{
    assertMainThread();
    std::vector<BeatMarker> fromStore;
    for (const BeatMarker& marker : audioBeatMarkers()) {
        if (marker.isManual)
            fromStore.push_back(marker);
    }
    std::vector<BeatMarker> fromTrack;
    if (project().audio) {
        for (const BeatMarker& marker : project().audio->beatMarkers) {
            if (marker.isManual)
                fromTrack.push_back(marker);
        }
    }
    std::vector<BeatMarker> merged = BeatMarkerDetector::mergedMarkers({fromStore, fromTrack});
    sortMarkersByTime(merged);
    setAudioBeatMarkers(merged);
    if (project().audio)
        modifyProject([&](FotivelaProject& project) { project.audio->beatMarkers = std::move(merged); });
    discardInvalidBeatMarkerSelection();
}

void ProjectStore::setAutoBeatInstrumentsEnabled(bool enabled)
{
    assertMainThread();
    logLine(std::string("Fotivela instruments toggle requested: enabled=") + (enabled ? "true" : "false"));
    if (!project().audio)
        return;
    if (!enabled) {
        registerUndoStep();
        cancelInstrumentAnalysisRun();
        stopInstrumentPreview();
        modifyProject([](FotivelaProject& project) { project.audio->autoBeatInstruments.clear(); });
        setVisibleStemWaveformInstruments({});
        removeAutomaticAudioBeatMarkers();
        setAttackFlag(true);
        regenerateAttackBeatMarkers();
        syncBeatTimesFromMarkers();
        if (project().audio->syncMode == SyncMode::autoBeatV2)
            autoSyncSlidesToBeatTimes();
        touchProject(true);
        saveCurrentProjectSilentlyIfPossible();
        return;
    }
    if (!hasMemoryForInstrumentAnalysis()) {
        cancelInstrumentAnalysisRun();
        setAttackFlag(true);
        modifyProject([](FotivelaProject& project) { project.audio->autoBeatInstruments.clear(); });
        setVisibleStemWaveformInstruments({});
        setAudioAnalysisStatusMessage("No dispones de los requisitos mínimos para esta función");
        regenerateAttackBeatMarkers();
        syncBeatTimesFromMarkers();
        if (project().audio->syncMode == SyncMode::autoBeatV2)
            autoSyncSlidesToBeatTimes();
        saveCurrentProjectSilentlyIfPossible();
        return;
    }
    registerUndoStep();
    setAttackFlag(false);
    setAttackBeatMarkers({});
    if (stemInstruments(project().audio->autoBeatInstruments).empty()) {
        modifyProject([](FotivelaProject& project) {
            project.audio->autoBeatInstruments = {AutoBeatInstrument::drums};
            project.audio->beatDetectionFocus = fallbackDetectionFocus({AutoBeatInstrument::drums});
        });
    }
    setVisibleStemWaveformInstruments(stemInstruments(project().audio->autoBeatInstruments));
    setIsAnalyzingAudio(true);
    setAudioAnalysisStatusMessage(project().audio->stemSeparation.engine == StemSeparationEngine::demucs
                                      ? "Analizando instrumentos..."
                                      : "Separando instrumentos...");
    logLine("Fotivela instruments analysis starting: selected=" + joinedStoredNames(visibleStemWaveformInstruments()));
    loadInstrumentAnalysisOrAnalyze(true);
}

void ProjectStore::setAutoBeatInstrument(AutoBeatInstrument instrument, bool enabled)
{
    assertMainThread();
    if (!project().audio || !hasMemoryForInstrumentAnalysis() || !demucsStemInstrumentSet().contains(instrument))
        return;
    registerUndoStep();
    std::set<AutoBeatInstrument> selection = stemInstruments(project().audio->autoBeatInstruments);
    std::set<AutoBeatInstrument> visible = visibleStemWaveformInstruments();
    if (!enabled) {
        selection.erase(instrument);
        visible.erase(instrument);
        setVisibleStemWaveformInstruments(visible);
        stopTimelineInstrumentAudio(instrument);
    } else {
        selection.insert(instrument);
        visible.insert(instrument);
        setVisibleStemWaveformInstruments(visible);
        setAttackFlag(false);
        setAttackBeatMarkers({});
    }
    if (selection.empty() && !isAttackWaveformEnabled()) {
        selection = {AutoBeatInstrument::drums};
        visible = {AutoBeatInstrument::drums};
    }
    std::set<AutoBeatInstrument> shown;
    for (AutoBeatInstrument i : visible) {
        if (selection.contains(i))
            shown.insert(i);
    }
    modifyProject([&](FotivelaProject& project) {
        project.audio->autoBeatInstruments = selection;
        project.audio->beatDetectionFocus = fallbackDetectionFocus(selection);
    });
    setVisibleStemWaveformInstruments(shown);
    if (!selection.empty()) {
        loadInstrumentAnalysisOrAnalyze(true);
        return;
    }
    syncBeatTimesFromMarkers();
    if (project().audio->syncMode == SyncMode::autoBeatV2)
        autoSyncSlidesToBeatTimes();
    touchProject(true);
    saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::setAttackWaveformEnabled(bool enabled)
{
    assertMainThread();
    registerUndoStep();
    setAttackFlag(enabled);
    if (enabled) {
        cancelInstrumentAnalysisRun();
        stopInstrumentPreview();
        if (project().audio)
            modifyProject([](FotivelaProject& project) { project.audio->autoBeatInstruments.clear(); });
        setVisibleStemWaveformInstruments({});
        setAudibleTimelineInstruments({});
        setSoloTimelineInstrument(std::nullopt);
        m_audioPlayback.stopTimelinePlayers();
        removeAutomaticAudioBeatMarkers();
        regenerateAttackBeatMarkers();
    } else if (project().audio && project().audio->syncMode == SyncMode::autoBeatV2
               && stemInstruments(project().audio->autoBeatInstruments).empty()) {
        modifyProject([](FotivelaProject& project) {
            project.audio->autoBeatInstruments = {AutoBeatInstrument::drums};
            project.audio->beatDetectionFocus = fallbackDetectionFocus({AutoBeatInstrument::drums});
        });
        setVisibleStemWaveformInstruments({AutoBeatInstrument::drums});
        loadInstrumentAnalysisOrAnalyze(true);
    }
    syncBeatTimesFromMarkers();
    discardInvalidBeatMarkerSelection();
    if (project().audio && project().audio->syncMode == SyncMode::autoBeatV2)
        autoSyncSlidesToBeatTimes();
    touchProject(true);
    saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::setCutAudioToSlideshowDuration(bool enabled)
{
    assertMainThread();
    if (!project().audio)
        return;
    const bool value = enabled && !hasSurplusPhotosForAudioCut();
    if (value == project().audio->cutToSlideshowDuration)
        return;
    registerUndoStep();
    modifyProject([value](FotivelaProject& project) { project.audio->cutToSlideshowDuration = value; });
    touchProject(true);
    saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::normalizeCutAudioToSlideshowDurationIfNeeded()
{
    assertMainThread();
    if (!project().audio || !project().audio->cutToSlideshowDuration || !hasSurplusPhotosForAudioCut())
        return;
    modifyProject([](FotivelaProject& project) { project.audio->cutToSlideshowDuration = false; });
    touchProject(true);
    saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::setCutAudioFadeOutDuration(double seconds)
{
    assertMainThread();
    if (!project().audio)
        return;
    const double fade = clamped(seconds, 0.2, 12.0);
    modifyProject([fade](FotivelaProject& project) { project.audio->cutFadeOutDuration = fade; });
    touchProject(true);
    saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::placeSlidesOnManualBeatMarkers()
{
    assertMainThread();
    if (!project().audio || project().audio->syncMode != SyncMode::manual || project().slides.empty())
        return;
    std::vector<BeatMarker> candidates;
    for (const BeatMarker& marker : audioBeatMarkers()) {
        if (marker.isManual && marker.isEnabled && marker.time > activeMarkerMinimumTime)
            candidates.push_back(marker);
    }
    sortMarkersByTime(candidates);
    const std::vector<BeatMarker> markers = BeatMarkerDetector::uniquedBeatMarkers(
        candidates, clampedSpacing(project().audio->autoBeatMinimumMarkerSpacing));
    if (markers.empty())
        return;
    const double span = std::max({audioDuration(), totalDuration(), markers.back().time});
    const std::size_t count = project().slides.size();
    const std::vector<double> bounds = beatBoundaries(static_cast<std::int64_t>(count), span, markers);
    if (bounds.size() != count + 1)
        return;
    registerUndoStep();
    modifyProject([&](FotivelaProject& project) {
        for (std::size_t i = 0; i < count; ++i)
            project.slides[i].duration = std::max(0.05, bounds[i + 1] - bounds[i]);
    });
    recalculateTotalDuration();
    touchProject(true);
    saveCurrentProjectSilentlyIfPossible();
}

} // namespace fotivela
