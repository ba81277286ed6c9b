// Encoding and decoding of a heavy project against nlohmann-json's own
// dump(2) and parse of the same data.
#include "model/project_json.h"
#include "platform/json_decoding.h"
#include "platform/json_encoder.h"

#include <benchmark/benchmark.h>

#include <random>

using namespace fotivela;
using Json = nlohmann::json;

namespace {

constexpr std::size_t curveSamples = 19200; // a 4-minute song
constexpr std::size_t markerCount = 480;

std::vector<double> curve(std::mt19937_64& random)
{
    std::uniform_real_distribution<double> value(0.0, 1.0);
    std::vector<double> samples(curveSamples);
    for (auto& s : samples)
        s = value(random);
    return samples;
}

std::vector<BeatMarker> markers(std::mt19937_64& random, std::optional<AutoBeatInstrument> instrument)
{
    std::uniform_real_distribution<double> value(0.0, 1.0);
    std::vector<BeatMarker> list;
    for (std::size_t i = 0; i < markerCount; ++i)
        list.push_back({Uuid::random(), static_cast<double>(i) * 0.5 + value(random) * 0.1, value(random),
                        static_cast<BeatKind>(i % 3), i % 7 != 0, i % 11 == 0, instrument});
    return list;
}

AudioAnalysis analysis(std::mt19937_64& random, std::optional<AutoBeatInstrument> instrument)
{
    return {curve(random), markers(random, instrument), 0.4567, 4, 25};
}

FotivelaProject heavyProject()
{
    std::mt19937_64 random(42);
    auto project = FotivelaProject::empty();
    project.name = "Proyecto de prueba";
    for (int i = 0; i < 60; ++i) {
        Slide slide;
        slide.id = Uuid::random();
        slide.imageURL = "/home/ana/Imágenes/Viaje a Roma/IMG_" + std::to_string(1000 + i) + ".HEIC";
        slide.name = "IMG_" + std::to_string(1000 + i);
        slide.order = i;
        slide.duration = 4.0 + i * 0.013;
        slide.title = i == 0 ? "Roma 2024" : "";
        project.slides.push_back(slide);
    }
    AudioTrack track;
    track.url = "/home/ana/Música/canción.mp3";
    track.name = "canción";
    track.syncMode = SyncMode::autoBeatV2;
    track.beatSensitivity = 0.4567;
    track.beatsPerBar = 4;
    track.snapTolerance = 0.08;
    track.autoBeatTargets = syncSelectableKinds();
    track.autoBeatInstruments = demucsStemInstrumentSet();
    track.waveformSamples = curve(random);
    track.attackDetectionSamples = curve(random);
    track.beatMarkers = markers(random, std::nullopt);
    for (const auto focus : allCases<BeatDetectionFocus>())
        track.analysisCache[focus] = analysis(random, std::nullopt);
    for (const auto instrument : allCases<AutoBeatInstrument>())
        track.instrumentAnalysisCache[instrument] = analysis(random, instrument);
    for (int i = 0; i < 10; ++i)
        track.instrumentAnalysisVariants["Bajo|fallback|s:" + std::to_string(400 + i) + "|b:4|v:25"] =
            analysis(random, AutoBeatInstrument::bass);
    track.stemSeparation.engine = StemSeparationEngine::demucs;
    for (const auto stem : allCases<AudioStem>())
        track.stemSeparation.stems[stem] = "/home/ana/Viaje/AI/Stems/ABC/htdemucs/canción/" +
                                           std::string(toStored(stem)) + ".wav";
    track.stemSeparation.message = "Listo";
    track.analysisVersion = 25;
    project.audio = std::move(track);
    return project;
}

const FotivelaProject& project()
{
    static const auto heavy = heavyProject();
    return heavy;
}

const Json& tree()
{
    static const auto built = toJson(project());
    return built;
}

const std::string& text()
{
    static const auto encoded = encodeProject(project());
    return encoded;
}

// Visits every value the way a decoder must, without building a record.
double walk(const Json& j)
{
    switch (j.type()) {
    case Json::value_t::object: {
        double sum = 0;
        for (const auto& [key, value] : j.items())
            sum += static_cast<double>(key.size()) + walk(value);
        return sum;
    }
    case Json::value_t::array: {
        double sum = 0;
        for (const auto& value : j)
            sum += walk(value);
        return sum;
    }
    case Json::value_t::number_float:
        return j.get<double>();
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
        return static_cast<double>(j.get<std::int64_t>());
    case Json::value_t::string:
        return static_cast<double>(j.get_ref<const std::string&>().size());
    case Json::value_t::boolean:
        return j.get<bool>() ? 1 : 0;
    default:
        return 0;
    }
}

void setBytes(benchmark::State& state, std::size_t bytes)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_OurEncoder_ProjectToText(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeProject(project()));
    setBytes(state, text().size());
}

void BM_OurEncoder_TreeToText(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeFotivelaJson(tree()));
    setBytes(state, text().size());
}

void BM_Nlohmann_Dump2(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(tree().dump(2));
    setBytes(state, text().size());
}

void BM_Nlohmann_ProjectToTreeThenDump2(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(toJson(project()).dump(2));
    setBytes(state, text().size());
}

void BM_OurDecoder_TextToProject(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeProject(text()));
    setBytes(state, text().size());
}

void BM_Nlohmann_ParseAndWalk(benchmark::State& state)
{
    for (auto _ : state) {
        const auto parsed = Json::parse(text());
        benchmark::DoNotOptimize(walk(parsed));
    }
    setBytes(state, text().size());
}

} // namespace

BENCHMARK(BM_OurEncoder_ProjectToText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OurEncoder_TreeToText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Nlohmann_Dump2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Nlohmann_ProjectToTreeThenDump2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OurDecoder_TextToProject)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Nlohmann_ParseAndWalk)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
