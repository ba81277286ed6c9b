#pragma once

#include "model/auto_beat_instrument.h"
#include "model/stored_enum.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace fotivela {

enum class StemSeparationEngine { fallbackMix, demucs };

template <>
struct StoredEnum<StemSeparationEngine> {
    static constexpr std::array<std::pair<StemSeparationEngine, std::string_view>, 2> table{{
        {StemSeparationEngine::fallbackMix, "Mezcla original"},
        {StemSeparationEngine::demucs, "Demucs / HTDemucs"},
    }};
};

// What the stem separation of the song produced and where its files lie.
struct StemSeparationState {
    StemSeparationEngine engine = StemSeparationEngine::fallbackMix;
    std::string sourceSignature;
    std::optional<std::filesystem::path> cacheDirectory;
    std::map<AudioStem, std::filesystem::path> stems;
    std::map<AutoBeatInstrument, std::filesystem::path> instrumentPreviewURLs;
    std::optional<std::chrono::system_clock::time_point> separatedAt;
    std::string message;

    friend bool operator==(const StemSeparationState&, const StemSeparationState&) = default;
};

} // namespace fotivela
