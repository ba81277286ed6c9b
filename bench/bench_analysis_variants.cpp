// Size and encoding time of a project's file after ten sensitivity changes with four instruments
// analysed, with every variant kept and with the bounded cache the store keeps.
#include "analysis/audio_analysis_cache_key.h"
#include "model/project_json.h"

#include <benchmark/benchmark.h>

#include <random>

using namespace fotivela;

namespace {

constexpr std::size_t curveSamples = 19200; // a 4-minute song
constexpr std::size_t markerCount = 480;
constexpr AutoBeatInstrument instruments[] = {AutoBeatInstrument::drums, AutoBeatInstrument::bass,
                                              AutoBeatInstrument::vocals, AutoBeatInstrument::other};

AudioAnalysis analysis(std::mt19937_64& random, AutoBeatInstrument instrument, double sensitivity)
{
    std::uniform_real_distribution<double> value(0.0, 1.0);
    AudioAnalysis result{{}, {}, sensitivity, 4, 25};
    result.waveformSamples.resize(curveSamples);
    for (double& sample : result.waveformSamples)
        sample = value(random);
    for (std::size_t i = 0; i < markerCount; ++i)
        result.beatMarkers.push_back({Uuid::random(), static_cast<double>(i) * 0.5, value(random),
                                      BeatKind::strong, true, false, instrument});
    return result;
}

FotivelaProject afterTenChanges(bool bounded)
{
    std::mt19937_64 random(7);
    FotivelaProject project = FotivelaProject::empty();
    AudioTrack track;
    track.url = "/home/ana/Música/canción.mp3";
    track.syncMode = SyncMode::autoBeatV2;
    track.beatsPerBar = 4;
    std::vector<std::string> recent;
    for (int change = 0; change <= 10; ++change) {
        track.beatSensitivity = change * 0.1;
        for (const AutoBeatInstrument instrument : instruments) {
            const AudioAnalysis result = analysis(random, instrument, track.beatSensitivity);
            track.instrumentAnalysisCache[instrument] = result;
            const std::string key = AudioAnalysisCacheKey::variantKey(instrument, "fallback", track.beatSensitivity, 4);
            track.instrumentAnalysisVariants[key] = result;
            std::erase(recent, key);
            recent.push_back(key);
            if (bounded)
                AudioAnalysisCacheKey::pruneInstrumentVariants(track, instrument, key, recent);
        }
    }
    project.audio = track;
    return project;
}

void encodeAfterTenChanges(benchmark::State& state)
{
    const FotivelaProject project = afterTenChanges(state.range(0) != 0);
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = encodeProject(project);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
    state.counters["variants"] = static_cast<double>(project.audio->instrumentAnalysisVariants.size());
}

void decodeAfterTenChanges(benchmark::State& state)
{
    const std::string text = encodeProject(afterTenChanges(state.range(0) != 0));
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeProject(text));
}

} // namespace

// 0: every variant kept (as before), 1: the current variant and the three most recent per instrument.
BENCHMARK(encodeAfterTenChanges)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(decodeAfterTenChanges)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
