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

// Whether a photo drawn width x height covers a frame of frameWidth x frameHeight. Half a
// unit short still counts: that is the framing's rounding, not a gap.
bool coversFrame(double width, double height, double frameWidth, double frameHeight);

// The Ken Burns pan along one axis of a photo that covers the frame without the motion,
// for the photo placed at `start` with `length` on a frame `extent` long: no further than
// the photo overhangs the frame on the side it moves away from, so the motion never
// uncovers the background. A pan within the overhang is returned as it is.
double panWithinOverhang(double pan, double start, double length, double extent);

} // namespace LumoImageFramingPolicy

} // namespace fotivela
