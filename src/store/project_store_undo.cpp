#include "store/project_store.h"

#include <algorithm>

namespace fotivela {

ProjectUndoSnapshot ProjectStore::makeUndoSnapshot() const
{
    ProjectUndoSnapshot snapshot;
    snapshot.project = project().lightweightUndoCopy();
    snapshot.route = route();
    snapshot.selectedSlideID = selectedSlideID();
    snapshot.timelineSelection = timelineSelection();
    snapshot.activeTab = activeTab();
    snapshot.previewTime = previewTime();
    snapshot.playbackDuration = std::max(audioDuration(), totalDuration());
    snapshot.audioDuration = audioDuration();
    snapshot.audioWaveform = audioWaveform();
    snapshot.audioBeatTimes = audioBeatTimes();
    snapshot.audioBeatMarkers = audioBeatMarkers();
    snapshot.attackBeatMarkers = attackBeatMarkers();
    snapshot.isAttackWaveformEnabled = isAttackWaveformEnabled();
    snapshot.selectedBeatMarkerID = selectedBeatMarkerID();
    snapshot.totalDuration = totalDuration();
    snapshot.visibleStemWaveformInstruments = visibleStemWaveformInstruments();
    snapshot.currentProjectURL = currentProjectURL();
    return snapshot;
}

void ProjectStore::registerUndoStep()
{
    assertMainThread();
    ProjectUndoSnapshot snapshot = makeUndoSnapshot();
    if (!m_undoStack.empty() && m_undoStack.back() == snapshot)
        return;
    m_undoStack.push_back(std::move(snapshot));
    if (m_undoStack.size() > maximumUndoSteps)
        m_undoStack.erase(m_undoStack.begin(), m_undoStack.end() - static_cast<std::ptrdiff_t>(maximumUndoSteps));
}

void ProjectStore::syncVisibleStemWaveformsWithSelectedInstrumentsIfNeeded()
{
    assertMainThread();
    const std::optional<AudioTrack>& audio = project().audio;
    std::set<AutoBeatInstrument> stemInstruments;
    if (audio) {
        for (AutoBeatInstrument instrument : audio->autoBeatInstruments) {
            if (demucsStemInstrumentSet().contains(instrument))
                stemInstruments.insert(instrument);
        }
        if (audio->syncMode == SyncMode::autoBeatV2 && !audio->isAttackWaveformEnabled && !stemInstruments.empty()) {
            setVisibleStemWaveformInstruments(std::move(stemInstruments));
            return;
        }
    }
    // Emptying notifies even when the set was already empty: the views redraw their lanes.
    m_visibleStemWaveformInstruments.clear();
    notify(StoreField::visibleStemWaveformInstruments);
}

void ProjectStore::syncBeatTimesFromMarkers()
{
    std::vector<double> times;
    const std::vector<BeatMarker>& markers = autoSyncBeatMarkers();
    times.reserve(markers.size());
    for (const BeatMarker& marker : markers)
        times.push_back(marker.time);
    std::sort(times.begin(), times.end());
    setAudioBeatTimes(std::move(times));
}

void ProjectStore::recalculateTotalDuration()
{
    double total = 0;
    for (const Slide& slide : project().slides)
        total += slide.duration;
    setTotalDuration(total);
}

void ProjectStore::discardInvalidBeatMarkerSelection()
{
    const std::optional<Uuid>& id = selectedBeatMarkerID();
    if (!id)
        return;
    const std::vector<BeatMarker>& shown = timelineDerivedData().beatMarkers;
    const bool present = std::any_of(shown.begin(), shown.end(), [&](const BeatMarker& m) { return m.id == *id; });
    if (present)
        return;
    setSelectedBeatMarkerID(std::nullopt);
    setIsEditingBeatMarker(false);
}

} // namespace fotivela
