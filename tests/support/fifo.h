#pragma once

// FIFOs where the program expects files, and a bounded wait for code that must never block
// on one. A FIFO with no writer blocks a plain open() for ever: a test of that fault must
// fail, not hang the suite.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

namespace fotivela::test {

// Makes a FIFO at `path` (its folder created); fails the test when it cannot.
std::filesystem::path makeFifo(const std::filesystem::path& path);

// Opens and closes the FIFO's write end, which frees a reader waiting in open() or read().
void releaseReaders(const std::filesystem::path& fifo);

// Runs `work` on its own thread and tells whether it returned within `bound`. When it did
// not, the FIFO's write end is opened and closed until the thread is free (a reader stuck in
// open() or read() then sees the end of the data), so that the test ends either way.
bool returnsWithin(const std::filesystem::path& fifo, const std::function<void()>& work,
                   std::chrono::milliseconds bound = std::chrono::seconds(30));

// The same for work that must stay on the calling thread (the store's main thread): from
// `bound` after its making until its end, the watchdog keeps freeing the FIFO's readers, and
// fired() says that it had to.
class FifoWatchdog {
public:
    explicit FifoWatchdog(std::filesystem::path fifo, std::chrono::milliseconds bound = std::chrono::seconds(30));
    ~FifoWatchdog();
    FifoWatchdog(const FifoWatchdog&) = delete;
    FifoWatchdog& operator=(const FifoWatchdog&) = delete;

    bool fired() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace fotivela::test
