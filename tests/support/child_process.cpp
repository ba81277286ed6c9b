#include "support/child_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace fotivela::test {

namespace {

constexpr const char* callVariable = "FOTIVELA_CHILD_CALL";
constexpr const char* reportVariable = "FOTIVELA_CHILD_REPORT_FD";

std::int64_t statusKilobytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0)
            return std::stoll(line.substr(prefix.size()));
    return 0;
}

std::string currentTestName()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info ? std::string(info->test_suite_name()) + "." + info->name() : std::string();
}

// Which call of the current test this is, counting from 0.
int nextCallIndex()
{
    static std::string test;
    static int calls = 0;
    const std::string now = currentTestName();
    if (now != test) {
        test = now;
        calls = 0;
    }
    return calls++;
}

[[noreturn]] void runAsChild(const std::function<int()>& work, int reportFd)
{
    // The kernel's peak is set back to what is resident now, so that it measures the work alone.
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";
    }
    const std::int64_t start = statusKilobytes("VmRSS");
    const int code = work();
    const std::int64_t extra = statusKilobytes("VmHWM") - start;
    [[maybe_unused]] const auto written = ::write(reportFd, &extra, sizeof extra);
    std::fflush(nullptr);
    ::_exit(code);
}

} // namespace

ChildRun runInChild(const std::function<int()>& work)
{
    const int index = nextCallIndex();
    if (const char* wanted = std::getenv(callVariable)) {
        const char* report = std::getenv(reportVariable);
        if (std::atoi(wanted) == index && report)
            runAsChild(work, std::atoi(report));
        return {true, 0, 0}; // an earlier call, done by an earlier child
    }

    // The child makes the test's data again and exits without its destructors:
    // what it makes goes in a temporary folder of its own, removed here.
    std::string childTemporary = (std::filesystem::temp_directory_path() / "fotivela-child-XXXXXX").string();
    if (!::mkdtemp(childTemporary.data()))
        return {};
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        ::rmdir(childTemporary.c_str());
        return {};
    }
    const int reportFd = ::fcntl(pipeEnds[1], F_DUPFD, 100); // without close-on-exec
    std::vector<std::string> arguments{"/proc/self/exe", "--gtest_filter=" + currentTestName()};
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        if (std::string_view(*entry).rfind("TMPDIR=", 0) != 0)
            environment.emplace_back(*entry);
    environment.push_back("TMPDIR=" + childTemporary);
    environment.push_back(std::string(callVariable) + "=" + std::to_string(index));
    environment.push_back(std::string(reportVariable) + "=" + std::to_string(reportFd));
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The child's own test report would mix with the parent's.
        const int quiet = ::open("/dev/null", O_WRONLY);
        if (quiet >= 0)
            ::dup2(quiet, STDOUT_FILENO);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    ::close(reportFd);
    ChildRun run;
    if (pid > 0) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        run.exited = WIFEXITED(status);
        run.exitCode = run.exited ? WEXITSTATUS(status) : -1;
        std::int64_t extra = 0;
        if (::read(pipeEnds[0], &extra, sizeof extra) == static_cast<ssize_t>(sizeof extra))
            run.extraPeakKilobytes = extra;
    }
    ::close(pipeEnds[0]);
    std::error_code ignored;
    std::filesystem::remove_all(childTemporary, ignored);
    return run;
}

} // namespace fotivela::test
