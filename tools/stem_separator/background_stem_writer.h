#pragma once

#include "onset_gate.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace fotivela::stem_separator {

// Hands blocks to another sink on a thread of its own, so that writing one
// block overlaps separating the next. Holds at most two blocks; a failure of
// the writing thread comes back from the next write() or from finish().
class BackgroundStemWriter : public StemSink {
public:
    explicit BackgroundStemWriter(StemSink& sink);
    ~BackgroundStemWriter() override;
    BackgroundStemWriter(const BackgroundStemWriter&) = delete;
    BackgroundStemWriter& operator=(const BackgroundStemWriter&) = delete;

    void write(const StemBlock& block) override;
    // Waits until everything is written.
    void finish();

private:
    struct OwnedBlock {
        std::array<std::array<std::vector<float>, 2>, stemCount> sides;
    };
    void run();
    void rethrowFailure();

    StemSink& m_sink;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<OwnedBlock> m_queue;
    bool m_closing = false;
    std::exception_ptr m_failure;
    std::thread m_thread;
};

} // namespace fotivela::stem_separator
