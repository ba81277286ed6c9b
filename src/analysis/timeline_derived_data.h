#pragma once

#include "model/audio_track.h"
#include "model/beat_marker.h"
#include "model/slide.h"
#include "model/stem_waveform_overlay.h"

#include <functional>
#include <optional>
#include <set>
#include <vector>

namespace fotivela {

// What the timeline draws of the music lane and the slide boundaries, derived
// from the project and the store's marker lists; never stored.
struct TimelineDerivedData {
    std::vector<StemWaveformOverlay> stemWaveforms;
    std::vector<BeatMarker> beatMarkers;
    std::set<Uuid> activeMarkerIDs;
    std::vector<AutoBeatInstrument> legendInstruments;
    bool hasManualMarkers = false;
    std::vector<double> slideBoundaryTimes;
    std::optional<BeatMarker> selectedMarker;

    bool operator==(const TimelineDerivedData&) const = default;
};

namespace TimelineDataBuilder {

// Markers at or before this time never count as active slide starts.
inline constexpr double activeMarkerMinimumTime = 0.05;

std::vector<BeatMarker> timelineBeatMarkers(const std::optional<AudioTrack>& audio,
    const std::vector<BeatMarker>& audioBeatMarkers, const std::vector<BeatMarker>& attackBeatMarkers,
    bool isAttackWaveformEnabled);

std::vector<StemWaveformOverlay> visibleStemWaveforms(const std::optional<AudioTrack>& audio,
    const std::set<AutoBeatInstrument>& instruments, const std::function<bool(AutoBeatInstrument)>& instrumentURLExists);

std::vector<double> slideBoundaryTimes(const std::vector<Slide>& slides);

// Everything the store's state gives, assembled in one record.
struct Inputs {
    const std::optional<AudioTrack>& audio;
    const std::vector<BeatMarker>& audioBeatMarkers;
    const std::vector<BeatMarker>& attackBeatMarkers;
    bool isAttackWaveformEnabled = false;
    const std::set<AutoBeatInstrument>& visibleStemWaveformInstruments;
    std::function<bool(AutoBeatInstrument)> instrumentURLExists;
    const std::vector<Slide>& slides;
    std::optional<Uuid> selectedBeatMarkerID;
};

TimelineDerivedData derivedData(const Inputs& inputs);

} // namespace TimelineDataBuilder

} // namespace fotivela
