#pragma once

// Shared by the stem separation benchmarks: a multitrack song made in code
// (each part kept apart as the reference for its stem) and the separator run
// as a child process, timed, with its peak memory.

#include "support/test_audio.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fotivela::bench {

using test::TestSignal;

// The parts of a song, in the separator's stem order: drums, bass, vocals, other.
struct MultitrackSong {
    TestSignal mix;
    std::array<TestSignal, 4> parts;
    std::vector<double> kicks;
    std::vector<double> snares;
    std::vector<double> bassNotes; // the bass notes that start with an attack
};

inline void addSample(TestSignal& signal, std::size_t channel, std::int64_t frame, double value)
{
    if (frame >= 0 && frame < static_cast<std::int64_t>(signal.frameCount()))
        signal.channels[channel][static_cast<std::size_t>(frame)] += static_cast<float>(value);
}

// A kick: a sine falling from 150 to 50 Hz under a quick decay, with a click on top.
inline void addKick(TestSignal& s, double time, double gain)
{
    const auto start = static_cast<std::int64_t>(time * s.sampleRate);
    double phase = 0;
    for (int i = 0; i < s.sampleRate * 3 / 10; ++i) {
        const double t = static_cast<double>(i) / s.sampleRate;
        phase += 2 * std::numbers::pi * (50 + 100 * std::exp(-t / 0.03)) / s.sampleRate;
        const double value = gain * (std::exp(-t / 0.07) * std::sin(phase) + (i < 40 ? 0.3 * (1 - i / 40.0) : 0));
        addSample(s, 0, start + i, value);
        addSample(s, 1, start + i, value);
    }
}

// A clap-snare: bright noise with a short body tone, slightly different on each side.
inline void addSnare(TestSignal& s, double time, double gain, std::mt19937& random)
{
    std::uniform_real_distribution<double> noise(-1, 1);
    const auto start = static_cast<std::int64_t>(time * s.sampleRate);
    std::array<double, 2> previous{0, 0};
    for (int i = 0; i < s.sampleRate / 5; ++i) {
        const double t = static_cast<double>(i) / s.sampleRate;
        const double body = 0.5 * std::exp(-t / 0.04) * std::sin(2 * std::numbers::pi * 190 * t);
        for (std::size_t c = 0; c < 2; ++c) {
            const double n = noise(random);
            const double bright = n - previous[c]; // a first difference tilts the noise up
            previous[c] = n;
            addSample(s, c, start + i, gain * (std::exp(-t / 0.05) * 0.6 * bright + body));
        }
    }
}

inline void addHat(TestSignal& s, double time, double gain, std::mt19937& random)
{
    std::uniform_real_distribution<double> noise(-1, 1);
    const auto start = static_cast<std::int64_t>(time * s.sampleRate);
    double previous = 0;
    for (int i = 0; i < s.sampleRate / 25; ++i) {
        const double n = noise(random);
        const double value = gain * std::exp(-static_cast<double>(i) / s.sampleRate / 0.012) * (n - previous);
        previous = n;
        addSample(s, 0, start + i, value * 0.8);
        addSample(s, 1, start + i, value);
    }
}

// A note of a few harmonics with an attack and release, on both sides with the given gains.
inline void addNote(TestSignal& s, double time, double length, double frequency, const std::vector<double>& harmonics,
    double gain, double left, double right, double vibratoDepth = 0, double phaseOffset = 0)
{
    const auto start = static_cast<std::int64_t>(time * s.sampleRate);
    const auto frames = static_cast<std::int64_t>(length * s.sampleRate);
    double phase = phaseOffset;
    for (std::int64_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / s.sampleRate;
        const double envelope = std::min({1.0, t / 0.02, (length - t) / 0.05});
        phase += 2 * std::numbers::pi * frequency * (1 + vibratoDepth * std::sin(2 * std::numbers::pi * 5.5 * t)) / s.sampleRate;
        double value = 0;
        for (std::size_t h = 0; h < harmonics.size(); ++h)
            value += harmonics[h] * std::sin(static_cast<double>(h + 1) * phase);
        addSample(s, 0, start + i, gain * envelope * left * value);
        addSample(s, 1, start + i, gain * envelope * right * value);
    }
}

// How one test song is played.
struct SongStyle {
    std::string name;
    double beatsPerMinute = 120;
    bool fourOnTheFloor = false; // a kick on every beat, the clap-snare on two and four over it
    double drumGain = 1, bassGain = 1, voiceGain = 1, padGain = 1;
    double transpose = 1;        // frequency factor of every pitched part
    std::uint32_t seed = 11;
};

inline std::vector<SongStyle> songStyles()
{
    return {{"pop", 120, false, 1, 1, 1, 1, 1, 11}, {"dance", 128, true, 1.1, 1.3, 0.8, 1.2, 1.12, 12},
        {"ballad", 84, false, 0.6, 0.8, 1.5, 1.3, 0.89, 13}};
}

// Kick and clap-snare with hats on the eighths; a bass line on the roots; a sung-like
// melody with vibrato in the centre; wide pad chords, different on each side.
inline MultitrackSong makeMultitrackSong(double seconds, const SongStyle& style = songStyles().front(), int sampleRate = 44100)
{
    MultitrackSong song;
    for (TestSignal& part : song.parts)
        part = test::makeSilence(seconds, sampleRate, 2);
    std::mt19937 random(style.seed);
    const double beat = 60.0 / style.beatsPerMinute;
    const int beats = static_cast<int>(seconds / beat) - 1;
    for (int b = 0; b < beats; ++b) {
        const double t = 0.25 + b * beat;
        if (style.fourOnTheFloor || b % 2 == 0) {
            addKick(song.parts[0], t, 0.7 * style.drumGain);
            song.kicks.push_back(t);
        }
        if (b % 2 == 1) {
            addSnare(song.parts[0], t, 0.45 * style.drumGain, random);
            song.snares.push_back(t);
        }
        if (!style.fourOnTheFloor && b % 4 == 3) {
            addKick(song.parts[0], t + beat / 2, 0.5 * style.drumGain);
            song.kicks.push_back(t + beat / 2);
        }
        addHat(song.parts[0], t, 0.12 * style.drumGain, random);
        addHat(song.parts[0], t + beat / 2, 0.08 * style.drumGain, random);
    }
    const double roots[] = {55.0, 43.65, 49.0, 41.2};
    const double melody[] = {440, 392, 349.2, 392, 440, 523.3, 493.9, 440};
    const double f = style.transpose;
    for (int bar = 0; bar * 4 * beat < seconds; ++bar) {
        const double t = 0.25 + bar * 4 * beat;
        const double root = roots[bar % 4] * f;
        for (int n = 0; n < 4; ++n) {
            addNote(song.parts[1], t + n * beat, beat * 0.9, root * (n == 2 ? 1.5 : 1.0), {1.0, 0.5, 0.3, 0.15},
                0.35 * style.bassGain, 1, 1);
            if (t + n * beat < seconds - 0.1)
                song.bassNotes.push_back(t + n * beat);
        }
        // Two melody notes a bar, a short breath between phrases.
        for (int n = 0; n < 2; ++n)
            addNote(song.parts[2], t + n * 2 * beat, 2 * beat * 0.85, melody[(bar * 2 + n) % 8] * f,
                {1.0, 0.6, 0.45, 0.3, 0.2, 0.12, 0.08}, 0.12 * style.voiceGain, 1, 1, 0.012);
        // The pad: the chord's third and fifth two octaves up, left and right apart.
        addNote(song.parts[3], t, 4 * beat, root * 8 * 1.26, {1.0, 0.3}, 0.06 * style.padGain, 1, 0.15, 0.002, 0.0);
        addNote(song.parts[3], t, 4 * beat, root * 8 * 1.5, {1.0, 0.3}, 0.06 * style.padGain, 0.15, 1, 0.002, 1.3);
        addNote(song.parts[3], t, 4 * beat, root * 16, {1.0, 0.2}, 0.04 * style.padGain, 1, -0.6, 0.0, 2.1);
    }
    song.mix = test::makeSilence(seconds, sampleRate, 2);
    for (const TestSignal& part : song.parts)
        for (std::size_t c = 0; c < 2; ++c)
            for (std::size_t i = 0; i < part.frameCount(); ++i)
                song.mix.channels[c][i] += part.channels[c][i];
    return song;
}

struct ChildRun {
    int exitStatus = -1;
    double wallSeconds = 0;
    long peakKilobytes = 0;
    std::string output; // stdout and stderr together
};

inline ChildRun runChild(const std::string& program, std::vector<std::string> arguments,
    const std::filesystem::path& outputFile, bool timings)
{
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    // The environment is made before the fork: the child only calls what is safe there.
    std::string timingsVariable = "FOTIVELA_STEM_SEPARATOR_TIMINGS=1";
    std::vector<char*> environment;
    for (char** variable = environ; *variable; ++variable)
        environment.push_back(*variable);
    if (timings)
        environment.push_back(timingsVariable.data());
    environment.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        ::execve(argv[0], argv.data(), environment.data());
        ::_exit(127);
    }
    ChildRun run;
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakKilobytes = usage.ru_maxrss;
    std::ifstream stream(outputFile);
    std::ostringstream text;
    text << stream.rdbuf();
    run.output = text.str();
    return run;
}

inline std::vector<std::string> separatorArguments(const std::filesystem::path& out, const std::filesystem::path& input)
{
    // FOTIVELA_STEM_MODEL_DIR in the environment tries another parameter set.
    const char* models = std::getenv("FOTIVELA_STEM_MODEL_DIR");
    return {"-n", "htdemucs", "--repo", models ? models : FOTIVELA_STEM_MODEL_DIR, "--device", "cpu", "--segment", "7", "--out",
        out.string(), input.string()};
}

// Signal-to-distortion ratio of an estimate against the part it should hold.
inline double sdr(const TestSignal& reference, const std::vector<std::vector<float>>& estimate)
{
    double signal = 0, error = 0;
    for (std::size_t c = 0; c < 2; ++c)
        for (std::size_t i = 0; i < reference.frameCount(); ++i) {
            const double r = reference.channels[c][i];
            const double d = r - (i < estimate[c].size() ? estimate[c][i] : 0.0f);
            signal += r * r;
            error += d * d;
        }
    return 10 * std::log10(signal / std::max(error, 1e-20));
}

inline double dot(const std::vector<std::vector<float>>& a, const std::vector<std::vector<float>>& b)
{
    double total = 0;
    for (std::size_t c = 0; c < 2; ++c)
        for (std::size_t i = 0; i < std::min(a[c].size(), b[c].size()); ++i)
            total += static_cast<double>(a[c][i]) * b[c][i];
    return total;
}

inline double median(std::vector<double> values)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const std::size_t m = values.size() / 2;
    return values.size() % 2 ? values[m] : 0.5 * (values[m - 1] + values[m]);
}

// A plain median-filter split: the percussive share to the drums, the harmonic
// share under 150–300 Hz to the bass, centred harmonic sound in the voice band
// to the vocals, the rest to other; nothing more.
inline std::filesystem::path writePlainModel(const std::filesystem::path& folder)
{
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "htdemucs.json") << R"({"version": "plain-median", "fftSize": 4096, "hopSize": 1024,
        "harmonicMedianFrames": 17, "percussiveMedianBins": 17, "maskPower": 2.0,
        "bassBand": {"fromHz": 300.0, "toHz": 150.0}, "bassHarmonics": 0, "lowTransientMargin": 0,
        "preEchoLookaheadMs": 0, "voiceLow": {"fromHz": 120.0, "toHz": 220.0},
        "voiceHigh": {"fromHz": 6000.0, "toHz": 3500.0}, "centrePower": 4.0, "centreSmoothingFrames": 2})";
    return folder;
}

} // namespace fotivela::bench
