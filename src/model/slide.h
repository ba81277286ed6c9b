#pragma once

#include "model/stored_enum.h"
#include "platform/uuid.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace fotivela {

enum class SlideTransition { fade, cut, dissolve };

template <>
struct StoredEnum<SlideTransition> {
    static constexpr std::array<std::pair<SlideTransition, std::string_view>, 3> table{{
        {SlideTransition::fade, "Fade"},
        {SlideTransition::cut, "Corte"},
        {SlideTransition::dissolve, "Fundido"},
    }};
};

enum class ZoomMode { none, slowIn, slowOut };

template <>
struct StoredEnum<ZoomMode> {
    static constexpr std::array<std::pair<ZoomMode, std::string_view>, 3> table{{
        {ZoomMode::none, "Sin zoom"},
        {ZoomMode::slowIn, "Zoom suave"},
        {ZoomMode::slowOut, "Zoom salida"},
    }};
};

// `default` is a keyword in C++, hence the trailing underscore.
enum class TitleFontDesign {
    default_,
    rounded,
    serif,
    monospaced,
    avenirNext,
    futura,
    helveticaNeue,
    georgia,
    baskerville,
    didot,
    copperplate,
    markerFelt,
};

template <>
struct StoredEnum<TitleFontDesign> {
    static constexpr std::array<std::pair<TitleFontDesign, std::string_view>, 12> table{{
        {TitleFontDesign::default_, "System"},
        {TitleFontDesign::rounded, "Rounded"},
        {TitleFontDesign::serif, "Serif"},
        {TitleFontDesign::monospaced, "Mono"},
        {TitleFontDesign::avenirNext, "Avenir Next"},
        {TitleFontDesign::futura, "Futura"},
        {TitleFontDesign::helveticaNeue, "Helvetica Neue"},
        {TitleFontDesign::georgia, "Georgia"},
        {TitleFontDesign::baskerville, "Baskerville"},
        {TitleFontDesign::didot, "Didot"},
        {TitleFontDesign::copperplate, "Copperplate"},
        {TitleFontDesign::markerFelt, "Marker Felt"},
    }};
};

// One picture of the slideshow: a photo or a generated title slide.
// Member initialisers are the values a decode puts in missing optional keys.
struct Slide {
    Uuid id;
    std::filesystem::path imageURL;
    std::string name;
    std::int64_t order = 0;
    double duration = 0.0;
    SlideTransition transition = SlideTransition::dissolve;
    ZoomMode zoom = ZoomMode::none;
    double imageScale = 1.0;
    double imageOffsetX = 0.0;
    double imageOffsetY = 0.0;
    bool kenBurnsEnabled = false;
    double kenBurnsZoomAmount = 0.12;
    double kenBurnsMovementAmount = 0.35;
    std::string title;
    double titleFontSize = 42.0;
    std::string titleColorHex = "#FFFFFF";
    TitleFontDesign titleFontDesign = TitleFontDesign::default_;
    bool titleHasBackground = true;
    double titlePositionX = 0.5;
    double titlePositionY = 0.5;
    bool isGeneratedTitleSlide = false;

    friend bool operator==(const Slide&, const Slide&) = default;
};

inline constexpr double slideMinimumImageScale = 1.0;
inline constexpr double slideMaximumImageScale = 4.0;
inline constexpr double slideMaximumImageOffset = 0.75;

} // namespace fotivela
