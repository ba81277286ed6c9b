#include "analysis/ai_music_file_layout.h"

#include <algorithm>
#include <cctype>
#include <ctime>

namespace fotivela::AIMusicFileLayout {

std::string audioExtension(const std::optional<std::string>& mimeType)
{
    if (!mimeType)
        return "mp3";
    std::string type = *mimeType;
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (type == "audio/wav" || type == "audio/x-wav")
        return "wav";
    if (type == "audio/aac")
        return "m4a";
    return "mp3";
}

std::string generatedAudioFallbackName(const std::optional<std::string>& mimeType,
                                       std::chrono::system_clock::time_point date)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(date);
    std::tm local {};
    char stamp[32] = "00000000-000000";
    // strftime's numeric fields are ASCII digits whatever the locale.
    if (::localtime_r(&seconds, &local) != nullptr)
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return std::string("fotivela-cancion-") + stamp + "." + audioExtension(mimeType);
}

} // namespace fotivela::AIMusicFileLayout
