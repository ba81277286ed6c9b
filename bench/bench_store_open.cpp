// Opening a heavy project (60 slides, a song with 19,200-sample curves, 480 markers and 21
// cached analyses): the whole load on the main thread, against reading and decoding the
// same file alone.
#include "bench_storage_root.h"
#include "model/project_file_reader.h"
#include "platform/background_task.h"
#include "store/project_store.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>

using namespace fotivela;
namespace fs = std::filesystem;

namespace {

fs::path benchRoot()
{
    return bench::storageRoot("open");
}

std::vector<double> curve(std::size_t count)
{
    std::vector<double> values(count);
    for (std::size_t i = 0; i < count; ++i)
        values[i] = 0.5 + 0.5 * std::sin(static_cast<double>(i) * 0.37);
    return values;
}

BeatMarker marker(double time, std::optional<AutoBeatInstrument> source)
{
    return BeatMarker{Uuid::random(), time, 0.5, BeatKind::strong, true, false, source};
}

AudioAnalysis analysis(std::optional<AutoBeatInstrument> source)
{
    AudioAnalysis a;
    a.waveformSamples = curve(19200);
    for (int i = 0; i < 480; ++i)
        a.beatMarkers.push_back(marker(0.5 * i, source));
    a.sensitivity = 0.5;
    a.beatsPerBar = 4;
    a.version = 25;
    return a;
}

// The heavy project as a file, written once. Its photos and song do not exist, as on a
// machine the project was copied to: the relink question is answered "Cancelar".
const fs::path& heavyProjectFile()
{
    static const fs::path url = [] {
        const fs::path file = benchRoot() / "Proyectos/Pesado/Pesado.fotivela";
        ProjectStore store;
        store.modifyProject([](FotivelaProject& p) {
            p.name = "Pesado";
            for (int i = 0; i < 60; ++i) {
                Slide s;
                s.id = Uuid::random();
                s.imageURL = "/fotos/foto" + std::to_string(i) + ".jpg";
                s.name = "foto.jpg";
                s.duration = 4;
                p.slides.push_back(s);
            }
            AudioTrack t;
            t.url = "/musica/cancion.mp3";
            t.name = "cancion";
            t.syncMode = SyncMode::manual;
            t.beatSensitivity = 0.5;
            t.beatsPerBar = 4;
            t.waveformSamples = curve(19200);
            t.attackDetectionSamples = curve(19200);
            for (int i = 0; i < 480; ++i)
                t.beatMarkers.push_back(marker(0.5 * i, std::nullopt));
            for (BeatDetectionFocus focus : {BeatDetectionFocus::clapSnare, BeatDetectionFocus::kick,
                                             BeatDetectionFocus::cymbal, BeatDetectionFocus::fullMix})
                t.analysisCache[focus] = analysis(std::nullopt);
            for (AutoBeatInstrument instrument :
                 {AutoBeatInstrument::drums, AutoBeatInstrument::kick, AutoBeatInstrument::clapSnare,
                  AutoBeatInstrument::cymbalHats, AutoBeatInstrument::bass, AutoBeatInstrument::vocals,
                  AutoBeatInstrument::other})
                t.instrumentAnalysisCache[instrument] = analysis(instrument);
            for (int v = 0; v < 10; ++v)
                t.instrumentAnalysisVariants["Bajo|fallback|s:" + std::to_string(v * 100) + "|b:4|v:25"] =
                    analysis(AutoBeatInstrument::bass);
            p.audio = t;
        });
        store.setCurrentProjectURL(file);
        store.saveCurrentProjectImmediatelyIfPossible();
        return file;
    }();
    return url;
}

void BM_DecodeHeavyProjectFile(benchmark::State& state)
{
    const fs::path& url = heavyProjectFile();
    for (auto _ : state)
        benchmark::DoNotOptimize(readProjectFile(url).slides.size());
    state.SetLabel(std::to_string(fs::file_size(url) / 1024) + " KiB file");
}
BENCHMARK(BM_DecodeHeavyProjectFile)->Unit(benchmark::kMillisecond);

void BM_LoadHeavyProject(benchmark::State& state)
{
    const fs::path& url = heavyProjectFile();
    ProjectStore store;
    for (auto _ : state) {
        if (!store.loadProject(url))
            state.SkipWithError("load failed");
        state.PauseTiming();
        // The background work a load starts (previews, the player) is not the main thread's.
        backgroundPool().waitForDone();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LoadHeavyProject)->Unit(benchmark::kMillisecond);

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
