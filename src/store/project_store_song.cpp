#include "store/project_store.h"

#include "platform/audio_decoder.h"
#include "platform/log.h"

#include <algorithm>

namespace fotivela {

namespace {

AudioTrack newTrack(const std::filesystem::path& url, SyncMode syncMode, std::set<AutoBeatInstrument> instruments,
                    std::set<BeatKind> targets)
{
    AudioTrack track;
    track.url = url;
    track.name = url.filename().string();
    track.syncMode = syncMode;
    track.fadeIn = true;
    track.fadeOut = true;
    track.cutToSlideshowDuration = false;
    track.cutFadeOutDuration = 2.5;
    track.beatSensitivity = 0;
    track.autoBeatMinimumMarkerSpacing = 0.22;
    track.beatDetectionFocus = BeatDetectionFocus::clapSnare;
    track.beatsPerBar = 4;
    track.snapTolerance = 0.1;
    track.autoBeatTargets = std::move(targets);
    track.autoBeatInstruments = std::move(instruments);
    track.isAttackWaveformEnabled = syncMode == SyncMode::autoBeatV2;
    track.stemSeparation = StemSeparationState{};
    track.stemSeparation.engine = StemSeparationEngine::fallbackMix;
    track.stemSeparation.message = "Pendiente";
    track.analysisVersion = 0;
    return track;
}

} // namespace

void ProjectStore::cancelSongAnalysisTasks(bool includingWaveform)
{
    stopInstrumentAnalysisTask(false);
    if (includingWaveform && m_audioWaveformTask)
        m_audioWaveformTask->cancel();
    cancelStemTimeEstimate();
    if (m_activeInstrumentAnalysisRunID) {
        m_activeInstrumentAnalysisRunID.reset();
        setIsAnalyzingAudio(false);
        setAudioAnalysisStatusMessage("");
    }
    if (includingWaveform && audioAnalysisStatusMessage() == "Analizando forma de onda...")
        setAudioAnalysisStatusMessage("");
}

bool ProjectStore::importAudio(const std::optional<std::filesystem::path>& url)
{
    assertMainThread();
    if (!url || url->empty())
        return false;
    // Opening decodes the first packet: a file that is not audio is turned away here,
    // before it replaces the song, not when an export reaches its sound.
    try {
        AudioDecoder probe(*url);
    } catch (const AudioDecoderError& error) {
        logLine("Fotivela song import: " + error.detail());
        showError("No se puede leer la cancion: el archivo no es audio o esta danado.");
        return false;
    }
    registerUndoStep();
    setAudio(*url, SyncMode::manual, {}, syncSelectableKinds(), false);
    modifyProject([](FotivelaProject& project) {
        AIMusicSettings cleared;
        cleared.requestedMusicStyle.clear();
        cleared.withVocals = true;
        project.aiMusic = cleared;
    });
    setActiveTab(EditorTab::music);
    setRoute(AppRoute::editor);
    touchProject(true);
    // The analysis marks the project changed again when it ends; a song whose analysis never
    // ends (a file that cannot be read) must still reach the file.
    saveCurrentProjectSilentlyIfPossible();
    return true;
}

void ProjectStore::setAudio(const std::filesystem::path& url, SyncMode syncMode, std::set<AutoBeatInstrument> instruments,
                            std::set<BeatKind> targets, bool preserveAIMusic)
{
    assertMainThread();
    stopPreview();
    cancelSongAnalysisTasks(false);
    setAudibleTimelineInstruments({});
    m_audioPlayback.stopTimelinePlayers();

    const std::optional<AIMusicSettings> aiMusic = m_project.aiMusic;
    const bool analyseInstruments = !instruments.empty();
    AudioTrack track = newTrack(url, syncMode, std::move(instruments), std::move(targets));
    const bool attackWaveform = track.isAttackWaveformEnabled;
    modifyProject([&](FotivelaProject& project) {
        project.audio = std::move(track);
        if (preserveAIMusic)
            project.aiMusic = aiMusic;
    });

    m_audioPlayback.mainPlayer.reset();
    setAudioDuration(m_audioPlayback.prepareMainPlayer(url, mainAudioVolume(previewTime())));
    m_audioPlayback.primeMainPlayer();
    setAudioWaveform({});
    setAttackDetectionWaveform({});
    setAudioBeatMarkers({});
    setAudioBeatTimes({});
    setAttackBeatMarkers({});
    setIsAttackWaveformEnabled(attackWaveform);

    analyzeWaveformAsync(url, true);
    if (analyseInstruments)
        loadInstrumentAnalysisOrAnalyze(true);
}

void ProjectStore::prepareAudioPlayerIfNeeded()
{
    assertMainThread();
    if (!m_project.audio) {
        m_audioPlayback.mainPlayer.reset();
        setAudioDuration(0);
        setAudioWaveform({});
        setAttackDetectionWaveform({});
        setAudioBeatTimes({});
        setAudioBeatMarkers({});
        setAttackBeatMarkers({});
        setIsAttackWaveformEnabled(false);
        setAudioAnalysisStatusMessage("");
        return;
    }
    if (m_audioPlayback.mainPlayer)
        return;

    const AudioTrack song = *m_project.audio;
    setAudioDuration(m_audioPlayback.prepareMainPlayer(song.url, mainAudioVolume(previewTime())));
    m_audioPlayback.primeMainPlayer();
    setAudioWaveform(song.waveformSamples);
    setAttackDetectionWaveform(song.attackDetectionSamples);
    std::vector<BeatMarker> markers = song.beatMarkers;
    std::stable_sort(markers.begin(), markers.end(), [](const BeatMarker& a, const BeatMarker& b) { return a.time < b.time; });
    setAudioBeatMarkers(std::move(markers));
    setIsAttackWaveformEnabled(song.syncMode == SyncMode::autoBeatV2 && song.isAttackWaveformEnabled);
    syncVisibleStemWaveformsWithSelectedInstrumentsIfNeeded();
    syncBeatTimesFromMarkers();
    regenerateAttackBeatMarkers();

    if (audioWaveform().empty() || attackDetectionWaveform().empty())
        analyzeWaveformAsync(song.url, true);
    else if (m_audioPlayback.mainPlayer)
        measureSongLengthAsync(song.url);
    if (song.autoBeatInstruments.empty() || loadInstrumentAnalysisIfAvailable(song)) {
        if (song.syncMode == SyncMode::autoBeatV2)
            autoSyncSlidesToBeatTimes();
    } else {
        analyzeInstrumentAudioAsync(true, true);
    }
}

} // namespace fotivela
