#include "store/project_store.h"

#include "analysis/beat_marker_detector.h"
#include "analysis/beat_marker_editing_rules.h"
#include "store/project_store_helpers.h"

#include <algorithm>
#include <cmath>

namespace fotivela {

namespace {

std::vector<BeatMarker>::iterator findMarker(std::vector<BeatMarker>& markers, const Uuid& id)
{
    return std::find_if(markers.begin(), markers.end(), [&](const BeatMarker& m) { return m.id == id; });
}

// Bound first: a time that is not a number lands on the lower bound.
double clampedTime(double time, double lower, double upper)
{
    return std::min(std::max(lower, time), upper);
}

} // namespace

double ProjectStore::clampedNewManualBeatMarkerTime(double proposedTime) const
{
    const double span = std::max({audioDuration(), totalDuration(), 0.0});
    return BeatMarkerEditingRules::clampedInsertionTime(proposedTime, timelineDerivedData().beatMarkers, span);
}

double ProjectStore::clampedBeatMarkerMoveTime(const Uuid& id, double proposedTime) const
{
    const double span = std::max({audioDuration(), totalDuration(), 0.0});
    const BeatMarkerEditingRules::TimeRange bounds =
        BeatMarkerEditingRules::moveBounds(id, timelineDerivedData().beatMarkers, span);
    return clampedTime(proposedTime, bounds.lower, bounds.upper);
}

void ProjectStore::persistAttackMarkerOverride(const BeatMarker& marker)
{
    assertMainThread();
    if (!project().audio)
        return;
    BeatMarker record = marker;
    record.isManual = false;
    record.sourceInstrument.reset();
    // Only a moved marker needs its hit written down; a record of a marker switched on or off
    // stays as it always was.
    if (record.detectedTime == record.time)
        record.detectedTime.reset();
    modifyProject([&](FotivelaProject& project) {
        std::vector<BeatMarker>& overrides = project.audio->attackMarkerOverrides;
        // The same marker, or one of the same hit: a record of a moved marker stands where
        // other hits lie.
        const auto same = std::find_if(overrides.begin(), overrides.end(), [&](const BeatMarker& o) {
            return o.id == record.id
                || std::abs(attackOverrideMatchTime(o) - attackOverrideMatchTime(record)) <= attackOverrideMatchDistance;
        });
        if (same != overrides.end())
            *same = record;
        else
            overrides.push_back(record);
        sortMarkersByTime(overrides);
    });
}

// The common ending of an edit: beat times, placement, changed, saved.
void ProjectStore::finishBeatMarkerEdit()
{
    syncBeatTimesFromMarkers();
    if (project().audio && project().audio->syncMode == SyncMode::autoBeatV2)
        autoSyncSlidesToBeatTimes();
    touchProject(true);
    saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::selectBeatMarker(std::optional<Uuid> id)
{
    assertMainThread();
    if (!id) {
        setSelectedBeatMarkerID(std::nullopt);
        return;
    }
    const std::vector<BeatMarker>& shown = timelineDerivedData().beatMarkers;
    const bool found = std::any_of(shown.begin(), shown.end(), [&](const BeatMarker& m) { return m.id == *id; });
    if (!found) {
        setSelectedBeatMarkerID(std::nullopt);
        return;
    }
    setSelectedBeatMarkerID(id);
    setTimelineSelection({});
    m_timelineAnchorID.reset();
}

void ProjectStore::addManualBeatMarker(double time)
{
    assertMainThread();
    if (!project().audio)
        return;
    const BeatMarker marker{Uuid::random(), clampedNewManualBeatMarkerTime(time), 1.0, BeatKind::strong, true, true,
                            std::nullopt};
    // On a time already taken the marker would cut a photo of a frame or two, and the
    // merge at the next opening would drop it again: the project must reopen as saved.
    const std::vector<BeatMarker>& shown = timelineDerivedData().beatMarkers;
    const std::vector<BeatMarker>& stored = audioBeatMarkers();
    if (std::any_of(shown.begin(), shown.end(), [&](const BeatMarker& m) { return m.time == marker.time; })
        || std::any_of(stored.begin(), stored.end(),
                       [&](const BeatMarker& m) { return BeatMarkerDetector::areNearDuplicates(m, marker); }))
        return;
    registerUndoStep();
    std::vector<BeatMarker> markers = audioBeatMarkers();
    markers.push_back(marker);
    setAudioBeatMarkers(markers);
    setSelectedBeatMarkerID(marker.id);
    storeBeatMarkers(audioBeatMarkers(), true);
    syncBeatTimesFromMarkers();
    if (project().audio->syncMode == SyncMode::autoBeatV2)
        autoSyncSlidesToBeatTimes();
    saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::addManualBeatMarkerAtPlaybackTime()
{
    assertMainThread();
    const double time = currentPlaybackClockTime();
    setPreviewTime(time);
    resetPlaybackClock(time);
    addManualBeatMarker(time);
}

void ProjectStore::moveBeatMarker(const Uuid& id, double time)
{
    assertMainThread();
    if (!project().audio)
        return;
    if (!m_pendingBeatMarkerMoveUndo) {
        registerUndoStep();
        m_pendingBeatMarkerMoveUndo = true;
    }
    std::vector<BeatMarker> attack = attackBeatMarkers();
    if (auto found = findMarker(attack, id); found != attack.end()) {
        found->time = clampedBeatMarkerMoveTime(id, time);
        const BeatMarker moved = *found;
        setAttackBeatMarkers(std::move(attack));
        setSelectedBeatMarkerID(id);
        syncBeatTimesFromMarkers();
        if (isEditingBeatMarker()) {
            m_pendingAttackMarkerOverrideID = id;
            return;
        }
        persistAttackMarkerOverride(moved);
        touchProject(true);
        commitPendingBeatMarkerMove();
        return;
    }
    std::vector<BeatMarker> markers = audioBeatMarkers();
    if (auto found = findMarker(markers, id); found != markers.end()) {
        found->time = clampedBeatMarkerMoveTime(id, time);
        setAudioBeatMarkers(std::move(markers));
        setSelectedBeatMarkerID(id);
        syncBeatTimesFromMarkers();
        if (isEditingBeatMarker())
            return;
        modifyProject([this](FotivelaProject& project) { project.audio->beatMarkers = m_audioBeatMarkers; });
        touchProject(true);
        commitPendingBeatMarkerMove();
    }
}

void ProjectStore::commitPendingBeatMarkerMove()
{
    assertMainThread();
    if (!m_pendingBeatMarkerMoveUndo)
        return;
    if (m_pendingAttackMarkerOverrideID) {
        const std::vector<BeatMarker>& attack = attackBeatMarkers();
        const auto found = std::find_if(attack.begin(), attack.end(),
                                        [&](const BeatMarker& m) { return m.id == *m_pendingAttackMarkerOverrideID; });
        if (found != attack.end())
            persistAttackMarkerOverride(*found);
    }
    m_pendingAttackMarkerOverrideID.reset();
    storeBeatMarkers(audioBeatMarkers(), true);
    if (project().audio && project().audio->syncMode == SyncMode::autoBeatV2)
        autoSyncSlidesToBeatTimes();
    saveCurrentProjectSilentlyIfPossible();
    m_pendingBeatMarkerMoveUndo = false;
}

void ProjectStore::disableBeatMarker(const Uuid& id)
{
    assertMainThread();
    registerUndoStep();
    std::vector<BeatMarker> attack = attackBeatMarkers();
    std::vector<BeatMarker> markers = audioBeatMarkers();
    if (auto found = findMarker(attack, id); found != attack.end()) {
        found->isEnabled = false;
        const BeatMarker disabled = *found;
        setAttackBeatMarkers(std::move(attack));
        persistAttackMarkerOverride(disabled);
    } else if (auto other = findMarker(markers, id); other != markers.end()) {
        other->isEnabled = false;
        storeBeatMarkers(std::move(markers), true);
    }
    setSelectedBeatMarkerID(std::nullopt);
    finishBeatMarkerEdit();
}

void ProjectStore::toggleBeatMarkerEnabled(const Uuid& id)
{
    assertMainThread();
    registerUndoStep();
    std::vector<BeatMarker> attack = attackBeatMarkers();
    std::vector<BeatMarker> markers = audioBeatMarkers();
    if (auto found = findMarker(attack, id); found != attack.end()) {
        found->isEnabled = !found->isEnabled;
        const BeatMarker toggled = *found;
        setAttackBeatMarkers(std::move(attack));
        persistAttackMarkerOverride(toggled);
        setSelectedBeatMarkerID(id);
    } else if (auto other = findMarker(markers, id); other != markers.end()) {
        other->isEnabled = !other->isEnabled;
        setAudioBeatMarkers(markers);
        setSelectedBeatMarkerID(id);
        storeBeatMarkers(std::move(markers), true);
    }
    finishBeatMarkerEdit();
}

void ProjectStore::confirmDeleteManualBeatMarkers()
{
    assertMainThread();
    if (manualBeatMarkerCount() == 0) {
        setManualBeatMarkerDeletionCount(std::nullopt);
        return;
    }
    registerUndoStep();
    std::vector<BeatMarker> kept;
    for (const BeatMarker& marker : audioBeatMarkers()) {
        if (!marker.isManual)
            kept.push_back(marker);
    }
    setAudioBeatMarkers(kept);
    // Before storing: storing brings back manual markers that either list still holds.
    if (project().audio)
        modifyProject([&](FotivelaProject& project) { project.audio->beatMarkers = kept; });
    setManualBeatMarkerDeletionCount(std::nullopt);
    discardInvalidBeatMarkerSelection();
    storeBeatMarkers(kept, true);
    if (project().audio && project().audio->syncMode == SyncMode::autoBeatV2)
        autoSyncSlidesToBeatTimes();
    if (!isPlaying())
        saveCurrentProjectSilentlyIfPossible();
}

} // namespace fotivela
