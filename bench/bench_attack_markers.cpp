// Accuracy of the attack markers on songs made in code with known onsets, as
// the store makes them for a new song (sensitivity 0, spacing 0.22 s, one
// marker a bar) for each detection focus. A marker counts when it lies from
// 120 ms before to 50 ms after an onset, the span in which a cut still looks
// on the beat. Each song comes in two takes (other seed, tempo and phase):
// the tuning takes and the held-out takes are reported apart.

#include "analysis/audio_waveform_analyzer.h"
#include "analysis/beat_marker_detector.h"

#include "support/test_audio.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <string>
#include <vector>

using namespace fotivela;
using namespace fotivela::test;

namespace {

constexpr int kRate = 44100;
constexpr double kEarly = 0.120;
constexpr double kLate = 0.050;

struct Song {
    std::string name;
    TestSignal signal;
    std::vector<double> onsets;
};

void addSample(TestSignal& s, std::int64_t frame, double value)
{
    if (frame < 0 || frame >= static_cast<std::int64_t>(s.frameCount()))
        return;
    for (auto& channel : s.channels)
        channel[static_cast<std::size_t>(frame)] += static_cast<float>(value);
}

std::int64_t frameOf(const TestSignal& s, double time)
{
    return static_cast<std::int64_t>(std::llround(time * s.sampleRate));
}

// A sine falling from 150 to 50 Hz under a quick decay, with a click on top.
void addKick(TestSignal& s, double time, double gain)
{
    const std::int64_t start = frameOf(s, time);
    double phase = 0;
    for (int i = 0; i < s.sampleRate * 3 / 10; ++i) {
        const double t = static_cast<double>(i) / s.sampleRate;
        phase += 2 * std::numbers::pi * (50 + 100 * std::exp(-t / 0.03)) / s.sampleRate;
        addSample(s, start + i, gain * (std::exp(-t / 0.07) * std::sin(phase) + (i < 40 ? 0.3 * (1 - i / 40.0) : 0)));
    }
}

// White noise under an exponential decay.
void addBurst(TestSignal& s, double time, double gain, double decay, std::mt19937& random, bool bright = false)
{
    std::uniform_real_distribution<double> noise(-1, 1);
    const std::int64_t start = frameOf(s, time);
    double previous = 0;
    for (int i = 0; i < static_cast<int>(decay * 6 * s.sampleRate); ++i) {
        const double n = noise(random);
        const double value = bright ? n - previous : n;
        previous = n;
        addSample(s, start + i, gain * std::exp(-static_cast<double>(i) / s.sampleRate / decay) * value);
    }
}

void addNote(TestSignal& s, double time, double length, double frequency, double gain, double attack)
{
    const std::int64_t start = frameOf(s, time);
    double phase = 0;
    for (std::int64_t i = 0; i < static_cast<std::int64_t>(length * s.sampleRate); ++i) {
        const double t = static_cast<double>(i) / s.sampleRate;
        const double envelope = std::min({1.0, t / attack, (length - t) / 0.05});
        phase += 2 * std::numbers::pi * frequency / s.sampleRate;
        addSample(s, start + i, gain * envelope * (std::sin(phase) + 0.4 * std::sin(2 * phase) + 0.2 * std::sin(3 * phase)));
    }
}

// One take of each kind of song; take 1 shifts the tempo, the phase and the seed.
std::vector<Song> makeSongs(int take)
{
    const double seconds = take == 0 ? 30.0 : 40.0;
    const double phase = take == 0 ? 0.0031 : 0.0087; // inside the 12.5 ms bucket
    const double stretch = take == 0 ? 1.0 : 0.94;
    std::mt19937 random(100 + static_cast<unsigned>(take));
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<Song> songs;
    const auto song = [&](const std::string& name) -> Song& {
        songs.push_back({name, makeSilence(seconds, kRate, 2), {}});
        return songs.back();
    };

    Song& uniform = song("uniform kicks");
    for (double t = 0.5 + phase; t < seconds - 0.5; t += 0.5 * stretch) {
        addKick(uniform.signal, t, 0.7);
        uniform.onsets.push_back(t);
    }

    Song& irregular = song("irregular kicks");
    for (double t = 0.4 + phase; t < seconds - 0.5; t += (0.3 + 0.6 * unit(random)) * stretch) {
        addKick(irregular.signal, t, 0.35 + 0.4 * unit(random));
        irregular.onsets.push_back(t);
    }

    Song& bursts = song("noise bursts");
    for (double t = 1.0 + phase; t < seconds - 0.5; t += (0.9 + 0.5 * unit(random)) * stretch) {
        addBurst(bursts.signal, t, 0.3 + 0.3 * unit(random), 0.05, random);
        bursts.onsets.push_back(t);
    }

    Song& pad = song("kicks under a pad");
    for (double f : {110.0, 138.6, 164.8, 220.0})
        addNote(pad.signal, 0, seconds, f * stretch, 0.05, 1.5);
    for (double t = 0.5 + phase; t < seconds - 0.5; t += 0.5 * stretch) {
        addKick(pad.signal, t, 0.5);
        pad.onsets.push_back(t);
    }

    // Kick on one and three, clap-snare on two and four, hats on the eighths, a bass note on each beat.
    Song& mix = song("kick snare hats bass");
    const double beat = 0.5 * stretch;
    for (int b = 0; 0.3 + b * beat < seconds - 0.5; ++b) {
        const double t = 0.3 + phase + b * beat;
        if (b % 2 == 0)
            addKick(mix.signal, t, 0.6);
        else
            addBurst(mix.signal, t, 0.35, 0.045, random, true);
        addBurst(mix.signal, t + beat / 2, 0.08, 0.012, random, true);
        addNote(mix.signal, t, beat * 0.8, (b % 8 < 4 ? 55.0 : 49.0) * stretch, 0.12, 0.01);
        mix.onsets.push_back(t);
        mix.onsets.push_back(t + beat / 2);
    }

    // From 90 to 150 beats a minute over the song, a kick on each beat and a snare between.
    Song& tempo = song("tempo change");
    double t = 0.5 + phase;
    while (t < seconds - 0.5) {
        const double bpm = 90 + 60 * t / seconds;
        addKick(tempo.signal, t, 0.6);
        tempo.onsets.push_back(t);
        const double step = 60.0 / bpm * stretch;
        addBurst(tempo.signal, t + step / 2, 0.25, 0.04, random, true);
        tempo.onsets.push_back(t + step / 2);
        t += step;
    }

    for (Song& s : songs) {
        addNoise(s.signal, 0.004, 5 + static_cast<std::uint32_t>(take));
        std::sort(s.onsets.begin(), s.onsets.end());
    }
    return songs;
}

struct Result {
    std::size_t onsets = 0, enabled = 0, hits = 0, doubled = 0;
    std::vector<double> errors; // marker minus onset, seconds, of the matched markers
};

// Matches each onset with at most one enabled marker in its window, nearest
// first; "doubled" counts onsets with more than one marker in their window,
// whether enabled or not (a disabled near-duplicate is still drawn).
Result evaluate(const std::vector<double>& onsets, const std::vector<BeatMarker>& markers, double duration)
{
    Result r;
    r.onsets = onsets.size();
    std::vector<double> enabled;
    std::vector<double> all;
    for (const BeatMarker& m : markers) {
        if (m.time == 0.0 || m.time == duration) // the start and end markers the detector adds
            continue;
        all.push_back(m.time);
        if (m.isEnabled)
            enabled.push_back(m.time);
    }
    r.enabled = enabled.size();
    struct Pair {
        double distance;
        std::size_t onset, marker;
    };
    std::vector<Pair> pairs;
    for (std::size_t o = 0; o < onsets.size(); ++o) {
        for (std::size_t k = 0; k < enabled.size(); ++k) {
            const double e = enabled[k] - onsets[o];
            if (e >= -kEarly && e <= kLate)
                pairs.push_back({std::fabs(e), o, k});
        }
        std::size_t inWindow = 0;
        for (double m : all)
            inWindow += (m - onsets[o] >= -kEarly && m - onsets[o] <= kLate) ? 1 : 0;
        r.doubled += inWindow > 1 ? 1 : 0;
    }
    std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.distance < b.distance; });
    std::vector<bool> onsetUsed(onsets.size()), markerUsed(enabled.size());
    for (const Pair& p : pairs) {
        if (onsetUsed[p.onset] || markerUsed[p.marker])
            continue;
        onsetUsed[p.onset] = markerUsed[p.marker] = true;
        ++r.hits;
        r.errors.push_back(enabled[p.marker] - onsets[p.onset]);
    }
    return r;
}

void add(Result& total, const Result& r)
{
    total.onsets += r.onsets;
    total.enabled += r.enabled;
    total.hits += r.hits;
    total.doubled += r.doubled;
    total.errors.insert(total.errors.end(), r.errors.begin(), r.errors.end());
}

double quantileMs(std::vector<double> values, double q)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return 1000 * values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5)];
}

void printRow(const std::string& name, const Result& r)
{
    const double precision = r.enabled ? static_cast<double>(r.hits) / static_cast<double>(r.enabled) : 0;
    const double recall = r.onsets ? static_cast<double>(r.hits) / static_cast<double>(r.onsets) : 0;
    const double f = precision + recall > 0 ? 2 * precision * recall / (precision + recall) : 0;
    std::printf("%-24s %4zu %4zu %4zu  %.2f %.2f %.3f  %+6.1f  %+6.1f %+6.1f  %3zu\n", name.c_str(), r.onsets, r.enabled,
        r.hits, precision, recall, f, quantileMs(r.errors, 0.5), quantileMs(r.errors, 0.1), quantileMs(r.errors, 0.9),
        r.doubled);
}

} // namespace

int main()
{
    const std::pair<const char*, BeatDetectionFocus> focuses[] = {{"clapSnare (new songs)", BeatDetectionFocus::clapSnare},
        {"kick", BeatDetectionFocus::kick}, {"cymbal", BeatDetectionFocus::cymbal}, {"fullMix", BeatDetectionFocus::fullMix}};
    const std::vector<Song> takes[] = {makeSongs(0), makeSongs(1)};
    const char* takeNames[] = {"tuning takes", "held-out takes"};

    std::printf("Attack markers against known onsets, window -%.0f ms … +%.0f ms\n", kEarly * 1000, kLate * 1000);
    std::printf("error = marker minus onset (median, 10th and 90th percentile, ms); doubled = onsets with two markers\n");
    for (const auto& [focusName, focus] : focuses) {
        std::printf("\n== focus %s\n", focusName);
        std::printf("%-24s %4s %4s %4s  %4s %4s %5s  %6s  %6s %6s  %3s\n", "song", "ons", "mrk", "hit", "P", "R", "F",
            "median", "p10", "p90", "dbl");
        for (int take = 0; take < 2; ++take) {
            std::printf("-- %s\n", takeNames[take]);
            Result total;
            for (const Song& song : takes[take]) {
                const WaveformAnalysis analysis =
                    AudioWaveformAnalyzer::makeWaveformAnalysis(song.signal.channels, kRate, 1400, focus);
                const double duration = song.signal.durationSeconds();
                const auto markers = BeatMarkerDetector::automaticallyDisabledCloseMarkers(
                    BeatMarkerDetector::detectBeatMarkers(
                        analysis.detection, duration, 0.0, 1, BeatDetectionProfile::attack(), std::nullopt, true),
                    0.22);
                const Result r = evaluate(song.onsets, markers, duration);
                printRow(song.name, r);
                add(total, r);
            }
            printRow("all", total);
        }
    }
    return 0;
}
