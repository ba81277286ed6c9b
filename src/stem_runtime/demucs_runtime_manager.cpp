#include "stem_runtime/demucs_runtime_manager.h"

#include "stem_runtime/demucs_runtime_install_state.h"
#include "stem_runtime/demucs_runtime_installer.h"
#include "stem_runtime/demucs_runtime_package.h"
#include "stem_runtime/demucs_runtime_texts.h"

#include <condition_variable>
#include <exception>
#include <string>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace fotivela {

namespace {

// One readiness check or install, shared by every caller that arrives while it runs.
struct InstallTask {
    std::stop_source stop;
    bool finished = false;
    std::optional<DemucsRuntimeHandle> handle;
    std::string errorText; // each waiter throws its own error with it

    // Callers' progress callbacks; a caller that leaves removes its own under the same lock,
    // so it is never called after that.
    std::mutex listenersMutex;
    std::list<DemucsInstallProgress> listeners;

    void report(std::int64_t done, std::int64_t expected)
    {
        std::lock_guard lock(listenersMutex);
        for (const auto& listener : listeners)
            listener(done, expected);
    }
};

} // namespace

// An install task and the thread that runs it. A cancelled task may still be winding down
// while a fresh one runs: each keeps its own thread until it is joined.
struct InstallWorker {
    std::shared_ptr<InstallTask> task;
    std::jthread thread;
};

struct DemucsRuntimeManager::State {
    std::mutex mutex;
    std::condition_variable_any finished;
    std::shared_ptr<InstallTask> pending;
    std::list<InstallWorker> workers;

    // Under the mutex: a finished task's thread has left its last lock and only has to end.
    void joinFinishedWorkers()
    {
        for (auto worker = workers.begin(); worker != workers.end();) {
            if (worker->task->finished) {
                worker->thread.join();
                worker = workers.erase(worker);
            } else {
                ++worker;
            }
        }
    }
};

DemucsRuntimeManager& DemucsRuntimeManager::shared()
{
    static DemucsRuntimeManager manager;
    return manager;
}

DemucsRuntimeManager::DemucsRuntimeManager() : m_state(new State) {}

DemucsRuntimeManager::~DemucsRuntimeManager()
{
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->pending)
            m_state->pending->stop.request_stop();
    }
    for (InstallWorker& worker : m_state->workers)
        worker.thread.join();
    delete m_state;
}

DemucsRuntimeHandle DemucsRuntimeManager::readyRuntime(const DemucsInstallProgress& progress, std::stop_token stop)
{
    std::unique_lock lock(m_state->mutex);
    // A caller already stopped starts nothing: its run is over.
    if (stop.stop_requested())
        throw DemucsRuntimeError(DemucsRuntimeTexts::cancelled);
    std::shared_ptr<InstallTask> task = m_state->pending;
    if (!task) {
        task = std::make_shared<InstallTask>();
        m_state->pending = task;
        m_state->joinFinishedWorkers();
        const auto root = DemucsRuntimeInstallLayout::defaultRoot();
        const auto source = DemucsRuntimePackage::shippedSource();
        InstallWorker& worker = m_state->workers.emplace_back();
        worker.task = task;
        worker.thread = std::jthread([this, task, root, source] {
            try {
                task->handle = DemucsRuntimeInstaller::ensureRuntime(root, source,
                    [task](std::int64_t done, std::int64_t expected) { task->report(done, expected); },
                    task->stop.get_token());
            } catch (const DemucsRuntimeError& error) {
                task->errorText = error.what();
            } catch (const std::exception&) {
                task->errorText = DemucsRuntimeTexts::installFailed;
            }
            std::lock_guard done(m_state->mutex);
            task->finished = true;
            if (m_state->pending == task)
                m_state->pending.reset();
            m_state->finished.notify_all();
        });
    }

    std::list<DemucsInstallProgress>::iterator listener;
    if (progress) {
        std::lock_guard listeners(task->listenersMutex);
        listener = task->listeners.insert(task->listeners.end(), progress);
    }
    m_state->finished.wait(lock, stop, [&] { return task->finished; });
    if (progress) {
        std::lock_guard listeners(task->listenersMutex);
        task->listeners.erase(listener);
    }
    if (!task->finished)
        throw DemucsRuntimeError(DemucsRuntimeTexts::cancelled);
    if (!task->handle)
        throw DemucsRuntimeError(task->errorText);
    return *task->handle;
}

void DemucsRuntimeManager::cancelPendingInstall()
{
    std::lock_guard lock(m_state->mutex);
    // Dropped at once: the next caller starts a fresh install instead of joining the one
    // that is winding down, and failing with its cancellation.
    if (m_state->pending) {
        m_state->pending->stop.request_stop();
        m_state->pending.reset();
    }
}

} // namespace fotivela
