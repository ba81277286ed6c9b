#include "store/project_store.h"

#include "analysis/audio_analysis_cache_key.h"
#include "analysis/beat_detection_profile.h"
#include "analysis/beat_marker_editing_rules.h"
#include "analysis/beat_marker_detector.h"
#include "store/project_store_helpers.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace fotivela {

namespace {

constexpr double minimumAttackSpacing = 0.08;
constexpr double maximumAttackSpacing = 2.0;

bool containsID(const std::vector<BeatMarker>& markers, const Uuid& id)
{
    return std::any_of(markers.begin(), markers.end(), [&](const BeatMarker& m) { return m.id == id; });
}

double markerTime(const BeatMarker& marker)
{
    return marker.time;
}

// The marker whose time (as the rule reads it) lies nearest to the given one; of equally near
// markers the first.
const BeatMarker* nearestMarker(const std::vector<BeatMarker>& markers, double time,
                                double (*timeOf)(const BeatMarker&))
{
    const BeatMarker* nearest = nullptr;
    double nearestDistance = 0;
    for (const BeatMarker& candidate : markers) {
        const double distance = std::abs(timeOf(candidate) - time);
        if (!nearest || distance < nearestDistance) {
            nearest = &candidate;
            nearestDistance = distance;
        }
    }
    return nearest;
}

// Lower bound first, then upper, so that a value that is not a number becomes the lower bound.
double clampedSpacing(double value)
{
    return std::min(std::max(value, minimumAttackSpacing), maximumAttackSpacing);
}

} // namespace

void ProjectStore::storeBeatMarkers(std::vector<BeatMarker> markers, bool markDirty, bool isUserEdit)
{
    assertMainThread();
    const bool bringsManual = std::any_of(markers.begin(), markers.end(), [](const BeatMarker& m) { return m.isManual; });
    std::vector<BeatMarker> merged = markers;
    if (!bringsManual) {
        // Detected markers never replace what the user placed by hand.
        const auto keepManual = [&](const std::vector<BeatMarker>& source) {
            for (const BeatMarker& marker : source) {
                if (marker.isManual && !containsID(markers, marker.id) && !containsID(merged, marker.id))
                    merged.push_back(marker);
            }
        };
        keepManual(m_audioBeatMarkers);
        if (m_project.audio)
            keepManual(m_project.audio->beatMarkers);
    }
    sortMarkersByTime(merged);
    setAudioBeatMarkers(std::move(merged));

    if (m_project.audio) {
        modifyProject([this](FotivelaProject& project) {
            AudioTrack& track = *project.audio;
            track.beatMarkers = m_audioBeatMarkers;
            track.waveformSamples = m_audioWaveform;
            track.attackDetectionSamples = m_attackDetectionWaveform;
            track.analysisVersion = storedAnalysisVersion;
            track.analysisCache[track.beatDetectionFocus] = AudioAnalysis{
                m_audioWaveform, m_audioBeatMarkers, track.beatSensitivity, track.beatsPerBar, storedAnalysisVersion};
        });
        if (m_project.audio->syncMode == SyncMode::autoBeatV2)
            persistInstrumentMarkerEdits(*m_project.audio, isUserEdit);
    }

    syncBeatTimesFromMarkers();
    discardInvalidBeatMarkerSelection();
    touchProject(markDirty);
    // Nothing runs at quit: whatever marks the project changed must also reach the file.
    if (markDirty)
        saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::persistInstrumentMarkerEdits(const AudioTrack& track, bool isUserEdit)
{
    assertMainThread();
    if (!m_project.audio)
        return;
    std::vector<BeatMarker> instrumentMarkers;
    // The start and end markers that detection adds belong to no instrument but to every
    // instrument's list: without them a list restored from the caches is not the one saved.
    std::vector<BeatMarker> sharedMarkers;
    for (const BeatMarker& marker : m_audioBeatMarkers) {
        if (marker.sourceInstrument)
            instrumentMarkers.push_back(marker);
        else if (!marker.isManual)
            sharedMarkers.push_back(marker);
    }
    std::map<AutoBeatInstrument, std::vector<BeatMarker>> groups = groupedInstrumentMarkers(instrumentMarkers);

    modifyProject([&](FotivelaProject& project) {
        AudioTrack& song = *project.audio;
        for (AutoBeatInstrument instrument : track.autoBeatInstruments) {
            const auto entry = song.instrumentAnalysisCache.find(instrument);
            if (entry == song.instrumentAnalysisCache.end())
                continue;
            std::vector<BeatMarker> markers = groups[instrument];
            markers.insert(markers.end(), sharedMarkers.begin(), sharedMarkers.end());
            sortMarkersByTime(markers);
            const std::string key = AudioAnalysisCacheKey::variantKey(instrument, track);
            const auto prior = song.instrumentAnalysisVariants.find(key);
            const bool known = prior != song.instrumentAnalysisVariants.end();
            const bool edited = (known && prior->second.hasUserEdits)
                || (isUserEdit && (!known || prior->second.beatMarkers != markers));
            AudioAnalysis analysis{entry->second.waveformSamples, std::move(markers), track.beatSensitivity,
                                   track.beatsPerBar, storedAnalysisVersion, edited};
            entry->second = analysis;
            storeInstrumentVariant(song, instrument, key, std::move(analysis));
        }
    });
}

void ProjectStore::storeInstrumentVariant(AudioTrack& song, AutoBeatInstrument instrument, const std::string& key,
                                          AudioAnalysis analysis)
{
    song.instrumentAnalysisVariants[key] = std::move(analysis);
    std::erase(m_recentAnalysisVariants, key);
    m_recentAnalysisVariants.push_back(key);
    // Enough history for every instrument's few recent variants.
    constexpr std::size_t remembered = 64;
    if (m_recentAnalysisVariants.size() > remembered)
        m_recentAnalysisVariants.erase(m_recentAnalysisVariants.begin());
    AudioAnalysisCacheKey::pruneInstrumentVariants(song, instrument, key, m_recentAnalysisVariants);
}

void ProjectStore::regenerateAttackBeatMarkers()
{
    assertMainThread();
    const std::optional<AudioTrack>& audio = m_project.audio;
    if (!isAttackWaveformEnabled() || !audio || audioWaveform().empty() || !(audioDuration() > 0)) {
        setAttackBeatMarkers({});
        discardInvalidBeatMarkerSelection();
        return;
    }
    const std::vector<double>& curve = m_attackDetectionWaveform.empty() ? m_audioWaveform : m_attackDetectionWaveform;
    const std::vector<BeatMarker> detected = BeatMarkerDetector::detectBeatMarkers(
        curve, m_audioDuration, audio->beatSensitivity, 1, BeatDetectionProfile::attack(), std::nullopt, true);
    const std::vector<BeatMarker> marked =
        BeatMarkerDetector::automaticallyDisabledCloseMarkers(detected, clampedSpacing(audio->autoBeatMinimumMarkerSpacing));
    const std::vector<BeatMarker>& overrides = audio->attackMarkerOverrides;

    std::vector<BeatMarker> regenerated;
    regenerated.reserve(marked.size());
    // Per marker: whether an override matched it, and the time it was moved to.
    std::vector<bool> edited(marked.size(), false);
    std::vector<std::optional<double>> movedTo(marked.size());
    for (std::size_t i = 0; i < marked.size(); ++i) {
        const BeatMarker& found = marked[i];
        BeatMarker marker{Uuid::random(), found.time, found.strength, BeatKind::strong, found.isEnabled, false,
                          std::nullopt, found.time};
        const BeatMarker* nearest = nearestMarker(overrides, found.time, attackOverrideMatchTime);
        if (nearest && std::abs(attackOverrideMatchTime(*nearest) - found.time) <= attackOverrideMatchDistance) {
            marker.id = nearest->id;
            marker.isEnabled = nearest->isEnabled;
            edited[i] = true;
            // Of two hits near the one it was moved from, only the nearer is moved.
            if (nearest->detectedTime && nearestMarker(marked, *nearest->detectedTime, markerTime) == &found)
                movedTo[i] = nearest->time;
        }
        regenerated.push_back(marker);
    }

    // A moved marker stays clear of the enabled markers nobody edited: with the same detection
    // they bounded its drag, and a new detection may bring one between its hit and its place.
    const double span = std::max({m_audioDuration, m_totalDuration, 0.0});
    for (std::size_t i = 0; i < marked.size(); ++i) {
        if (!movedTo[i])
            continue;
        double lower = 0;
        double upper = span;
        for (std::size_t j = 0; j < marked.size(); ++j) {
            if (edited[j] || !regenerated[j].isEnabled)
                continue;
            if (marked[j].time < marked[i].time)
                lower = std::max(lower, marked[j].time + BeatMarkerEditingRules::minimumMarkerGap);
            else if (marked[j].time > marked[i].time)
                upper = std::min(upper, marked[j].time - BeatMarkerEditingRules::minimumMarkerGap);
        }
        if (lower <= upper)
            regenerated[i].time = std::min(std::max(*movedTo[i], lower), upper);
    }
    sortMarkersByTime(regenerated);
    setAttackBeatMarkers(std::move(regenerated));
    discardInvalidBeatMarkerSelection();
}

void ProjectStore::restoreAttackBeatMarkers()
{
    assertMainThread();
    if (!m_project.audio || m_project.audio->attackMarkerOverrides.empty())
        return;
    registerUndoStep();
    modifyProject([](FotivelaProject& project) { project.audio->attackMarkerOverrides.clear(); });
    regenerateAttackBeatMarkers();
    syncBeatTimesFromMarkers();
    discardInvalidBeatMarkerSelection();
    if (m_project.audio->syncMode == SyncMode::autoBeatV2)
        autoSyncSlidesToBeatTimes();
    touchProject(true);
    saveCurrentProjectSilentlyIfPossible();
}

} // namespace fotivela
