// The store's music hot paths, all on the main thread.
//   playback tick: one publishing tick of the preview loop, 500 slides and 5,000 markers
//   marker drag step: one pointer step of a marker drag among 5,000 markers
#include "bench_storage_root.h"
#include "store/project_store.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <cstdlib>
#include <filesystem>
#include <random>

namespace fotivela {

// Reaches the loop's step, which only the store's own timer calls.
struct ProjectStoreMusicTestAccess {
    static void publishPreviewTime(ProjectStore& store, bool force) { store.publishPreviewTime(force); }
};

} // namespace fotivela

using namespace fotivela;
namespace fs = std::filesystem;

namespace {

fs::path benchRoot()
{
    return bench::storageRoot("music");
}

void fill(ProjectStore& store, SyncMode mode, bool manualMarkers)
{
    std::vector<BeatMarker> markers;
    for (int i = 0; i < 5000; ++i) {
        const std::optional<AutoBeatInstrument> source =
            manualMarkers ? std::nullopt : std::optional(i % 2 ? AutoBeatInstrument::drums : AutoBeatInstrument::bass);
        markers.push_back(BeatMarker{Uuid::random(), 0.048 * (i + 1), 0.5, BeatKind::strong, true, manualMarkers, source});
    }
    store.modifyProject([&](FotivelaProject& p) {
        AudioTrack t;
        t.url = "/musica/cancion.mp3";
        t.syncMode = mode;
        t.beatsPerBar = 4;
        t.autoBeatInstruments = {AutoBeatInstrument::drums, AutoBeatInstrument::bass};
        t.beatMarkers = markers;
        p.audio = t;
        for (int i = 0; i < 500; ++i) {
            Slide s;
            s.id = Uuid::random();
            s.imageURL = "/fotos/foto.jpg";
            s.duration = 0.5;
            p.slides.push_back(s);
        }
    });
    store.recalculateTotalDuration();
    store.setAudioDuration(240);
    store.setAudioBeatMarkers(markers);
    store.setVisibleStemWaveformInstruments({AutoBeatInstrument::drums, AutoBeatInstrument::bass});
}

void BM_PlaybackTickPublishing(benchmark::State& state)
{
    benchRoot();
    ProjectStore store;
    fill(store, SyncMode::autoBeatV2, false);
    // A view that redraws from what it reads on every change.
    store.addObserver([&store](StoreField field) {
        if (field == StoreField::previewTime)
            benchmark::DoNotOptimize(store.timelineDerivedData().beatMarkers.size());
    });
    store.setIsPlaying(true);
    store.resetPlaybackClock(100);
    for (auto _ : state)
        ProjectStoreMusicTestAccess::publishPreviewTime(store, true);
    state.SetLabel("500 slides, 5000 markers, no song player");
}
BENCHMARK(BM_PlaybackTickPublishing)->Unit(benchmark::kMicrosecond);

void BM_PlaybackTickThrottled(benchmark::State& state)
{
    benchRoot();
    ProjectStore store;
    fill(store, SyncMode::autoBeatV2, false);
    store.setIsPlaying(true);
    store.resetPlaybackClock(100);
    ProjectStoreMusicTestAccess::publishPreviewTime(store, false);
    for (auto _ : state)
        ProjectStoreMusicTestAccess::publishPreviewTime(store, false);
}
BENCHMARK(BM_PlaybackTickThrottled)->Unit(benchmark::kMicrosecond);

void BM_MarkerDragStep(benchmark::State& state)
{
    benchRoot();
    ProjectStore store;
    fill(store, SyncMode::manual, true);
    const Uuid id = store.audioBeatMarkers()[2500].id;
    const double start = store.audioBeatMarkers()[2500].time;
    store.setIsEditingBeatMarker(true);
    int step = 0;
    for (auto _ : state)
        store.moveBeatMarker(id, start + ((++step % 2) ? 0.01 : -0.01));
    state.SetLabel("5000 manual markers");
}
BENCHMARK(BM_MarkerDragStep)->Unit(benchmark::kMicrosecond);

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
