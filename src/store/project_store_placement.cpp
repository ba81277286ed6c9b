#include "store/project_store.h"

#include <algorithm>
#include <cmath>

namespace fotivela {

namespace {

constexpr double minimumSlideDuration = 0.05;
constexpr double minimumFilledStep = 0.5;
constexpr double snapDistance = 0.1;

} // namespace

std::vector<double> ProjectStore::beatBoundaries(std::int64_t slideCount, double duration,
                                                 const std::vector<BeatMarker>& markers)
{
    if (slideCount < 1)
        return {};
    const auto n = static_cast<std::size_t>(slideCount);
    std::vector<double> times;
    for (const BeatMarker& marker : markers) {
        if (marker.time < duration)
            times.push_back(marker.time);
    }

    std::vector<double> bounds;
    bounds.reserve(n + 1);
    if (times.empty()) {
        for (std::size_t k = 0; k <= n; ++k)
            bounds.push_back(duration * static_cast<double>(k) / static_cast<double>(n));
        return bounds;
    }
    while (times.size() < n) {
        const double last = times.back();
        const auto missing = static_cast<double>(n - times.size());
        times.push_back(std::min(last + std::max((duration - last) / missing, minimumFilledStep), duration));
    }
    bounds.push_back(0);
    bounds.insert(bounds.end(), times.begin(), times.begin() + static_cast<std::ptrdiff_t>(n));
    return bounds;
}

void ProjectStore::autoSyncSlidesToBeatTimes()
{
    assertMainThread();
    const std::size_t count = m_project.slides.size();
    if (count == 0)
        return;
    // Slides squeezed to the minimum behind the end of the span lengthen the slideshow past it.
    // Counted in the span, they would spread the next placement (every opening of the project
    // runs one) over a longer time, and the same project would give another film each time.
    std::size_t squeezed = 0;
    while (squeezed < count && m_project.slides[count - 1 - squeezed].duration == minimumSlideDuration)
        ++squeezed;
    const double span = std::max(totalDuration() - static_cast<double>(squeezed) * minimumSlideDuration, audioDuration());
    if (!(span > 0) || !std::isfinite(span))
        return;
    const std::vector<double> bounds = beatBoundaries(static_cast<std::int64_t>(count), span, autoSyncBeatMarkers());
    if (bounds.size() != count + 1)
        return;
    modifyProject([&](FotivelaProject& project) {
        for (std::size_t i = 0; i < count; ++i)
            project.slides[i].duration = std::max(bounds[i + 1] - bounds[i], minimumSlideDuration);
    });
    recalculateTotalDuration();
    touchProject(true);
    saveCurrentProjectSilentlyIfPossible();
}

double ProjectStore::startTime(std::int64_t slideIndex) const
{
    const std::vector<Slide>& slides = project().slides;
    if (slideIndex < 1)
        return 0;
    const std::size_t end = std::min(static_cast<std::size_t>(slideIndex), slides.size());
    double start = 0;
    for (std::size_t i = 0; i < end; ++i)
        start += slides[i].duration;
    return start;
}

double ProjectStore::snapTimelineEditTime(double time)
{
    assertMainThread();
    const double limit = std::max({totalDuration(), audioDuration(), 0.0});
    // Written so that a time that is not a number lands on 0.
    const double clamped = time > 0 ? std::min(time, limit) : 0.0;

    const std::optional<AudioTrack>& audio = project().audio;
    if (!audio || audio->syncMode != SyncMode::manual) {
        setSnappedBeatTime(std::nullopt);
        return clamped;
    }

    std::vector<double> candidates;
    for (const BeatMarker& marker : timelineDerivedData().beatMarkers) {
        if (marker.isEnabled)
            candidates.push_back(marker.time);
    }
    const double playhead = previewTime();
    if (playhead >= 0 && playhead <= limit)
        candidates.push_back(playhead);

    std::optional<double> nearest;
    double nearestDistance = 0;
    for (double candidate : candidates) {
        const double distance = std::abs(candidate - clamped);
        if (!nearest || distance < nearestDistance) {
            nearest = candidate;
            nearestDistance = distance;
        }
    }
    if (nearest && nearestDistance <= snapDistance) {
        setSnappedBeatTime(nearest);
        return *nearest;
    }
    setSnappedBeatTime(std::nullopt);
    return clamped;
}

} // namespace fotivela
