// The stem separator: splits one song into drums, bass, vocals and other.
// On failure it prints one line on stderr (shown to the user as it stands),
// leaves no stem file behind and exits non-zero (2 for a wrong command line).

#include "background_stem_writer.h"
#include "onset_gate.h"
#include "input_window.h"
#include "separation_error.h"
#include "separation_model.h"
#include "separation_request.h"
#include "stem_output.h"
#include "stem_separator.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

using namespace fotivela::stem_separator;

namespace {

void printLine(FILE* stream, std::string line)
{
    for (char& c : line)
        if (c == '\n' || c == '\r')
            c = ' ';
    std::fprintf(stream, "%s\n", line.c_str());
    std::fflush(stream);
}

int run(const std::vector<std::string_view>& arguments)
{
    const SeparationRequest request = parseSeparationRequest(arguments);
    const SeparationModel model = readSeparationModel(request.modelFolder, request.modelName);
    InputWindow input(request.input);
    StemOutput output(request.stemFolder(), input.sampleRate());
    const int workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    OnsetGate gate(output, input.sampleRate(),
        {{Stem::drums, model.preEchoLookaheadMs / 1000.0, model.preEchoRatioDb, model.preEchoBassHz, Stem::bass,
             model.preEchoTailMs / 1000.0},
            {Stem::bass, model.bassPreEchoLookaheadMs / 1000.0, model.bassPreEchoRatioDb}});
    BackgroundStemWriter writer(gate);
    const SeparationTimings timings = separateStems(input, model, request.segmentSeconds, writer, workers);
    writer.finish();
    gate.finish();
    output.commit();
    // For the benchmarks: where the time went.
    if (std::getenv("FOTIVELA_STEM_SEPARATOR_TIMINGS")) {
        printLine(stdout, "workers=" + std::to_string(timings.workers) + " reading=" + std::to_string(timings.reading)
            + " forward=" + std::to_string(timings.forwardTransforms) + " inverse="
            + std::to_string(timings.inverseTransforms) + " masks=" + std::to_string(timings.masks)
            + " writing=" + std::to_string(timings.writing));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    try {
        return run(arguments);
    } catch (const UsageError& error) {
        printLine(stderr, error.what());
        return 2;
    } catch (const SeparationError& error) {
        printLine(stderr, error.what());
        return 1;
    } catch (const std::bad_alloc&) {
        printLine(stderr, "No hay memoria suficiente para separar los instrumentos.");
        return 1;
    } catch (const std::exception& error) {
        printLine(stderr, std::string("No se pudieron separar los instrumentos: ") + error.what());
        return 1;
    }
}
