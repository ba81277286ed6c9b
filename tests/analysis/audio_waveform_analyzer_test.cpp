#include "analysis/audio_waveform_analyzer.h"
#include "analysis/beat_marker_detector.h"
#include "analysis/waveform_curve_builder.h"
#include "platform/audio_file_reader.h"

#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace fotivela;
using namespace fotivela::test;

namespace {

const std::vector<double> kClickTimes {0.5, 1.25, 2.0, 3.1, 4.4};

TestSignal clickTrack(int sampleRate, int channels, double seconds)
{
    TestSignal signal = makeSilence(seconds, sampleRate, channels);
    addNoise(signal, 0.01, 5);
    addClicks(signal, kClickTimes, 0.8);
    return signal;
}

void expectCurvesInRange(const WaveformAnalysis& analysis)
{
    ASSERT_EQ(analysis.display.size(), analysis.detection.size());
    for (size_t i = 0; i < analysis.display.size(); ++i) {
        ASSERT_TRUE(analysis.display[i] >= 0 && analysis.display[i] <= 1) << i;
        ASSERT_TRUE(analysis.detection[i] >= 0 && analysis.detection[i] <= 1) << i;
    }
}

// ceil(frames / framesPerBucket): the last bucket may be shorter, so a few more than the bucket count.
size_t expectedBuckets(int64_t frames, double rate)
{
    const WaveformBucketLayout layout = waveformBucketLayout(frames, rate, 1400);
    return static_cast<size_t>((frames + layout.framesPerBucket - 1) / layout.framesPerBucket);
}

// Each click shows as a detection peak in its own bucket or a neighbour.
void expectPeaksAtClicks(const WaveformAnalysis& analysis, double seconds, size_t tolerance, double least)
{
    const double bucketSeconds = seconds / static_cast<double>(analysis.detection.size());
    for (double t : kClickTimes) {
        const auto centre = static_cast<size_t>(t / bucketSeconds);
        const auto first = analysis.detection.begin() + static_cast<std::ptrdiff_t>(centre - tolerance);
        const double local = *std::max_element(first, first + static_cast<std::ptrdiff_t>(2 * tolerance + 1));
        EXPECT_GT(local, least) << "click at " << t;
    }
}

} // namespace

class AnalyzedFormats : public testing::TestWithParam<TestAudioFormat> {};

TEST_P(AnalyzedFormats, CurvesFollowTheClicks)
{
    AudioTestFolder folder;
    const double seconds = 5.5;
    const auto file = writeAudioFile(folder.path(), "song", clickTrack(44100, 2, seconds), GetParam());
    for (BeatDetectionFocus focus : {BeatDetectionFocus::fullMix, BeatDetectionFocus::cymbal}) {
        const WaveformAnalysis analysis = AudioWaveformAnalyzer::makeWaveformAnalysis(file, 1400, focus);
        ASSERT_EQ(analysis.display.size(), expectedBuckets(242550, 44100));
        expectCurvesInRange(analysis);
        // AAC smears a click over its window, so its peaks stand less tall.
        if (isLossless(GetParam()))
            expectPeaksAtClicks(analysis, seconds, 1, 0.5);
        else
            expectPeaksAtClicks(analysis, seconds, 3, 0.2);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, AnalyzedFormats,
    testing::Values(TestAudioFormat::wav24, TestAudioFormat::wavFloat, TestAudioFormat::flac16, TestAudioFormat::aiff16,
        TestAudioFormat::mp3, TestAudioFormat::m4a));

TEST(AudioWaveformAnalyzer, BucketCountFollowsRateAndLength)
{
    AudioTestFolder folder;
    struct Case {
        int rate;
        int channels;
        double seconds;
        TestAudioFormat format;
    };
    for (const Case& c : {Case {22050, 1, 20.3, TestAudioFormat::wav16}, Case {48000, 6, 3.0, TestAudioFormat::flac16},
             Case {96000, 2, 18.0, TestAudioFormat::wavFloat}, Case {48000, 2, 19.0, TestAudioFormat::mp3}}) {
        const auto file = writeAudioFile(folder.path(), "song" + std::to_string(c.rate) + "_" + std::to_string(c.channels),
            clickTrack(c.rate, c.channels, c.seconds), c.format);
        const WaveformAnalysis analysis = AudioWaveformAnalyzer::makeWaveformAnalysis(file, 1400, BeatDetectionFocus::kick);
        const auto frames = static_cast<int64_t>(std::llround(c.seconds * c.rate));
        EXPECT_EQ(analysis.display.size(), expectedBuckets(frames, c.rate)) << c.rate << " Hz";
        expectCurvesInRange(analysis);
    }
}

TEST(AudioWaveformAnalyzer, StreamingGivesTheCurvesOfTheWholeSong)
{
    AudioTestFolder folder;
    TestSignal signal = clickTrack(44100, 2, 21.7);
    addDrumHits(signal, {6.0, 9.5, 15.25}, 0.7);
    for (TestAudioFormat format : {TestAudioFormat::wav24, TestAudioFormat::mp3, TestAudioFormat::m4a}) {
        const auto file = writeAudioFile(folder.path(), "song", signal, format);
        const AudioBuffer whole = AudioFileReader::readWhole(file);
        for (BeatDetectionFocus focus : allCases<BeatDetectionFocus>()) {
            EXPECT_EQ(AudioWaveformAnalyzer::makeWaveformAnalysis(file, 1400, focus),
                AudioWaveformAnalyzer::makeWaveformAnalysis(whole.channels, whole.sampleRate, 1400, focus));
        }
    }
}

TEST(AudioWaveformAnalyzer, AStopRequestGivesNothing)
{
    AudioTestFolder folder;
    const auto file = writeAudioFile(folder.path(), "song", clickTrack(44100, 2, 2.0), TestAudioFormat::wav16);
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(AudioWaveformAnalyzer::makeWaveformAnalysis(file, 1400, BeatDetectionFocus::kick, stop.get_token()),
        WaveformAnalysis {});
}

TEST(AudioWaveformAnalyzer, BadFilesGiveTwoEmptyCurves)
{
    AudioTestFolder folder;
    const auto check = [](const std::filesystem::path& file) {
        const WaveformAnalysis analysis = AudioWaveformAnalyzer::makeWaveformAnalysis(file, 1400, BeatDetectionFocus::fullMix);
        EXPECT_TRUE(analysis.display.empty()) << file;
        EXPECT_TRUE(analysis.detection.empty()) << file;
    };
    check(folder / "missing.wav");
    check(folder.path());
    writeTextFile(folder / "song.mp3", "not a song at all\n");
    check(folder / "song.mp3");
    writeRandomBytes(folder / "noise.wav", 5000);
    check(folder / "noise.wav");
    writeAudioFile(folder / "empty.wav", makeSilenceFrames(0), TestAudioFormat::wav16);
    check(folder / "empty.wav");
    writeVideoWithoutAudio(folder / "video.mp4");
    check(folder / "video.mp4");
}

TEST(AudioWaveformAnalyzer, DamagedFilesGiveTheCurvesOfWhatIsThere)
{
    AudioTestFolder folder;
    const TestSignal signal = clickTrack(44100, 2, 5.5);

    // A WAV header that claims twice the data it holds.
    const auto lying = writeAudioFile(folder.path(), "lying", signal, TestAudioFormat::wav16);
    const auto honest = writeAudioFile(folder.path(), "honest", signal, TestAudioFormat::wav16);
    setWavDataChunkSize(lying, static_cast<std::uint32_t>(signal.frameCount() * 2 * 2 * 2));
    EXPECT_EQ(AudioWaveformAnalyzer::makeWaveformAnalysis(lying, 1400, BeatDetectionFocus::fullMix),
        AudioWaveformAnalyzer::makeWaveformAnalysis(honest, 1400, BeatDetectionFocus::fullMix));

    // A truncated MP3 analyses as the part that survived.
    const auto mp3 = writeAudioFile(folder.path(), "cut", signal, TestAudioFormat::mp3);
    truncateFile(mp3, std::filesystem::file_size(mp3) / 2);
    const WaveformAnalysis cut = AudioWaveformAnalyzer::makeWaveformAnalysis(mp3, 1400, BeatDetectionFocus::fullMix);
    EXPECT_FALSE(cut.display.empty());
    expectCurvesInRange(cut);
}

TEST(AudioWaveformAnalyzer, FilesCutAnywhereNeverBreakTheAnalysis)
{
    AudioTestFolder folder;
    const TestSignal signal = clickTrack(44100, 2, 2.0);
    for (TestAudioFormat format : {TestAudioFormat::wav16, TestAudioFormat::flac16, TestAudioFormat::aiff16,
             TestAudioFormat::mp3, TestAudioFormat::m4a}) {
        const auto source = writeAudioFile(folder.path(), "source", signal, format);
        const auto size = std::filesystem::file_size(source);
        for (double share : {0.003, 0.02, 0.1, 0.37, 0.81, 0.999}) {
            const auto cut = folder / (std::string("cut.") + fileExtension(format));
            std::filesystem::copy_file(source, cut, std::filesystem::copy_options::overwrite_existing);
            truncateFile(cut, static_cast<std::uintmax_t>(static_cast<double>(size) * share));
            const WaveformAnalysis analysis = AudioWaveformAnalyzer::makeWaveformAnalysis(cut, 1400, BeatDetectionFocus::kick);
            expectCurvesInRange(analysis);
        }
    }
}

TEST(AudioWaveformAnalyzer, NonFiniteSamplesInAFloatFileAreSilence)
{
    AudioTestFolder folder;
    TestSignal clean = clickTrack(44100, 2, 3.0);
    TestSignal poisoned = clean;
    for (size_t i = 60000; i < 61000; ++i) {
        clean.channels[0][i] = clean.channels[1][i] = 0.0f;
        poisoned.channels[0][i] = std::numeric_limits<float>::quiet_NaN();
        poisoned.channels[1][i] = (i % 2) ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    }
    const auto cleanFile = writeAudioFile(folder.path(), "clean", clean, TestAudioFormat::wavFloat);
    const auto poisonedFile = writeAudioFile(folder.path(), "poisoned", poisoned, TestAudioFormat::wavFloat);
    const WaveformAnalysis analysis = AudioWaveformAnalyzer::makeWaveformAnalysis(poisonedFile, 1400, BeatDetectionFocus::kick);
    ASSERT_EQ(analysis.display.size(), expectedBuckets(3 * 44100, 44100));
    EXPECT_EQ(analysis, AudioWaveformAnalyzer::makeWaveformAnalysis(cleanFile, 1400, BeatDetectionFocus::kick));
}

// Finite but absurd levels: a single sample of 1e30, a song scaled to 5e14. Each
// sample is bounded before the filters, so no energy overflows into a curve.
TEST(AudioWaveformAnalyzer, AbsurdlyLoudFloatSongsGiveCurvesAndMarkersInRange)
{
    AudioTestFolder folder;
    const double seconds = 3.0;
    TestSignal spike = clickTrack(44100, 2, seconds);
    spike.channels[1][70000] = 1e30f;
    TestSignal scaled = clickTrack(44100, 2, seconds);
    for (auto& channel : scaled.channels)
        for (float& sample : channel)
            sample *= 5e14f;
    for (const auto& [name, song] : {std::pair{"spike", spike}, std::pair{"scaled", scaled}}) {
        const auto file = writeAudioFile(folder.path(), name, song, TestAudioFormat::wavFloat);
        for (const BeatDetectionFocus focus :
            {BeatDetectionFocus::clapSnare, BeatDetectionFocus::kick, BeatDetectionFocus::cymbal, BeatDetectionFocus::fullMix}) {
            const WaveformAnalysis analysis = AudioWaveformAnalyzer::makeWaveformAnalysis(file, 1400, focus);
            ASSERT_EQ(analysis.display.size(), expectedBuckets(3 * 44100, 44100)) << name;
            expectCurvesInRange(analysis);
            const auto markers = BeatMarkerDetector::detectBeatMarkers(
                analysis.detection, seconds, 0.0, 1, BeatDetectionProfile::attack(), std::nullopt, true);
            for (const BeatMarker& marker : markers)
                ASSERT_TRUE(marker.time >= 0 && marker.time <= seconds && std::isfinite(marker.strength)) << name;
        }
    }
}

TEST(AudioWaveformAnalyzer, AttackMarkersLandOnTheClicks)
{
    AudioTestFolder folder;
    const double seconds = 5.5;
    const auto file = writeAudioFile(folder.path(), "song", clickTrack(44100, 2, seconds), TestAudioFormat::mp3);
    const WaveformAnalysis analysis = AudioWaveformAnalyzer::makeWaveformAnalysis(file, 1400, BeatDetectionFocus::fullMix);
    const auto markers = BeatMarkerDetector::automaticallyDisabledCloseMarkers(
        BeatMarkerDetector::detectBeatMarkers(analysis.detection, seconds, 0.0, 1, BeatDetectionProfile::attack(),
            std::nullopt, true),
        0.22);
    for (double t : kClickTimes) {
        const bool found = std::any_of(markers.begin(), markers.end(),
            [&](const BeatMarker& m) { return m.isEnabled && std::fabs(m.time - t) <= 0.05; });
        EXPECT_TRUE(found) << "click at " << t;
    }
    EXPECT_EQ(markers.front().time, 0.0);
    EXPECT_EQ(markers.back().time, seconds);
}
