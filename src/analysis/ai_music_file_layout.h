#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace fotivela {

// Names the file of a generated song when the cloud's answer carries no usable name.
namespace AIMusicFileLayout {

// Without the dot. The whole type is compared, so "audio/wav; codecs=1" is not a WAV.
std::string audioExtension(const std::optional<std::string>& mimeType);

// "fotivela-cancion-yyyyMMdd-HHmmss.<ext>" in the user's local time.
std::string generatedAudioFallbackName(const std::optional<std::string>& mimeType,
                                       std::chrono::system_clock::time_point date);

} // namespace AIMusicFileLayout

} // namespace fotivela
