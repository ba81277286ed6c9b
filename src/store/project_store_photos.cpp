#include "store/project_store.h"

#include "model/preview_image_cache.h"

#include <algorithm>

namespace fotivela {

namespace {

constexpr double importedSlideDuration = 4.0;

Slide importedSlide(const std::filesystem::path& url, std::int64_t order)
{
    Slide slide;
    slide.id = Uuid::random();
    slide.imageURL = url;
    slide.name = url.filename().string();
    slide.order = order;
    slide.duration = importedSlideDuration;
    slide.transition = SlideTransition::cut;
    slide.zoom = ZoomMode::slowIn;
    slide.imageScale = 1.0;
    slide.imageOffsetX = 0;
    slide.imageOffsetY = 0;
    slide.kenBurnsEnabled = false;
    slide.kenBurnsZoomAmount = 0.12;
    slide.kenBurnsMovementAmount = 0.35;
    slide.title.clear();
    slide.titleFontSize = 42;
    slide.titleColorHex = "#FFFFFF";
    slide.titleFontDesign = TitleFontDesign::default_;
    slide.titleHasBackground = true;
    slide.titlePositionX = 0.5;
    slide.titlePositionY = 0.5;
    slide.isGeneratedTitleSlide = false;
    return slide;
}

void applyTitle(Slide& slide, const SlideTitleSnapshot& title)
{
    slide.title = title.title;
    slide.titleFontSize = title.fontSize;
    slide.titleColorHex = title.colorHex;
    slide.titleFontDesign = title.fontDesign;
    slide.titleHasBackground = title.hasBackground;
    slide.titlePositionX = title.positionX;
    slide.titlePositionY = title.positionY;
}

} // namespace

void ProjectStore::markProjectChangedAndSave()
{
    touchProject(true);
    saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::importPhotos(const std::vector<std::filesystem::path>& urls)
{
    assertMainThread();
    if (urls.empty())
        return;
    const TimelineTitleAnchors anchors = timelineTitleAnchorsBeforeOrderChange();
    registerUndoStep();

    // The photos stay where they lie; a file that turns out not to be a picture is still a
    // slide, shown as missing until the user replaces it.
    const auto existing = static_cast<std::int64_t>(m_project.slides.size());
    std::vector<Slide> added;
    added.reserve(urls.size());
    for (std::size_t position = 0; position < urls.size(); ++position)
        added.push_back(importedSlide(urls[position], existing + static_cast<std::int64_t>(position)));
    modifyProject([&](FotivelaProject& project) { project.slides.insert(project.slides.end(), added.begin(), added.end()); });

    normalizeSlideOrder();
    restoreTimelineTitleAnchorsAfterOrderChange(anchors);
    // Placed before the total counts the new photos' 4 s each, so that the span is the
    // song's and not a slideshow longer than it.
    if (m_project.audio && m_project.audio->syncMode == SyncMode::autoBeatV2)
        autoSyncSlidesToBeatTimes();
    recalculateTotalDuration();
    if (!selectedSlideID())
        setSelectedSlideID(m_project.slides.front().id);
    setRoute(AppRoute::editor);
    touchProject(true);
    generatePreviewCache(added);
    saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::normalizeSlideOrder()
{
    assertMainThread();
    modifyProject([](FotivelaProject& project) {
        for (std::size_t i = 0; i < project.slides.size(); ++i)
            project.slides[i].order = static_cast<std::int64_t>(i);
    });
    touchProject(true);
}

TimelineTitleAnchors ProjectStore::timelineTitleAnchorsBeforeOrderChange() const
{
    TimelineTitleAnchors anchors;
    if (!initialTitleSlide())
        anchors.initial = SlideTitleSnapshot::of(firstContentSlide());
    if (!finalTitleSlide())
        anchors.final = SlideTitleSnapshot::of(lastContentSlide());
    return anchors;
}

void ProjectStore::restoreTimelineTitleAnchorsAfterOrderChange(const TimelineTitleAnchors& anchors)
{
    assertMainThread();
    if (!anchors.initial && !anchors.final)
        return;
    const std::optional<Slide> first = firstContentSlide();
    const std::optional<Slide> last = lastContentSlide();
    modifyProject([&](FotivelaProject& project) {
        for (Slide& slide : project.slides) {
            if (!slide.isGeneratedTitleSlide)
                slide.title.clear();
        }
        const auto put = [&](const std::optional<Slide>& target, const std::optional<SlideTitleSnapshot>& title) {
            if (!target || !title)
                return;
            const auto found = std::find_if(project.slides.begin(), project.slides.end(),
                                            [&](const Slide& s) { return s.id == target->id; });
            if (found != project.slides.end())
                applyTitle(*found, *title);
        };
        // With one photo the closing title, put last, wins.
        put(first, anchors.initial);
        put(last, anchors.final);
    });
}

void ProjectStore::generatePreviewCache(const std::vector<Slide>& slides)
{
    assertMainThread();
    const std::optional<std::filesystem::path> projectURL = currentProjectURL();
    if (slides.empty() || !projectURL)
        return;
    if (m_previewGenerationTask)
        m_previewGenerationTask->cancel();
    // A superseded run still writes every preview it was given (the newer run covers only
    // its own slides); it only skips making the views reload.
    m_previewGenerationTask = runInBackground(
        TaskPriority::utility,
        [slides, url = *projectURL](std::stop_token) { PreviewImageCache::generate(slides, url, std::stop_token()); },
        [this, alive = std::weak_ptr<ProjectStore*>(m_lifetime)] {
            if (alive.expired())
                return;
            clearPreviewImageCache();
        });
}

} // namespace fotivela
