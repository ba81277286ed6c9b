#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fotivela {

// The running program's version and the comparison with a published one.
namespace AppVersion {

// The version the application object carries (set at start from the build), else "0.2".
std::string current();

// The decimal numbers of the text, in order: every other character separates; runs that do not
// fit an integer are dropped.
std::vector<long long> versionPieces(std::string_view version);

// Piece by piece over the longer list, a missing piece counting as 0: negative when the left is
// older, positive when newer, 0 when equal.
int compare(std::string_view left, std::string_view right);

// True only for a published version, not blank, strictly newer than `current()`.
bool isServerVersionNewer(const std::optional<std::string>& serverVersion);
// The same against an explicit running version (the rule `isServerVersionNewer` applies).
bool isServerVersionNewer(const std::optional<std::string>& serverVersion, std::string_view running);

} // namespace AppVersion

} // namespace fotivela
