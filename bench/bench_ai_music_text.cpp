// The instrumental clean-up of a 64 KiB style made of the phrases it removes and rewrites (the
// worst case: a match every few characters), and of as much plain text.
#include "account/ai_music_text_processor.h"

#include <benchmark/benchmark.h>

#include <string>

using namespace fotivela;

namespace {

std::string repeated(const std::string& piece, std::size_t size)
{
    std::string text;
    while (text.size() < size)
        text += piece;
    text.resize(size);
    return text;
}

void BM_InstrumentalStyleFullOfVocalPhrases(benchmark::State& state)
{
    const std::string text = repeated("female vocals, voz suave, no singer, lead vocal, ", 64 * 1024);
    for (auto _ : state)
        benchmark::DoNotOptimize(AIMusicTextProcessor::instrumentalStyle(text, "Pop"));
}
BENCHMARK(BM_InstrumentalStyleFullOfVocalPhrases)->Unit(benchmark::kMillisecond);

void BM_InstrumentalStylePlainText(benchmark::State& state)
{
    const std::string text = repeated("piano nocturno, cuerdas cálidas, ritmo lento, ", 64 * 1024);
    for (auto _ : state)
        benchmark::DoNotOptimize(AIMusicTextProcessor::instrumentalStyle(text, "Pop"));
}
BENCHMARK(BM_InstrumentalStylePlainText)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
