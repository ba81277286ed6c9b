#include "analysis/audio_analysis_cache_key.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace fotivela {

namespace AudioAnalysisCacheKey {

namespace {

bool stemFileExists(const StemSeparationState& state, AudioStem stem)
{
    const auto entry = state.stems.find(stem);
    if (entry == state.stems.end())
        return false;
    std::error_code error;
    return std::filesystem::exists(entry->second, error);
}

} // namespace

AudioStem stemFor(AutoBeatInstrument instrument)
{
    switch (instrument) {
    case AutoBeatInstrument::bass:
        return AudioStem::bass;
    case AutoBeatInstrument::vocals:
        return AudioStem::vocals;
    case AutoBeatInstrument::other:
        return AudioStem::other;
    case AutoBeatInstrument::drums:
    case AutoBeatInstrument::kick:
    case AutoBeatInstrument::clapSnare:
    case AutoBeatInstrument::cymbalHats:
        break;
    }
    return AudioStem::drums;
}

int64_t sensitivityNumber(double sensitivity)
{
    // A sensitivity that is not a number keys as the neutral 0.
    if (std::isnan(sensitivity))
        return 0;
    if (sensitivity <= -1.5)
        return -1500;
    return std::llround(std::min(sensitivity, 1.5) * 1000.0);
}

std::string instrumentAnalysisOrigin(AutoBeatInstrument instrument, const StemSeparationState& stemSeparation)
{
    const AudioStem stem = stemFor(instrument);
    if (stemSeparation.engine == StemSeparationEngine::demucs && stemFileExists(stemSeparation, stem))
        return "demucs:" + std::string(toStored(stem));
    return "fallback";
}

std::string variantKey(AutoBeatInstrument instrument, const std::string& origin, double sensitivity, int64_t beatsPerBar)
{
    return std::string(toStored(instrument)) + "|" + origin + "|s:" + std::to_string(sensitivityNumber(sensitivity))
        + "|b:" + std::to_string(beatsPerBar) + "|v:" + std::to_string(analysisVersion);
}

std::string variantKey(AutoBeatInstrument instrument, const AudioTrack& audio)
{
    return variantKey(instrument, instrumentAnalysisOrigin(instrument, audio.stemSeparation), audio.beatSensitivity,
        audio.beatsPerBar);
}

std::optional<AudioAnalysis> cachedInstrumentAnalysis(AutoBeatInstrument instrument, const AudioTrack& audio)
{
    const auto entry = audio.instrumentAnalysisVariants.find(variantKey(instrument, audio));
    if (entry == audio.instrumentAnalysisVariants.end())
        return std::nullopt;
    const AudioAnalysis& analysis = entry->second;
    if (analysis.version != analysisVersion || analysis.sensitivity != audio.beatSensitivity
        || analysis.beatsPerBar != audio.beatsPerBar)
        return std::nullopt;
    return analysis;
}

bool hasValidStemFiles(const AudioTrack& audio)
{
    const StemSeparationState& state = audio.stemSeparation;
    if (state.engine != StemSeparationEngine::demucs)
        return true;
    for (AutoBeatInstrument instrument : audio.autoBeatInstruments) {
        if (!demucsStemInstrumentSet().contains(instrument))
            continue;
        if (!stemFileExists(state, stemFor(instrument)))
            return false;
    }
    return true;
}

void pruneInstrumentVariants(AudioTrack& audio, AutoBeatInstrument instrument, const std::string& currentKey,
                             const std::vector<std::string>& recentKeys)
{
    const std::string prefix = std::string(toStored(instrument)) + "|";
    std::vector<std::string> keys;
    for (const auto& entry : audio.instrumentAnalysisVariants)
        if (entry.first.starts_with(prefix) && entry.first != currentKey && !entry.second.hasUserEdits)
            keys.push_back(entry.first);
    if (keys.size() <= recentVariantsKept)
        return;

    const auto current = audio.instrumentAnalysisVariants.find(currentKey);
    const double sensitivity =
        current != audio.instrumentAnalysisVariants.end() ? current->second.sensitivity : audio.beatSensitivity;
    // Rank: most recently used first, then the unnamed ones of this version by closeness of sensitivity.
    const auto recency = [&](const std::string& key) -> std::ptrdiff_t {
        const auto found = std::find(recentKeys.rbegin(), recentKeys.rend(), key);
        return found == recentKeys.rend() ? static_cast<std::ptrdiff_t>(recentKeys.size())
                                          : std::distance(recentKeys.rbegin(), found);
    };
    const auto distance = [&](const std::string& key) {
        const AudioAnalysis& analysis = audio.instrumentAnalysisVariants.at(key);
        const double gap = std::abs(analysis.sensitivity - sensitivity);
        return std::make_pair(analysis.version != analysisVersion, std::isnan(gap) ? INFINITY : gap);
    };
    std::stable_sort(keys.begin(), keys.end(), [&](const std::string& a, const std::string& b) {
        const auto ra = recency(a), rb = recency(b);
        if (ra != rb)
            return ra < rb;
        return distance(a) < distance(b);
    });
    for (std::size_t i = recentVariantsKept; i < keys.size(); ++i)
        audio.instrumentAnalysisVariants.erase(keys[i]);
}

} // namespace AudioAnalysisCacheKey

} // namespace fotivela
