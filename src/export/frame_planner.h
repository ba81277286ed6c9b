#pragma once

#include "export/frame_pipeline.h"
#include "model/slide.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <limits>
#include <map>
#include <optional>
#include <vector>

namespace fotivela {

// How long the dissolve into a slide lasts: 0.6 s, or 35 % of a shorter slide.
double transitionWindow(double duration);

struct FrameTiming {
    int fps = 1;
    double total = 0.0;
    std::int64_t frameCount = 1;
};

// Decides frame after frame which slide is shown and when, and keeps the
// photos they need decoded: the one on screen, the one it dissolves from and
// the next ones, decoded ahead on their own threads so that the drawing never
// waits for a photo. Decoded photos, counting those that frames in flight
// still draw from, stay within a byte budget: at 4K a photo is ~44 MB.
class FramePlanner {
public:
    // Decodes slide `index`'s photo with its longer side at most `maxPixelSize`; called on its own thread.
    using PhotoLoader = std::function<QImage(std::size_t index, int maxPixelSize)>;

    // The photos a frame needs are always decoded; those ahead only within
    // this: at 1080p (~11 MB each) every one of them, at 4K the next one once
    // the slide before is no longer drawn.
    static constexpr std::size_t photoBudgetBytes = std::size_t{100} << 20;

    // `starts`: each slide's start time in the slideshow.
    FramePlanner(std::vector<Slide> slides, std::vector<double> starts, FrameTiming timing, int maxPixelSize,
                 PhotoLoader load);
    // Waits for photos still being decoded.
    ~FramePlanner() = default;
    FramePlanner(const FramePlanner&) = delete;
    FramePlanner& operator=(const FramePlanner&) = delete;

    // The next frame's plan; nullopt after the last. Throws what decoding a needed photo threw.
    std::optional<FramePlan> next();

private:
    static constexpr std::size_t noSlide = std::numeric_limits<std::size_t>::max();

    QImage photo(std::size_t index);
    void request(std::size_t index);
    // Decoded or being decoded, those still drawn from included; lets go of the others.
    std::size_t photoBytesInMemory();
    void prefetchAfter(double t);
    void forgetPhotosBefore(std::size_t index);

    std::vector<Slide> m_slides;
    FrameTiming m_timing;
    std::vector<double> m_starts;
    int m_maxPixelSize;
    std::size_t m_photoBytes;
    PhotoLoader m_load;
    std::int64_t m_index = 0;
    std::size_t m_cursor = 0;
    std::size_t m_stillSlide = noSlide;
    std::map<std::size_t, std::shared_future<QImage>> m_photos;
    // Photos no longer planned that frames in flight may still draw from.
    std::vector<std::shared_future<QImage>> m_retiring;
};

} // namespace fotivela
