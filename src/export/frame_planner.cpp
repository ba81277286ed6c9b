#include "export/frame_planner.h"

#include <algorithm>
#include <chrono>

namespace fotivela {

namespace {

constexpr double transitionLength = 0.6;
constexpr double transitionShare = 0.35;
// Photos decoded ahead: those starting within this time, at least the next one, at most a few.
constexpr double prefetchSeconds = 1.5;
constexpr std::size_t prefetchMost = 3;

std::size_t estimatedPhotoBytes(int maxPixelSize)
{
    // A 4:3 photo at the longest side it is decoded to, in RGB32.
    const auto side = static_cast<std::size_t>(std::max(maxPixelSize, 1));
    return side * (side * 3 / 4) * 4;
}

bool isReady(const std::shared_future<QImage>& photo)
{
    return photo.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

std::size_t bytesOf(const std::shared_future<QImage>& photo, std::size_t estimate)
{
    if (!isReady(photo))
        return estimate;
    try {
        return static_cast<std::size_t>(photo.get().sizeInBytes());
    } catch (...) {
        return 0;
    }
}

} // namespace

double transitionWindow(double duration)
{
    const double share = transitionShare * duration;
    return share >= transitionLength ? transitionLength : share;
}

FramePlanner::FramePlanner(std::vector<Slide> slides, std::vector<double> starts, FrameTiming timing,
                           int maxPixelSize, PhotoLoader load)
    : m_slides(std::move(slides)), m_timing(timing), m_starts(std::move(starts)), m_maxPixelSize(maxPixelSize),
      m_photoBytes(estimatedPhotoBytes(maxPixelSize)), m_load(std::move(load))
{
    m_starts.resize(m_slides.size(), m_starts.empty() ? 0.0 : m_starts.back());
}

std::optional<FramePlan> FramePlanner::next()
{
    if (m_index >= m_timing.frameCount || m_slides.empty())
        return std::nullopt;
    const std::int64_t i = m_index++;
    const double t = std::min(static_cast<double>(i) / m_timing.fps, std::max(m_timing.total - 0.000001, 0.0));
    while (m_cursor + 1 < m_slides.size() && m_starts[m_cursor + 1] <= t)
        ++m_cursor;
    const double local = std::max(t - m_starts[m_cursor], 0.0);
    const Slide& slide = m_slides[m_cursor];
    const bool dissolves =
        slide.transition != SlideTransition::cut && m_cursor > 0 && local < transitionWindow(slide.duration);

    FramePlan plan;
    plan.slideIndex = m_cursor;
    plan.localTime = local;
    // Without motion or a dissolve every frame of the slide is the same picture.
    const bool still = !slide.kenBurnsEnabled && !dissolves;
    plan.repeatsPrevious = still && m_stillSlide == m_cursor;
    m_stillSlide = still ? m_cursor : noSlide;

    // The slide before is drawn again only during the dissolve at the start of this one.
    forgetPhotosBefore(dissolves ? m_cursor - 1 : m_cursor);
    if (!plan.repeatsPrevious) {
        plan.images.emplace(m_cursor, photo(m_cursor));
        if (dissolves)
            plan.images.emplace(m_cursor - 1, photo(m_cursor - 1));
    }
    prefetchAfter(t);
    return plan;
}

QImage FramePlanner::photo(std::size_t index)
{
    request(index);
    return m_photos.at(index).get();
}

void FramePlanner::request(std::size_t index)
{
    if (!m_photos.contains(index))
        m_photos.emplace(index, std::async(std::launch::async, [this, index] {
                                    return m_load(index, m_maxPixelSize);
                                }).share());
}

std::size_t FramePlanner::photoBytesInMemory()
{
    // A photo no frame draws from any more holds its only reference here.
    std::erase_if(m_retiring, [](const std::shared_future<QImage>& photo) {
        if (!isReady(photo))
            return false;
        try {
            return photo.get().isDetached();
        } catch (...) {
            return true;
        }
    });
    std::size_t bytes = 0;
    for (const auto& photo : m_retiring)
        bytes += bytesOf(photo, m_photoBytes);
    for (const auto& [index, photo] : m_photos)
        bytes += bytesOf(photo, m_photoBytes);
    return bytes;
}

void FramePlanner::prefetchAfter(double t)
{
    // Called for every frame, so that photos frames are done with are let go at once.
    std::size_t bytes = photoBytesInMemory();
    for (std::size_t k = m_cursor + 1; k < m_slides.size() && k <= m_cursor + prefetchMost; ++k) {
        if (k > m_cursor + 1 && m_starts[k] > t + prefetchSeconds)
            break;
        if (m_photos.contains(k))
            continue;
        if (bytes + m_photoBytes > photoBudgetBytes)
            break;
        request(k);
        bytes += m_photoBytes;
    }
}

void FramePlanner::forgetPhotosBefore(std::size_t index)
{
    // Frames still being drawn hold their own reference to the pixels: the
    // photo counts against the budget until they are done with it.
    for (auto it = m_photos.begin(); it != m_photos.end() && it->first < index;) {
        m_retiring.push_back(std::move(it->second));
        it = m_photos.erase(it);
    }
}

} // namespace fotivela
