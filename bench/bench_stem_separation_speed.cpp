// Speed and peak memory of the stem separator on a 4-minute 44.1 kHz stereo
// song, run as the application runs it: a child process, timed from fork to
// exit, its peak resident memory from wait4. Also where its time went.
// FOTIVELA_STEM_SPEED_SONG=<kind> times a song of the hard set instead
// (e.g. hiphop, whose 808s the separator fits one by one).

#include "bench_stem_separation.h"
#include "bench_stem_hard_songs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace fotivela;
using namespace fotivela::bench;

int main()
{
    constexpr double seconds = 240.0;
    test::AudioTestFolder folder("fotivela-stem-speed");
    const char* kind = std::getenv("FOTIVELA_STEM_SPEED_SONG");
    // Made and dropped before any child starts: a forked child's peak memory counts the parent's pages.
    const auto input = [&] {
        const MultitrackSong song = kind && *kind ? makeHardSong(kind, 0, seconds) : makeMultitrackSong(seconds);
        return test::writeAudioFile(folder.path(), "song", song.mix, test::TestAudioFormat::wav16);
    }();

    std::printf("Stem separation of a %.0f s 44.1 kHz stereo %s song (WAV 16-bit), separator as a child process\n", seconds,
        kind && *kind ? kind : "plain");
    std::printf("%-4s %9s %8s %9s | thread seconds: %8s %8s %8s | wall: %7s %7s\n", "run", "wall s", "x length",
        "peak MB", "forward", "inverse", "masks", "read", "write");
    std::vector<double> walls;
    for (int i = 0; i < 3; ++i) {
        std::filesystem::remove_all(folder / "out");
        const ChildRun run = runChild(FOTIVELA_STEM_SEPARATOR, separatorArguments(folder / "out", input), folder / "log.txt", true);
        if (run.exitStatus != 0) {
            std::printf("failed (%d): %s\n", run.exitStatus, run.output.c_str());
            return 1;
        }
        int workers = 0;
        double reading = 0, forward = 0, inverse = 0, masks = 0, writing = 0;
        std::sscanf(run.output.c_str(), "workers=%d reading=%lf forward=%lf inverse=%lf masks=%lf writing=%lf", &workers,
            &reading, &forward, &inverse, &masks, &writing);
        std::printf("%-4d %9.2f %8.4f %9.1f | %4d workers: %8.2f %8.2f %8.2f | %12.2f %7.2f\n", i + 1, run.wallSeconds,
            run.wallSeconds / seconds, static_cast<double>(run.peakKilobytes) / 1024.0, workers, forward, inverse, masks,
            reading, writing);
        walls.push_back(run.wallSeconds);
    }
    std::sort(walls.begin(), walls.end());
    std::printf("median wall %.2f s = %.4f x the song (target < 0.05 x = %.1f s)\n", walls[1], walls[1] / seconds,
        0.05 * seconds);
    return 0;
}
