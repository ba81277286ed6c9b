#include "store/timeline_slide_reorder.h"

#include <algorithm>

namespace fotivela::TimelineSlideReorder {

std::vector<Slide> move(const std::vector<Slide>& slides, const std::set<Uuid>& selectedIDs, std::int64_t insertionIndex)
{
    std::vector<Slide> moving;
    std::vector<Slide> rest;
    for (const Slide& slide : slides)
        (selectedIDs.contains(slide.id) ? moving : rest).push_back(slide);
    if (moving.empty())
        return slides;
    const auto index = static_cast<std::size_t>(std::clamp<std::int64_t>(insertionIndex, 0, static_cast<std::int64_t>(slides.size())));
    const auto before = static_cast<std::size_t>(
        std::count_if(slides.begin(), slides.begin() + static_cast<std::ptrdiff_t>(index),
                      [&](const Slide& s) { return selectedIDs.contains(s.id); }));
    rest.insert(rest.begin() + static_cast<std::ptrdiff_t>(index - before), moving.begin(), moving.end());
    return rest;
}

} // namespace fotivela::TimelineSlideReorder
