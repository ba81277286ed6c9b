// Separation quality on multitrack songs made in code: per stem the
// signal-to-distortion ratio against the part it should hold, and how much
// better that is than the mix itself; then the kick and clap-snare markers
// found on the filtered drum previews against those found on the whole mix
// (and both against the known hits), F-measure with a ±50 ms window.

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

double fMeasure(const std::vector<double>& reference, std::vector<double> detected)
{
    std::sort(detected.begin(), detected.end());
    std::vector<bool> used(reference.size(), false);
    std::size_t hits = 0;
    for (double d : detected)
        for (std::size_t r = 0; r < reference.size(); ++r)
            if (!used[r] && std::fabs(reference[r] - d) <= kWindow) {
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
    struct Markers {
        std::string song;
        double kickVsMix, kickStemVsTruth, kickMixVsTruth, snareVsMix, snareStemVsTruth, snareMixVsTruth;
    };
    std::vector<Markers> markerRows;
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

        const auto previews = out / "previews";
        std::filesystem::create_directories(previews);
        const auto kickPreview = previews / "kick-filtered-v2.wav";
        const auto snarePreview = previews / "clap-snare-filtered-v2.wav";
        StemSeparationService::writeFilteredPreview(stems / "drums.wav", kickPreview, AutoBeatInstrument::kick);
        StemSeparationService::writeFilteredPreview(stems / "drums.wav", snarePreview, AutoBeatInstrument::clapSnare);
        const auto kickStem = markerTimes(kickPreview, AutoBeatInstrument::kick, BeatDetectionFocus::kick, seconds);
        const auto kickMix = markerTimes(input, AutoBeatInstrument::kick, BeatDetectionFocus::kick, seconds);
        const auto snareStem = markerTimes(snarePreview, AutoBeatInstrument::clapSnare, BeatDetectionFocus::clapSnare, seconds);
        const auto snareMix = markerTimes(input, AutoBeatInstrument::clapSnare, BeatDetectionFocus::clapSnare, seconds);
        markerRows.push_back({name, fMeasure(kickMix, kickStem),
            fMeasure(song.kicks, kickStem), fMeasure(song.kicks, kickMix), fMeasure(snareMix, snareStem),
            fMeasure(song.snares, snareStem), fMeasure(song.snares, snareMix)});
    }
    std::printf("gain = SDR of the stem minus SDR of the mix against the same part\n\n");
    std::printf("Markers, F-measure ±50 ms: drum previews vs whole mix; each vs the known hits\n");
    std::printf("%-10s | %-34s | %-34s\n", "song", "kick  stem~mix  stem~hits  mix~hits", "clap-snare  stem~mix  stem~hits  mix~hits");
    for (const Markers& row : markerRows)
        std::printf("%-10s | %14.2f %10.2f %9.2f | %20.2f %10.2f %9.2f\n", row.song.c_str(), row.kickVsMix,
            row.kickStemVsTruth, row.kickMixVsTruth, row.snareVsMix, row.snareStemVsTruth, row.snareMixVsTruth);
    return 0;
}
