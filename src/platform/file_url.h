#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace fotivela {

// "file://" and the absolute path with every byte outside the URL path
// characters percent-escaped (upper-case hex). A relative path is taken
// from the working directory first.
std::string fileUrlString(const std::filesystem::path& path);

// The path of a file URL: "file:" with an empty or "localhost" authority, or
// none, and an absolute percent-escaped path. A query or fragment is not part
// of the path. Any other scheme, a relative path, a bad escape or an escaped
// NUL gives nothing.
std::optional<std::filesystem::path> pathFromFileUrl(std::string_view url);

} // namespace fotivela
