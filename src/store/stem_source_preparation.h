#pragma once

#include "model/audio_track.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <stop_token>
#include <string>

namespace fotivela {

// One instrument's separated audio, ready to analyse and play.
struct StemSource {
    AutoBeatInstrument instrument = AutoBeatInstrument::drums;
    std::filesystem::path analysisURL;
    std::filesystem::path displayURL;
    StemSeparationEngine engine = StemSeparationEngine::demucs;

    friend bool operator==(const StemSource&, const StemSource&) = default;
};

// What stem preparation gives the per-instrument analysis: the sources it made, the state
// to store in the song, and whether the song's own mix has to stand in for the stems.
struct StemSeparationResult {
    std::map<AutoBeatInstrument, StemSource> sources;
    StemSeparationState state;
    bool usesFallback = true;

    friend bool operator==(const StemSeparationResult&, const StemSeparationResult&) = default;
};

// Where the per-instrument analysis gets its stems. Called on a worker thread with the
// song, the project file, the instruments wanted and the song's stored separation; never
// throws: a separation that cannot be made is a fallback result with the user's message.
using StemSourcePreparer = std::function<StemSeparationResult(const std::filesystem::path& audioURL,
    const std::filesystem::path& projectURL, const std::set<AutoBeatInstrument>& instruments,
    const StemSeparationState& currentState, std::stop_token stop)>;

namespace StemSourcePreparation {

// "<path>|<size>|<modification seconds>": a changed song file gives another signature.
std::string signature(const std::filesystem::path& url);

// The song's mix stands in for every instrument; the message tells the user why.
StemSeparationResult fallbackResult(const std::string& signature, const std::string& message);

// The preparer used while the program ships no separation runtime: reports it missing.
StemSeparationResult prepareWithoutRuntime(const std::filesystem::path& audioURL,
    const std::filesystem::path& projectURL, const std::set<AutoBeatInstrument>& instruments,
    const StemSeparationState& currentState, std::stop_token stop);

// Installed memory in bytes, read afresh on each call; 0 when it cannot be read.
std::uint64_t physicalMemoryBytes();

// Per-instrument analysis needs 7.5 GiB.
bool hasMemoryForInstrumentAnalysis(std::uint64_t bytes);

} // namespace StemSourcePreparation

} // namespace fotivela
