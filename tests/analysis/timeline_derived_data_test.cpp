#include "analysis/audio_analysis_cache_key.h"
#include "analysis/timeline_derived_data.h"

#include <gtest/gtest.h>

using namespace fotivela;

namespace {

BeatMarker marker(double time, bool manual, std::optional<AutoBeatInstrument> instrument, bool enabled = true)
{
    BeatMarker m;
    m.id = Uuid::random();
    m.time = time;
    m.isManual = manual;
    m.sourceInstrument = instrument;
    m.isEnabled = enabled;
    return m;
}

std::vector<double> times(const std::vector<BeatMarker>& markers)
{
    std::vector<double> out;
    for (const BeatMarker& m : markers)
        out.push_back(m.time);
    return out;
}

AudioTrack song(SyncMode mode, std::set<AutoBeatInstrument> instruments)
{
    AudioTrack track;
    track.syncMode = mode;
    track.autoBeatInstruments = std::move(instruments);
    track.beatSensitivity = 0.6;
    track.beatsPerBar = 4;
    return track;
}

void cache(AudioTrack& track, AutoBeatInstrument instrument, double sensitivity, int64_t version, std::vector<double> samples)
{
    AudioAnalysis analysis;
    analysis.waveformSamples = std::move(samples);
    analysis.sensitivity = sensitivity;
    analysis.beatsPerBar = track.beatsPerBar;
    analysis.version = version;
    track.instrumentAnalysisVariants[AudioAnalysisCacheKey::variantKey(instrument, track)] = analysis;
}

const auto kick = AutoBeatInstrument::kick;
const auto bass = AutoBeatInstrument::bass;
const auto drums = AutoBeatInstrument::drums;

} // namespace

TEST(TimelineDerivedData, ShownMarkersFollowTheSyncMode)
{
    const std::vector<BeatMarker> store {marker(3, false, bass), marker(1, true, kick), marker(2, true, std::nullopt),
        marker(4, false, kick), marker(5, false, std::nullopt), marker(0.5, true, bass), marker(6, false, drums)};
    const std::vector<BeatMarker> attack {marker(2, false, std::nullopt), marker(0.2, false, std::nullopt)};

    using TimelineDataBuilder::timelineBeatMarkers;
    // Manual mode, or no song: only the manual markers.
    EXPECT_EQ(times(timelineBeatMarkers(song(SyncMode::manual, {bass}), store, attack, true)), (std::vector<double> {0.5, 1, 2}));
    EXPECT_EQ(times(timelineBeatMarkers(std::nullopt, store, attack, false)), (std::vector<double> {0.5, 1, 2}));

    // Automatic with the attack curve: manual markers, then attack markers; a manual marker wins a tie.
    const auto withAttack = timelineBeatMarkers(song(SyncMode::autoBeatV2, {bass}), store, attack, true);
    EXPECT_EQ(times(withAttack), (std::vector<double> {0.2, 0.5, 1, 2, 2}));
    EXPECT_TRUE(withAttack[3].isManual);

    // Automatic by instrument {kick, bass}: bass markers and manual markers without instrument;
    // kick is no stem instrument, so neither its automatic nor its manual markers show.
    EXPECT_EQ(times(timelineBeatMarkers(song(SyncMode::autoBeatV2, {kick, bass}), store, attack, false)),
        (std::vector<double> {0.5, 2, 3}));
}

TEST(TimelineDerivedData, StemOverlaysNeedAFileAndAFreshCachedAnalysis)
{
    AudioTrack track = song(SyncMode::autoBeatV2, {bass, drums});
    cache(track, bass, 0.6, 25, {0.1, 0.9});
    cache(track, drums, 0.6, 25, {0.3});
    cache(track, AutoBeatInstrument::vocals, 0.6, 25, {0.4});
    cache(track, AutoBeatInstrument::other, 0.6, 24, {0.5});
    const std::optional<AudioTrack> audio = track;
    const auto all = [](AutoBeatInstrument) { return true; };
    const std::set<AutoBeatInstrument> visible {drums, bass, kick, AutoBeatInstrument::other};

    using TimelineDataBuilder::visibleStemWaveforms;
    EXPECT_EQ(visibleStemWaveforms(audio, visible, all),
        (std::vector<StemWaveformOverlay> {{bass, {0.1, 0.9}}, {drums, {0.3}}})); // Bajo before Bateria; v24 skipped
    EXPECT_EQ(visibleStemWaveforms(audio, visible, [](AutoBeatInstrument i) { return i != bass; }),
        (std::vector<StemWaveformOverlay> {{drums, {0.3}}}));

    // Made at 0.5 while the song now says 0.6: the key matches but the analysis is stale.
    AudioTrack stale = track;
    stale.instrumentAnalysisVariants[AudioAnalysisCacheKey::variantKey(bass, stale)].sensitivity = 0.5;
    stale.instrumentAnalysisVariants[AudioAnalysisCacheKey::variantKey(drums, stale)].waveformSamples.clear();
    EXPECT_TRUE(visibleStemWaveforms(stale, visible, all).empty());

    AudioTrack manual = track;
    manual.syncMode = SyncMode::manual;
    EXPECT_TRUE(visibleStemWaveforms(manual, visible, all).empty());
    EXPECT_TRUE(visibleStemWaveforms(std::nullopt, visible, all).empty());
}

TEST(TimelineDerivedData, AssembledRecord)
{
    AudioTrack track = song(SyncMode::autoBeatV2, {bass});
    cache(track, bass, 0.6, 25, {0.2});
    const std::optional<AudioTrack> audio = track;
    const BeatMarker early = marker(0.03, false, bass);
    const BeatMarker disabled = marker(1.0, false, bass, false);
    const BeatMarker manual = marker(2.0, true, std::nullopt);
    const BeatMarker hidden = marker(3.0, false, kick);
    const std::vector<BeatMarker> store {manual, hidden, disabled, early};
    const std::vector<BeatMarker> noAttack;
    const std::set<AutoBeatInstrument> visible {bass};
    std::vector<Slide> slides(3);
    slides[0].duration = 2;
    slides[1].duration = 3;
    slides[2].duration = 4;

    const TimelineDataBuilder::Inputs inputs {audio, store, noAttack, false, visible,
        [](AutoBeatInstrument) { return true; }, slides, manual.id};
    TimelineDerivedData data = TimelineDataBuilder::derivedData(inputs);
    EXPECT_EQ(times(data.beatMarkers), (std::vector<double> {0.03, 1.0, 2.0}));
    EXPECT_EQ(data.activeMarkerIDs, (std::set<Uuid> {manual.id})); // 0.03 s is too early, 1.0 s is disabled
    EXPECT_EQ(data.legendInstruments, (std::vector<AutoBeatInstrument> {bass}));
    EXPECT_TRUE(data.hasManualMarkers);
    EXPECT_EQ(data.slideBoundaryTimes, (std::vector<double> {2, 5}));
    EXPECT_EQ(data.selectedMarker, manual);
    EXPECT_EQ(data.stemWaveforms.size(), 1u);

    const TimelineDataBuilder::Inputs hiddenSelection {audio, store, noAttack, false, visible,
        [](AutoBeatInstrument) { return true; }, {slides[0]}, hidden.id};
    data = TimelineDataBuilder::derivedData(hiddenSelection);
    EXPECT_FALSE(data.selectedMarker);
    EXPECT_TRUE(data.slideBoundaryTimes.empty());

    // Manual mode: the legend lists only instruments of shown manual markers.
    AudioTrack manualSong = track;
    manualSong.syncMode = SyncMode::manual;
    const std::optional<AudioTrack> manualAudio = manualSong;
    const std::vector<BeatMarker> mixed {marker(1, true, kick), marker(2, false, bass), marker(3, true, std::nullopt)};
    const TimelineDataBuilder::Inputs manualInputs {manualAudio, mixed, noAttack, true, visible,
        [](AutoBeatInstrument) { return true; }, slides, std::nullopt};
    data = TimelineDataBuilder::derivedData(manualInputs);
    EXPECT_EQ(data.legendInstruments, (std::vector<AutoBeatInstrument> {kick}));
    EXPECT_TRUE(data.stemWaveforms.empty());
}
