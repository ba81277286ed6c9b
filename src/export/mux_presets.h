#pragma once

#include "model/export_settings.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace fotivela {

struct MuxComposition;

// One way of writing the encoded video and the song again when copying them
// failed: both tracks copied as they are ("Passthrough"), or the video decoded
// and encoded anew with the codec, at most at the box's size, and the song
// encoded anew with its fade.
struct MuxPreset {
    std::string name;
    bool passthrough = false;
    ExportCodec codec = ExportCodec::h264;
    // The box the picture is fitted into, in either orientation; 0: the video's own size.
    int longSide = 0;
    int shortSide = 0;

    friend bool operator==(const MuxPreset&, const MuxPreset&) = default;
};

namespace MuxPresets {

// In the order they are tried: the codec's highest quality, then 4K and
// 1080p, HEVC falling back to H.264. Pass-through comes first only without a
// fade, which it could not apply.
std::vector<MuxPreset> candidates(ExportCodec codec, bool fades);

// The largest even size of the video's shape that fits the preset's box; never
// larger than the video.
std::pair<int, int> fittedSize(const MuxPreset& preset, int width, int height);

// Whether our libraries can write the composition with the preset: MP4 takes
// both tracks as they are, or there is a decoder for the video and the codec's encoder.
bool isCompatible(const MuxPreset& preset, const MuxComposition& composition);

// Runs each candidate the composition is compatible with, in order, until one
// succeeds. Throws audioMuxFailed with one line per failed candidate ("name:
// why"), or "No hay preset compatible para mezclar audio." when none was
// compatible. ExportCancelledError ends the tries at once.
void runInOrder(const std::vector<MuxPreset>& candidates, const std::function<bool(const MuxPreset&)>& compatible,
                const std::function<void(const MuxPreset&)>& run);

} // namespace MuxPresets

} // namespace fotivela
