#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <stop_token>
#include <type_traits>
#include <utility>

namespace fotivela {

// How soon background work should run when the pool is busy.
enum class TaskPriority { utility = 0, userInitiated = 1 };

// The caller's handle on one piece of background work: cancel it, ask whether it was
// cancelled. Cancelling asks the work to stop at its next check and guarantees that its
// result is never delivered. Copies share one task.
class TaskHandle {
public:
    TaskHandle() : m_source(std::make_shared<std::stop_source>()) {}

    void cancel() { m_source->request_stop(); }
    bool isCancelled() const { return m_source->stop_requested(); }
    std::stop_token token() const { return m_source->get_token(); }

private:
    std::shared_ptr<std::stop_source> m_source;
};

// The pool all of our background work runs on. Never Qt's global pool: Qt runs the parallel
// parts of its image scaling and conversions there, and work of ours that waits (for the
// photo decode allowance, for a child program) must not hold the threads those need.
inline QThreadPool& backgroundPool()
{
    static QThreadPool pool;
    static const bool waitedForAtExit = [] {
        // As for Qt's own pool, work still running ends before the application object goes.
        qAddPostRoutine([] { backgroundPool().waitForDone(); });
        return true;
    }();
    (void)waitedForAtExit;
    return pool;
}

// Runs fn on the main thread's event loop, after the events already queued.
inline void postToMainThread(std::function<void()> fn)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

// Runs work(stop_token) on backgroundPool() and hands its result to deliver on the main
// thread, unless the task was cancelled meanwhile. deliver must check for itself that
// whatever it touches still exists (capture a weak reference).
template <typename Work, typename Deliver>
TaskHandle runInBackground(TaskPriority priority, Work work, Deliver deliver)
{
    TaskHandle handle;
    backgroundPool().start(
        [handle, work = std::move(work), deliver = std::move(deliver)]() mutable {
            using Result = std::invoke_result_t<Work&, std::stop_token>;
            if constexpr (std::is_void_v<Result>) {
                work(handle.token());
                postToMainThread([handle, deliver = std::move(deliver)]() mutable {
                    if (!handle.isCancelled())
                        deliver();
                });
            } else {
                auto result = std::make_shared<Result>(work(handle.token()));
                postToMainThread([handle, result, deliver = std::move(deliver)]() mutable {
                    if (!handle.isCancelled())
                        deliver(std::move(*result));
                });
            }
        },
        static_cast<int>(priority));
    return handle;
}

} // namespace fotivela
