#include "store/project_store.h"

#include "analysis/audio_analysis_cache_key.h"
#include "analysis/audio_waveform_analyzer.h"
#include "analysis/beat_detection_profile.h"
#include "analysis/beat_marker_detector.h"
#include "analysis/stem_separation_time_estimator.h"
#include "model/project_file_layout.h"
#include "platform/background_task.h"
#include "stem_runtime/demucs_runtime_manager.h"
#include "store/project_store_helpers.h"


#include <algorithm>
#include <chrono>
#include <map>

namespace fotivela {

namespace {

constexpr std::int64_t waveformTargetSamples = 1400;
constexpr const char* attackStatus = "Auto ritmo v2 usando ataques de la cancion";

std::set<AutoBeatInstrument> runInstruments(const AudioTrack& track)
{
    std::set<AutoBeatInstrument> run;
    for (AutoBeatInstrument instrument : track.autoBeatInstruments) {
        if (demucsStemInstrumentSet().contains(instrument))
            run.insert(instrument);
    }
    return run;
}

BeatDetectionFocus focusFor(AutoBeatInstrument instrument)
{
    switch (instrument) {
    case AutoBeatInstrument::kick:
        return BeatDetectionFocus::kick;
    case AutoBeatInstrument::clapSnare:
        return BeatDetectionFocus::clapSnare;
    case AutoBeatInstrument::cymbalHats:
        return BeatDetectionFocus::cymbal;
    case AutoBeatInstrument::drums:
    case AutoBeatInstrument::bass:
    case AutoBeatInstrument::vocals:
    case AutoBeatInstrument::other:
        break;
    }
    return BeatDetectionFocus::fullMix;
}

double clampedSpacing(double value)
{
    return std::min(std::max(0.08, value), 2.0);
}

} // namespace

// Everything a run needs, copied when it starts: the worker never touches the store.
struct ProjectStore::InstrumentAnalysisRun {
    Uuid id;
    std::filesystem::path audioURL;
    std::filesystem::path projectURL;
    StemSeparationState stemSeparation;
    std::vector<double> songSamples;
    double audioDuration = 0;
    double sensitivity = 0;
    std::int64_t beatsPerBar = 0;
    double spacing = 0.22;
    std::set<AutoBeatInstrument> instruments;
    std::set<AutoBeatInstrument> toAnalyze;
    std::map<AutoBeatInstrument, AudioAnalysis> cache;
    bool separates = false;
    std::chrono::steady_clock::time_point start;
    bool markDirtyOnCompletion = false;
    StemSourcePreparer prepare;
};

struct ProjectStore::InstrumentAnalysisResult {
    std::vector<double> waveform;
    std::vector<BeatMarker> markers;
    std::map<AutoBeatInstrument, AudioAnalysis> cache;
    StemSeparationState stemState;
    bool usesFallback = true;
    std::optional<double> separationSeconds;
};

bool ProjectStore::hasMemoryForInstrumentAnalysis() const
{
    return StemSourcePreparation::hasMemoryForInstrumentAnalysis(m_physicalMemoryBytes());
}

bool ProjectStore::loadInstrumentAnalysisIfAvailable(const AudioTrack& track)
{
    assertMainThread();
    if (track.stemSeparation.sourceSignature != StemSourcePreparation::signature(track.url))
        return false;
    if (track.stemSeparation.engine != StemSeparationEngine::demucs && hasMemoryForInstrumentAnalysis()) {
        setAudioAnalysisStatusMessage("Actualizando ondas separadas...");
        return false;
    }
    if (!AudioAnalysisCacheKey::hasValidStemFiles(track))
        return false;
    const std::set<AutoBeatInstrument> instruments = runInstruments(track);
    std::vector<std::vector<BeatMarker>> lists;
    for (AutoBeatInstrument instrument : instruments) {
        std::optional<AudioAnalysis> cached = AudioAnalysisCacheKey::cachedInstrumentAnalysis(instrument, track);
        if (!cached)
            return false;
        lists.push_back(std::move(cached->beatMarkers));
    }
    std::vector<BeatMarker> manual;
    for (const BeatMarker& marker : track.beatMarkers) {
        if (marker.isManual)
            manual.push_back(marker);
    }
    const std::size_t restored = lists.size();
    lists.push_back(std::move(manual));

    setAudioWaveform(track.waveformSamples);
    setAttackDetectionWaveform(track.attackDetectionSamples);
    setAudioBeatMarkers(BeatMarkerDetector::mergedMarkers(lists));
    settleJoinedInstrumentMarkers(track.beatMarkers);
    if (project().audio && !audioWaveform().empty() && !attackDetectionWaveform().empty()) {
        modifyProject([this](FotivelaProject& project) {
            project.audio->waveformSamples = m_audioWaveform;
            project.audio->attackDetectionSamples = m_attackDetectionWaveform;
        });
        regenerateAttackBeatMarkers();
    } else {
        analyzeWaveformAsync(track.url, true);
    }
    if (project().audio) {
        modifyProject([this](FotivelaProject& project) {
            project.audio->beatMarkers = m_audioBeatMarkers;
            project.audio->analysisVersion = storedAnalysisVersion;
        });
    }
    if (instruments.empty())
        setAudioAnalysisStatusMessage(isAttackWaveformEnabled() ? attackStatus : "");
    else if (track.stemSeparation.engine == StemSeparationEngine::demucs)
        setAudioAnalysisStatusMessage("Ondas separadas recuperadas: " + std::to_string(restored) + " instrumentos");
    else
        setAudioAnalysisStatusMessage(track.stemSeparation.message);
    syncBeatTimesFromMarkers();
    return true;
}

void ProjectStore::analyzeInstrumentAudioAsync(bool markDirtyOnCompletion, bool useCache)
{
    assertMainThread();
    if (!project().audio)
        return;
    const AudioTrack& song = *project().audio;

    InstrumentAnalysisRun run;
    run.audioURL = song.url;
    run.projectURL = currentProjectURL() ? *currentProjectURL()
                                         : ProjectFileLayout::defaultProjectURL(project().name, defaultProjectDirectory());
    run.stemSeparation = song.stemSeparation;
    run.songSamples = song.waveformSamples;
    run.audioDuration = audioDuration();
    run.sensitivity = song.beatSensitivity;
    run.beatsPerBar = song.beatsPerBar;
    run.spacing = clampedSpacing(song.autoBeatMinimumMarkerSpacing);
    run.instruments = runInstruments(song);
    run.start = std::chrono::steady_clock::now();
    run.markDirtyOnCompletion = markDirtyOnCompletion;
    run.prepare = m_stemSourcePreparer;

    if (run.instruments.empty()) {
        // Attack markers only. A run still in flight would bring back instrument markers
        // the user just turned off, so it goes too.
        cancelInstrumentAnalysisRun();
        const std::vector<double> samples = song.waveformSamples;
        setAudioWaveform(samples);
        modifyProject([&](FotivelaProject& project) { project.audio->waveformSamples = samples; });
        regenerateAttackBeatMarkers();
        removeAutomaticAudioBeatMarkers();
        setAudioAnalysisStatusMessage(isAttackWaveformEnabled() ? attackStatus : "");
        setIsAnalyzingAudio(false);
        syncBeatTimesFromMarkers();
        if (project().audio->syncMode == SyncMode::autoBeatV2)
            autoSyncSlidesToBeatTimes();
        saveCurrentProjectSilentlyIfPossible();
        return;
    }

    const bool hasRealStems = song.stemSeparation.engine == StemSeparationEngine::demucs
        && AudioAnalysisCacheKey::hasValidStemFiles(song);
    bool lookUp = useCache;
    if (!hasRealStems && hasMemoryForInstrumentAnalysis()) {
        run.separates = true;
        lookUp = false;
    }
    if (lookUp) {
        for (AutoBeatInstrument instrument : run.instruments) {
            if (std::optional<AudioAnalysis> cached = AudioAnalysisCacheKey::cachedInstrumentAnalysis(instrument, song))
                run.cache.emplace(instrument, std::move(*cached));
        }
    }
    for (AutoBeatInstrument instrument : run.instruments) {
        if (!run.cache.contains(instrument))
            run.toAnalyze.insert(instrument);
    }
    const bool estimates = run.separates && !run.toAnalyze.empty();

    stopInstrumentAnalysisTask(false);
    run.id = Uuid::random();
    m_activeInstrumentAnalysisRunID = run.id;
    setIsAnalyzingAudio(true);
    if (run.separates)
        setAudioAnalysisStatusMessage("Separando instrumentos...");
    else if (run.toAnalyze.empty())
        setAudioAnalysisStatusMessage("Recuperando analisis guardado...");
    else
        setAudioAnalysisStatusMessage("Analizando instrumentos...");
    if (estimates)
        startStemTimeEstimate(run.audioDuration);
    else
        cancelStemTimeEstimate();

    TaskHandle handle;
    m_audioAnalysisTask = handle;
    std::weak_ptr<ProjectStore*> weakStore = m_lifetime;
    auto shared = std::make_shared<const InstrumentAnalysisRun>(std::move(run));
    // Unlike runInBackground, the main thread hears back also from a cancelled run: its
    // clean-up may still be due.
    backgroundPool().start(
        [handle, weakStore, shared] {
            auto result = std::make_shared<InstrumentAnalysisResult>(ProjectStore::analyzeInstruments(*shared, handle.token()));
            postToMainThread([handle, weakStore, shared, result] {
                const std::shared_ptr<ProjectStore*> store = weakStore.lock();
                if (!store)
                    return;
                ProjectStore& self = **store;
                const bool current = !handle.isCancelled() && self.project().audio
                    && self.project().audio->url == shared->audioURL
                    && self.m_activeInstrumentAnalysisRunID == shared->id;
                if (current)
                    self.applyInstrumentAnalysisResult(*shared, std::move(*result));
                self.finishInstrumentAnalysisRun(shared->id);
            });
        },
        static_cast<int>(TaskPriority::userInitiated));
}

void ProjectStore::applyInstrumentAnalysisResult(const InstrumentAnalysisRun& run, InstrumentAnalysisResult result)
{
    assertMainThread();
    cancelStemTimeEstimate();
    // Only a separation that ran teaches the estimate: stems reused from the cache take no time.
    if (run.separates && result.stemState.engine == StemSeparationEngine::demucs && result.separationSeconds)
        StemSeparationTimeEstimator::remember(*result.separationSeconds, run.audioDuration);
    const std::vector<BeatMarker> saved = project().audio->beatMarkers;
    setAudioWaveform(result.waveform);
    modifyProject([&](FotivelaProject& project) { project.audio->waveformSamples = result.waveform; });
    regenerateAttackBeatMarkers();
    modifyProject([&](FotivelaProject& project) {
        AudioTrack& song = *project.audio;
        song.beatMarkers = result.markers;
        song.stemSeparation = result.stemState;
        song.analysisVersion = storedAnalysisVersion;
    });

    const bool realStems = !result.usesFallback && result.stemState.engine == StemSeparationEngine::demucs;
    if (!result.usesFallback && result.stemState.engine == StemSeparationEngine::demucs) {
        // The song's caches stay; the new analyses are added below.
    } else {
        setAttackFlag(false);
        modifyProject([&](FotivelaProject& project) {
            AudioTrack& song = *project.audio;
            song.autoBeatInstruments = run.instruments;
            song.instrumentAnalysisCache.clear();
            song.instrumentAnalysisVariants.clear();
        });
        setVisibleStemWaveformInstruments(run.instruments);
        setAudibleTimelineInstruments({});
        setSoloTimelineInstrument(std::nullopt);
        m_audioPlayback.stopTimelinePlayers();
    }
    modifyProject([&](FotivelaProject& project) {
        AudioTrack& song = *project.audio;
        for (const auto& [instrument, analysis] : result.cache) {
            song.instrumentAnalysisCache[instrument] = analysis;
            const std::string origin = AudioAnalysisCacheKey::instrumentAnalysisOrigin(instrument, result.stemState);
            storeInstrumentVariant(
                song, instrument,
                AudioAnalysisCacheKey::variantKey(instrument, origin, analysis.sensitivity, analysis.beatsPerBar),
                analysis);
        }
    });
    if (!result.usesFallback) {
        storeBeatMarkers(realStems ? result.markers : std::vector<BeatMarker>{}, run.markDirtyOnCompletion, false);
        setAudioAnalysisStatusMessage("Ondas separadas listas: " + std::to_string(run.instruments.size()) + " activos, "
                                      + std::to_string(result.cache.size()) + " preparados");
    } else {
        // No stems: no instrument markers, unless analyses kept in the song's caches were
        // taken up (a machine without the memory for a separation).
        storeBeatMarkers(result.markers, run.markDirtyOnCompletion, false);
        setAudioAnalysisStatusMessage(result.stemState.message);
    }
    // After an undo the song's list is the one the user had; detection only refills the
    // caches the light snapshot left out, and must not undo the user's moves.
    const bool keepsEdits = settleJoinedInstrumentMarkers(saved, m_undoRestoreAnalysisRunID == run.id);
    // The caches keep the enabled states the cuts now follow, and the moves that stood.
    if (project().audio->syncMode == SyncMode::autoBeatV2)
        persistInstrumentMarkerEdits(*project().audio, keepsEdits);
    setIsAnalyzingAudio(false);
    m_activeInstrumentAnalysisRunID.reset();
    if (project().audio && project().audio->syncMode == SyncMode::autoBeatV2)
        autoSyncSlidesToBeatTimes();
    saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::stopInstrumentAnalysisTask(bool forget)
{
    assertMainThread();
    if (!m_audioAnalysisTask)
        return;
    if (!m_audioAnalysisTask->isCancelled()) {
        // The stop token ends a running separation's child processes; an install of the
        // runtime started for this run stops too.
        m_audioAnalysisTask->cancel();
        DemucsRuntimeManager::shared().cancelPendingInstall();
    }
    if (forget)
        m_audioAnalysisTask.reset();
}

void ProjectStore::cancelInstrumentAnalysisRun()
{
    assertMainThread();
    stopInstrumentAnalysisTask(true);
    m_activeInstrumentAnalysisRunID.reset();
    cancelStemTimeEstimate();
    setIsAnalyzingAudio(false);
}

void ProjectStore::finishInstrumentAnalysisRun(const Uuid& runID)
{
    assertMainThread();
    if (m_activeInstrumentAnalysisRunID != runID)
        return;
    cancelStemTimeEstimate();
    setIsAnalyzingAudio(false);
    m_activeInstrumentAnalysisRunID.reset();
}

ProjectStore::InstrumentAnalysisResult ProjectStore::analyzeInstruments(const InstrumentAnalysisRun& run,
                                                                        std::stop_token stop)
{
    ProjectStore::InstrumentAnalysisResult result;
    std::optional<StemSeparationResult> separation;
    if (!run.toAnalyze.empty() && run.prepare)
        separation = run.prepare(run.audioURL, run.projectURL, run.toAnalyze, run.stemSeparation, stop);
    const auto analysisStart = std::chrono::steady_clock::now();

    std::map<std::string, WaveformAnalysis> memo;
    const auto analysisOf = [&](const std::filesystem::path& file, BeatDetectionFocus focus, const std::string& who) {
        const std::string key = file.string() + "|" + std::string(toStored(focus)) + "|" + who;
        auto found = memo.find(key);
        if (found == memo.end())
            found = memo.emplace(key, AudioWaveformAnalyzer::makeWaveformAnalysis(file, waveformTargetSamples, focus, stop)).first;
        return found->second;
    };

    result.waveform = run.songSamples;
    if (result.waveform.empty() && !stop.stop_requested())
        result.waveform = analysisOf(run.audioURL, BeatDetectionFocus::fullMix, "").display;

    result.cache = run.cache;
    for (AutoBeatInstrument instrument : run.toAnalyze) {
        if (stop.stop_requested() || !separation)
            break;
        // Only real stems are analysed: the song's own mix gives no instrument markers.
        const auto source = separation->sources.find(instrument);
        if (source == separation->sources.end() || source->second.engine != StemSeparationEngine::demucs)
            continue;
        const WaveformAnalysis curves =
            analysisOf(source->second.analysisURL, focusFor(instrument), std::string(toStored(instrument)));
        // The curve spans the length its own decode found, which a header may have misstated.
        const double span = curves.durationSeconds > 0 ? curves.durationSeconds : run.audioDuration;
        std::vector<BeatMarker> markers = BeatMarkerDetector::detectBeatMarkers(curves.detection, span,
            run.sensitivity, run.beatsPerBar, BeatDetectionProfile::instrument(instrument), instrument, true);
        markers = BeatMarkerDetector::automaticallyDisabledCloseMarkers(markers, run.spacing);
        sortMarkersByTime(markers);
        result.cache[instrument] = AudioAnalysis{curves.display, std::move(markers), run.sensitivity, run.beatsPerBar,
                                                 ProjectStore::storedAnalysisVersion};
    }

    std::vector<std::vector<BeatMarker>> lists;
    for (const auto& [instrument, analysis] : result.cache) {
        if (run.instruments.contains(instrument))
            lists.push_back(analysis.beatMarkers);
    }
    result.markers = BeatMarkerDetector::mergedMarkers(lists);

    if (separation) {
        result.stemState = separation->state;
        result.usesFallback = separation->usesFallback;
        // The countdown runs until the markers are in: the stems' analysis counts too.
        if (separation->separationSeconds)
            result.separationSeconds = *separation->separationSeconds
                + std::chrono::duration<double>(std::chrono::steady_clock::now() - analysisStart).count();
    } else {
        result.stemState = run.stemSeparation;
        result.usesFallback = run.stemSeparation.engine != StemSeparationEngine::demucs;
    }
    return result;
}

} // namespace fotivela
