#pragma once

#include "model/slide.h"

#include <QImage>

#include <filesystem>
#include <stop_token>
#include <vector>

namespace fotivela {

// Small JPEG copies of the slides' photos in the project's "Previews" folder, so that the
// views never decode the full-size originals.
namespace PreviewImageCache {

inline constexpr int maximumPixelSize = 1800;
inline constexpr int jpegQuality = 82;

// project folder / "Previews" / <slide id>.jpg
std::filesystem::path previewURL(const Uuid& slideID, const std::filesystem::path& projectURL);

// The slide's picture for a view, its longer side at most maxPixelSize: read from its
// preview when that exists, else from the photo. A photo that may be transparent is read
// from the original all the same, because its preview is flattened: the views draw it over
// the project's background colour, as the film does. Null when neither can be read.
QImage decodeShownImage(const Slide& slide, const std::filesystem::path& projectURL, int maxPixelSize);

// Writes the missing previews of the slides, taken in list order by up to four workers; an
// existing one is kept. A stop request skips the slides not yet started. Never fails: a
// photo that cannot be read gets no preview and is tried again on the next run.
void generate(const std::vector<Slide>& slides, const std::filesystem::path& projectURL,
              std::stop_token stop = {});

// The photo upright, its longer side at most 1800 pixels, as a JPEG at the target. The
// JPEG is written to a temporary name and moved into place only when complete, so a
// failed or interrupted write never leaves a broken preview behind. False when nothing
// was written.
bool writeDownsampledPreview(const std::filesystem::path& source, const std::filesystem::path& target);

} // namespace PreviewImageCache

} // namespace fotivela
