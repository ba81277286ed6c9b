#pragma once

#include "model/fotivela_project.h"
#include "platform/error.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fotivela {

// A step of packaging failed; what() names the file in the user's words.
class ProjectPackagingError : public Error {
public:
    using Error::Error;
};

// Makes a self-contained copy of a project: a folder with a new project file, copies of
// its photos and song, its generated music, stems and previews, every path rewritten to
// the copies.
namespace ProjectPackager {

// Writes the package into `destination` (created when missing; files already there stay)
// and returns its project file, which is written last: a failed package has none, or keeps
// an older one. Only a photo that reads as a picture and a song that decodes as audio are
// copied; the others (a FIFO, a text file named as a photo) are left out like missing files
// and listed in `leftOut`. Of `currentPreviewDirectory` only the slides' own previews are
// taken, and only regular picture files. Throws ProjectPackagingError.
std::filesystem::path package(const FotivelaProject& project, const std::filesystem::path& destination,
                              const std::string& packageName,
                              const std::optional<std::filesystem::path>& currentProjectURL,
                              const std::optional<std::filesystem::path>& currentPreviewDirectory,
                              std::vector<std::filesystem::path>* leftOut = nullptr);

// `url` moved from folder `from` to folder `to`; none when it does not lie inside `from`.
std::optional<std::filesystem::path> rebased(const std::filesystem::path& url, const std::filesystem::path& from,
                                            const std::filesystem::path& to);

} // namespace ProjectPackager

} // namespace fotivela
