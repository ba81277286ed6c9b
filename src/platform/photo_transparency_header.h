#pragma once

#include "platform/regular_file.h"

#include <optional>

namespace fotivela {

// Whether a PNG or WebP declares see-through pixels, read from its own header and
// chunks. The pixel format a decoder reports cannot tell: a palette PNG with a
// transparent entry decodes as a plain palette, and every WebP as one with alpha.
namespace PhotoTransparencyHeader {

// True when the file declares transparency (a PNG with an alpha channel or a tRNS chunk
// before its image data, a WebP with the alpha flag of its extended or lossless header);
// false when it declares none, or when a PNG or WebP header is cut short or damaged.
// None for every other kind of file.
std::optional<bool> read(const RegularFile& file);

} // namespace PhotoTransparencyHeader

} // namespace fotivela
