// The store's hot reads and its autosave.
//   timeline redraw: 100 reads of the derived timeline values, 500 slides and 5,000 markers
//   autosave: one save of a heavy project, all of it on the calling (main) thread
#include "bench_storage_root.h"
#include "store/project_store.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

using namespace fotivela;
namespace fs = std::filesystem;

namespace {

fs::path benchRoot()
{
    return bench::storageRoot("store");
}

Slide slide(double duration)
{
    Slide s;
    s.id = Uuid::random();
    s.imageURL = "/fotos/foto.jpg";
    s.name = "foto.jpg";
    s.duration = duration;
    return s;
}

BeatMarker marker(double time, std::optional<AutoBeatInstrument> source, bool manual)
{
    return BeatMarker{Uuid::random(), time, 0.5, BeatKind::strong, true, manual, source};
}

std::vector<double> curve(std::size_t count)
{
    std::vector<double> values(count);
    for (std::size_t i = 0; i < count; ++i)
        values[i] = 0.5 + 0.5 * std::sin(static_cast<double>(i) * 0.37);
    return values;
}

AudioTrack track()
{
    AudioTrack t;
    t.url = "/musica/cancion.mp3";
    t.name = "cancion";
    t.syncMode = SyncMode::autoBeatV2;
    t.beatSensitivity = 0.5;
    t.beatsPerBar = 4;
    t.snapTolerance = 0.12;
    t.autoBeatInstruments = {AutoBeatInstrument::drums, AutoBeatInstrument::bass};
    return t;
}

void BM_TimelineRedrawReads(benchmark::State& state)
{
    benchRoot();
    ProjectStore store;
    std::vector<BeatMarker> markers;
    for (int i = 0; i < 5000; ++i) {
        const std::optional<AutoBeatInstrument> source = i % 3 == 0 ? AutoBeatInstrument::drums
            : i % 3 == 1                                             ? std::optional(AutoBeatInstrument::bass)
                                                                     : std::nullopt;
        markers.push_back(marker(0.048 * i, source, i % 3 == 2));
    }
    store.modifyProject([](FotivelaProject& p) {
        p.audio = track();
        for (int i = 0; i < 500; ++i)
            p.slides.push_back(slide(0.5));
    });
    store.recalculateTotalDuration();
    store.setAudioDuration(240);
    store.setAudioBeatMarkers(markers);
    store.setVisibleStemWaveformInstruments({AutoBeatInstrument::drums, AutoBeatInstrument::bass});
    store.setSelectedBeatMarkerID(markers[2500].id);

    for (auto _ : state) {
        for (int read = 0; read < 100; ++read) {
            benchmark::DoNotOptimize(store.timelineDerivedData().beatMarkers.size());
            benchmark::DoNotOptimize(store.autoSyncBeatMarkers().size());
            benchmark::DoNotOptimize(store.selectedBeatMarker());
            benchmark::DoNotOptimize(store.hasSurplusPhotosForAudioCut());
            benchmark::DoNotOptimize(store.autoBeatRequiredPhotoCount());
            benchmark::DoNotOptimize(store.slide(120.0));
            benchmark::DoNotOptimize(store.audioCutTime());
        }
    }
    state.SetLabel("100 reads, 500 slides, 5000 markers");
}
BENCHMARK(BM_TimelineRedrawReads)->Unit(benchmark::kMillisecond);

// A change before every read: the derived data is rebuilt each time.
void BM_TimelineRebuildAfterChange(benchmark::State& state)
{
    benchRoot();
    ProjectStore store;
    std::vector<BeatMarker> markers;
    for (int i = 0; i < 5000; ++i)
        markers.push_back(marker(0.048 * i, AutoBeatInstrument::drums, false));
    store.modifyProject([](FotivelaProject& p) {
        p.audio = track();
        for (int i = 0; i < 500; ++i)
            p.slides.push_back(slide(0.5));
    });
    store.setAudioBeatMarkers(markers);
    int flip = 0;
    for (auto _ : state) {
        store.setIsAttackWaveformEnabled(++flip % 2 == 0);
        benchmark::DoNotOptimize(store.timelineDerivedData().beatMarkers.size());
    }
}
BENCHMARK(BM_TimelineRebuildAfterChange)->Unit(benchmark::kMicrosecond);

AudioAnalysis analysis(std::size_t samples, std::size_t markerCount, std::optional<AutoBeatInstrument> source)
{
    AudioAnalysis a;
    a.waveformSamples = curve(samples);
    for (std::size_t i = 0; i < markerCount; ++i)
        a.beatMarkers.push_back(marker(0.5 * static_cast<double>(i), source, false));
    a.sensitivity = 0.5;
    a.beatsPerBar = 4;
    a.version = 25;
    return a;
}

void makeHeavy(ProjectStore& store)
{
    store.modifyProject([](FotivelaProject& p) {
        p.name = "Pesado";
        for (int i = 0; i < 60; ++i)
            p.slides.push_back(slide(4));
        AudioTrack t = track();
        t.waveformSamples = curve(19200);
        t.attackDetectionSamples = curve(19200);
        for (int i = 0; i < 480; ++i)
            t.beatMarkers.push_back(marker(0.5 * i, AutoBeatInstrument::drums, false));
        for (BeatDetectionFocus focus : {BeatDetectionFocus::clapSnare, BeatDetectionFocus::kick,
                                         BeatDetectionFocus::cymbal, BeatDetectionFocus::fullMix})
            t.analysisCache[focus] = analysis(19200, 480, std::nullopt);
        for (AutoBeatInstrument instrument :
             {AutoBeatInstrument::drums, AutoBeatInstrument::kick, AutoBeatInstrument::clapSnare,
              AutoBeatInstrument::cymbalHats, AutoBeatInstrument::bass, AutoBeatInstrument::vocals,
              AutoBeatInstrument::other})
            t.instrumentAnalysisCache[instrument] = analysis(19200, 480, instrument);
        for (int v = 0; v < 10; ++v)
            t.instrumentAnalysisVariants["Bajo|fallback|s:" + std::to_string(v * 100) + "|b:4|v:25"] =
                analysis(19200, 480, AutoBeatInstrument::bass);
        p.audio = t;
    });
}

// The save asked for by the top bar, a new project and an export: all of it on the main thread.
void BM_ImmediateSaveHeavyProject(benchmark::State& state)
{
    const fs::path root = benchRoot();
    ProjectStore store;
    makeHeavy(store);
    store.setCurrentProjectURL(root / "Proyectos/Pesado/Pesado.fotivela");
    for (auto _ : state) {
        store.setHasUnsavedChanges(true);
        store.saveCurrentProjectImmediatelyIfPossible();
        if (store.hasUnsavedChanges())
            state.SkipWithError("save failed");
    }
    state.SetLabel(std::to_string(fs::file_size(root / "Proyectos/Pesado/Pesado.fotivela") / 1024) + " KiB file");
}
BENCHMARK(BM_ImmediateSaveHeavyProject)->Unit(benchmark::kMillisecond);

// The autosave: only the main thread's share is timed (the timer's slot, which copies the
// project, and the completion, which updates the recent list and prunes); the encoding
// and the write run meanwhile on the writer's thread.
void BM_AutosaveHeavyProjectMainThread(benchmark::State& state)
{
    const fs::path root = benchRoot();
    ProjectStore store;
    makeHeavy(store);
    store.setCurrentProjectURL(root / "Proyectos/Autoguardado/Autoguardado.fotivela");
    for (auto _ : state) {
        state.PauseTiming();
        store.setHasUnsavedChanges(true);
        store.saveCurrentProjectSilentlyIfPossible();
        std::this_thread::sleep_for(std::chrono::milliseconds(ProjectStore::autosaveDelayMilliseconds + 50));
        state.ResumeTiming();
        QCoreApplication::processEvents();
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        state.ResumeTiming();
        QCoreApplication::processEvents();
        state.PauseTiming();
        if (store.hasUnsavedChanges())
            state.SkipWithError("autosave did not finish");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AutosaveHeavyProjectMainThread)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(benchRoot(), ignored);
    return 0;
}
