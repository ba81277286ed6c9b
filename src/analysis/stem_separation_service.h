#pragma once

#include "model/auto_beat_instrument.h"

#include <filesystem>

namespace fotivela {

// Turns the project's song into per-instrument audio sources.
namespace StemSeparationService {

// The drum stem filtered down to one of its parts (kick, clap or snare, cymbals or
// hats) as a 32-bit float WAV with the source's rate, channels and length; any other
// instrument is copied unchanged. Written under a temporary name and renamed into
// place, so the destination holds the old file or the complete new one. False on any
// failure; never throws.
bool writeFilteredPreview(const std::filesystem::path& source, const std::filesystem::path& destination,
                          AutoBeatInstrument instrument) noexcept;

} // namespace StemSeparationService

} // namespace fotivela
