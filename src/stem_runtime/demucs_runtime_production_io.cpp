#include "stem_runtime/demucs_runtime_production_io.h"

#include "platform/duskmere_storage.h"
#include "stem_runtime/demucs_runtime_manager.h"
#include "stem_runtime/demucs_runtime_texts.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>
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

SpawnedChild spawnChild(const std::string& executable, const std::vector<std::string>& arguments,
    const std::map<std::string, std::string>& environment)
{
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw DemucsRuntimeError(launchFailedText);
    FileDescriptor readEnd(pipeEnds[0]);
    FileDescriptor writeEnd(pipeEnds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDERR_FILENO);
    sigset_t noSignals;
    sigset_t defaultSignals;
    sigemptyset(&noSignals);
    sigemptyset(&defaultSignals);
    for (int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGQUIT})
        sigaddset(&defaultSignals, signal);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    posix_spawnattr_setsigdefault(&attributes, &defaultSignals);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> argumentTexts;
    argumentTexts.reserve(arguments.size() + 1);
    argumentTexts.push_back(executable);
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    auto environmentTexts = environmentLines(environment);
    auto argv = pointers(argumentTexts);
    auto envp = pointers(environmentTexts);

    pid_t pid = -1;
    // A bare name is looked up on the program's own PATH; a path is taken as it is.
    const int result = executable.find('/') == std::string::npos
        ? ::posix_spawnp(&pid, executable.c_str(), &actions, &attributes, argv.data(), envp.data())
        : ::posix_spawn(&pid, executable.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0)
        throw DemucsRuntimeError(launchFailedText);

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
    const std::function<void()>& terminationOperation, std::stop_token stop)
{
    if (!(timeout > 0.0) || !std::isfinite(timeout) || retainedOutputByteLimit < 1
        || retainedOutputByteLimit > largestOutputLimit)
        throw DemucsRuntimeError(invalidLimitsText);
    if (executable.empty())
        throw DemucsRuntimeError(launchFailedText);

    SpawnedChild child = spawnChild(executable, arguments, environment);
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
