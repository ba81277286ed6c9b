#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace fotivela {

// Inputs of the cloud music generation and a record of the last one.
// Member initialisers are the values of an empty stored object.
struct AIMusicSettings {
    std::string lyrics;
    std::string stylePrompt;
    std::string subjectName;
    std::string requestedMusicStyle = "Pop calido, suave";
    std::string generationNotes;
    bool withVocals = true;
    std::optional<std::filesystem::path> lastContactSheetURL;
    std::optional<std::chrono::system_clock::time_point> lastGeneratedAt;

    friend bool operator==(const AIMusicSettings&, const AIMusicSettings&) = default;
};

} // namespace fotivela
