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

struct DemucsRuntimeManager::State {
    std::mutex mutex;
    std::condition_variable_any finished;
    std::shared_ptr<InstallTask> pending;
    std::jthread worker;
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
    if (m_state->worker.joinable())
        m_state->worker.join();
    delete m_state;
}

DemucsRuntimeHandle DemucsRuntimeManager::readyRuntime(const DemucsInstallProgress& progress, std::stop_token stop)
{
    std::unique_lock lock(m_state->mutex);
    std::shared_ptr<InstallTask> task = m_state->pending;
    if (!task) {
        task = std::make_shared<InstallTask>();
        m_state->pending = task;
        // The earlier task's thread has finished its work; it only remains to be joined.
        if (m_state->worker.joinable())
            m_state->worker.join();
        const auto root = DemucsRuntimeInstallLayout::defaultRoot();
        const auto source = DemucsRuntimePackage::shippedSource();
        m_state->worker = std::jthread([this, task, root, source] {
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
    if (m_state->pending)
        m_state->pending->stop.request_stop();
}

} // namespace fotivela
