#include "store/project_store.h"

#include "model/project_file_layout.h"
#include "model/title_slide_factory.h"

#include <algorithm>
#include <cmath>

namespace fotivela {

namespace {

constexpr double titleSlideDuration = 3.0;
constexpr double defaultTitleFontSize = 52;

const char* titleSlideName(TitleSlidePlacement placement)
{
    return placement == TitleSlidePlacement::initial ? "Pantalla inicial" : "Pantalla final";
}

const char* defaultTitle(TitleSlidePlacement placement)
{
    return placement == TitleSlidePlacement::initial ? "Titulo inicial" : "Titulo final";
}

std::vector<Slide>::iterator slideWithID(std::vector<Slide>& slides, const Uuid& id)
{
    return std::find_if(slides.begin(), slides.end(), [&](const Slide& s) { return s.id == id; });
}

} // namespace

Slide ProjectStore::makeGeneratedTitleSlide(const std::string& title, TitleSlidePlacement placement)
{
    const std::filesystem::path projectURL =
        currentProjectURL().value_or(ProjectFileLayout::defaultProjectURL(m_project.name, defaultProjectDirectory()));
    Slide slide;
    slide.id = Uuid::random();
    slide.imageURL = TitleSlideFactory::generatedTitleSlideImageURL(slide.id, projectURL);
    TitleSlideFactory::createBlackTitleSlideImage(slide.imageURL);
    slide.name = titleSlideName(placement);
    slide.order = placement == TitleSlidePlacement::initial ? 0 : static_cast<std::int64_t>(m_project.slides.size());
    slide.duration = titleSlideDuration;
    slide.transition = SlideTransition::cut;
    slide.zoom = ZoomMode::none;
    slide.imageScale = 1;
    slide.imageOffsetX = 0;
    slide.imageOffsetY = 0;
    slide.kenBurnsEnabled = false;
    slide.kenBurnsZoomAmount = 0.12;
    slide.kenBurnsMovementAmount = 0.35;
    slide.title = title;
    slide.titleFontSize = defaultTitleFontSize;
    slide.titleColorHex = "#FFFFFF";
    slide.titleFontDesign = TitleFontDesign::rounded;
    slide.titleHasBackground = true;
    slide.titlePositionX = 0.5;
    slide.titlePositionY = 0.5;
    slide.isGeneratedTitleSlide = true;
    return slide;
}

void ProjectStore::setTitleScreenMode(TitleSlidePlacement placement, bool useGeneratedSlide)
{
    assertMainThread();
    const bool initial = placement == TitleSlidePlacement::initial;
    if (useGeneratedSlide) {
        if (initial ? initialTitleSlide() : finalTitleSlide())
            return;
        registerUndoStep();
        const std::optional<Slide> content = initial ? firstContentSlide() : lastContentSlide();
        Slide titleSlide = makeGeneratedTitleSlide(defaultTitle(placement), placement);
        // The title moves from the photo to the new slide.
        if (content)
            TitleSlideFactory::copyTitleStyle(*content, titleSlide, defaultTitle(placement));
        modifyProject([&](FotivelaProject& project) {
            if (initial)
                project.slides.insert(project.slides.begin(), titleSlide);
            else
                project.slides.push_back(titleSlide);
        });
        if (content)
            clearTitle(content->id);
        normalizeSlideOrder();
        setSelectedSlideID(titleSlide.id);
        finishTitleScreenChange();
        return;
    }

    enableExistingTitleScreen(placement);
    const std::optional<Slide> titleSlide = initial ? initialTitleSlide() : finalTitleSlide();
    const std::optional<Slide> content = initial ? firstContentSlide() : lastContentSlide();
    if (!titleSlide || !content)
        return;
    registerUndoStep();
    modifyProject([&](FotivelaProject& project) {
        const auto target = slideWithID(project.slides, content->id);
        if (target != project.slides.end())
            TitleSlideFactory::copyTitleStyle(*titleSlide, *target, titleSlide->title);
        project.slides.erase(slideWithID(project.slides, titleSlide->id));
    });
    normalizeSlideOrder();
    setSelectedSlideID(content->id);
    finishTitleScreenChange();
}

void ProjectStore::enableExistingTitleScreen(TitleSlidePlacement placement)
{
    const std::optional<Slide> content =
        placement == TitleSlidePlacement::initial ? firstContentSlide() : lastContentSlide();
    if (!content)
        return;
    if (content->title.empty()) {
        registerUndoStep();
        modifyProject([&](FotivelaProject& project) {
            Slide& slide = *slideWithID(project.slides, content->id);
            slide.title = defaultTitle(placement);
            slide.titleFontSize = defaultTitleFontSize;
            slide.titleColorHex = "#FFFFFF";
            slide.titleFontDesign = TitleFontDesign::rounded;
            slide.titlePositionX = 0.5;
            slide.titlePositionY = 0.5;
        });
    }
    setSelectedSlideID(content->id);
    finishTitleScreenChange();
}

void ProjectStore::disableTitleScreen(TitleSlidePlacement placement)
{
    assertMainThread();
    const bool initial = placement == TitleSlidePlacement::initial;
    registerUndoStep();
    if (const std::optional<Slide> titleSlide = initial ? initialTitleSlide() : finalTitleSlide()) {
        // Its picture stays on disk: an undo brings the slide back.
        modifyProject([&](FotivelaProject& project) { project.slides.erase(slideWithID(project.slides, titleSlide->id)); });
    }
    if (const std::optional<Slide> content = initial ? firstContentSlide() : lastContentSlide())
        clearTitle(content->id);
    normalizeSlideOrder();
    setSelectedSlideID(m_project.slides.empty() ? std::nullopt : std::optional<Uuid>(m_project.slides.front().id));
    finishTitleScreenChange();
}

void ProjectStore::clearTitle(const Uuid& slideID)
{
    modifyProject([&](FotivelaProject& project) {
        const auto slide = slideWithID(project.slides, slideID);
        if (slide != project.slides.end())
            slide->title.clear();
    });
}

void ProjectStore::finishTitleScreenChange()
{
    recalculateTotalDuration();
    // A title slide added or taken away shifts every photo after it: in automatic mode the
    // cuts go back onto the markers.
    if (m_project.audio && m_project.audio->syncMode == SyncMode::autoBeatV2)
        autoSyncSlidesToBeatTimes();
    touchProject(true);
    std::vector<Slide> generated;
    for (const Slide& slide : m_project.slides) {
        if (slide.isGeneratedTitleSlide)
            generated.push_back(slide);
    }
    generatePreviewCache(generated);
    saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::updateSlideTitle(const std::optional<Uuid>& id, const std::function<void(Slide&)>& change)
{
    assertMainThread();
    if (!id || !change)
        return;
    const auto found = slideWithID(m_project.slides, *id);
    if (found == m_project.slides.end())
        return;
    Slide edited = *found;
    change(edited);
    // Numbers that are not finite never enter the project.
    if (!std::isfinite(edited.titleFontSize))
        edited.titleFontSize = found->titleFontSize;
    if (!std::isfinite(edited.titlePositionX))
        edited.titlePositionX = found->titlePositionX;
    if (!std::isfinite(edited.titlePositionY))
        edited.titlePositionY = found->titlePositionY;
    registerUndoStep();
    const std::size_t index = static_cast<std::size_t>(found - m_project.slides.begin());
    // Only the title fields are the editor's to change here.
    modifyProject([&](FotivelaProject& project) {
        Slide& slide = project.slides[index];
        slide.title = std::move(edited.title);
        slide.titleFontSize = edited.titleFontSize;
        slide.titleColorHex = std::move(edited.titleColorHex);
        slide.titleFontDesign = edited.titleFontDesign;
        slide.titleHasBackground = edited.titleHasBackground;
        slide.titlePositionX = edited.titlePositionX;
        slide.titlePositionY = edited.titlePositionY;
    });
    markProjectChangedAndSave();
}

void ProjectStore::setSlideTitlePosition(const Uuid& id, double x, double y)
{
    assertMainThread();
    if (std::isnan(x) || std::isnan(y))
        return;
    const auto found = slideWithID(m_project.slides, id);
    if (found == m_project.slides.end())
        return;
    const std::size_t index = static_cast<std::size_t>(found - m_project.slides.begin());
    modifyProject([&](FotivelaProject& project) {
        project.slides[index].titlePositionX = std::min(std::max(x, 0.05), 0.95);
        project.slides[index].titlePositionY = std::min(std::max(y, 0.08), 0.92);
    });
    markProjectChangedAndSave();
}

} // namespace fotivela
