#include "model/lumo_image_framing_policy.h"

#include <algorithm>
#include <cmath>

namespace fotivela::LumoImageFramingPolicy {

namespace {

// A ratio that is not a number counts as degenerate; an infinite one as the
// widest ratio the guard keeps finite.
double guardedRatio(double ratio)
{
    if (std::isnan(ratio) || ratio <= aspectEpsilon)
        return aspectEpsilon;
    if (std::isinf(ratio))
        return 1.0 / aspectEpsilon;
    return ratio;
}

bool isDegenerate(double ratio)
{
    return std::isnan(ratio) || ratio <= aspectEpsilon;
}

} // namespace

LumoImageFramingGeometry geometry(double imageAspectRatio, double canvasAspectRatio, double userScale,
                                  bool fillsFrame)
{
    double fittedWidth = 1.0;
    double fittedHeight = 1.0;
    if (!(isDegenerate(imageAspectRatio) && isDegenerate(canvasAspectRatio))) {
        const double image = guardedRatio(imageAspectRatio);
        const double canvas = guardedRatio(canvasAspectRatio);
        fittedWidth = std::min(image / canvas, 1.0);
        fittedHeight = std::min(canvas / image, 1.0);
    }

    const double base = fillsFrame ? std::max(1.0 / fittedWidth, 1.0 / fittedHeight) : 1.0;
    // A user scale that is not finite would carry NaN or infinity into every frame drawn.
    const double user = std::isfinite(userScale) ? std::max(userScale, 1.0) : 1.0;

    LumoImageFramingGeometry result;
    result.scale = base * user;
    result.maxOffsetX = std::max((result.scale * fittedWidth - 1.0) / 2.0, 0.0);
    result.maxOffsetY = std::max((result.scale * fittedHeight - 1.0) / 2.0, 0.0);
    return result;
}

bool coversFrame(double width, double height, double frameWidth, double frameHeight)
{
    constexpr double rounding = 0.5;
    return width >= frameWidth - rounding && height >= frameHeight - rounding;
}

double panWithinOverhang(double pan, double start, double length, double extent)
{
    // Both limits hold 0, also for a photo within the rounding of the frame's edges.
    const double towardsStart = std::min(extent - (start + length), 0.0);
    const double towardsEnd = std::max(-start, 0.0);
    return std::clamp(pan, towardsStart, towardsEnd);
}

} // namespace fotivela::LumoImageFramingPolicy
