#include "music_test_support.h"

#include "analysis/audio_waveform_analyzer.h"
#include "analysis/stem_separation_service.h"
#include "analysis/stem_separation_time_estimator.h"

#include <atomic>
#include <cmath>
#include <future>

using namespace fotivela;
using namespace fotivela::test;

namespace {

using Access = ProjectStoreMusicTestAccess;

class StoreAnalysis : public StoreTest {
protected:
    AudioTestFolder m_folder{"fotivela-store-analysis"};
};

const std::vector<double> clickTimes{1.0, 2.0, 3.0, 4.0, 5.0};

void useSong(ProjectStore& store, const std::filesystem::path& url, SyncMode mode, double duration, int slides)
{
    store.modifyProject([&](FotivelaProject& p) {
        p.audio = makeTrack(mode, url);
        p.audio->isAttackWaveformEnabled = mode == SyncMode::autoBeatV2;
        p.slides.clear();
        for (int i = 0; i < slides; ++i)
            p.slides.push_back(makeSlide(1));
    });
    store.setIsAttackWaveformEnabled(mode == SyncMode::autoBeatV2);
    store.setAudioDuration(duration);
    store.recalculateTotalDuration();
}

bool nearAny(double time, const std::vector<double>& times, double tolerance)
{
    for (double t : times) {
        if (std::abs(t - time) <= tolerance)
            return true;
    }
    return false;
}

TEST_F(StoreAnalysis, WaveformLandsOnTheMainThreadAndPlacesTheSlides)
{
    ProjectStore store;
    const auto song = writeClickSong(m_folder.path(), "clicks", 6, clickTimes);
    useSong(store, song, SyncMode::autoBeatV2, 6, 3);
    store.setHasUnsavedChanges(false);

    Access::analyzeWaveformAsync(store, song, true);
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "Analizando forma de onda...");
    EXPECT_TRUE(store.audioWaveform().empty());
    ASSERT_TRUE(waitFor([&] { return !store.audioWaveform().empty(); }, 20000));

    EXPECT_EQ(store.audioAnalysisStatusMessage(), "");
    EXPECT_EQ(store.project().audio->waveformSamples, store.audioWaveform());
    EXPECT_EQ(store.project().audio->attackDetectionSamples, store.attackDetectionWaveform());
    EXPECT_TRUE(store.hasUnsavedChanges());
    EXPECT_TRUE(store.hasPendingAutosave());
    // The attack markers find the clicks, and the slides follow the first of them.
    int found = 0;
    for (const BeatMarker& marker : store.attackBeatMarkers())
        found += marker.isEnabled && nearAny(marker.time, clickTimes, 0.06);
    EXPECT_GE(found, 4);
    const std::vector<Slide>& slides = store.project().slides;
    ASSERT_EQ(slides.size(), 3u);
    EXPECT_NEAR(slides[0].duration, 1.0, 0.06);
    EXPECT_NEAR(slides[0].duration + slides[1].duration, 2.0, 0.06);
}

TEST_F(StoreAnalysis, ResultOfAReplacedSongIsDropped)
{
    ProjectStore store;
    const auto first = writeClickSong(m_folder.path(), "first", 6, clickTimes);
    TestSignal silence = makeSilence(6);
    const auto second = writeAudioFile(m_folder.path(), "second", silence, TestAudioFormat::wav16);
    useSong(store, first, SyncMode::manual, 6, 1);
    Access::analyzeWaveformAsync(store, first, false);
    // The song is replaced before the first analysis ends.
    store.modifyProject([&](FotivelaProject& p) { p.audio->url = second; });
    waitFor([] { return false; }, 1500);
    EXPECT_TRUE(store.audioWaveform().empty());
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "Analizando forma de onda...");

    Access::analyzeWaveformAsync(store, second, false);
    ASSERT_TRUE(waitFor([&] { return !store.audioWaveform().empty(); }, 20000));
    for (double value : store.audioWaveform())
        ASSERT_EQ(value, 0.0);
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "");
}

TEST_F(StoreAnalysis, ReanalysisLeavesOtherStatusTextsAlone)
{
    ProjectStore store;
    const auto song = writeClickSong(m_folder.path(), "clicks", 3, {1.0});
    useSong(store, song, SyncMode::manual, 3, 1);
    store.setAudioWaveform({0.5, 0.5});
    store.setAudioAnalysisStatusMessage("Ondas separadas listas: 1 activos, 1 preparados");
    Access::analyzeWaveformAsync(store, song, false);
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "Ondas separadas listas: 1 activos, 1 preparados");
    ASSERT_TRUE(waitFor([&] { return store.audioWaveform().size() > 2; }, 20000));
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "Ondas separadas listas: 1 activos, 1 preparados");
}

TEST_F(StoreAnalysis, EstimateCountsDownOncePerSecond)
{
    ProjectStore store;
    // Nothing learnt yet, whatever runs this process made before: the first guess counts down.
    FotivelaPreferences::shared().setValue(StemSeparationTimeEstimator::rateKey, PlistValue(0.0));
    Access::startStemTimeEstimate(store, 100);
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "Separando instrumentos... 25 s aprox.");
    ASSERT_TRUE(waitFor([&] { return store.audioAnalysisStatusMessage() != "Separando instrumentos... 25 s aprox."; }, 2500));
    // One second later (a busy machine may tick a little late).
    const std::string next = store.audioAnalysisStatusMessage();
    EXPECT_TRUE(next == "Separando instrumentos... 24 s aprox." || next == "Separando instrumentos... 23 s aprox.") << next;
    Access::cancelStemTimeEstimate(store);
    store.setAudioAnalysisStatusMessage("");
    waitFor([] { return false; }, 1300);
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "");
}

// A preparer that holds each call until the test lets it go.
class GatedPreparer {
public:
    StemSourcePreparer preparer(std::string message)
    {
        auto gate = std::make_shared<std::promise<void>>();
        m_gates.push_back(gate);
        auto future = std::make_shared<std::shared_future<void>>(gate->get_future().share());
        auto calls = m_calls;
        return [future, calls, message](const std::filesystem::path& audio, const std::filesystem::path&,
                                        const std::set<AutoBeatInstrument>&, const StemSeparationState&,
                                        std::stop_token) {
            ++*calls;
            future->wait();
            return StemSourcePreparation::fallbackResult(StemSourcePreparation::signature(audio), message);
        };
    }
    void release(std::size_t index) { m_gates.at(index)->set_value(); }
    int calls() const { return *m_calls; }

private:
    std::vector<std::shared_ptr<std::promise<void>>> m_gates;
    std::shared_ptr<std::atomic<int>> m_calls = std::make_shared<std::atomic<int>>(0);
};

// The service with a runtime that cannot be made ready.
StemSourcePreparer brokenRuntimePreparer()
{
    return [](const std::filesystem::path& audio, const std::filesystem::path& project,
              const std::set<AutoBeatInstrument>& instruments, const StemSeparationState& state, std::stop_token stop) {
        return StemSeparationService::prepareSources(audio, project, instruments, state, stop,
            [](std::stop_token) -> DemucsRuntimeHandle { throw DemucsRuntimeError("El motor no está instalado."); });
    };
}

TEST_F(StoreAnalysis, WithoutStemsNoInstrumentMarkersAreMadeAndTheCachesAreEmptied)
{
    ProjectStore store;
    Access::setPhysicalMemory(store, 16 * gibibyte);
    Access::setStemSourcePreparer(store, brokenRuntimePreparer());
    const auto song = writeClickSong(m_folder.path(), "clicks", 6, clickTimes);
    useSong(store, song, SyncMode::autoBeatV2, 6, 3);
    const BeatMarker manual = makeMarker(4.5, true, true);
    store.modifyProject([&](FotivelaProject& p) {
        AudioTrack& t = *p.audio;
        t.autoBeatInstruments = {AutoBeatInstrument::kick};
        t.beatMarkers = {manual};
        // Analyses of an earlier run on the mix: a fallback state is separated again, so they go.
        const AudioAnalysis analysis{{0.2, 0.4}, {makeMarker(2.3, false, false, AutoBeatInstrument::drums)}, 0.5, 4, 25};
        t.instrumentAnalysisCache[AutoBeatInstrument::drums] = analysis;
        t.instrumentAnalysisVariants["Bateria completa|fallback|s:500|b:4|v:25"] = analysis;
    });
    store.setAudioBeatMarkers({manual});
    const std::size_t undoBefore = store.undoStack().size();

    store.setAutoBeatInstrumentsEnabled(true);
    EXPECT_EQ(store.undoStack().size(), undoBefore + 1);
    EXPECT_TRUE(store.isAnalyzingAudio());
    EXPECT_EQ(store.project().audio->beatDetectionFocus, BeatDetectionFocus::clapSnare);
    EXPECT_EQ(store.audioAnalysisStatusMessage().rfind("Separando instrumentos... ", 0), 0u);
    ASSERT_TRUE(waitFor([&] { return !store.isAnalyzingAudio(); }, 30000));

    const AudioTrack& track = *store.project().audio;
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "No se pudo preparar Demucs: El motor no está instalado.");
    EXPECT_EQ(track.stemSeparation.engine, StemSeparationEngine::fallbackMix);
    EXPECT_EQ(track.stemSeparation.sourceSignature, StemSourcePreparation::signature(song));
    EXPECT_FALSE(store.isAttackWaveformEnabled());
    EXPECT_EQ(track.autoBeatInstruments, std::set<AutoBeatInstrument>{AutoBeatInstrument::drums});
    EXPECT_FALSE(Access::hasActiveRun(store));
    EXPECT_TRUE(track.instrumentAnalysisCache.empty());
    EXPECT_TRUE(track.instrumentAnalysisVariants.empty());
    // Only the manual marker is left; the slides share the song evenly around it.
    ASSERT_EQ(store.audioBeatMarkers().size(), 1u);
    EXPECT_EQ(store.audioBeatMarkers()[0].id, manual.id);
    EXPECT_EQ(track.beatMarkers.size(), 1u);
    EXPECT_NEAR(store.project().slides[0].duration, 4.5, 1e-9);
}

TEST_F(StoreAnalysis, WithoutMemoryForStemsTheCachedAnalysesAreApplied)
{
    ProjectStore store;
    Access::setPhysicalMemory(store, 4 * gibibyte);
    const auto song = writeClickSong(m_folder.path(), "clicks", 6, clickTimes);
    useSong(store, song, SyncMode::autoBeatV2, 6, 2);
    const BeatMarker cached = makeMarker(3.2, true, false, AutoBeatInstrument::bass);
    store.modifyProject([&](FotivelaProject& p) {
        p.audio->autoBeatInstruments = {AutoBeatInstrument::bass};
        p.audio->waveformSamples = {0.2, 0.4};
        const AudioAnalysis analysis{{0.2, 0.4}, {cached}, 0.5, 4, 25};
        p.audio->instrumentAnalysisVariants["Bajo|fallback|s:500|b:4|v:25"] = analysis;
    });
    Access::analyzeInstrumentAudioAsync(store, true, true);
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "Recuperando analisis guardado...");
    ASSERT_TRUE(waitFor([&] { return !store.isAnalyzingAudio(); }, 10000));
    // The cached markers are the song's markers, not an empty list.
    ASSERT_EQ(store.audioBeatMarkers().size(), 1u);
    EXPECT_EQ(store.audioBeatMarkers()[0].id, cached.id);
    EXPECT_NEAR(store.project().slides[0].duration, 3.2, 1e-9);
}

TEST_F(StoreAnalysis, StaleRunNeverLandsAndItsCleanUpSparesTheNewOne)
{
    ProjectStore store;
    Access::setPhysicalMemory(store, 16 * gibibyte);
    const auto song = writeClickSong(m_folder.path(), "clicks", 6, clickTimes);
    useSong(store, song, SyncMode::autoBeatV2, 6, 2);
    store.setAudioWaveform({0.1});
    store.modifyProject([](FotivelaProject& p) {
        p.audio->waveformSamples = {0.1};
        p.audio->autoBeatInstruments = {AutoBeatInstrument::bass};
    });

    GatedPreparer gates;
    Access::setStemSourcePreparer(store, gates.preparer("uno"));
    Access::analyzeInstrumentAudioAsync(store, true, true);
    Access::setStemSourcePreparer(store, gates.preparer("dos"));
    Access::analyzeInstrumentAudioAsync(store, true, true);
    ASSERT_TRUE(waitFor([&] { return gates.calls() == 2; }, 5000));

    gates.release(0);
    waitFor([] { return false; }, 800);
    EXPECT_TRUE(store.isAnalyzingAudio());
    EXPECT_TRUE(Access::hasActiveRun(store));
    EXPECT_NE(store.audioAnalysisStatusMessage(), "uno");
    EXPECT_NE(store.project().audio->stemSeparation.message, "uno");

    gates.release(1);
    ASSERT_TRUE(waitFor([&] { return !store.isAnalyzingAudio(); }, 10000));
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "dos");
}

TEST_F(StoreAnalysis, TurningInstrumentsOffDropsTheRunningAnalysis)
{
    ProjectStore store;
    Access::setPhysicalMemory(store, 16 * gibibyte);
    const auto song = writeClickSong(m_folder.path(), "clicks", 6, clickTimes);
    useSong(store, song, SyncMode::autoBeatV2, 6, 2);
    store.modifyProject([](FotivelaProject& p) { p.audio->waveformSamples = {0.1}; });
    GatedPreparer gates;
    Access::setStemSourcePreparer(store, gates.preparer("tarde"));
    store.setAutoBeatInstrumentsEnabled(true);
    ASSERT_TRUE(waitFor([&] { return gates.calls() == 1; }, 5000));

    store.setAutoBeatInstrumentsEnabled(false);
    EXPECT_FALSE(store.isAnalyzingAudio());
    gates.release(0);
    waitFor([] { return false; }, 1000);
    // The late result would have turned the attack mode off and brought drums back.
    EXPECT_TRUE(store.isAttackWaveformEnabled());
    EXPECT_TRUE(store.project().audio->autoBeatInstruments.empty());
    EXPECT_NE(store.audioAnalysisStatusMessage(), "tarde");
}

TEST_F(StoreAnalysis, CacheHitMakesTheRunningAnalysisStale)
{
    ProjectStore store;
    Access::setPhysicalMemory(store, 4 * gibibyte);
    const auto song = writeClickSong(m_folder.path(), "clicks", 6, clickTimes);
    useSong(store, song, SyncMode::autoBeatV2, 6, 2);
    store.setIsAttackWaveformEnabled(false);
    store.modifyProject([&](FotivelaProject& p) {
        p.audio->isAttackWaveformEnabled = false;
        p.audio->autoBeatInstruments = {AutoBeatInstrument::vocals};
        p.audio->waveformSamples = {0.2, 0.4};
        p.audio->attackDetectionSamples = {0.1, 0.3};
        p.audio->stemSeparation.sourceSignature = StemSourcePreparation::signature(song);
        p.audio->stemSeparation.message = "Mezcla original";
    });

    GatedPreparer gates;
    Access::setStemSourcePreparer(store, gates.preparer("tarde"));
    Access::analyzeInstrumentAudioAsync(store, true, false);
    ASSERT_TRUE(waitFor([&] { return gates.calls() == 1; }, 5000));
    EXPECT_TRUE(store.isAnalyzingAudio());

    // Meanwhile the cache gets what the settings ask for.
    const BeatMarker cached = makeMarker(2.5, true, false, AutoBeatInstrument::vocals);
    store.modifyProject([&](FotivelaProject& p) {
        const AudioAnalysis analysis{{0.2, 0.4}, {cached}, 0.5, 4, 25};
        p.audio->instrumentAnalysisCache[AutoBeatInstrument::vocals] = analysis;
        p.audio->instrumentAnalysisVariants["Voz|fallback|s:500|b:4|v:25"] = analysis;
    });
    Access::loadInstrumentAnalysisOrAnalyze(store, false);
    EXPECT_FALSE(store.isAnalyzingAudio());
    EXPECT_FALSE(Access::hasActiveRun(store));
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "Mezcla original");
    ASSERT_EQ(store.audioBeatMarkers().size(), 1u);
    EXPECT_EQ(store.audioBeatMarkers()[0].id, cached.id);
    EXPECT_TRUE(store.hasUnsavedChanges());

    gates.release(0);
    waitFor([] { return false; }, 1000);
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "Mezcla original");
    ASSERT_EQ(store.audioBeatMarkers().size(), 1u);
    EXPECT_EQ(store.audioBeatMarkers()[0].id, cached.id);
}

TEST_F(StoreAnalysis, MemoryGateAndInstrumentsWithoutStems)
{
    ProjectStore store;
    const auto song = writeClickSong(m_folder.path(), "clicks", 3, {1.0});
    useSong(store, song, SyncMode::autoBeatV2, 3, 1);
    // Exactly 7.5 GiB is enough; a fallback state is then separated again.
    Access::setPhysicalMemory(store, 15 * gibibyte / 2);
    AudioTrack track = *store.project().audio;
    track.stemSeparation.sourceSignature = StemSourcePreparation::signature(song);
    EXPECT_FALSE(Access::loadInstrumentAnalysisIfAvailable(store, track));
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "Actualizando ondas separadas...");

    Access::setPhysicalMemory(store, 4 * gibibyte);
    const std::size_t undoBefore = store.undoStack().size();
    store.setAutoBeatInstrumentsEnabled(true);
    EXPECT_EQ(store.undoStack().size(), undoBefore);
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "No dispones de los requisitos mínimos para esta función");
    EXPECT_TRUE(store.isAttackWaveformEnabled());
    EXPECT_TRUE(store.project().audio->autoBeatInstruments.empty());
    store.setAutoBeatInstrument(AutoBeatInstrument::bass, true);
    EXPECT_TRUE(store.project().audio->autoBeatInstruments.empty());

    // Only instruments without a stem of their own: no run, attack markers only.
    store.modifyProject([](FotivelaProject& p) {
        p.audio->autoBeatInstruments = {AutoBeatInstrument::kick};
        p.audio->beatMarkers = {makeMarker(1.2, true, false, AutoBeatInstrument::kick), makeMarker(2, true, true)};
    });
    store.setAudioBeatMarkers(store.project().audio->beatMarkers);
    Access::analyzeInstrumentAudioAsync(store, true, true);
    EXPECT_FALSE(store.isAnalyzingAudio());
    EXPECT_EQ(store.audioAnalysisStatusMessage(), "Auto ritmo v2 usando ataques de la cancion");
    ASSERT_EQ(store.audioBeatMarkers().size(), 1u);
    EXPECT_TRUE(store.audioBeatMarkers()[0].isManual);
}

} // namespace
