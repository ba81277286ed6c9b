#include "analysis/audio_analysis_cache_key.h"
#include "analysis/beat_marker_editing_rules.h"

#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace fotivela;

namespace {

BeatMarker at(double time)
{
    BeatMarker m;
    m.id = Uuid::random();
    m.time = time;
    return m;
}

AudioTrack songWithSettings(double sensitivity, int64_t beatsPerBar)
{
    AudioTrack track;
    track.beatSensitivity = sensitivity;
    track.beatsPerBar = beatsPerBar;
    return track;
}

AudioAnalysis analysis(double sensitivity, int64_t beatsPerBar, int64_t version)
{
    AudioAnalysis a;
    a.waveformSamples = {0.1, 0.5};
    a.sensitivity = sensitivity;
    a.beatsPerBar = beatsPerBar;
    a.version = version;
    return a;
}

} // namespace

TEST(BeatMarkerEditingRules, InsertionKeepsGapsExceptAtTheEnds)
{
    using BeatMarkerEditingRules::clampedInsertionTime;
    EXPECT_NEAR(clampedInsertionTime(5.0, {at(6.0), at(4.95)}, 10), 5.03, 1e-12);
    EXPECT_NEAR(clampedInsertionTime(5.95, {at(6.0), at(4.0)}, 10), 5.92, 1e-12);
    EXPECT_EQ(clampedInsertionTime(0.03, {at(0.0), at(1.0)}, 10), 0.03);
    EXPECT_EQ(clampedInsertionTime(-1, {at(1.0)}, 10), 0.0);
    EXPECT_EQ(clampedInsertionTime(12, {at(9.92)}, 10), 10.0);
    EXPECT_EQ(clampedInsertionTime(4.05, {at(4.0), at(4.1)}, 10), 4.05); // no room: unchanged
    EXPECT_EQ(clampedInsertionTime(9.95, {at(9.87), at(10.0)}, 10), 9.95);
    EXPECT_EQ(clampedInsertionTime(3.0, {at(3.0)}, 10), 3.0); // a marker at the very time is no neighbour
    EXPECT_EQ(clampedInsertionTime(3.0, {}, -5), 0.0);
}

TEST(BeatMarkerEditingRules, MoveBoundsKeepGapsFromEveryEnabledNeighbour)
{
    using BeatMarkerEditingRules::moveBounds;
    using BeatMarkerEditingRules::TimeRange;
    const BeatMarker first = at(0.5);
    const BeatMarker second = at(2.0);
    EXPECT_NEAR(moveBounds(first.id, {second, first}, 10).upper, 1.92, 1e-12);
    EXPECT_EQ(moveBounds(first.id, {second, first}, 10).lower, 0.0);
    EXPECT_EQ(moveBounds(second.id, {second, first}, 10).upper, 10.0);

    const BeatMarker squeezed = at(0.05);
    const TimeRange range = moveBounds(squeezed.id, {at(0.0), squeezed, at(1.0)}, 10);
    EXPECT_NEAR(range.lower, 0.08, 1e-12);
    EXPECT_NEAR(range.upper, 0.92, 1e-12);
    EXPECT_FALSE(range.contains(0.05));

    const BeatMarker stuck = at(5.0);
    EXPECT_EQ(moveBounds(stuck.id, {at(4.93), stuck, at(5.07)}, 10), (TimeRange {5.0, 5.0}));
    // Neighbours 0.1 s away still leave 4.98 … 5.02.
    const TimeRange narrow = moveBounds(stuck.id, {at(4.9), stuck, at(5.1)}, 10);
    EXPECT_NEAR(narrow.lower, 4.98, 1e-12);
    EXPECT_NEAR(narrow.upper, 5.02, 1e-12);
    EXPECT_EQ(moveBounds(Uuid::random(), {stuck}, 10), (TimeRange {0.0, 10.0}));
    EXPECT_EQ(moveBounds(Uuid::random(), {stuck}, -3), (TimeRange {0.0, 0.0}));

    // Switched-off markers bound nothing, also when the moved marker is itself switched off.
    BeatMarker off = at(5.385);
    off.isEnabled = false;
    BeatMarker offMoved = at(5.21);
    offMoved.isEnabled = false;
    const BeatMarker next = at(8.0);
    EXPECT_NEAR(moveBounds(stuck.id, {at(4.9), stuck, off, next}, 10).upper, 7.92, 1e-12);
    const TimeRange freed = moveBounds(offMoved.id, {at(3.0), off, offMoved, next}, 10);
    EXPECT_NEAR(freed.lower, 3.08, 1e-12);
    EXPECT_NEAR(freed.upper, 7.92, 1e-12);
}

TEST(AudioAnalysisCacheKey, SensitivityNumbers)
{
    using AudioAnalysisCacheKey::sensitivityNumber;
    EXPECT_EQ(sensitivityNumber(0.4567), 457);
    EXPECT_EQ(sensitivityNumber(2.0), 1500);
    EXPECT_EQ(sensitivityNumber(-1.5), -1500);
    EXPECT_EQ(sensitivityNumber(-3.0), -1500);
    EXPECT_EQ(sensitivityNumber(0.0), 0);
    EXPECT_EQ(sensitivityNumber(-0.0004), 0);
    EXPECT_EQ(sensitivityNumber(0.0015), 2);
    EXPECT_EQ(sensitivityNumber(-0.0015), -2);
    EXPECT_EQ(sensitivityNumber(std::numeric_limits<double>::quiet_NaN()), 0);

    // The key never reads "-0".
    EXPECT_EQ(AudioAnalysisCacheKey::variantKey(AutoBeatInstrument::kick, "fallback", -0.0004, 4), "Bombo|fallback|s:0|b:4|v:25");
    EXPECT_EQ(AudioAnalysisCacheKey::variantKey(AutoBeatInstrument::cymbalHats, "demucs:Bateria", 0.4567, 3),
        "Platillos / hats|demucs:Bateria|s:457|b:3|v:25");
}

TEST(AudioAnalysisCacheKey, OriginFollowsTheStemFiles)
{
    test::AudioTestFolder folder;
    const auto drums = folder / "drums.wav";
    std::ofstream(drums) << "stem";
    StemSeparationState state;
    state.engine = StemSeparationEngine::demucs;
    state.stems[AudioStem::drums] = drums;
    state.stems[AudioStem::bass] = folder / "bass.wav"; // listed but missing

    using AudioAnalysisCacheKey::instrumentAnalysisOrigin;
    EXPECT_EQ(instrumentAnalysisOrigin(AutoBeatInstrument::kick, state), "demucs:Bateria");
    EXPECT_EQ(instrumentAnalysisOrigin(AutoBeatInstrument::drums, state), "demucs:Bateria");
    EXPECT_EQ(instrumentAnalysisOrigin(AutoBeatInstrument::bass, state), "fallback");
    EXPECT_EQ(instrumentAnalysisOrigin(AutoBeatInstrument::vocals, state), "fallback");
    StemSeparationState fallback = state;
    fallback.engine = StemSeparationEngine::fallbackMix;
    EXPECT_EQ(instrumentAnalysisOrigin(AutoBeatInstrument::kick, fallback), "fallback");

    AudioTrack song;
    song.stemSeparation = state;
    song.autoBeatInstruments = {AutoBeatInstrument::kick, AutoBeatInstrument::cymbalHats};
    EXPECT_TRUE(AudioAnalysisCacheKey::hasValidStemFiles(song)); // no stem instrument asked for
    song.autoBeatInstruments.insert(AutoBeatInstrument::drums);
    EXPECT_TRUE(AudioAnalysisCacheKey::hasValidStemFiles(song));
    song.autoBeatInstruments.insert(AutoBeatInstrument::bass);
    EXPECT_FALSE(AudioAnalysisCacheKey::hasValidStemFiles(song));
    song.stemSeparation.engine = StemSeparationEngine::fallbackMix;
    EXPECT_TRUE(AudioAnalysisCacheKey::hasValidStemFiles(song));

    std::filesystem::remove(drums);
    EXPECT_EQ(instrumentAnalysisOrigin(AutoBeatInstrument::kick, state), "fallback");
}

TEST(AudioAnalysisCacheKey, CachedAnalysisNeedsExactSettingsAndVersion)
{
    AudioTrack song = songWithSettings(0.4567, 4);
    const std::string key = AudioAnalysisCacheKey::variantKey(AutoBeatInstrument::bass, song);
    EXPECT_EQ(key, "Bajo|fallback|s:457|b:4|v:25");

    song.instrumentAnalysisVariants[key] = analysis(0.4567, 4, 25);
    EXPECT_EQ(AudioAnalysisCacheKey::cachedInstrumentAnalysis(AutoBeatInstrument::bass, song), analysis(0.4567, 4, 25));
    EXPECT_FALSE(AudioAnalysisCacheKey::cachedInstrumentAnalysis(AutoBeatInstrument::drums, song));

    song.instrumentAnalysisVariants[key] = analysis(0.4568, 4, 25); // same key, other sensitivity
    EXPECT_FALSE(AudioAnalysisCacheKey::cachedInstrumentAnalysis(AutoBeatInstrument::bass, song));
    song.instrumentAnalysisVariants[key] = analysis(0.4567, 3, 25);
    EXPECT_FALSE(AudioAnalysisCacheKey::cachedInstrumentAnalysis(AutoBeatInstrument::bass, song));
    song.instrumentAnalysisVariants[key] = analysis(0.4567, 4, 24);
    EXPECT_FALSE(AudioAnalysisCacheKey::cachedInstrumentAnalysis(AutoBeatInstrument::bass, song));
}
