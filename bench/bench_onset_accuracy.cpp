// Onset accuracy of the attack markers, per detection focus, beside aubioonset
// on the same synthesised tracks: precision, recall and F-measure with a
// ±50 ms window. Measured as the detector stands; nothing here tunes it.

#include "analysis/audio_waveform_analyzer.h"
#include "analysis/beat_marker_detector.h"

#include "support/test_audio.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

using namespace fotivela;
using namespace fotivela::test;

namespace {

constexpr double kSeconds = 30.0;
constexpr int kRate = 44100;
constexpr double kWindow = 0.05;

struct Track {
    std::string name;
    TestSignal signal;
    std::vector<double> onsets;
};

std::vector<double> grid(double first, double step)
{
    std::vector<double> times;
    for (double t = first; t < kSeconds - 0.5; t += step)
        times.push_back(t);
    return times;
}

Track clickTrack()
{
    Track track {"click track", makeSilence(kSeconds, kRate, 2), {}};
    // 120 BPM with an extra click before every fourth beat.
    for (double t : grid(0.5, 0.5)) {
        track.onsets.push_back(t);
        if (static_cast<int>(std::lround(t / 0.5)) % 4 == 3)
            track.onsets.push_back(t + 0.25);
    }
    addClicks(track.signal, track.onsets, 0.8);
    return track;
}

Track kickAndHats()
{
    Track track {"kick + off-beat hats", makeSilence(kSeconds, kRate, 2), {}};
    for (double t : grid(0.5, 0.5)) {
        addDrumHit(track.signal, t, 0.8, 55.0, 0.18);
        addDrumHit(track.signal, t + 0.25, 0.25, 8000.0, 0.025);
        track.onsets.push_back(t);
        track.onsets.push_back(t + 0.25);
    }
    return track;
}

Track padAndSnare()
{
    Track track {"pad + snare", makeSilence(kSeconds, kRate, 2), {}};
    // A chord that swells in over two seconds, so that only the snare hits are onsets.
    for (double f : {220.0, 277.2, 329.6, 440.0})
        addSine(track.signal, f, 0.08);
    for (auto& channel : track.signal.channels) {
        for (size_t i = 0; i < channel.size(); ++i)
            channel[i] *= static_cast<float>(std::min(1.0, static_cast<double>(i) / (2.0 * kRate)));
    }
    for (double t : grid(1.0, 1.0)) {
        addDrumHit(track.signal, t, 0.6, 190.0, 0.06);
        addNoise(track.signal, 0.25, static_cast<std::uint32_t>(t * 100), t, 0.04);
        track.onsets.push_back(t);
    }
    return track;
}

struct Score {
    double precision = 0;
    double recall = 0;
    double f = 0;
};

// Each reference onset matches at most one detection within the window.
Score score(const std::vector<double>& reference, std::vector<double> detected)
{
    std::sort(detected.begin(), detected.end());
    std::vector<bool> used(reference.size(), false);
    size_t hits = 0;
    for (double d : detected) {
        for (size_t r = 0; r < reference.size(); ++r) {
            if (!used[r] && std::fabs(reference[r] - d) <= kWindow) {
                used[r] = true;
                ++hits;
                break;
            }
        }
    }
    Score s;
    s.precision = detected.empty() ? 0 : static_cast<double>(hits) / static_cast<double>(detected.size());
    s.recall = reference.empty() ? 0 : static_cast<double>(hits) / static_cast<double>(reference.size());
    s.f = (s.precision + s.recall) > 0 ? 2 * s.precision * s.recall / (s.precision + s.recall) : 0;
    return s;
}

// The enabled attack markers as the store makes them for a new song
// (sensitivity 0, spacing 0.22 s), without the start and end markers the
// detector adds at 0 and at the end of the song.
std::vector<double> attackMarkerTimes(const std::filesystem::path& file, BeatDetectionFocus focus, double duration)
{
    const WaveformAnalysis analysis = AudioWaveformAnalyzer::makeWaveformAnalysis(file, 1400, focus);
    const auto markers = BeatMarkerDetector::automaticallyDisabledCloseMarkers(
        BeatMarkerDetector::detectBeatMarkers(analysis.detection, duration, 0.0, 1, BeatDetectionProfile::attack(),
            std::nullopt, true),
        0.22);
    std::vector<double> times;
    for (const BeatMarker& m : markers) {
        if (m.isEnabled && m.time != 0.0 && m.time != duration)
            times.push_back(m.time);
    }
    return times;
}

// Where the nearest detection lies around each onset (within ±150 ms): the
// median signed offset in milliseconds and the share of onsets that have one.
std::pair<double, double> offsetAndCoverage(const std::vector<double>& reference, const std::vector<double>& detected)
{
    std::vector<double> offsets;
    for (double r : reference) {
        double best = 1e9;
        for (double d : detected) {
            if (std::fabs(d - r) < std::fabs(best))
                best = d - r;
        }
        if (std::fabs(best) <= 0.15)
            offsets.push_back(best * 1000.0);
    }
    if (offsets.empty())
        return {0.0, 0.0};
    std::sort(offsets.begin(), offsets.end());
    return {offsets[offsets.size() / 2], static_cast<double>(offsets.size()) / static_cast<double>(reference.size())};
}

std::vector<double> aubioTimes(const std::filesystem::path& file, const std::filesystem::path& output)
{
    const std::string command = "/usr/bin/aubioonset -i '" + file.string() + "' > '" + output.string() + "' 2>/dev/null";
    std::vector<double> times;
    if (std::system(command.c_str()) != 0)
        return times;
    FILE* in = std::fopen(output.c_str(), "r");
    if (!in)
        return times;
    double t = 0;
    while (std::fscanf(in, "%lf", &t) == 1)
        times.push_back(t);
    std::fclose(in);
    return times;
}

} // namespace

int main()
{
    AudioTestFolder folder("fotivela-onsets");
    const std::vector<std::pair<std::string, BeatDetectionFocus>> focuses {{"clapSnare", BeatDetectionFocus::clapSnare},
        {"kick", BeatDetectionFocus::kick}, {"cymbal", BeatDetectionFocus::cymbal}, {"fullMix", BeatDetectionFocus::fullMix}};

    std::printf("Onset accuracy, ±50 ms, %.0f s tracks at %d Hz stereo (WAV 16-bit); P / R / F\n", kSeconds, kRate);
    std::printf("%-22s %-6s | %-17s | %-17s | %-17s | %-17s | %-17s\n", "track", "noise", "clapSnare", "kick", "cymbal",
        "fullMix", "aubioonset");
    int index = 0;
    std::vector<std::string> offsetRows;
    for (Track (*make)() : {clickTrack, kickAndHats, padAndSnare}) {
        for (double noise : {0.02, 0.1}) {
            Track track = make();
            addNoise(track.signal, noise, 17);
            const auto file = writeAudioFile(folder.path(), "track" + std::to_string(index++), track.signal, TestAudioFormat::wav16);
            std::printf("%-22s %-6.2f", track.name.c_str(), noise);
            char row[512];
            int used = std::snprintf(row, sizeof row, "%-22s %-6.2f", track.name.c_str(), noise);
            const auto addOffset = [&](const std::vector<double>& detected) {
                const auto [offset, coverage] = offsetAndCoverage(track.onsets, detected);
                used += std::snprintf(row + used, sizeof row - static_cast<size_t>(used), " | %+6.0f ms  %4.2f   ", offset, coverage);
            };
            for (const auto& [name, focus] : focuses) {
                const auto detected = attackMarkerTimes(file, focus, track.signal.durationSeconds());
                const Score s = score(track.onsets, detected);
                std::printf(" | %.2f / %.2f / %.2f", s.precision, s.recall, s.f);
                addOffset(detected);
            }
            const auto peer = aubioTimes(file, folder / "aubio.txt");
            const Score a = score(track.onsets, peer);
            std::printf(" | %.2f / %.2f / %.2f\n", a.precision, a.recall, a.f);
            addOffset(peer);
            offsetRows.emplace_back(row);
        }
    }
    std::printf("noise = amplitude of added white noise (full scale 1.0)\n\n");
    std::printf("Median offset of the nearest detection to each onset (within ±150 ms) and the share of onsets that have one\n");
    std::printf("%-22s %-6s | %-17s | %-17s | %-17s | %-17s | %-17s\n", "track", "noise", "clapSnare", "kick", "cymbal",
        "fullMix", "aubioonset");
    for (const std::string& row : offsetRows)
        std::printf("%s\n", row.c_str());
    return 0;
}
