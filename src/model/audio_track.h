#pragma once

#include "model/audio_analysis.h"
#include "model/auto_beat_instrument.h"
#include "model/beat_marker.h"
#include "model/stem_separation_state.h"
#include "model/stored_enum.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fotivela {

// How slides follow the song. Files of older versions say "Auto ritmo".
enum class SyncMode { manual, autoBeatV2 };

template <>
struct StoredEnum<SyncMode> {
    static constexpr std::array<std::pair<SyncMode, std::string_view>, 2> table{{
        {SyncMode::manual, "Manual"},
        {SyncMode::autoBeatV2, "Auto ritmo v2"},
    }};
};

// What the attack curve of the whole mix listens to.
enum class BeatDetectionFocus { clapSnare, kick, cymbal, fullMix };

template <>
struct StoredEnum<BeatDetectionFocus> {
    static constexpr std::array<std::pair<BeatDetectionFocus, std::string_view>, 4> table{{
        {BeatDetectionFocus::clapSnare, "Clap / caja"},
        {BeatDetectionFocus::kick, "Bombo"},
        {BeatDetectionFocus::cymbal, "Platillo / hats"},
        {BeatDetectionFocus::fullMix, "Todo"},
    }};
};

// The project's song with its settings, markers, curves and analysis caches.
// Defaults are what a decode puts in missing optional keys; a new song's
// values are set by the song import. A new field must also be copied in
// FotivelaProject::lightweightUndoCopy, which copies the track field by field.
struct AudioTrack {
    std::filesystem::path url;
    std::string name;
    SyncMode syncMode = SyncMode::manual;
    bool fadeIn = false;
    bool fadeOut = false;
    bool cutToSlideshowDuration = false;
    double cutFadeOutDuration = 2.5;
    double beatSensitivity = 0.0;
    double autoBeatMinimumMarkerSpacing = 0.22;
    BeatDetectionFocus beatDetectionFocus = BeatDetectionFocus::fullMix;
    std::int64_t beatsPerBar = 0;
    double snapTolerance = 0.0;
    std::set<BeatKind> autoBeatTargets;
    std::set<AutoBeatInstrument> autoBeatInstruments;
    std::vector<double> waveformSamples;
    std::vector<double> attackDetectionSamples;
    std::vector<BeatMarker> beatMarkers;
    bool isAttackWaveformEnabled = false;
    std::vector<BeatMarker> attackMarkerOverrides;
    std::map<BeatDetectionFocus, AudioAnalysis> analysisCache;
    std::map<AutoBeatInstrument, AudioAnalysis> instrumentAnalysisCache;
    std::map<std::string, AudioAnalysis> instrumentAnalysisVariants;
    StemSeparationState stemSeparation;
    std::int64_t analysisVersion = 0;

    friend bool operator==(const AudioTrack&, const AudioTrack&) = default;
};

} // namespace fotivela
