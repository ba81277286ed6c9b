#pragma once

#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <string_view>

namespace fotivela::DemucsRuntimeArchive {

// Unpacks a gzip-compressed tar archive held in memory into destination (an existing, empty,
// private folder). Only regular files and folders are taken, under safe relative paths; files
// are written 0600 and folders 0700. Throws DemucsRuntimeError: a damaged or truncated archive,
// an absolute path, "..", a link, a device or a repeated entry, more than byteLimit bytes
// unpacked, a full disk, a stop request. What was written stays for the caller to remove.
void extract(std::string_view archive, const std::filesystem::path& destination, std::stop_token stop,
    std::uint64_t byteLimit);

// Maps a failed write's errno to the description: a full disk (or file size limit) or a plain
// install failure.
const char* writeFailureText(int errorNumber);

} // namespace fotivela::DemucsRuntimeArchive
