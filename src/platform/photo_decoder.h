#pragma once

#include <QImage>
#include <QSize>

#include <filesystem>

namespace fotivela {

// Decodes the user's photos (JPEG, PNG and the other formats Qt reads, HEIC and AVIF
// through libheif) the way every consumer wants them: upright (EXIF orientation or the
// HEIF rotation and mirror applied) and in sRGB. Safe to call from any thread.
namespace PhotoDecoder {

// The photo with its longer side at most maxPixelSize (when above 0; never enlarged).
// JPEG is decoded at reduced size rather than decoded whole and scaled. A null image
// when the file cannot be read as a picture, and when its header declares more pixels
// than PhotoDecodeBudget allows one decode (the refusal is logged). The file is opened
// by its bytes, whatever encoding its name is in; anything but a regular file (a FIFO, a
// device) gives a null image at once.
QImage decode(const std::filesystem::path& file, int maxPixelSize = 0);

// The upright size without decoding the pixels; an invalid size when unreadable.
QSize uprightSize(const std::filesystem::path& file);

// From the header alone: false when the photo declares no alpha channel and no
// transparent colour, true when it declares one or its format cannot tell (GIF). False
// for a file that is not a picture.
bool mayHaveTransparency(const std::filesystem::path& file);

// True when the file's first bytes say HEIF (HEIC, AVIF), whatever its name.
bool isHeif(const std::filesystem::path& file);

// The size that fits `size` into a square of maxPixelSize, keeping the aspect ratio;
// `size` itself when it already fits or maxPixelSize is not above 0.
QSize boundedSize(QSize size, int maxPixelSize);

} // namespace PhotoDecoder

} // namespace fotivela
