#include "platform/termination_signals.h"

#include "platform/log.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace fotivela {

namespace {

// A signal handler can reach nothing but globals; this one only ever holds the pipe's write end.
std::atomic<int> g_signalPipe{-1};

constexpr int handledSignals[] = {SIGTERM, SIGINT};

void forwardSignal(int signalNumber)
{
    const int savedErrno = errno;
    const int fd = g_signalPipe.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t ignored = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal))
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("pipe2");
    int expected = -1;
    if (!g_signalPipe.compare_exchange_strong(expected, m_pipe[1])) {
        ::close(m_pipe[0]);
        ::close(m_pipe[1]);
        throw std::logic_error("TerminationSignals: one at a time");
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] {
        unsigned char byte = 0;
        while (::read(m_pipe[0], &byte, 1) == 1) {
            logLine("Fotivela received signal " + std::to_string(byte) + ": quitting");
            if (m_onSignal)
                m_onSignal(byte);
        }
    });
    struct sigaction action {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(handledSignals); ++i)
        ::sigaction(handledSignals[i], &action, &m_previous[i]);
}

TerminationSignals::~TerminationSignals()
{
    for (std::size_t i = 0; i < std::size(handledSignals); ++i)
        ::sigaction(handledSignals[i], &m_previous[i], nullptr);
    g_signalPipe.store(-1);
    m_notifier.reset();
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

} // namespace fotivela
