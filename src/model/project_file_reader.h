#pragma once

#include "model/fotivela_project.h"
#include "platform/error.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace fotivela {

// A project file that cannot be read at all (missing, a folder, a FIFO or a device, not
// permitted, far too large).
class ProjectFileReadError : public Error {
public:
    using Error::Error;
};

// No project comes near this: a three-hour song with every analysis cached and a thousand
// slides writes a few tens of megabytes. Anything larger is refused before it is read.
inline constexpr std::uint64_t maximumProjectFileBytes = std::uint64_t{256} << 20;

// The bytes of a project file, read without ever waiting on a FIFO or a device and
// refused above maximumProjectFileBytes. Throws ProjectFileReadError.
std::string readProjectFileText(const std::filesystem::path& url);

// The project stored in the file. Throws ProjectFileReadError when the file cannot be
// read and JsonDecodingError when it does not hold a project.
FotivelaProject readProjectFile(const std::filesystem::path& url);

} // namespace fotivela
