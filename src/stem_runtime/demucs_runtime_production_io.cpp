#include "stem_runtime/demucs_runtime_production_io.h"

#include "platform/duskmere_storage.h"
#include "stem_runtime/demucs_runtime_manager.h"
#include "stem_runtime/demucs_runtime_texts.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <thread>

namespace fotivela::DemucsRuntimeProductionIO {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t largestOutputLimit = 1'048'576;
constexpr auto checkInterval = std::chrono::milliseconds(100);
// SIGTERM first, SIGKILL after this: the whole stop stays under a second.
constexpr auto terminationGrace = std::chrono::milliseconds(500);
// A finished child's leftover descendants may hold the pipe open; they get this long.
constexpr auto drainGrace = std::chrono::milliseconds(1000);

constexpr const char* invalidLimitsText = DemucsRuntimeTexts::invalidProcessLimits;
constexpr const char* launchFailedText = DemucsRuntimeTexts::processLaunchFailed;
constexpr const char* timedOutText = DemucsRuntimeTexts::processTimedOut;
constexpr const char* stoppedText = DemucsRuntimeTexts::processStopped;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.release()) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

std::vector<std::string> environmentLines(const std::map<std::string, std::string>& environment)
{
    std::vector<std::string> lines;
    lines.reserve(environment.size());
    for (const auto& [name, value] : environment)
        lines.push_back(name + "=" + value);
    return lines;
}

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> result;
    result.reserve(texts.size() + 1);
    for (auto& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

// The child, spawned into its own process group (its id is the group's), output on one pipe.
struct SpawnedChild {
    pid_t pid = -1;
    FileDescriptor output;
    FileDescriptor exitNotice; // a pidfd: readable once the child has exited
};

// A bare name is looked up on the program's own PATH; a path is taken as it is. Resolved before
// the fork, where the child could not safely allocate.
std::string resolvedExecutable(const std::string& executable)
{
    if (executable.find('/') != std::string::npos)
        return executable;
    const char* searchPath = std::getenv("PATH");
    std::string_view directories = searchPath && *searchPath ? searchPath : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const auto colon = directories.find(':');
        const std::string_view directory = directories.substr(0, colon);
        const std::string candidate = std::string(directory.empty() ? "." : directory) + "/" + executable;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos)
            return {};
        directories.remove_prefix(colon + 1);
    }
}

[[noreturn]] void reportAndExit(int report)
{
    const int error = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(report, &error, sizeof error);
    ::_exit(127);
}

// Everything the child needs, made before it starts: it may not allocate.
struct LaunchPlan {
    const char* path;
    char* const* argv;
    char* const* envp;
    int outputFd;
    int report; // the errno of a child that could not start; closed by the exec
    pid_t parent;
    std::optional<std::uint64_t> fileSizeLimit;
};

// Between vfork and exec, on the parent's memory: system calls only. Any failure is reported
// as an errno and ends the child.
[[noreturn]] void becomeChild(const LaunchPlan& plan)
{
    const int report = plan.report;
    const int outputFd = plan.outputFd;
    auto fail = [report] { reportAndExit(report); };
    // The child dies with the thread that started it, whatever ends that; and when the parent
    // is already gone (the signal was set too late to fire), it does not start at all.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
        fail();
    if (::getppid() != plan.parent)
        ::_exit(127);
    if (::setpgid(0, 0) != 0)
        fail();

    // Signals stay blocked until the exec: a handler of the parent must not run here, on its
    // memory. Handled signals fall back to their default for the last instant before it.
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_DFL
            && current.sa_handler != SIG_IGN)
            ::sigaction(signal, &defaultAction, nullptr);
    }
    for (int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGQUIT})
        ::sigaction(signal, &defaultAction, nullptr);
    if (plan.fileSizeLimit) {
        // Past the limit a write fails with EFBIG instead of the default core dump.
        struct sigaction ignoreAction {};
        ignoreAction.sa_handler = SIG_IGN;
        ::sigaction(SIGXFSZ, &ignoreAction, nullptr);
        struct rlimit limit {};
        if (::getrlimit(RLIMIT_FSIZE, &limit) != 0)
            fail();
        if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > *plan.fileSizeLimit)
            limit.rlim_cur = static_cast<rlim_t>(*plan.fileSizeLimit);
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            fail();
    }

    const int input = ::open("/dev/null", O_RDONLY);
    if (input < 0 || ::dup2(input, STDIN_FILENO) < 0)
        fail();
    if (input != STDIN_FILENO)
        ::close(input);
    for (int target : {STDOUT_FILENO, STDERR_FILENO}) {
        // dup2 onto itself would keep the close-on-exec flag.
        if (outputFd == target ? ::fcntl(target, F_SETFD, 0) != 0 : ::dup2(outputFd, target) < 0)
            fail();
    }
    sigset_t noSignals;
    sigemptyset(&noSignals);
    ::sigprocmask(SIG_SETMASK, &noSignals, nullptr);
    ::execve(plan.path, plan.argv, plan.envp);
    reportAndExit(report);
}

// vfork, not fork: copying the page tables of a large program costs far more than the launch
// (184 ms against 4 ms with 2 GiB resident), and the parent waits only until the exec.
pid_t launch(const LaunchPlan& plan)
{
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::vfork();
    if (pid == 0)
        becomeChild(plan);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return pid;
}

SpawnedChild spawnChild(const std::string& executable, const std::vector<std::string>& arguments,
    const std::map<std::string, std::string>& environment, std::optional<std::uint64_t> fileSizeLimit)
{
    const std::string path = resolvedExecutable(executable);
    if (path.empty())
        throw DemucsRuntimeError(launchFailedText);
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw DemucsRuntimeError(launchFailedText);
    FileDescriptor readEnd(pipeEnds[0]);
    FileDescriptor writeEnd(pipeEnds[1]);
    // Closed by the exec; carries the errno of a child that could not start.
    int reportEnds[2];
    if (::pipe2(reportEnds, O_CLOEXEC) != 0)
        throw DemucsRuntimeError(launchFailedText);
    FileDescriptor reportRead(reportEnds[0]);
    FileDescriptor reportWrite(reportEnds[1]);

    std::vector<std::string> argumentTexts;
    argumentTexts.reserve(arguments.size() + 1);
    argumentTexts.push_back(executable);
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    auto environmentTexts = environmentLines(environment);
    auto argv = pointers(argumentTexts);
    auto envp = pointers(environmentTexts);

    const pid_t pid = launch(
        {path.c_str(), argv.data(), envp.data(), writeEnd.get(), reportWrite.get(), ::getpid(), fileSizeLimit});
    if (pid < 0)
        throw DemucsRuntimeError(launchFailedText);

    reportWrite.reset();
    writeEnd.reset();
    // Returns at the exec (end of file) or with the child's errno; by then the child leads its
    // own group, so stopping the group reaches it.
    int childError = 0;
    ssize_t count;
    do
        count = ::read(reportRead.get(), &childError, sizeof childError);
    while (count < 0 && errno == EINTR);
    if (count != 0) {
        ::waitpid(pid, nullptr, 0);
        throw DemucsRuntimeError(launchFailedText);
    }

    SpawnedChild child;
    child.pid = pid;
    child.output.reset(readEnd.release());
    child.exitNotice.reset(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    ::fcntl(child.output.get(), F_SETFL, ::fcntl(child.output.get(), F_GETFL) | O_NONBLOCK);
    return child;
}

// Has the child exited? Leaves it unreaped, so its group id stays reserved for kill(-pid).
bool hasExited(pid_t pid)
{
    siginfo_t info {};
    info.si_pid = 0;
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

std::int32_t reap(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// SIGTERM to the whole group, SIGKILL once the grace has passed (or at once when the leader
// has already gone), then the leader is reaped.
void stopGroup(pid_t pid)
{
    ::kill(-pid, SIGTERM);
    const auto deadline = Clock::now() + terminationGrace;
    while (!hasExited(pid) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(-pid, SIGKILL);
    reap(pid);
}

class OutputCollector {
public:
    explicit OutputCollector(std::size_t limit) : m_limit(limit) {}

    // Reads what is there; false once the write ends are all closed.
    bool drain(int fd)
    {
        char buffer[65536];
        for (;;) {
            const ssize_t count = ::read(fd, buffer, sizeof buffer);
            if (count > 0) {
                const std::size_t room = m_limit - m_output.size();
                m_output.append(buffer, std::min(room, static_cast<std::size_t>(count)));
                continue;
            }
            if (count == 0)
                return false;
            if (errno == EINTR)
                continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
    }

    std::string take() { return std::move(m_output); }

private:
    std::size_t m_limit;
    std::string m_output;
};

} // namespace

ProcessResult runProcess(const std::string& executable, const std::vector<std::string>& arguments,
    const std::map<std::string, std::string>& environment, double timeout,
    const std::function<void()>& periodicCheck, std::size_t retainedOutputByteLimit,
    const std::function<void()>& terminationOperation, std::stop_token stop, std::optional<std::uint64_t> fileSizeLimit)
{
    if (!(timeout > 0.0) || !std::isfinite(timeout) || retainedOutputByteLimit < 1
        || retainedOutputByteLimit > largestOutputLimit)
        throw DemucsRuntimeError(invalidLimitsText);
    if (executable.empty())
        throw DemucsRuntimeError(launchFailedText);

    SpawnedChild child = spawnChild(executable, arguments, environment, fileSizeLimit);
    const auto start = Clock::now();
    // Beyond what a steady clock can add, a time-out is as good as none.
    const double cappedTimeout = std::min(timeout, 1.0e9);
    const auto deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(cappedTimeout));
    OutputCollector collector(retainedOutputByteLimit);
    bool outputOpen = true;
    auto nextCheck = start + checkInterval;
    std::optional<Clock::time_point> exitedAt;

    auto stopEarly = [&](const char* text) {
        stopGroup(child.pid);
        if (terminationOperation)
            terminationOperation();
        throw DemucsRuntimeError(text);
    };

    for (;;) {
        if (!exitedAt && hasExited(child.pid))
            exitedAt = Clock::now();
        if (exitedAt && (!outputOpen || Clock::now() - *exitedAt >= drainGrace))
            break;
        if (stop.stop_requested())
            stopEarly(stoppedText);
        const auto now = Clock::now();
        if (now >= deadline)
            stopEarly(timedOutText);
        if (periodicCheck && now >= nextCheck) {
            nextCheck = now + checkInterval;
            try {
                periodicCheck();
            } catch (...) {
                stopGroup(child.pid);
                if (terminationOperation)
                    terminationOperation();
                throw;
            }
        }

        pollfd watched[2] {};
        nfds_t count = 0;
        if (outputOpen)
            watched[count++] = pollfd { child.output.get(), POLLIN, 0 };
        if (!exitedAt && child.exitNotice.get() >= 0)
            watched[count++] = pollfd { child.exitNotice.get(), POLLIN, 0 };
        // Without a pidfd, exit is noticed by polling at a finer step.
        Clock::duration wait = child.exitNotice.get() >= 0 || exitedAt ? checkInterval : std::chrono::milliseconds(10);
        wait = std::min<Clock::duration>(wait, std::max<Clock::duration>(deadline - now, Clock::duration::zero()));
        const int waitMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
        if (::poll(watched, count, waitMs) < 0 && errno != EINTR)
            stopEarly(launchFailedText);
        if (outputOpen && (watched[0].revents & (POLLIN | POLLHUP | POLLERR)))
            outputOpen = collector.drain(child.output.get());
    }

    // Descendants still holding the output open after the child ended are stopped with it.
    if (outputOpen)
        ::kill(-child.pid, SIGKILL);
    ProcessResult result;
    result.status = reap(child.pid);
    result.output = collector.take();
    return result;
}

std::map<std::string, std::string> offlineEnvironment(const std::filesystem::path& cacheURL)
{
    const std::string cache = cacheURL.string();
    std::map<std::string, std::string> environment {
        // Offline and no telemetry for the model libraries.
        {"HF_HUB_OFFLINE", "1"},
        {"TRANSFORMERS_OFFLINE", "1"},
        {"HF_DATASETS_OFFLINE", "1"},
        {"HF_HUB_DISABLE_TELEMETRY", "1"},
        {"DISABLE_TELEMETRY", "1"},
        {"DO_NOT_TRACK", "1"},
        // Their homes and caches inside the runtime's own cache folder.
        {"HF_HOME", cache},
        {"HF_HUB_CACHE", (cacheURL / "hub").string()},
        {"HUGGINGFACE_HUB_CACHE", (cacheURL / "hub").string()},
        {"TRANSFORMERS_CACHE", (cacheURL / "transformers").string()},
        {"TORCH_HOME", cache},
        {"XDG_CACHE_HOME", cache},
        // No user site packages, no byte-code files, no inherited module path.
        {"PYTHONNOUSERSITE", "1"},
        {"PYTHONDONTWRITEBYTECODE", "1"},
        {"PYTHONSAFEPATH", "1"},
        {"PYTORCH_ENABLE_MPS_FALLBACK", "1"},
        {"TMPDIR", DuskmereStorage::temporaryDirectory().string()},
        {"PATH", "/usr/local/bin:/usr/bin:/bin"},
        {"LANG", "C.UTF-8"},
    };
    // The few settings of the user's session a child may rightly need.
    for (const char* name : {"HOME", "LANG", "LC_ALL", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name); value && *value)
            environment[name] = value;
    }
    return environment;
}

} // namespace fotivela::DemucsRuntimeProductionIO
