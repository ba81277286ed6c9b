#pragma once

#include "model/slide.h"
#include "platform/uuid.h"

#include <cstdint>
#include <set>
#include <vector>

namespace fotivela {

// Where slides land when the timeline drops one or several of them at an insertion point.
namespace TimelineSlideReorder {

// The selected slides move as one block, in their order, to the insertion index (counted in
// the list before the move, clamped to it); the others keep their order. Unchanged when no
// slide is selected.
std::vector<Slide> move(const std::vector<Slide>& slides, const std::set<Uuid>& selectedIDs, std::int64_t insertionIndex);

} // namespace TimelineSlideReorder

} // namespace fotivela
