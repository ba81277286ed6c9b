// The planner decodes the photos frames need, ahead of time, and keeps
// decoded photos (counting those that frames in flight still draw from)
// within its byte budget: at 4K no more than two at once.

#include "export/frame_planner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace fotivela {
namespace {

std::vector<Slide> slidesOf(int count, double seconds)
{
    std::vector<Slide> slides(static_cast<std::size_t>(count));
    for (Slide& slide : slides) {
        slide.duration = seconds;
        slide.transition = SlideTransition::dissolve;
        slide.kenBurnsEnabled = true;
    }
    return slides;
}

std::vector<double> startsOf(const std::vector<Slide>& slides)
{
    std::vector<double> starts;
    double start = 0.0;
    for (const Slide& slide : slides) {
        starts.push_back(start);
        start += slide.duration;
    }
    return starts;
}

// Photos whose pixels count themselves while anything still holds them.
struct PhotoCounter {
    std::atomic<int> live = 0;
    std::atomic<int> mostLive = 0;
    std::atomic<int> plansMade = 0;
    std::mutex mutex;
    std::map<std::size_t, int> requestedAtPlan;

    QImage make(std::size_t index, int longSide)
    {
        {
            const std::lock_guard lock(mutex);
            requestedAtPlan.emplace(index, plansMade.load());
        }
        const int width = longSide;
        const int height = longSide * 3 / 4;
        auto* pixels = new uchar[static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4];
        const int now = ++live;
        for (int most = mostLive.load(); now > most && !mostLive.compare_exchange_weak(most, now);) {
        }
        return QImage(
            pixels, width, height, width * 4, QImage::Format_RGB32,
            [](void* info) {
                auto* self = static_cast<std::pair<PhotoCounter*, uchar*>*>(info);
                --self->first->live;
                delete[] self->second;
                delete self;
            },
            new std::pair<PhotoCounter*, uchar*>(this, pixels));
    }
};

// Runs the planner the way the pipeline does: a few frames in flight, each
// holding its plan's photos until it is drawn, and an encoder that takes time.
// `slideStarts` gets, for each slide, the number of the first plan that shows it.
void runLikeThePipeline(FramePlanner& planner, PhotoCounter& counter, std::vector<int>* slideStarts = nullptr)
{
    std::deque<FramePlan> inFlight;
    while (std::optional<FramePlan> plan = planner.next()) {
        if (slideStarts != nullptr && slideStarts->size() == plan->slideIndex)
            slideStarts->push_back(counter.plansMade.load());
        ++counter.plansMade;
        inFlight.push_back(std::move(*plan));
        if (inFlight.size() > 2)
            inFlight.pop_front();
        // Long enough for a decode thread to start on a loaded machine.
        std::this_thread::sleep_for(std::chrono::milliseconds(8));
    }
}

TEST(FramePlanner, HoldsAtMostTwoPhotosAt4KAndStillDecodesEachBeforeItsSlide)
{
    const std::vector<Slide> slides = slidesOf(8, 0.5);
    PhotoCounter counter;
    std::vector<int> slideStarts;
    {
        FramePlanner planner(slides, startsOf(slides), FrameTiming{30, 4.0, 120}, 3840,
                             [&](std::size_t index, int side) { return counter.make(index, side); });
        runLikeThePipeline(planner, counter, &slideStarts);
    }
    EXPECT_EQ(counter.live, 0);
    // The dissolve needs the slide before and the slide itself; the next is
    // decoded once the slide before is no longer drawn.
    EXPECT_EQ(counter.mostLive, 2);
    ASSERT_EQ(slideStarts.size(), slides.size());
    for (std::size_t k = 1; k < slideStarts.size(); ++k)
        EXPECT_LT(counter.requestedAtPlan.at(k), slideStarts[k])
            << "slide " << k << " waited for its photo";
}

TEST(FramePlanner, DecodesSeveralPhotosAheadAt1080p)
{
    const std::vector<Slide> slides = slidesOf(12, 0.4);
    PhotoCounter counter;
    {
        FramePlanner planner(slides, startsOf(slides), FrameTiming{30, 4.8, 144}, 1920,
                             [&](std::size_t index, int side) { return counter.make(index, side); });
        runLikeThePipeline(planner, counter);
    }
    EXPECT_EQ(counter.live, 0);
    // The slide on screen, the one it dissolves from and three ahead.
    EXPECT_GE(counter.mostLive, 4);
    EXPECT_LE(counter.mostLive, 6);
}

TEST(FramePlanner, APhotoThatFailsEndsThePlanningOnlyWhenItsSlideComes)
{
    const std::vector<Slide> slides = slidesOf(4, 0.5);
    PhotoCounter counter;
    FramePlanner planner(slides, startsOf(slides), FrameTiming{30, 2.0, 60}, 640,
                         [&](std::size_t index, int side) {
                             if (index == 2)
                                 throw std::runtime_error("unreadable");
                             return counter.make(index, side);
                         });
    int plans = 0;
    try {
        while (planner.next())
            ++plans;
        FAIL() << "the unreadable photo was never reported";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "unreadable");
    }
    EXPECT_EQ(plans, 30); // every frame of slides 0 and 1
}

} // namespace
} // namespace fotivela
