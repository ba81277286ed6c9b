#pragma once

#include "model/stored_enum.h"

#include <functional>
#include <string>
#include <string_view>

namespace fotivela {

// The aspect formats of a slideshow, in the order of the format menu.
enum class ProjectFormat {
    youtube,
    reels,
    classicLandscape,
    classicPortrait,
    square,
    portrait,
    landscape,
    photoLandscape,
    photoPortrait,
};

// `landscape` keeps its historical stored ratio "4:5" although its frame is 5:4.
template <>
struct StoredEnum<ProjectFormat> {
    static constexpr std::array<std::pair<ProjectFormat, std::string_view>, 9> table{{
        {ProjectFormat::youtube, "YouTube 16:9"},
        {ProjectFormat::reels, "Instagram/Reels 9:16"},
        {ProjectFormat::classicLandscape, "Video horizontal 4:3"},
        {ProjectFormat::classicPortrait, "Video vertical 3:4"},
        {ProjectFormat::square, "Cuadrado 1:1"},
        {ProjectFormat::portrait, "Vertical 4:5"},
        {ProjectFormat::landscape, "Horizontal 4:5"},
        {ProjectFormat::photoLandscape, "Foto horizontal 3:2"},
        {ProjectFormat::photoPortrait, "Foto vertical 2:3"},
    }};
};

// Width of the frame divided by its height.
double aspectRatio(ProjectFormat format);

// Spanish label of the short title, before translation.
std::string_view titleLabel(ProjectFormat format);

// The ratio shown after the title label; never translated.
std::string_view ratioText(ProjectFormat format);

// Spanish one-line description of the format's use.
std::string_view spanishDescription(ProjectFormat format);

// Turns a Spanish interface text into the current language (the interface
// text table does this; the model does not hold the language).
using InterfaceTextTranslator = std::function<std::string(std::string_view spanish)>;

// The translated title label, a blank and the ratio text.
std::string displayTitle(ProjectFormat format, const InterfaceTextTranslator& translate);

// The translated description.
std::string description(ProjectFormat format, const InterfaceTextTranslator& translate);

} // namespace fotivela
