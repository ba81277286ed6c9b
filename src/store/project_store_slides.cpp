#include "store/project_store.h"

#include "model/lumo_project_background_color.h"
#include "store/timeline_slide_reorder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace fotivela {

namespace {

constexpr double minimumTimelineZoom = 0.05;
constexpr double maximumTimelineZoom = 6.0;
constexpr double timelineZoomThreshold = 0.0001;
constexpr double pointsPerSecond = 42;
constexpr double minimumContentWidth = 320;
constexpr double minimumFitDuration = 1.0;

std::vector<Uuid> idsOf(const std::vector<Slide>& slides)
{
    std::vector<Uuid> ids;
    ids.reserve(slides.size());
    for (const Slide& slide : slides)
        ids.push_back(slide.id);
    return ids;
}

} // namespace

void ProjectStore::moveSlide(Uuid id, std::int64_t insertionIndex)
{
    assertMainThread();
    const std::vector<Slide>& slides = m_project.slides;
    if (std::none_of(slides.begin(), slides.end(), [&](const Slide& s) { return s.id == id; }))
        return;
    const std::set<Uuid> ids = timelineSelection().contains(id) ? timelineSelection() : std::set<Uuid>{id};
    std::vector<Slide> reordered = TimelineSlideReorder::move(slides, ids, insertionIndex);
    if (idsOf(reordered) == idsOf(slides))
        return;

    const TimelineTitleAnchors anchors = timelineTitleAnchorsBeforeOrderChange();
    registerUndoStep();
    modifyProject([&](FotivelaProject& project) { project.slides = std::move(reordered); });
    setTimelineSelection(ids);
    setSelectedSlideID(id);
    m_timelineAnchorID = id;
    normalizeSlideOrder();
    alignSlidesAfterTimelineOrderChangeIfNeeded(anchors);
    markProjectChangedAndSave();
}

void ProjectStore::alignSlidesAfterTimelineOrderChangeIfNeeded(const std::optional<TimelineTitleAnchors>& titleAnchors)
{
    if (titleAnchors)
        restoreTimelineTitleAnchorsAfterOrderChange(*titleAnchors);
    if (m_project.audio && m_project.audio->syncMode == SyncMode::autoBeatV2)
        autoSyncSlidesToBeatTimes();
    else
        recalculateTotalDuration();
}

void ProjectStore::setFillPhotosToScreen(bool value)
{
    assertMainThread();
    if (m_project.fillPhotosToScreen.value_or(false) == value)
        return;
    registerUndoStep();
    // The framing was chosen for the other rule; under the new one it starts over.
    modifyProject([&](FotivelaProject& project) {
        project.fillPhotosToScreen = value;
        for (Slide& slide : project.slides) {
            slide.imageScale = 1.0;
            slide.imageOffsetX = 0;
            slide.imageOffsetY = 0;
        }
    });
    markProjectChangedAndSave();
}

void ProjectStore::setBackgroundColor(const QColor& color)
{
    assertMainThread();
    const QColor rgb = color.isValid() ? color.toRgb() : QColor(Qt::black);
    const auto channel = [](float value) {
        // Halves away from zero; a colour outside sRGB's range is held at its edge.
        return static_cast<int>(std::lround(std::clamp(static_cast<double>(value), 0.0, 1.0) * 255.0));
    };
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", channel(rgb.redF()), channel(rgb.greenF()), channel(rgb.blueF()));
    if (text == LumoProjectBackgroundColor::normalized(m_project.backgroundColorHex))
        return;
    modifyProject([&](FotivelaProject& project) { project.backgroundColorHex = std::string(text); });
    markProjectChangedAndSave();
}

void ProjectStore::setTimelineZoom(double zoom)
{
    assertMainThread();
    // Lower bound first, so that a zoom that is not a number stops at the difference test.
    const double clamped = std::min(std::max(zoom, minimumTimelineZoom), maximumTimelineZoom);
    const double difference = std::abs(timelineZoom() - clamped);
    if (std::isnan(zoom) || std::isnan(difference) || difference <= timelineZoomThreshold)
        return;
    setTimelineZoomValue(clamped);
    setTimelineZoomFocusRevision(timelineZoomFocusRevision() + 1);
}

void ProjectStore::fitAudioTimeline(double width)
{
    assertMainThread();
    const double duration = std::max(audioDuration(), totalDuration());
    setTimelineZoom(std::max(width, minimumContentWidth) / (std::max(duration, minimumFitDuration) * pointsPerSecond));
}

} // namespace fotivela
