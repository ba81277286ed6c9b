#pragma once

#include "model/stored_enum.h"

#include <string>

namespace fotivela {

enum class ExportQuality { quick, high, premium };

template <>
struct StoredEnum<ExportQuality> {
    static constexpr std::array<std::pair<ExportQuality, std::string_view>, 3> table{{
        {ExportQuality::quick, "720p"},
        {ExportQuality::high, "1080p"},
        {ExportQuality::premium, "4K"},
    }};
};

constexpr double defaultBitrateMbps(ExportQuality quality)
{
    switch (quality) {
    case ExportQuality::quick:
        return 6;
    case ExportQuality::high:
        return 12;
    case ExportQuality::premium:
        return 45;
    }
    return 12;
}

enum class ExportCodec { h264, h265 };

template <>
struct StoredEnum<ExportCodec> {
    static constexpr std::array<std::pair<ExportCodec, std::string_view>, 2> table{{
        {ExportCodec::h264, "H.264"},
        {ExportCodec::h265, "H.265 / HEVC"},
    }};
};

// Member initialisers are the values of an empty stored object and of a new project.
struct ExportSettings {
    ExportQuality quality = ExportQuality::high;
    ExportCodec codec = ExportCodec::h265;
    double bitrateMbps = defaultBitrateMbps(ExportQuality::high);
    bool includeAudio = true;
    std::string outputFormat = "mp4";

    friend bool operator==(const ExportSettings&, const ExportSettings&) = default;
};

} // namespace fotivela
