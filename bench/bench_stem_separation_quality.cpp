// Separation quality on multitrack songs made in code: per stem the
// signal-to-distortion ratio against the part it should hold, and how much
// better that is than the mix itself; then the kick and clap-snare markers
// found on the filtered drum previews against those found on the whole mix
// (and both against the known hits), F-measure with a ±50 ms window; last the
// markers of each instrument on the separated stems against its known hits,
// in the window from 120 ms early to 50 ms late that a cut still looks on the beat.

#include "bench_stem_separation.h"

#include "analysis/audio_waveform_analyzer.h"
#include "analysis/beat_marker_detector.h"
#include "analysis/stem_separation_service.h"
#include "platform/audio_file_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace fotivela;
using namespace fotivela::bench;

namespace {

constexpr double kWindow = 0.05;
const char* const kStemNames[] = {"drums", "bass", "vocals", "other"};

double sdr(const TestSignal& reference, const std::vector<std::vector<float>>& estimate)
{
    double signal = 0, error = 0;
    for (std::size_t c = 0; c < 2; ++c)
        for (std::size_t i = 0; i < reference.frameCount(); ++i) {
            const double r = reference.channels[c][i];
            const double d = r - estimate[c][i];
            signal += r * r;
            error += d * d;
        }
    return 10 * std::log10(signal / std::max(error, 1e-20));
}

double fMeasure(const std::vector<double>& reference, std::vector<double> detected, double early = kWindow,
    double late = kWindow)
{
    std::sort(detected.begin(), detected.end());
    std::vector<bool> used(reference.size(), false);
    std::size_t hits = 0;
    for (double d : detected)
        for (std::size_t r = 0; r < reference.size(); ++r)
            if (!used[r] && d - reference[r] >= -early && d - reference[r] <= late) {
                used[r] = true;
                ++hits;
                break;
            }
    const double precision = detected.empty() ? 0 : static_cast<double>(hits) / static_cast<double>(detected.size());
    const double recall = reference.empty() ? 0 : static_cast<double>(hits) / static_cast<double>(reference.size());
    return precision + recall > 0 ? 2 * precision * recall / (precision + recall) : 0;
}

// The enabled markers of one instrument as the per-instrument analysis makes them
// (sensitivity 0, four beats a bar, 0.22 s spacing), without the song's start and end.
std::vector<double> markerTimes(const std::filesystem::path& file, AutoBeatInstrument instrument,
    BeatDetectionFocus focus, double duration)
{
    const WaveformAnalysis analysis = AudioWaveformAnalyzer::makeWaveformAnalysis(file, 1400, focus);
    const auto markers = BeatMarkerDetector::automaticallyDisabledCloseMarkers(
        BeatMarkerDetector::detectBeatMarkers(analysis.detection, duration, 0.0, 4,
            BeatDetectionProfile::instrument(instrument), instrument, true),
        0.22);
    std::vector<double> times;
    for (const BeatMarker& marker : markers)
        if (marker.isEnabled && marker.time > 0.0 && marker.time < duration)
            times.push_back(marker.time);
    return times;
}

} // namespace

int main()
{
    test::AudioTestFolder folder("fotivela-stem-quality");
    constexpr double seconds = 30.0;
    std::printf("Stem separation quality, %.0f s songs at 44.1 kHz: SDR (dB) of each stem against its part, and the gain over the mix\n", seconds);
    std::printf("%-10s | %-22s | %-22s | %-22s | %-22s\n", "song", "drums  sdr / gain", "bass  sdr / gain",
        "vocals  sdr / gain", "other  sdr / gain");
    // Per part (kick, clap-snare): stem vs mix, then stem, drum part and mix vs the known hits.
    struct Markers {
        std::string song;
        std::array<std::array<double, 4>, 2> scores;
    };
    std::vector<Markers> markerRows;
    // Per song: kick, clap-snare, bass, drums on the stems against the known hits.
    std::vector<std::pair<std::string, std::array<double, 4>>> instrumentRows;
    for (const SongStyle& style : songStyles()) {
        const MultitrackSong song = makeMultitrackSong(seconds, style);
        const std::string name = style.name;
        const auto input = test::writeAudioFile(folder.path(), name, song.mix, test::TestAudioFormat::wavFloat);
        const auto out = folder / ("out-" + name);
        const ChildRun run = runChild(FOTIVELA_STEM_SEPARATOR, separatorArguments(out, input), folder / "log.txt", false);
        if (run.exitStatus != 0) {
            std::printf("failed (%d): %s\n", run.exitStatus, run.output.c_str());
            return 1;
        }
        const auto stems = out / "htdemucs" / name;
        std::printf("%-10s", name.c_str());
        for (int s = 0; s < 4; ++s) {
            const AudioBuffer stem = AudioFileReader::readWhole(stems / (std::string(kStemNames[s]) + ".wav"));
            const double separated = sdr(song.parts[static_cast<std::size_t>(s)], stem.channels);
            const double mixed = sdr(song.parts[static_cast<std::size_t>(s)], song.mix.channels);
            std::printf(" | %7.2f / %+7.2f      ", separated, separated - mixed);
        }
        std::printf("\n");

        // The same previews of the drum part itself tell the detector's own error from the separation's.
        const auto drumPart = test::writeAudioFile(folder.path(), name + "-drum-part", song.parts[0], test::TestAudioFormat::wavFloat);
        const auto previews = out / "previews";
        std::filesystem::create_directories(previews);
        Markers row{name, {}};
        const std::pair<AutoBeatInstrument, BeatDetectionFocus> parts[] = {
            {AutoBeatInstrument::kick, BeatDetectionFocus::kick}, {AutoBeatInstrument::clapSnare, BeatDetectionFocus::clapSnare}};
        for (int p = 0; p < 2; ++p) {
            const auto [instrument, focus] = parts[p];
            const auto fromStem = previews / ("stem-" + std::to_string(p) + ".wav");
            const auto fromPart = previews / ("part-" + std::to_string(p) + ".wav");
            StemSeparationService::writeFilteredPreview(stems / "drums.wav", fromStem, instrument);
            StemSeparationService::writeFilteredPreview(drumPart, fromPart, instrument);
            const auto stemMarkers = markerTimes(fromStem, instrument, focus, seconds);
            const auto partMarkers = markerTimes(fromPart, instrument, focus, seconds);
            const auto mixMarkers = markerTimes(input, instrument, focus, seconds);
            const auto& hits = p == 0 ? song.kicks : song.snares;
            row.scores[p] = {fMeasure(mixMarkers, stemMarkers), fMeasure(hits, stemMarkers), fMeasure(hits, partMarkers),
                fMeasure(hits, mixMarkers)};
        }
        markerRows.push_back(row);

        // As the per-instrument analysis reads them: kick and clap-snare on the drum
        // stem's filtered previews, bass and drums on their own stems (full-mix focus).
        std::vector<double> drumHits = song.kicks;
        drumHits.insert(drumHits.end(), song.snares.begin(), song.snares.end());
        std::sort(drumHits.begin(), drumHits.end());
        const auto window = [](const std::vector<double>& hits, const std::vector<double>& markers) {
            return fMeasure(hits, markers, 0.120, 0.050);
        };
        instrumentRows.push_back({name,
            {window(song.kicks, markerTimes(previews / "stem-0.wav", AutoBeatInstrument::kick, BeatDetectionFocus::kick, seconds)),
                window(song.snares,
                    markerTimes(previews / "stem-1.wav", AutoBeatInstrument::clapSnare, BeatDetectionFocus::clapSnare, seconds)),
                window(song.bassNotes,
                    markerTimes(stems / "bass.wav", AutoBeatInstrument::bass, BeatDetectionFocus::fullMix, seconds)),
                window(drumHits,
                    markerTimes(stems / "drums.wav", AutoBeatInstrument::drums, BeatDetectionFocus::fullMix, seconds))}});
    }
    std::printf("gain = SDR of the stem minus SDR of the mix against the same part\n\n");
    std::printf("Markers, F-measure ±50 ms, on the filtered drum previews of the separated stem, on the same\n"
                "previews of the drum part itself, and on the whole mix: stem against mix, then each against the known hits\n");
    std::printf("%-10s | %-37s | %-37s\n", "song", "kick  stem~mix stem~hits part~hits mix~hits", "clap-snare  stem~mix stem~hits part~hits mix~hits");
    for (const Markers& row : markerRows) {
        std::printf("%-10s", row.song.c_str());
        for (const auto& s : row.scores)
            std::printf(" | %13.2f %9.2f %9.2f %8.2f", s[0], s[1], s[2], s[3]);
        std::printf("\n");
    }
    std::printf("\nInstrument markers on the separated stems against the known hits, F-measure, window -120 ms … +50 ms\n");
    std::printf("%-10s | %6s | %10s | %6s | %6s\n", "song", "kick", "clap-snare", "bass", "drums");
    for (const auto& [song, f] : instrumentRows)
        std::printf("%-10s | %6.3f | %10.3f | %6.3f | %6.3f\n", song.c_str(), f[0], f[1], f[2], f[3]);
    return 0;
}
