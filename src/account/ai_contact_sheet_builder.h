#pragma once

#include "model/slide.h"
#include "platform/error.h"

#include <QImage>
#include <QRectF>
#include <QSize>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fotivela {

enum class AIContactSheetStyle { cloud, local };

// Pixel sizes of one layout.
struct AIContactSheetLayout {
    int cellWidth = 0;
    int pictureHeight = 0;
    int captionHeight = 0;
    int margin = 0;
    int spacing = 0;
    int maximumColumns = 0;
    int captionFontSize = 0;
    int jpegQuality = 0;
    friend bool operator==(const AIContactSheetLayout&, const AIContactSheetLayout&) = default;
};

class AIContactSheetError : public Error {
public:
    AIContactSheetError() : Error("No se ha podido crear la hoja de contacto para la IA.") {}
};

// Thumbnails of the user's photos, decoded at reduced size and upright.
namespace ImageDownsampler {
QImage image(const std::filesystem::path& file, int maxPixelSize);
} // namespace ImageDownsampler

// The one JPEG the cloud lyrics generator sees of the slideshow: a grid of thumbnails, each with a
// numbered caption.
namespace AIContactSheetBuilder {

inline constexpr std::size_t cloudSlideLimit = 36;

AIContactSheetLayout layout(AIContactSheetStyle style);

// All slides up to the limit; above it, 36 spread evenly with the first and the last included.
std::vector<Slide> sampleSlidesForCloudContactSheet(const std::vector<Slide>& slides);

int columnCount(std::size_t slideCount, AIContactSheetStyle style);
QSize sheetSize(std::size_t slideCount, AIContactSheetStyle style);
// Picture rectangle of cell k, top-left origin.
QRectF pictureRect(std::size_t index, std::size_t slideCount, AIContactSheetStyle style);

// Draws the sheet and writes it as a JPEG to outputURL (creating its folder), atomically. The
// preview location of each slide is asked on the main thread; the slide's cached preview is used
// when it exists, else its photo. A photo that cannot be read leaves a grey cell. Returns outputURL.
// Throws the folder's FileWriteError or AIContactSheetError.
std::filesystem::path makeContactSheet(const std::vector<Slide>& slides,
                                       const std::function<std::filesystem::path(const Slide&)>& previewURL,
                                       const std::filesystem::path& outputURL, AIContactSheetStyle style);

QRectF aspectFitRect(QSizeF image, const QRectF& rect);

// The text cut at the end with "..." so that measure(result) fits the width; the whole text when
// it fits.
std::string truncatedLabel(std::string_view text, double width, const std::function<double(const QString&)>& measure);

} // namespace AIContactSheetBuilder

} // namespace fotivela
