#include "background_stem_writer.h"

namespace fotivela::stem_separator {

namespace {

constexpr std::size_t maxQueued = 2;

} // namespace

BackgroundStemWriter::BackgroundStemWriter(StemSink& sink) : m_sink(sink), m_thread([this] { run(); })
{
}

BackgroundStemWriter::~BackgroundStemWriter()
{
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void BackgroundStemWriter::write(const StemBlock& block)
{
    OwnedBlock owned;
    for (std::size_t s = 0; s < stemCount; ++s)
        for (std::size_t side = 0; side < 2; ++side)
            owned.sides[s][side].assign(block.sides[s][side], block.sides[s][side] + block.frames);
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_queue.size() < maxQueued || m_failure; });
    rethrowFailure();
    m_queue.push_back(std::move(owned));
    lock.unlock();
    m_changed.notify_all();
}

void BackgroundStemWriter::finish()
{
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    rethrowFailure();
}

void BackgroundStemWriter::rethrowFailure()
{
    if (m_failure)
        std::rethrow_exception(m_failure);
}

void BackgroundStemWriter::run()
{
    for (;;) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return !m_queue.empty() || m_closing; });
        if (m_queue.empty())
            return;
        OwnedBlock owned = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        m_changed.notify_all();
        try {
            StemBlock block;
            block.frames = owned.sides[0][0].size();
            for (std::size_t s = 0; s < stemCount; ++s)
                block.sides[s] = {owned.sides[s][0].data(), owned.sides[s][1].data()};
            m_sink.write(block);
        } catch (...) {
            const std::lock_guard failed(m_mutex);
            m_failure = std::current_exception();
            m_queue.clear();
            m_changed.notify_all();
            return;
        }
    }
}

} // namespace fotivela::stem_separator
