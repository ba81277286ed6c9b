#pragma once

// Small projects and encoder settings that export tests share: small frames,
// so that the suite also runs quickly under the sanitizers.

#include "export/video_encoder.h"
#include "model/fotivela_project.h"

#include <cstdint>
#include <filesystem>

namespace fotivela::test {

// One two-tone photo, written into `folder`, shown for `seconds`: a 720p H.264 export at 10 frames/s.
FotivelaProject onePhotoProject(const std::filesystem::path& folder, double seconds);

// H.264 of square frames `side` pixels wide at 10 frames/s.
VideoEncoderSettings squareH264Settings(int side, std::int64_t averageBitRate, int maxKeyFrameInterval);

} // namespace fotivela::test
