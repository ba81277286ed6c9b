#include "support/fifo.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fotivela::test {

std::filesystem::path makeFifo(const std::filesystem::path& path)
{
    std::filesystem::create_directories(path.parent_path());
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
    return path;
}

void releaseReaders(const std::filesystem::path& fifo)
{
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer >= 0)
        ::close(writer);
}

bool returnsWithin(const std::filesystem::path& fifo, const std::function<void()>& work, std::chrono::milliseconds bound)
{
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread worker([&] {
        work();
        const std::lock_guard lock(mutex);
        done = true;
        finished.notify_all();
    });
    bool inTime = false;
    {
        std::unique_lock lock(mutex);
        inTime = finished.wait_for(lock, bound, [&] { return done; });
        // Stuck on the FIFO: a writer that comes and goes lets every open and read return.
        while (!done) {
            lock.unlock();
            releaseReaders(fifo);
            lock.lock();
            finished.wait_for(lock, std::chrono::milliseconds(50), [&] { return done; });
        }
    }
    worker.join();
    return inTime;
}

struct FifoWatchdog::State {
    std::filesystem::path fifo;
    std::mutex mutex;
    std::condition_variable stop;
    bool stopping = false;
    bool fired = false;
    std::thread thread;
};

FifoWatchdog::FifoWatchdog(std::filesystem::path fifo, std::chrono::milliseconds bound) : m_state(std::make_unique<State>())
{
    m_state->fifo = std::move(fifo);
    m_state->thread = std::thread([state = m_state.get(), bound] {
        std::unique_lock lock(state->mutex);
        if (state->stop.wait_for(lock, bound, [&] { return state->stopping; }))
            return;
        state->fired = true;
        while (!state->stopping) {
            lock.unlock();
            releaseReaders(state->fifo);
            lock.lock();
            state->stop.wait_for(lock, std::chrono::milliseconds(50), [&] { return state->stopping; });
        }
    });
}

FifoWatchdog::~FifoWatchdog()
{
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
    }
    m_state->stop.notify_all();
    m_state->thread.join();
}

bool FifoWatchdog::fired() const
{
    const std::lock_guard lock(m_state->mutex);
    return m_state->fired;
}

} // namespace fotivela::test
