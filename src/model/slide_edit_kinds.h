#pragma once

namespace fotivela {

// The edge of a slide that a timeline drag moves.
enum class ResizeEdge { left, right };

// One of the two title screens: the opening one (first slide) or the closing one (last slide).
enum class TitleSlidePlacement { initial, final };

} // namespace fotivela
