#pragma once

#include "model/fotivela_project.h"

#include <filesystem>

namespace fotivela {

// Repairs a project whose photos or song were moved: the missing files are looked up by
// name in a folder the user points to.
namespace ProjectAssetRelinker {

// True as soon as one slide's photo or the song has no file at its path.
bool hasMissingAssets(const FotivelaProject& project);

// Each missing photo or song takes the regular file of the same name (ignoring case)
// found anywhere below the folder; a file that exists is never replaced. True when a
// path changed. Never fails: an unreadable folder changes nothing.
bool relinkMissingAssets(FotivelaProject& project, const std::filesystem::path& folder);

} // namespace ProjectAssetRelinker

} // namespace fotivela
