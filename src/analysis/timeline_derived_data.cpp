#include "analysis/timeline_derived_data.h"

#include "analysis/audio_analysis_cache_key.h"
#include "analysis/beat_marker_detector.h"

#include <algorithm>
#include <string_view>

namespace fotivela {

namespace TimelineDataBuilder {

namespace {

// The timeline lists instruments by their stored names: Bajo, Bateria completa, Bombo, ...
bool instrumentOrder(AutoBeatInstrument a, AutoBeatInstrument b)
{
    return std::string_view(toStored(a)) < std::string_view(toStored(b));
}

std::vector<AutoBeatInstrument> legendInstruments(
    const std::vector<StemWaveformOverlay>& stemWaveforms, const std::vector<BeatMarker>& beatMarkers)
{
    std::vector<AutoBeatInstrument> instruments;
    const auto add = [&](AutoBeatInstrument instrument) {
        if (std::find(instruments.begin(), instruments.end(), instrument) == instruments.end())
            instruments.push_back(instrument);
    };
    for (const StemWaveformOverlay& overlay : stemWaveforms)
        add(overlay.instrument);
    for (const BeatMarker& marker : beatMarkers) {
        if (marker.sourceInstrument)
            add(*marker.sourceInstrument);
    }
    std::sort(instruments.begin(), instruments.end(), instrumentOrder);
    return instruments;
}

} // namespace

std::vector<BeatMarker> timelineBeatMarkers(const std::optional<AudioTrack>& audio,
    const std::vector<BeatMarker>& audioBeatMarkers, const std::vector<BeatMarker>& attackBeatMarkers,
    bool isAttackWaveformEnabled)
{
    std::vector<BeatMarker> shown;
    if (!audio || audio->syncMode != SyncMode::autoBeatV2) {
        for (const BeatMarker& marker : audioBeatMarkers) {
            if (marker.isManual)
                shown.push_back(marker);
        }
    } else if (isAttackWaveformEnabled) {
        for (const BeatMarker& marker : audioBeatMarkers) {
            if (marker.isManual)
                shown.push_back(marker);
        }
        shown.insert(shown.end(), attackBeatMarkers.begin(), attackBeatMarkers.end());
    } else {
        for (const BeatMarker& marker : audioBeatMarkers) {
            const bool shownInstrument = marker.sourceInstrument && demucsStemInstrumentSet().contains(*marker.sourceInstrument)
                && audio->autoBeatInstruments.contains(*marker.sourceInstrument);
            if ((!marker.sourceInstrument && marker.isManual) || shownInstrument)
                shown.push_back(marker);
        }
    }
    BeatMarkerDetector::sortByTime(shown);
    return shown;
}

std::vector<StemWaveformOverlay> visibleStemWaveforms(const std::optional<AudioTrack>& audio,
    const std::set<AutoBeatInstrument>& instruments, const std::function<bool(AutoBeatInstrument)>& instrumentURLExists)
{
    if (!audio || audio->syncMode != SyncMode::autoBeatV2)
        return {};
    std::vector<AutoBeatInstrument> candidates;
    for (AutoBeatInstrument instrument : instruments) {
        if (demucsStemInstrumentSet().contains(instrument))
            candidates.push_back(instrument);
    }
    std::sort(candidates.begin(), candidates.end(), instrumentOrder);

    std::vector<StemWaveformOverlay> overlays;
    for (AutoBeatInstrument instrument : candidates) {
        if (!instrumentURLExists || !instrumentURLExists(instrument))
            continue;
        const std::optional<AudioAnalysis> analysis = AudioAnalysisCacheKey::cachedInstrumentAnalysis(instrument, *audio);
        if (!analysis || analysis->waveformSamples.empty())
            continue;
        overlays.push_back(StemWaveformOverlay {instrument, analysis->waveformSamples});
    }
    return overlays;
}

std::vector<double> slideBoundaryTimes(const std::vector<Slide>& slides)
{
    std::vector<double> times;
    if (slides.size() < 2)
        return times;
    times.reserve(slides.size() - 1);
    double sum = 0;
    for (size_t i = 0; i + 1 < slides.size(); ++i) {
        sum += slides[i].duration;
        times.push_back(sum);
    }
    return times;
}

TimelineDerivedData derivedData(const Inputs& inputs)
{
    TimelineDerivedData data;
    data.beatMarkers = timelineBeatMarkers(
        inputs.audio, inputs.audioBeatMarkers, inputs.attackBeatMarkers, inputs.isAttackWaveformEnabled);
    data.stemWaveforms = visibleStemWaveforms(inputs.audio, inputs.visibleStemWaveformInstruments, inputs.instrumentURLExists);
    for (const BeatMarker& marker : data.beatMarkers) {
        if (marker.isEnabled && marker.time > activeMarkerMinimumTime)
            data.activeMarkerIDs.insert(marker.id);
        if (marker.isManual)
            data.hasManualMarkers = true;
        if (!data.selectedMarker && inputs.selectedBeatMarkerID && marker.id == *inputs.selectedBeatMarkerID)
            data.selectedMarker = marker;
    }
    data.legendInstruments = legendInstruments(data.stemWaveforms, data.beatMarkers);
    data.slideBoundaryTimes = slideBoundaryTimes(inputs.slides);
    return data;
}

} // namespace TimelineDataBuilder

} // namespace fotivela
