#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace fotivela {

// A Spanish sentence for a file-system failure, for the first line of an export error.
std::string fileErrorDetail(const std::error_code& error);
// The same for an FFmpeg error code (AVERROR(...)); FFmpeg's own words when it is not a file error.
std::string ffmpegErrorDetail(int averror);

// Throws failedToFinish when the destination's folder is missing or cannot be
// written, or cannotReplaceOutput when something other than a file is in the way.
void checkDestinationIsWritable(const std::filesystem::path& destination);

// Puts a finished file at the destination, replacing a file there in one step.
// Across file systems the file is first copied beside the destination under a
// hidden name. On failure the destination keeps what it had and no partial
// file is left. Throws VideoExporterError.
void moveFileIntoPlace(const std::filesystem::path& finished, const std::filesystem::path& destination);

} // namespace fotivela
