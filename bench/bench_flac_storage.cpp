// Lossless storage of a 4-minute stereo song: the FLAC encode alone, one decoded
// digest, and the whole verified conversion (encode and two decodes).

#include "model/project_audio_resource_storage.h"
#include "platform/audio_converter.h"

#include "support/test_audio.h"

#include <benchmark/benchmark.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace fotivela;
using namespace fotivela::test;

namespace {

const AudioTestFolder& folder()
{
    static const AudioTestFolder instance("fotivela-bench-flac");
    return instance;
}

// A tone with drum hits and a little noise, so the encoder has real work.
const fs::path& song()
{
    static const fs::path file = [] {
        TestSignal signal = makeSine(220, 240, 44100, 2, 0.3, true);
        std::vector<double> hits;
        for (double t = 0; t < 239; t += 0.5)
            hits.push_back(t);
        addDrumHits(signal, hits, 0.5);
        addNoise(signal, 0.01, 5);
        return writeAudioFile(folder().path(), "song", signal, TestAudioFormat::wav16);
    }();
    return file;
}

void setBytes(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fs::file_size(song())));
}

void BM_EncodeFlac(benchmark::State& state)
{
    const fs::path output = folder() / "encoded.flac";
    for (auto _ : state) {
        benchmark::DoNotOptimize(AudioConverter::convertToFLAC(song(), output));
        fs::remove(output);
    }
    setBytes(state);
}

void BM_DecodedDigest(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(ProjectAudioResourceStorage::decodedPCMDigest(song(), 16));
    setBytes(state);
}

void BM_VerifiedConversion(benchmark::State& state)
{
    const fs::path output = folder() / "song.flac";
    for (auto _ : state) {
        ProjectAudioResourceStorage::convertWAVToFLAC(song(), output);
        fs::remove(output);
    }
    setBytes(state);
}

} // namespace

BENCHMARK(BM_EncodeFlac)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DecodedDigest)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_VerifiedConversion)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
