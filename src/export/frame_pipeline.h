#pragma once

#include "export/video_encoder.h"

#include <QImage>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

namespace fotivela {

// How many frames the pipeline draws at once and holds between planning and
// the encoder.
struct FramePipelineDepth {
    int workers = 1;
    std::size_t ahead = 1;
};

// One frame as the planning decided it: which slide, when, and the photos the
// drawing needs (QImage shares their pixels, nothing is copied).
struct FramePlan {
    std::size_t slideIndex = 0;
    double localTime = 0.0;
    // The same picture as the frame before: nothing is drawn, the last one is handed out again.
    bool repeatsPrevious = false;
    std::map<std::size_t, QImage> images;
};

// Draws and converts frames on worker threads ahead of the encoder and hands
// them out in frame order. Planning runs on its own thread (it may wait for a
// photo); at most `ahead` frames exist between planning and the encoder, so
// memory stays bounded whatever the length of the slideshow.
class FramePipeline {
public:
    // Called on the planning thread once per frame, in order; nullopt ends the frames.
    using Planner = std::function<std::optional<FramePlan>()>;
    // Called on a worker thread; each worker has its own converter and a
    // canvas it draws into, kept from frame to frame.
    using Renderer = std::function<FramePtr(const FramePlan&, Bt709FrameConverter&, FrameCanvas&)>;

    FramePipeline(int workers, std::size_t ahead, int width, int height, Planner plan, Renderer render);
    // Stops planning and drawing and waits for the threads: at most one frame or one photo.
    ~FramePipeline();
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    // The next frame in order. Rethrows the first failure of planning or
    // drawing; throws ExportCancelledError when the stop is requested while it waits.
    FramePtr next(const std::stop_token& cancellation);

    // Workers that suit this machine: drawing and conversion must keep up
    // with the encoder without taking its cores.
    static int defaultWorkerCount();

    // The depth for `workers` wanted: a canvas for each worker and `workers` + 4
    // frames ahead, or, where that would pass `budgetBytes` (4K), fewer workers
    // and frames, never fewer than one worker and two frames.
    static FramePipelineDepth depthWithin(int workers, int width, int height, std::size_t budgetBytes);

private:
    struct Finished {
        FramePtr frame;
        bool repeat = false;
    };

    void planLoop(const std::stop_token& stop);
    void workLoop(const std::stop_token& stop, int width, int height);
    void fail(std::exception_ptr error);

    std::size_t m_ahead;
    Planner m_plan;
    Renderer m_render;

    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::deque<std::pair<std::int64_t, FramePlan>> m_pending;
    std::map<std::int64_t, Finished> m_finished;
    std::int64_t m_planned = 0;
    std::int64_t m_handedOut = 0;
    std::exception_ptr m_failure;
    FramePtr m_last;

    std::stop_source m_stop;
    std::vector<std::jthread> m_threads;
};

} // namespace fotivela
