#include "export/frame_pipeline.h"

#include <sched.h>

#include <algorithm>
#include <chrono>

namespace fotivela {

namespace {

int usableCores()
{
    cpu_set_t usable;
    if (sched_getaffinity(0, sizeof usable, &usable) == 0)
        return std::max(CPU_COUNT(&usable), 1);
    return static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u));
}

} // namespace

FramePipeline::FramePipeline(int workers, std::size_t ahead, int width, int height, Planner plan, Renderer render)
    : m_ahead(std::max<std::size_t>(ahead, 1)), m_plan(std::move(plan)), m_render(std::move(render))
{
    const int count = std::max(workers, 1);
    m_threads.reserve(static_cast<std::size_t>(count) + 1);
    const std::stop_token stop = m_stop.get_token();
    m_threads.emplace_back([this, stop] { planLoop(stop); });
    for (int i = 0; i < count; ++i)
        m_threads.emplace_back([this, stop, width, height] { workLoop(stop, width, height); });
}

FramePipeline::~FramePipeline()
{
    m_stop.request_stop();
    m_changed.notify_all();
    m_threads.clear(); // joins
}

int FramePipeline::defaultWorkerCount()
{
    return std::clamp(usableCores() / 2, 1, 4);
}

FramePipelineDepth FramePipeline::depthWithin(int workers, int width, int height, std::size_t budgetBytes)
{
    const auto pixels = static_cast<std::size_t>(std::max(width, 1)) * static_cast<std::size_t>(std::max(height, 1));
    const std::size_t canvas = pixels * 4;    // RGB32, one for each worker
    const std::size_t frame = pixels * 3 / 2; // 4:2:0, drawn or waiting for the encoder
    for (int w = std::max(workers, 1); w >= 1; --w) {
        const auto count = static_cast<std::size_t>(w);
        const std::size_t canvases = count * canvas;
        if (canvases >= budgetBytes)
            continue;
        const std::size_t fits = (budgetBytes - canvases) / frame;
        // Every worker busy and one frame ready for the encoder.
        if (fits >= count + 2)
            return {w, std::min(fits, count + 4)};
    }
    return {1, 2};
}

void FramePipeline::fail(std::exception_ptr error)
{
    {
        const std::lock_guard lock(m_mutex);
        if (!m_failure)
            m_failure = std::move(error);
    }
    m_changed.notify_all();
}

void FramePipeline::planLoop(const std::stop_token& stop)
{
    try {
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, stop, [&] {
                    return m_failure || static_cast<std::size_t>(m_planned - m_handedOut) < m_ahead;
                });
                if (m_failure || stop.stop_requested())
                    return;
            }
            std::optional<FramePlan> plan = m_plan();
            if (!plan)
                return;
            {
                const std::lock_guard lock(m_mutex);
                const std::int64_t index = m_planned++;
                if (plan->repeatsPrevious && index > 0)
                    m_finished.emplace(index, Finished{nullptr, true});
                else
                    m_pending.emplace_back(index, std::move(*plan));
            }
            m_changed.notify_all();
        }
    } catch (...) {
        fail(std::current_exception());
    }
}

void FramePipeline::workLoop(const std::stop_token& stop, int width, int height)
{
    try {
        Bt709FrameConverter converter(width, height);
        FrameCanvas canvas;
        for (;;) {
            std::pair<std::int64_t, FramePlan> job;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, stop, [&] { return m_failure || !m_pending.empty(); });
                if (m_failure || stop.stop_requested())
                    return;
                job = std::move(m_pending.front());
                m_pending.pop_front();
            }
            FramePtr frame = m_render(job.second, converter, canvas);
            {
                const std::lock_guard lock(m_mutex);
                m_finished.emplace(job.first, Finished{std::move(frame), false});
            }
            m_changed.notify_all();
        }
    } catch (...) {
        fail(std::current_exception());
    }
}

FramePtr FramePipeline::next(const std::stop_token& cancellation)
{
    Finished finished;
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (cancellation.stop_requested())
                throw ExportCancelledError();
            if (const auto found = m_finished.find(m_handedOut); found != m_finished.end()) {
                finished = std::move(found->second);
                m_finished.erase(found);
                break;
            }
            if (m_failure)
                std::rethrow_exception(m_failure);
            // The exporter's stop token is not this wait's: look at it a few times a second.
            m_changed.wait_for(lock, std::chrono::milliseconds(50));
        }
        ++m_handedOut;
    }
    m_changed.notify_all();

    if (finished.repeat) {
        if (!m_last)
            throw VideoExporterError::cannotCreatePixelBuffer();
        finished.frame.reset(av_frame_clone(m_last.get()));
    } else {
        m_last.reset(av_frame_clone(finished.frame.get()));
    }
    if (!finished.frame || !m_last)
        throw VideoExporterError::cannotCreatePixelBuffer();
    return std::move(finished.frame);
}

} // namespace fotivela
