#pragma once

#include <filesystem>

namespace fotivela::DuskmereStorage {

// The suite folder of the program's own per-user files: "DUSKMERE_TEST_ROOT"
// when set and not empty (taken as given, relative to the working folder),
// else $XDG_DATA_HOME (or ~/.local/share) / "com.quenbarrow.orvelant".
// Computed on every call; never created here.
std::filesystem::path suiteDirectory();

// suite / "Fotivela" / "Temporary", created on every call with mode 0700 for
// each folder made. A failure to create it is ignored: callers then fail on
// their own writes.
std::filesystem::path temporaryDirectory();

// Creates path and its missing parents, giving each folder created mode 0700.
// Existing folders are left as they are. Returns false when it cannot.
bool createPrivateDirectories(const std::filesystem::path& path);

} // namespace fotivela::DuskmereStorage
