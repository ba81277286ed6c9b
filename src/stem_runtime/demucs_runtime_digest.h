#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace fotivela::DemucsRuntimeDigest {

// SHA-256 in 64 lower-case hex digits.
std::string sha256Hex(std::string_view bytes);

// SHA-256 of a file's contents and its size; nothing when it cannot be read.
struct FileDigest {
    std::string sha256;
    std::uint64_t size = 0;
};
std::optional<FileDigest> digestOfFile(const std::filesystem::path& file);

// 64 hex digits, either case.
bool isSha256Hex(std::string_view text);

} // namespace fotivela::DemucsRuntimeDigest
