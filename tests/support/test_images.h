#pragma once

// Generated photos for the image tests: JPEG and PNG through Qt, JPEG with an EXIF
// orientation tag, HEIC through libheif.

#include <QColor>
#include <QImage>

#include <filesystem>

namespace fotivela::test {

// Top half `top`, bottom half `bottom`: after a quarter turn the halves end up left and right.
QImage makeTwoToneImage(int width, int height, QColor top = Qt::red, QColor bottom = Qt::blue);

// Writes the image in the format ("JPG", "PNG"); throws std::runtime_error on failure.
void writeImage(const std::filesystem::path& file, const QImage& image, const char* format = "JPG");

// A JPEG of the image as stored, with an EXIF orientation tag (1 to 8) telling viewers how
// to turn it upright.
void writeJpegWithOrientation(const std::filesystem::path& file, const QImage& image, int orientation);

// An HEIC of the image, with an orientation (1 to 8) written as HEIF rotation and mirror
// boxes. False when this libheif has no HEVC encoder.
bool writeHeic(const std::filesystem::path& file, const QImage& image, int orientation = 1);

// The colour at the point, as a name "#rrggbb", with JPEG's small errors rounded to the
// nearest of red, green, blue, black and white.
QColor dominantColor(const QImage& image, int x, int y);

} // namespace fotivela::test
