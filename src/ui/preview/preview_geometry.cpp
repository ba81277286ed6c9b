#include "ui/preview/preview_geometry.h"

#include "model/lumo_image_framing_policy.h"
#include "model/lumo_project_background_color.h"
#include "platform/hex_color.h"
#include "ui/shell/fotivela_design_system.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace fotivela::PreviewGeometry {

namespace {

// NaN-safe: a value that is not a number becomes the lower bound.
double clampedTo(double value, double low, double high)
{
    return std::min(std::max(low, value), high);
}

double finiteOr(double value, double fallback)
{
    return std::isfinite(value) ? value : fallback;
}

} // namespace

QSizeF previewSize(QSizeF offered, ProjectFormat format)
{
    const double a = aspectRatio(format);
    const double w = std::max(offered.width() - 10, 240.0);
    const double h = std::max(offered.height() - 8, 135.0);
    const double width = std::min(h * a, w) * 0.94;
    const double height = width / a;
    return {std::min(w, width), std::min(h, height)};
}

QColor backgroundColor(const FotivelaProject& project)
{
    return colorFromHex(LumoProjectBackgroundColor::normalized(project.backgroundColorHex));
}

SlideTransition panelTransition(const FotivelaProject& project)
{
    if (project.slides.empty() || project.slides.front().transition == SlideTransition::cut)
        return SlideTransition::cut;
    return SlideTransition::dissolve;
}

KenBurnsMotion kenBurnsMotion(const Slide& slide, double progress, QSizeF monitorSize)
{
    if (!slide.kenBurnsEnabled)
        return {};
    const double p = clampedTo(progress, 0, 1);
    const double t = 2 * (p - 0.5);
    const double sign = (slide.order & 1) == 0 ? 1.0 : -1.0;
    const double m = finiteOr(slide.kenBurnsMovementAmount, 0);
    KenBurnsMotion motion;
    motion.scale = 1 + finiteOr(slide.kenBurnsZoomAmount, 0) * p;
    motion.offset = QPointF(sign * monitorSize.width() * 0.035 * m * t, -sign * monitorSize.height() * 0.026 * m * t);
    return motion;
}

QRectF imageRect(const Slide& slide, QSizeF imageSize, QSizeF monitorSize, const KenBurnsMotion& motion,
                 bool fillsFrame)
{
    const double w = monitorSize.width();
    const double h = monitorSize.height();
    const double iw = imageSize.width();
    const double ih = imageSize.height();
    if (!(iw > 0) || !(ih > 0) || !(w > 0) || !(h > 0))
        return {};
    const double fit = std::min(w / iw, h / ih);
    const double imageScale = finiteOr(slide.imageScale, 1);
    const auto geometry = LumoImageFramingPolicy::geometry(iw / ih, w / h, imageScale * motion.scale, fillsFrame);
    const double dw = fit * iw * geometry.scale;
    const double dh = fit * ih * geometry.scale;
    const double ox = clampedTo(finiteOr(slide.imageOffsetX, 0), -geometry.maxOffsetX, geometry.maxOffsetX);
    const double oy = clampedTo(finiteOr(slide.imageOffsetY, 0), -geometry.maxOffsetY, geometry.maxOffsetY);
    const double left = (w - dw) / 2 + w * ox;
    const double top = (h - dh) / 2 + h * oy;
    // The pan goes on after the clamp, limited as in exported frames, so the preview moves as the video will.
    QPointF pan = motion.offset;
    const double unmoved = LumoImageFramingPolicy::geometry(iw / ih, w / h, imageScale, fillsFrame).scale;
    if (LumoImageFramingPolicy::coversFrame(fit * iw * unmoved, fit * ih * unmoved, w, h))
        pan = QPointF(LumoImageFramingPolicy::panWithinOverhang(pan.x(), left, dw, w),
                      LumoImageFramingPolicy::panWithinOverhang(pan.y(), top, dh, h));
    return QRectF(left + pan.x(), top + pan.y(), dw, dh);
}

QPointF clampedTitlePosition(double x, double y)
{
    return {clampedTo(x, 0.05, 0.95), clampedTo(y, 0.08, 0.92)};
}

std::optional<TitleLayout> titleLayout(const Slide& slide, QSizeF monitorSize)
{
    if (slide.title.empty())
        return std::nullopt;
    const double w = monitorSize.width();
    const double h = monitorSize.height();
    const double size = finiteOr(slide.titleFontSize, 0) * std::min(w / 960, h / 540);
    if (!(size > 0) || !std::isfinite(size))
        return std::nullopt;

    TitleLayout layout;
    layout.fontSize = size;
    // The exported frame's face and weight, so the preview shows what the video will.
    layout.font = titleFont(slide.titleFontDesign, size);
    const QString text = QString::fromStdString(slide.title);
    const QFontMetricsF metrics(layout.font);
    const double available = std::max(w - 2 * titleHorizontalPadding, 1.0);
    const QRectF measured =
        metrics.boundingRect(QRectF(0, 0, available, 1e6), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, text);
    const double boxWidth = std::ceil(measured.width()) + 2 * titleHorizontalPadding;
    const double boxHeight = std::ceil(measured.height()) + 2 * titleVerticalPadding;
    const QPointF centre = clampedTitlePosition(slide.titlePositionX, slide.titlePositionY);
    layout.box = QRectF(w * centre.x() - boxWidth / 2, h * centre.y() - boxHeight / 2, boxWidth, boxHeight);
    layout.textRect =
        layout.box.adjusted(titleHorizontalPadding, titleVerticalPadding, -titleHorizontalPadding, -titleVerticalPadding);
    return layout;
}

} // namespace fotivela::PreviewGeometry
