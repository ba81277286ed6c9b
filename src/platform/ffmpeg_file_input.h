#pragma once

#include "platform/ffmpeg_handles.h"
#include "platform/regular_file.h"

#include <filesystem>
#include <memory>

namespace fotivela {

// Frees the reading context of an input opened by openFileInput along with the input.
struct FileInputDeleter {
    void operator()(AVFormatContext* context) const;
};
using FileInputPtr = std::unique_ptr<AVFormatContext, FileInputDeleter>;

// Opens an already checked file for demuxing. FFmpeg reads through the descriptor and
// never opens the path, which it sees only as the name (its extension helps probing).
// Returns FFmpeg's error code in `result` and no input when opening fails.
FileInputPtr openFileInput(std::shared_ptr<const RegularFile> file, const std::filesystem::path& name, int& result);

} // namespace fotivela
