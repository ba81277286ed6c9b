#pragma once

#include "analysis/stem_separation_result.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <stop_token>
#include <string>

namespace fotivela {

// Where the per-instrument analysis gets its stems. Called on a worker thread with the
// song, the project file, the instruments wanted and the song's stored separation; never
// throws: a separation that cannot be made is a fallback result with the user's message.
// A stop request ends a running separation.
using StemSourcePreparer = std::function<StemSeparationResult(const std::filesystem::path& audioURL,
    const std::filesystem::path& projectURL, const std::set<AutoBeatInstrument>& instruments,
    const StemSeparationState& currentState, std::stop_token stop)>;

namespace StemSourcePreparation {

// "<path>|<size>|<modification seconds>": a changed song file gives another signature.
std::string signature(const std::filesystem::path& url);

// The song's mix stands in for every instrument; the message tells the user why.
StemSeparationResult fallbackResult(const std::string& signature, const std::string& message);

// The stem separation service with the process-wide runtime.
StemSeparationResult prepareWithRuntime(const std::filesystem::path& audioURL,
    const std::filesystem::path& projectURL, const std::set<AutoBeatInstrument>& instruments,
    const StemSeparationState& currentState, std::stop_token stop);

// Installed memory in bytes, read afresh on each call; 0 when it cannot be read.
std::uint64_t physicalMemoryBytes();

// Per-instrument analysis needs 7.5 GiB.
bool hasMemoryForInstrumentAnalysis(std::uint64_t bytes);

} // namespace StemSourcePreparation

} // namespace fotivela
