// The analysis hot paths that run on the main thread: the timeline's derived
// data, the close-marker pass and marker detection on a long curve.

#include "analysis/audio_analysis_cache_key.h"
#include "analysis/beat_marker_detector.h"
#include "analysis/timeline_derived_data.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

using namespace fotivela;

namespace {

std::vector<BeatMarker> randomMarkers(size_t count, double duration, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const std::vector<AutoBeatInstrument> instruments {AutoBeatInstrument::drums, AutoBeatInstrument::bass,
        AutoBeatInstrument::vocals, AutoBeatInstrument::other};
    std::vector<BeatMarker> markers(count);
    for (BeatMarker& m : markers) {
        m.id = Uuid::random();
        m.time = unit(random) * duration;
        m.strength = unit(random);
        m.kind = static_cast<BeatKind>(random() % 3);
        m.isManual = random() % 10 == 0;
        m.isEnabled = random() % 8 != 0;
        if (random() % 5 != 0)
            m.sourceInstrument = instruments[random() % instruments.size()];
    }
    return markers;
}

void closeMarkerPass(benchmark::State& state)
{
    const auto markers = randomMarkers(static_cast<size_t>(state.range(0)), 600.0, 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(BeatMarkerDetector::automaticallyDisabledCloseMarkers(markers, 0.22));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(closeMarkerPass)->Arg(20000)->Unit(benchmark::kMillisecond);

void timelineDerivedData(benchmark::State& state)
{
    AudioTrack track;
    track.syncMode = SyncMode::autoBeatV2;
    track.autoBeatInstruments = {AutoBeatInstrument::drums, AutoBeatInstrument::bass, AutoBeatInstrument::vocals};
    track.beatSensitivity = 0.3;
    track.beatsPerBar = 4;
    for (AutoBeatInstrument instrument : demucsStemInstrumentSet()) {
        AudioAnalysis analysis;
        analysis.waveformSamples.assign(45000, 0.5);
        analysis.sensitivity = track.beatSensitivity;
        analysis.beatsPerBar = track.beatsPerBar;
        analysis.version = AudioAnalysisCacheKey::analysisVersion;
        track.instrumentAnalysisVariants[AudioAnalysisCacheKey::variantKey(instrument, track)] = analysis;
    }
    const std::optional<AudioTrack> audio = track;
    const auto markers = randomMarkers(5000, 600.0, 2);
    const std::vector<BeatMarker> attack;
    const std::set<AutoBeatInstrument> visible {AutoBeatInstrument::drums, AutoBeatInstrument::bass};
    std::vector<Slide> slides(500);
    for (size_t i = 0; i < slides.size(); ++i)
        slides[i].duration = 1.0 + static_cast<double>(i % 7) * 0.25;
    const TimelineDataBuilder::Inputs inputs {audio, markers, attack, false, visible,
        [](AutoBeatInstrument) { return true; }, slides, markers[1234].id};
    for (auto _ : state)
        benchmark::DoNotOptimize(TimelineDataBuilder::derivedData(inputs));
}
BENCHMARK(timelineDerivedData)->Unit(benchmark::kMillisecond);

void detectOnLongCurve(benchmark::State& state)
{
    std::mt19937 random(3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> curve(45000);
    for (size_t i = 0; i < curve.size(); ++i)
        curve[i] = (i % 40 == 0 ? 0.8 : 0.1) * unit(random);
    for (auto _ : state) {
        benchmark::DoNotOptimize(BeatMarkerDetector::automaticallyDisabledCloseMarkers(
            BeatMarkerDetector::detectBeatMarkers(curve, 900.0, 0.0, 1, BeatDetectionProfile::attack(), std::nullopt, true),
            0.22));
    }
}
BENCHMARK(detectOnLongCurve)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
