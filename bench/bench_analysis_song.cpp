// Whole-song analysis against aubioonset on the same file, and the peak memory
// of analysing a long song in a process of its own.
//
//   bench_analysis_song                 runs both measurements
//   bench_analysis_song --analyse FILE  analyses one file (the memory child)

#include "analysis/audio_waveform_analyzer.h"
#include "analysis/beat_marker_detector.h"

#include "support/test_audio.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

using namespace fotivela;
using namespace fotivela::test;

namespace {

using Clock = std::chrono::steady_clock;

// A song-like mix at 120 BPM: kick on the beats, snare on two and four, hats on
// the off-beats, a bass line and a pad, over a little noise.
TestSignal makeSong(double seconds, int sampleRate)
{
    TestSignal song = makeSilence(seconds, sampleRate, 2);
    const double beat = 0.5;
    for (double t = 0.0; t + 0.3 < seconds; t += beat) {
        const int index = static_cast<int>(t / beat + 0.5);
        addDrumHit(song, t, 0.7, 60.0, 0.15);
        if (index % 2 == 1)
            addDrumHit(song, t, 0.5, 190.0, 0.07);
        addDrumHit(song, t + beat / 2, 0.15, 7000.0, 0.02);
    }
    for (double t = 0.0; t < seconds; t += 2.0) {
        const double root = (static_cast<int>(t / 2.0) % 2 == 0) ? 55.0 : 73.4;
        addSine(song, root, 0.15, t, 2.0);
        addSine(song, root * 4, 0.05, t, 2.0, 0);
        addSine(song, root * 5, 0.05, t, 2.0, 1);
    }
    addNoise(song, 0.01, 11);
    return song;
}

bool analyseWithMarkers(const std::filesystem::path& file, double duration)
{
    const WaveformAnalysis analysis = AudioWaveformAnalyzer::makeWaveformAnalysis(file, 1400, BeatDetectionFocus::fullMix);
    const auto markers = BeatMarkerDetector::automaticallyDisabledCloseMarkers(
        BeatMarkerDetector::detectBeatMarkers(analysis.detection, duration, 0.0, 1, BeatDetectionProfile::attack(),
            std::nullopt, true),
        0.22);
    if (analysis.display.empty() || markers.empty()) {
        std::fprintf(stderr, "analysis gave nothing for %s\n", file.c_str());
        return false;
    }
    return true;
}

struct ChildResult {
    int status = -1;
    double seconds = 0;
};

ChildResult runChild(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const auto& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = 0;
    ChildResult result;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string selfPath()
{
    std::vector<char> buffer(4096);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    return n > 0 ? std::string(buffer.data(), static_cast<size_t>(n)) : std::string();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--analyse") == 0) {
        const bool analysed = analyseWithMarkers(argv[2], 600.0);
        // The high-water mark of this process's own memory (a spawned child's
        // rusage would count the parent's pages from before the exec).
        std::ifstream status("/proc/self/status");
        std::ofstream out(argv[3]);
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("VmHWM:"))
                out << std::stol(line.substr(6)) << "\n";
        }
        return analysed ? 0 : 1;
    }

    AudioTestFolder folder("fotivela-bench");

    // 1. Four minutes of 44.1 kHz stereo MP3: ours against aubioonset, alternating, five runs each.
    const auto song = writeAudioFile(folder.path(), "song4min", makeSong(240.0, 44100), TestAudioFormat::mp3);
    analyseWithMarkers(song, 240.0); // warm the file cache for both sides
    std::vector<double> ours;
    std::vector<double> aubio;
    for (int run = 0; run < 5; ++run) {
        const auto start = Clock::now();
        analyseWithMarkers(song, 240.0);
        ours.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        const ChildResult peer = runChild({"/usr/bin/aubioonset", "-i", song.string()});
        if (peer.status != 0) {
            std::printf("aubioonset failed (status %d)\n", peer.status);
            return 1;
        }
        aubio.push_back(peer.seconds);
    }
    std::printf("4-minute 44.1 kHz stereo MP3, decode + waveform + attack markers (median of 5)\n");
    std::printf("  fotivela     %.3f s\n", median(ours));
    std::printf("  aubioonset   %.3f s\n", median(aubio));
    std::printf("  ratio        %.2f (target <= 1.0)\n", median(ours) / median(aubio));

    // 2. Ten minutes of 48 kHz stereo: peak memory of a process that only analyses.
    for (TestAudioFormat format : {TestAudioFormat::mp3, TestAudioFormat::wavFloat}) {
        const auto longSong = writeAudioFile(folder.path(), "song10min", makeSong(600.0, 48000), format);
        const auto report = folder / "peak.txt";
        const ChildResult child = runChild({selfPath(), "--analyse", longSong.string(), report.string()});
        long peakKilobytes = 0;
        std::ifstream(report) >> peakKilobytes;
        std::printf("10-minute 48 kHz stereo %s: peak resident memory %.1f MB, %.2f s, status %d (target < 150 MB)\n",
            fileExtension(format), static_cast<double>(peakKilobytes) / 1024.0, child.seconds, child.status);
        std::filesystem::remove(longSong);
    }
    return 0;
}
