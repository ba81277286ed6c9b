#include "store/project_store.h"

#include "analysis/audio_waveform_analyzer.h"
#include "analysis/stem_separation_time_estimator.h"
#include "platform/audio_decoder.h"

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace fotivela {

namespace {

constexpr const char* waveformStatus = "Analizando forma de onda...";
constexpr std::int64_t waveformTargetSamples = 1400;

} // namespace

void ProjectStore::analyzeWaveformAsync(const std::filesystem::path& url, bool markDirtyOnCompletion)
{
    assertMainThread();
    // A song that already has its curves is analysed again without a status text.
    if (audioWaveform().empty())
        setAudioAnalysisStatusMessage(waveformStatus);
    if (m_audioWaveformTask)
        m_audioWaveformTask->cancel();
    std::weak_ptr<ProjectStore*> weakStore = m_lifetime;
    // A replaced or cancelled run stops decoding at its next block: a long song must not
    // keep a core busy, or the program alive after quitting.
    m_audioWaveformTask = runInBackground(
        TaskPriority::utility,
        [url](std::stop_token stop) {
            return AudioWaveformAnalyzer::makeWaveformAnalysis(url, waveformTargetSamples, BeatDetectionFocus::fullMix,
                                                               stop);
        },
        [weakStore, url, markDirtyOnCompletion](WaveformAnalysis analysis) {
            const std::shared_ptr<ProjectStore*> store = weakStore.lock();
            if (!store)
                return;
            (*store)->applyWaveformAnalysis(url, markDirtyOnCompletion, std::move(analysis.display),
                                            std::move(analysis.detection), analysis.durationSeconds);
        });
}

void ProjectStore::measureSongLengthAsync(const std::filesystem::path& url)
{
    assertMainThread();
    if (m_audioWaveformTask)
        m_audioWaveformTask->cancel();
    std::weak_ptr<ProjectStore*> weakStore = m_lifetime;
    m_audioWaveformTask = runInBackground(
        TaskPriority::utility,
        [url](std::stop_token stop) -> double {
            try {
                const AudioStreamInfo info = AudioDecoder(url).info();
                const std::optional<std::int64_t> frames = decodedFrameCount(url, stop);
                return frames ? static_cast<double>(*frames) / info.sampleRate : 0.0;
            } catch (const AudioDecoderError&) {
                return 0.0;
            }
        },
        [weakStore, url](double seconds) {
            const std::shared_ptr<ProjectStore*> store = weakStore.lock();
            if (!store || !(*store)->correctAudioDuration(url, seconds))
                return;
            // Attack markers are placed along the song's length: they move with it.
            (*store)->regenerateAttackBeatMarkers();
            if ((*store)->project().audio->syncMode == SyncMode::autoBeatV2)
                (*store)->autoSyncSlidesToBeatTimes();
        });
}

bool ProjectStore::correctAudioDuration(const std::filesystem::path& url, double decodedDuration)
{
    assertMainThread();
    AudioPlayer* player = m_audioPlayback.mainPlayer.get();
    if (!project().audio || project().audio->url != url || !player || player->file() != url || !(decodedDuration > 0))
        return false;
    const AudioStreamInfo& info = player->streamInfo();
    const auto frames = static_cast<std::int64_t>(std::llround(decodedDuration * info.sampleRate));
    if (frames == info.frameCount)
        return false;
    player->setDecodedFrameCount(frames);
    setAudioDuration(player->duration());
    return true;
}

void ProjectStore::applyWaveformAnalysis(const std::filesystem::path& url, bool markDirtyOnCompletion,
                                         std::vector<double> display, std::vector<double> detection,
                                         double decodedDuration)
{
    assertMainThread();
    if (!project().audio || project().audio->url != url)
        return;
    correctAudioDuration(url, decodedDuration);
    setAudioWaveform(display);
    setAttackDetectionWaveform(detection);
    modifyProject([&](FotivelaProject& project) {
        project.audio->waveformSamples = std::move(display);
        project.audio->attackDetectionSamples = std::move(detection);
    });
    regenerateAttackBeatMarkers();
    if (project().audio && project().audio->syncMode == SyncMode::autoBeatV2)
        autoSyncSlidesToBeatTimes();
    if (markDirtyOnCompletion)
        touchProject(true);
    saveCurrentProjectSilentlyIfPossible();
    if (audioAnalysisStatusMessage() == waveformStatus)
        setAudioAnalysisStatusMessage("");
}

void ProjectStore::loadInstrumentAnalysisOrAnalyze(bool markDirtyOnCompletion)
{
    assertMainThread();
    if (!project().audio)
        return;
    const AudioTrack song = *project().audio;
    if (!loadInstrumentAnalysisIfAvailable(song)) {
        analyzeInstrumentAudioAsync(markDirtyOnCompletion, true);
        return;
    }
    // A run still under way is stale now: its result is never applied.
    cancelInstrumentAnalysisRun();
    if (project().audio && project().audio->syncMode == SyncMode::autoBeatV2)
        autoSyncSlidesToBeatTimes();
    touchProject(true);
    saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::startStemTimeEstimate(double audioDuration)
{
    assertMainThread();
    cancelStemTimeEstimate();
    const double estimate = StemSeparationTimeEstimator::estimatedDuration(audioDuration);
    const auto start = std::chrono::steady_clock::now();
    setAudioAnalysisStatusMessage("Separando instrumentos... " + StemSeparationTimeEstimator::formattedRemainingTime(estimate)
                                  + " aprox.");
    m_stemEstimateTask = std::make_unique<QTimer>();
    m_stemEstimateTask->setTimerType(Qt::PreciseTimer);
    m_stemEstimateTask->setInterval(1000);
    // The timer dies with the store, and with the next estimate.
    QObject::connect(m_stemEstimateTask.get(), &QTimer::timeout, [this, estimate, start] {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double left = std::max(estimate - elapsed, 0.0);
        if (left <= 1.0)
            setAudioAnalysisStatusMessage("Separando instrumentos... terminando");
        else
            setAudioAnalysisStatusMessage("Separando instrumentos... "
                                          + StemSeparationTimeEstimator::formattedRemainingTime(left) + " aprox.");
    });
    m_stemEstimateTask->start();
}

void ProjectStore::cancelStemTimeEstimate()
{
    assertMainThread();
    // Deleted later: the ticker may be what is running now.
    if (m_stemEstimateTask) {
        m_stemEstimateTask->stop();
        m_stemEstimateTask.release()->deleteLater();
    }
}

} // namespace fotivela
