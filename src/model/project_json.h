#pragma once

#include "model/ai_music_settings.h"
#include "model/audio_analysis.h"
#include "model/audio_track.h"
#include "model/beat_marker.h"
#include "model/export_settings.h"
#include "model/fotivela_project.h"
#include "model/recent_project.h"
#include "model/slide.h"
#include "model/stem_separation_state.h"
#include "platform/json_decoding.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace fotivela {

// The project file: one JSON object in the program's JSON form. Encoding
// fails (JsonEncodingError) on a number that is not finite anywhere in the
// project; decoding fails as a whole (JsonDecodingError), never partly.
std::string encodeProject(const FotivelaProject& project);
FotivelaProject decodeProject(std::string_view text);

// The JSON tree of each record and the decoding of each record from a tree.
nlohmann::json toJson(const FotivelaProject& project);
nlohmann::json toJson(const Slide& slide);
nlohmann::json toJson(const AudioTrack& track);
nlohmann::json toJson(const BeatMarker& marker);
nlohmann::json toJson(const AudioAnalysis& analysis);
nlohmann::json toJson(const StemSeparationState& state);
nlohmann::json toJson(const AIMusicSettings& settings);
nlohmann::json toJson(const ExportSettings& settings);
nlohmann::json toJson(const RecentProject& entry);

FotivelaProject decodeFotivelaProject(const nlohmann::json& j, const JsonPath& path);
Slide decodeSlide(const nlohmann::json& j, const JsonPath& path);
AudioTrack decodeAudioTrack(const nlohmann::json& j, const JsonPath& path);
BeatMarker decodeBeatMarker(const nlohmann::json& j, const JsonPath& path);
AudioAnalysis decodeAudioAnalysis(const nlohmann::json& j, const JsonPath& path);
StemSeparationState decodeStemSeparationState(const nlohmann::json& j, const JsonPath& path);
AIMusicSettings decodeAIMusicSettings(const nlohmann::json& j, const JsonPath& path);
ExportSettings decodeExportSettings(const nlohmann::json& j, const JsonPath& path);
RecentProject decodeRecentProject(const nlohmann::json& j, const JsonPath& path);

// The synchronisation mode as the decoder reads it: the older "Auto ritmo"
// is the current automatic mode; anything else fails with its own message.
SyncMode decodeSyncMode(const nlohmann::json& j, const JsonPath& path);

} // namespace fotivela
