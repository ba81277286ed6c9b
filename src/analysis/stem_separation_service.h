#pragma once

#include "analysis/stem_separation_result.h"
#include "model/auto_beat_instrument.h"
#include "stem_runtime/demucs_runtime_manager.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>

namespace fotivela {

// Turns the project's song into per-instrument audio sources: the separation runtime
// splits it into four stems kept in a cache folder of the project ("AI/Stems"), and
// every failure ends in a fallback result that names the reason in Spanish.
namespace StemSeparationService {

// How the service gets a ready runtime; blocks the calling worker, throws DemucsRuntimeError.
using RuntimeProvider = std::function<DemucsRuntimeHandle(std::stop_token)>;

// The process-wide runtime manager's runtime, installed on first demand.
DemucsRuntimeHandle sharedRuntime(std::stop_token stop);

// Called on a worker thread; never throws. A stop request stops a running child process
// group and ends in the fallback.
StemSeparationResult prepareSources(const std::filesystem::path& audioURL, const std::filesystem::path& projectURL,
    const std::set<AutoBeatInstrument>& instruments, const StemSeparationState& currentState,
    std::stop_token stop = {}, const RuntimeProvider& runtime = sharedRuntime);

// "<path>|<size>|<modification seconds>": a changed song file gives another signature.
std::string signature(const std::filesystem::path& url);

// The state of a failed preparation: the song's mix stands in, the message says why.
StemSeparationResult fallbackResult(const std::string& signature, const std::string& message);

// The steps below are the service's own; they are public so that each can be checked alone.

// 64-bit FNV-1a of the UTF-8 bytes, upper-case hexadecimal without leading zeros.
std::string sanitizedCacheID(std::string_view text);
// folder/"htdemucs"/<song base name>, else the first folder inside folder/"htdemucs".
// Throws std::filesystem::filesystem_error when there is none.
std::filesystem::path demucsStemDirectory(const std::filesystem::path& folder, const std::filesystem::path& audioURL);
// The stems present in the folder, FLAC before WAV.
std::map<AudioStem, std::filesystem::path> collectStems(const std::filesystem::path& folder);
// True when every stem the instruments need is recorded and on disk.
bool hasRequiredStems(const std::set<AutoBeatInstrument>& instruments, const StemSeparationState& state);
// Records a preview for each instrument: its stem, and for the three drum parts a filtered
// preview in <cacheDirectory>/"instrument-previews" (written once, then reused).
StemSeparationState enrichedPreviewState(StemSeparationState state);

// The drum stem filtered down to one of its parts (kick, clap or snare, cymbals or
// hats) as a 32-bit float WAV with the source's rate, channels and length; any other
// instrument is copied unchanged. Written under a temporary name and renamed into
// place, so the destination holds the old file or the complete new one. False on any
// failure; never throws.
bool writeFilteredPreview(const std::filesystem::path& source, const std::filesystem::path& destination,
                          AutoBeatInstrument instrument) noexcept;

} // namespace StemSeparationService

} // namespace fotivela
