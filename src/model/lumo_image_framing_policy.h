#pragma once

namespace fotivela {

// How large a photo is drawn in the frame and how far its centre may move.
struct LumoImageFramingGeometry {
    double scale = 1.0;
    double maxOffsetX = 0.0;
    double maxOffsetY = 0.0;

    friend bool operator==(const LumoImageFramingGeometry&, const LumoImageFramingGeometry&) = default;
};

// The one framing rule shared by reframing, preview and export.
namespace LumoImageFramingPolicy {

inline constexpr double aspectEpsilon = 0.000001;

// Aspect ratios are width / height. A user scale below 1 counts as 1.
LumoImageFramingGeometry geometry(double imageAspectRatio, double canvasAspectRatio, double userScale,
                                  bool fillsFrame);

} // namespace LumoImageFramingPolicy

} // namespace fotivela
