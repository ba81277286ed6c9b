#pragma once

#include "model/fotivela_project.h"
#include "platform/error.h"

#include <filesystem>

namespace fotivela {

// A project file that cannot be read at all (missing, a folder, not permitted).
class ProjectFileReadError : public Error {
public:
    using Error::Error;
};

// The project stored in the file. Throws ProjectFileReadError when the file cannot be
// read and JsonDecodingError when it does not hold a project.
FotivelaProject readProjectFile(const std::filesystem::path& url);

} // namespace fotivela
