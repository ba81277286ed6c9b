// Installing the stem runtime package this build made, from its file URL into an empty folder:
// read, SHA-256 of the archive, gzip check, unpack, SHA-256 of every file, activation. And the
// answer for an already active runtime, which checks every file again.

#include "stem_runtime/demucs_runtime_installer.h"
#include "stem_runtime/demucs_runtime_package.h"

#include "support/test_audio.h"

#include <benchmark/benchmark.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace fotivela;
using namespace fotivela::test;

namespace {

void BM_InstallPackage(benchmark::State& state)
{
    const AudioTestFolder folder("fotivela-bench-runtime");
    const auto source = DemucsRuntimePackage::shippedSource();
    int round = 0;
    for (auto _ : state) {
        const auto root = folder / ("root-" + std::to_string(round++));
        benchmark::DoNotOptimize(DemucsRuntimeInstaller::ensureRuntime(root, source, {}, {}));
        state.PauseTiming();
        fs::remove_all(root);
        state.ResumeTiming();
    }
    state.counters["package_MB"] = static_cast<double>(fs::file_size(DemucsRuntimePackage::builtArchivePath())) / 1e6;
}
BENCHMARK(BM_InstallPackage)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_AnswerActiveRuntime(benchmark::State& state)
{
    const AudioTestFolder folder("fotivela-bench-runtime");
    const auto source = DemucsRuntimePackage::shippedSource();
    const auto root = folder / "root";
    DemucsRuntimeInstaller::ensureRuntime(root, source, {}, {});
    for (auto _ : state)
        benchmark::DoNotOptimize(DemucsRuntimeInstaller::ensureRuntime(root, source, {}, {}));
}
BENCHMARK(BM_AnswerActiveRuntime)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
