#include "store/project_store.h"

#include "model/lumo_image_framing_policy.h"
#include "model/project_format.h"

#include <algorithm>
#include <cmath>

namespace fotivela {

namespace {

constexpr double defaultKenBurnsZoomAmount = 0.12;
constexpr double defaultKenBurnsMovementAmount = 0.35;
constexpr double minimumKenBurnsZoomAmount = 0.02;
constexpr double maximumKenBurnsZoomAmount = 0.35;
constexpr double fallbackOffsetPerScale = 0.45;

// min(max(...)) as the rule is written; callers keep NaN out first.
double clampedTo(double value, double low, double high)
{
    return std::min(std::max(value, low), high);
}

} // namespace

void ProjectStore::setKenBurnsEnabled(bool enabled)
{
    assertMainThread();
    if (m_project.slides.empty())
        return;
    registerUndoStep();
    modifyProject([&](FotivelaProject& project) {
        for (Slide& slide : project.slides) {
            slide.kenBurnsEnabled = enabled;
            // Amounts that would make the motion invisible are repaired either way.
            if (!(slide.kenBurnsZoomAmount > 0))
                slide.kenBurnsZoomAmount = defaultKenBurnsZoomAmount;
            if (!(slide.kenBurnsMovementAmount > 0))
                slide.kenBurnsMovementAmount = defaultKenBurnsMovementAmount;
        }
    });
    markProjectChangedAndSave();
}

void ProjectStore::setKenBurnsZoomAmount(double amount)
{
    assertMainThread();
    if (m_project.slides.empty() || std::isnan(amount))
        return;
    const double value = clampedTo(amount, minimumKenBurnsZoomAmount, maximumKenBurnsZoomAmount);
    modifyProject([&](FotivelaProject& project) {
        for (Slide& slide : project.slides)
            slide.kenBurnsZoomAmount = value;
    });
    markProjectChangedAndSave();
}

void ProjectStore::setKenBurnsMovementAmount(double amount)
{
    assertMainThread();
    if (m_project.slides.empty() || std::isnan(amount))
        return;
    const double value = clampedTo(amount, 0, 1);
    modifyProject([&](FotivelaProject& project) {
        for (Slide& slide : project.slides)
            slide.kenBurnsMovementAmount = value;
    });
    markProjectChangedAndSave();
}

void ProjectStore::adjustSelectedSlideReframe(double scaleDelta, double offsetDeltaX, double offsetDeltaY)
{
    assertMainThread();
    if (!std::isfinite(scaleDelta) || !std::isfinite(offsetDeltaX) || !std::isfinite(offsetDeltaY))
        return;
    const std::optional<Uuid> id = selectedSlideID();
    if (!id)
        return;
    const auto found = std::find_if(m_project.slides.begin(), m_project.slides.end(), [&](const Slide& s) { return s.id == *id; });
    if (found == m_project.slides.end())
        return;
    const double stored = std::isnan(found->imageScale) ? slideMinimumImageScale : found->imageScale;
    const double scale = clampedTo(clampedTo(stored, slideMinimumImageScale, slideMaximumImageScale) + scaleDelta,
                                   slideMinimumImageScale, slideMaximumImageScale);

    double limitX = clampedTo((scale - 1) * fallbackOffsetPerScale, 0, slideMaximumImageOffset);
    double limitY = limitX;
    const auto image = m_previewImageCache.find(*id);
    if (image != m_previewImageCache.end() && image->second.width() > 0 && image->second.height() > 0) {
        const LumoImageFramingGeometry geometry = LumoImageFramingPolicy::geometry(
            static_cast<double>(image->second.width()) / image->second.height(), aspectRatio(m_project.format), scale,
            m_project.fillPhotosToScreen.value_or(false));
        limitX = geometry.maxOffsetX;
        limitY = geometry.maxOffsetY;
    }
    const std::size_t index = static_cast<std::size_t>(found - m_project.slides.begin());
    modifyProject([&](FotivelaProject& project) {
        Slide& slide = project.slides[index];
        slide.imageScale = scale;
        // Re-clamped on every step: zooming out pulls a displaced photo back inside.
        slide.imageOffsetX = clampedTo(slide.imageOffsetX + offsetDeltaX, -limitX, limitX);
        slide.imageOffsetY = clampedTo(slide.imageOffsetY + offsetDeltaY, -limitY, limitY);
    });
    markProjectChangedAndSave();
}

void ProjectStore::resetSelectedSlideReframe()
{
    assertMainThread();
    std::set<Uuid> targets = timelineSelection();
    if (targets.empty()) {
        if (const std::optional<Slide> selected = selectedSlide())
            targets.insert(selected->id);
    }
    if (targets.empty())
        return;
    const bool matches = std::any_of(m_project.slides.begin(), m_project.slides.end(),
                                     [&](const Slide& s) { return targets.contains(s.id); });
    if (!matches)
        return;
    modifyProject([&](FotivelaProject& project) {
        for (Slide& slide : project.slides) {
            if (!targets.contains(slide.id))
                continue;
            slide.imageScale = 1;
            slide.imageOffsetX = 0;
            slide.imageOffsetY = 0;
        }
    });
    markProjectChangedAndSave();
}

} // namespace fotivela
