#pragma once

#include <csignal>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace fotivela {

// Turns SIGTERM and SIGINT (a logout, a shutdown, Control-C) into a call on the thread that made
// the object, through a pipe the handler writes to, so that the program can end as its Quit
// command does instead of dying with unsaved work. One at a time; the previous handlers come
// back when it goes.
class TerminationSignals {
public:
    explicit TerminationSignals(std::function<void(int signalNumber)> onSignal);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    std::function<void(int)> m_onSignal;
    int m_pipe[2] = {-1, -1};
    struct sigaction m_previous[2] {};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace fotivela
