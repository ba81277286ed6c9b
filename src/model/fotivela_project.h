#pragma once

#include "model/ai_music_settings.h"
#include "model/audio_track.h"
#include "model/export_settings.h"
#include "model/project_format.h"
#include "model/slide.h"
#include "platform/uuid.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fotivela {

// The project document: everything of a project that survives between runs.
struct FotivelaProject {
    Uuid id;
    std::string name;
    std::chrono::system_clock::time_point createdAt;
    std::chrono::system_clock::time_point updatedAt;
    ProjectFormat format = ProjectFormat::youtube;
    std::int64_t fps = 30;
    std::optional<bool> fillPhotosToScreen;
    std::optional<std::string> backgroundColorHex;
    std::vector<Slide> slides;
    std::optional<AudioTrack> audio;
    std::optional<AIMusicSettings> aiMusic;
    ExportSettings exportSettings;

    // A new project: fresh identity, the current time, the template's values.
    static FotivelaProject empty();

    // A copy without the song's bulky analysis data, for the undo stack.
    FotivelaProject lightweightUndoCopy() const;

    friend bool operator==(const FotivelaProject&, const FotivelaProject&) = default;
};

} // namespace fotivela
