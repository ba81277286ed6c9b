#pragma once

#include "store/project_store.h"

#include <cstdint>
#include <limits>

namespace fotivela {

// The timeline's derived data, kept for one generation of the store's state and one
// answer of the file system about the instruments' preview files.
struct ProjectStore::DerivedCache {
    std::uint64_t generation = std::numeric_limits<std::uint64_t>::max();
    std::uint32_t existingInstrumentFiles = 0;
    TimelineDerivedData data;
    std::vector<BeatMarker> autoSyncBeatMarkers;
};

} // namespace fotivela
