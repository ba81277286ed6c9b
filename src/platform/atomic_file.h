#pragma once

#include "platform/error.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>
#include <sys/types.h>

namespace fotivela {

// A file could not be written; the earlier file at the target, if any, is
// untouched. errorNumber() is the failing call's errno, for the log.
class FileWriteError : public Error {
public:
    FileWriteError(const std::filesystem::path& target, int errorNumber);
    const std::filesystem::path& target() const { return m_target; }
    int errorNumber() const { return m_errorNumber; }

private:
    std::filesystem::path m_target;
    int m_errorNumber;
};

// Writes bytes to a temporary dot-name with a fresh UUID beside target,
// flushes it to disk, and renames it over target, so that readers see the
// old file or the new one and never a part. The temporary file is removed
// on any failure. The new file gets exactly the given mode.
void atomicWriteFile(const std::filesystem::path& target, std::string_view bytes, mode_t mode = 0600);

// The same for a file the user may have replaced by a symbolic link: the link stays and the
// file it leads to is replaced atomically, keeping that file's permission bits (`mode` only
// for a new file). Throws FileWriteError for a loop of links.
void atomicWriteFileThroughLinks(const std::filesystem::path& target, std::string_view bytes, mode_t mode = 0600);

// How old a temporary file of the writes above must be before it counts as left by a write
// that was killed: far longer than any write takes.
inline constexpr std::chrono::minutes abandonedTemporaryAge{10};

// The name the writes above give their temporary file: "." + a fresh UUID as printed + ".tmp".
bool isAtomicWriteTemporaryName(std::string_view name);

// Removes from root / below (not deeper) the temporary files of killed writes: regular files
// of this user with that name, last written at least `age` ago, except `spared` (or the file
// it leads to). The folder is reached from `root` without following any link, `root`'s own
// name included; `below` holds plain folder names. Links and anything else stay.
// Returns the files removed; never throws.
std::vector<std::filesystem::path> removeAbandonedTemporaryFiles(const std::filesystem::path& root,
                                                                 const std::filesystem::path& below,
                                                                 const std::filesystem::path& spared,
                                                                 std::chrono::seconds age = abandonedTemporaryAge);

} // namespace fotivela
