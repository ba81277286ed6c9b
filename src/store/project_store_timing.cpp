#include "store/project_store.h"

#include <algorithm>
#include <cmath>

namespace fotivela {

namespace {

constexpr double minimumDraggedDuration = 0.5;
constexpr double minimumProgressDuration = 0.001;

bool durationsFollowMarkers(const FotivelaProject& project)
{
    return project.audio && project.audio->syncMode == SyncMode::autoBeatV2;
}

} // namespace

void ProjectStore::applyDurationToEditableSlides(double duration)
{
    assertMainThread();
    // A duration that is not a finite, non-negative number would make every later save fail.
    if (durationsFollowMarkers(m_project) || !std::isfinite(duration) || duration < 0)
        return;
    std::set<Uuid> targets;
    for (const Slide& slide : editableSlides())
        targets.insert(slide.id);
    if (targets.empty())
        return;
    registerUndoStep();
    modifyProject([&](FotivelaProject& project) {
        for (Slide& slide : project.slides) {
            if (targets.contains(slide.id))
                slide.duration = duration;
        }
    });
    recalculateTotalDuration();
    markProjectChangedAndSave();
}

void ProjectStore::resizeSlideDuration(const Uuid& id, ResizeEdge edge, double delta)
{
    assertMainThread();
    if (durationsFollowMarkers(m_project))
        return;
    const std::vector<Slide>& slides = m_project.slides;
    const auto found = std::find_if(slides.begin(), slides.end(), [&](const Slide& s) { return s.id == id; });
    if (found == slides.end())
        return;
    if (!m_pendingTimelineResizeUndo) {
        registerUndoStep();
        m_pendingTimelineResizeUndo = true;
    }
    resizeSlideBoundary(static_cast<std::size_t>(found - slides.begin()), edge, delta);
    recalculateTotalDuration();
    markProjectChangedAndSave();
}

void ProjectStore::resizeSlideBoundary(std::size_t index, ResizeEdge edge, double delta)
{
    if (!std::isfinite(delta) || index >= m_project.slides.size())
        return;
    const double start = startTime(static_cast<std::int64_t>(index));
    const double duration = m_project.slides[index].duration;
    if (edge == ResizeEdge::right) {
        const double oldEnd = start + duration;
        const double change = snapTimelineEditTime(oldEnd + delta) - oldEnd;
        const double newDuration = duration + change;
        if (newDuration < minimumDraggedDuration)
            return;
        const bool hasNext = index + 1 < m_project.slides.size();
        if (hasNext && m_project.slides[index + 1].duration - change < minimumDraggedDuration)
            return;
        // With a following slide the boundary moves and the slideshow keeps its length.
        modifyProject([&](FotivelaProject& project) {
            if (hasNext)
                project.slides[index + 1].duration -= change;
            project.slides[index].duration = newDuration;
        });
        return;
    }
    if (index < 1)
        return;
    const double change = snapTimelineEditTime(start + delta) - start;
    const double previousDuration = m_project.slides[index - 1].duration + change;
    const double newDuration = duration - change;
    if (previousDuration < minimumDraggedDuration || newDuration < minimumDraggedDuration)
        return;
    modifyProject([&](FotivelaProject& project) {
        project.slides[index - 1].duration = previousDuration;
        project.slides[index].duration = newDuration;
    });
}

void ProjectStore::applyTransitionToAllSlides(SlideTransition transition)
{
    assertMainThread();
    if (m_project.slides.empty())
        return;
    registerUndoStep();
    modifyProject([&](FotivelaProject& project) {
        for (Slide& slide : project.slides)
            slide.transition = transition;
    });
    markProjectChangedAndSave();
}

double ProjectStore::startTime(const Uuid& slideID) const
{
    const std::vector<Slide>& slides = project().slides;
    double start = 0;
    for (const Slide& slide : slides) {
        if (slide.id == slideID)
            return start;
        start += slide.duration;
    }
    return previewTime();
}

double ProjectStore::previewProgress(const Uuid& slideID) const
{
    const std::vector<Slide>& slides = project().slides;
    double start = 0;
    for (const Slide& slide : slides) {
        if (slide.id == slideID) {
            const double progress = (previewTime() - start) / std::max(slide.duration, minimumProgressDuration);
            return std::isnan(progress) ? 0.0 : std::clamp(progress, 0.0, 1.0);
        }
        start += slide.duration;
    }
    return 0;
}

} // namespace fotivela
