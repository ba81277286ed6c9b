#include "support/child_process.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace fotivela::test {

namespace {

std::int64_t residentHighWaterKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6));
    return 0;
}

} // namespace

ChildRun runInChild(const std::function<int()>& work)
{
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return {};
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeEnds[0]);
        // The starting mark goes to the parent before any work, so that a crash still leaves it.
        const std::int64_t start = residentHighWaterKilobytes();
        [[maybe_unused]] const auto written = ::write(pipeEnds[1], &start, sizeof start);
        ::close(pipeEnds[1]);
        const int code = work();
        ::_exit(code);
    }
    ::close(pipeEnds[1]);
    ChildRun run;
    if (pid < 0) {
        ::close(pipeEnds[0]);
        return run;
    }
    std::int64_t start = 0;
    [[maybe_unused]] const auto read = ::read(pipeEnds[0], &start, sizeof start);
    ::close(pipeEnds[0]);
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.exited = WIFEXITED(status);
    run.exitCode = run.exited ? WEXITSTATUS(status) : -1;
    run.extraPeakKilobytes = static_cast<std::int64_t>(usage.ru_maxrss) - start;
    return run;
}

} // namespace fotivela::test
