#include "store/project_store.h"

#include <algorithm>

namespace fotivela {

namespace {

std::optional<std::size_t> indexOf(const std::vector<Slide>& slides, const Uuid& id)
{
    const auto found = std::find_if(slides.begin(), slides.end(), [&](const Slide& s) { return s.id == id; });
    if (found == slides.end())
        return std::nullopt;
    return static_cast<std::size_t>(found - slides.begin());
}

} // namespace

void ProjectStore::selectTimelineSlide(const Uuid& id, Qt::KeyboardModifiers modifiers)
{
    assertMainThread();
    setSelectedSlideID(id);
    setSelectedBeatMarkerID(std::nullopt);
    // Control plays the part of the Command key.
    const bool command = modifiers.testFlag(Qt::ControlModifier);
    if (modifiers.testFlag(Qt::ShiftModifier)) {
        selectTimelineRange(id, command);
    } else if (command) {
        std::set<Uuid> selection = timelineSelection();
        if (!selection.erase(id))
            selection.insert(id);
        setTimelineSelection(std::move(selection));
        m_timelineAnchorID = id;
    } else {
        setTimelineSelection({id});
        m_timelineAnchorID = id;
    }
    seekTimelineTransport(startTime(id));
}

void ProjectStore::selectTimelineRange(const Uuid& id, bool extending)
{
    const std::optional<Uuid> anchor = m_timelineAnchorID ? m_timelineAnchorID : selectedSlideID();
    const std::vector<Slide>& slides = m_project.slides;
    const std::optional<std::size_t> a = anchor ? indexOf(slides, *anchor) : std::nullopt;
    const std::optional<std::size_t> b = indexOf(slides, id);
    if (!a || !b) {
        setTimelineSelection({id});
        m_timelineAnchorID = id;
        return;
    }
    std::set<Uuid> range;
    for (std::size_t i = std::min(*a, *b); i <= std::max(*a, *b); ++i)
        range.insert(slides[i].id);
    if (extending)
        range.insert(timelineSelection().begin(), timelineSelection().end());
    // The anchor stays, so that further Shift-clicks extend from it.
    setTimelineSelection(std::move(range));
}

void ProjectStore::selectOnlyTimelineSlide(const Uuid& id)
{
    assertMainThread();
    setSelectedSlideID(id);
    setSelectedBeatMarkerID(std::nullopt);
    setTimelineSelection({id});
    m_timelineAnchorID = id;
}

void ProjectStore::selectAllTimelineSlides()
{
    assertMainThread();
    setSelectedBeatMarkerID(std::nullopt);
    std::set<Uuid> all;
    for (const Slide& slide : m_project.slides)
        all.insert(slide.id);
    setTimelineSelection(std::move(all));
    const std::optional<Uuid> first = m_project.slides.empty() ? std::nullopt : std::optional<Uuid>(m_project.slides.front().id);
    setSelectedSlideID(first);
    m_timelineAnchorID = first;
}

void ProjectStore::stepSelectedSlide(std::int64_t step)
{
    assertMainThread();
    const std::vector<Slide>& slides = m_project.slides;
    if (slides.empty())
        return;
    std::optional<Uuid> current = selectedSlideID();
    if (!current) {
        if (const std::optional<Slide> shown = previewSlide())
            current = shown->id;
    }
    const std::optional<std::size_t> found = current ? indexOf(slides, *current) : std::nullopt;
    const auto last = static_cast<std::int64_t>(slides.size()) - 1;
    const auto targetIndex = static_cast<std::size_t>(std::clamp<std::int64_t>(
        static_cast<std::int64_t>(found.value_or(0)) + step, 0, last));
    const Uuid target = slides[targetIndex].id;
    const double time = startTime(target);

    setPreviewTime(time);
    if (AudioPlayer* player = m_audioPlayback.mainPlayer.get())
        player->setCurrentTime(std::min(time, player->duration()));
    m_audioPlayback.seekTimelinePlayers(time);
    resetPlaybackClock(time);
    setSelectedSlideID(target);
    setTimelineSelection({target});
    m_timelineAnchorID = target;
    setTimelineZoomFocusRevision(timelineZoomFocusRevision() + 1);
}

void ProjectStore::deleteSelectedSlide()
{
    assertMainThread();
    std::set<Uuid> ids = timelineSelection();
    if (ids.empty() && selectedSlideID())
        ids.insert(*selectedSlideID());
    if (ids.empty())
        return;
    registerUndoStep();
    modifyProject([&](FotivelaProject& project) {
        std::erase_if(project.slides, [&](const Slide& s) { return ids.contains(s.id); });
    });
    std::set<Uuid> selection = timelineSelection();
    for (const Uuid& id : ids)
        selection.erase(id);
    setTimelineSelection(std::move(selection));
    if (m_timelineAnchorID && ids.contains(*m_timelineAnchorID))
        m_timelineAnchorID.reset();
    normalizeSlideOrder();
    recalculateTotalDuration();
    // The photos after the gap move up; in automatic mode their cuts go back onto the markers.
    if (m_project.audio && m_project.audio->syncMode == SyncMode::autoBeatV2)
        autoSyncSlidesToBeatTimes();
    setSelectedSlideID(m_project.slides.empty() ? std::nullopt : std::optional<Uuid>(m_project.slides.front().id));
    if (m_project.slides.empty()) {
        stopPreview();
        setPreviewTime(0);
    }
    // Nothing runs at quit: a deletion that waited for some later edit could be lost.
    saveCurrentProjectSilentlyIfPossible();
}

void ProjectStore::deleteActiveTimelineSelection()
{
    assertMainThread();
    if (const std::optional<BeatMarker> marker = selectedBeatMarker())
        disableBeatMarker(marker->id);
    else
        deleteSelectedSlide();
}

} // namespace fotivela
