// The real program in child processes: how it ends on a signal, what its command line shows, and
// how starts of it agree on one running instance.

#include "platform/duskmere_storage.h"
#include "platform/uuid.h"
#include "store/store_test_support.h"
#include "ui/shell/single_instance.h"

#include <gtest/gtest.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <thread>
#include <utility>

extern char** environ;

namespace fotivela {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A program a test started: killed and reaped when it goes out of scope, so a test that fails or
// returns early leaves nothing running; and killed by the kernel when the test process dies first.
class ChildProgram {
public:
    // Both output streams go to `log`, so that no program left behind holds the test's output.
    ChildProgram(std::vector<std::string> command, std::vector<std::string> environment, const fs::path& log,
                 const fs::path& workingFolder = {})
    {
        std::vector<char*> argv, envp;
        for (std::string& each : command)
            argv.push_back(each.data());
        argv.push_back(nullptr);
        for (std::string& each : environment)
            envp.push_back(each.data());
        envp.push_back(nullptr);
        const int output = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        // Closed by the exec: from then on the child is bound to this thread's life.
        int execed[2] = {-1, -1};
        EXPECT_EQ(::pipe2(execed, O_CLOEXEC), 0);
        const pid_t parent = ::getpid();
        std::fflush(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            // Only async-signal-safe calls until exec: the test process has other threads.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(126);
            ::dup2(output, STDOUT_FILENO);
            ::dup2(output, STDERR_FILENO);
            if (!workingFolder.empty() && ::chdir(workingFolder.c_str()) != 0)
                ::_exit(125);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        EXPECT_GT(m_pid, 0) << std::strerror(errno);
        ::close(output);
        ::close(execed[1]);
        char ignored = 0;
        while (::read(execed[0], &ignored, 1) < 0 && errno == EINTR) {
        }
        ::close(execed[0]);
    }
    ~ChildProgram() { stop(); }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    pid_t pid() const { return m_pid; }

    // Its exit code, 128 + the signal that ended it, or -1 while it still runs after `timeout`.
    int waitForExit(std::chrono::seconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        while (m_pid > 0) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                m_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else if (Clock::now() >= deadline) {
                return -1;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        return m_code;
    }

    void stop()
    {
        if (m_pid > 0)
            ::kill(m_pid, SIGKILL);
        waitForExit(std::chrono::hours(1));
    }

    // For a test of the guard itself: the program is left to the kernel.
    pid_t release() { return std::exchange(m_pid, -1); }

private:
    pid_t m_pid = -1;
    int m_code = -1;
};

// A fresh home, runtime folder and storage root for the programs of one test.
class ProgramTest : public test::StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        fs::create_directories(m_root / "run");
        fs::permissions(m_root / "run", fs::perms::owner_all);
        fs::create_directories(m_root / "home");
        // The guard's folder in the cache must keep the socket's path short.
        std::string cache = (fs::temp_directory_path() / "c-XXXXXX").string();
        ASSERT_NE(::mkdtemp(cache.data()), nullptr);
        m_cache = cache;
    }
    void TearDown() override
    {
        m_programs.clear();
        std::error_code ignored;
        fs::remove_all(m_cache, ignored);
        StoreTest::TearDown();
    }

    fs::path runtimeFolder() const { return m_root / "run"; }

    pid_t start(const std::vector<std::string>& arguments, std::map<std::string, std::string> extra = {},
                const fs::path& workingFolder = {})
    {
        std::map<std::string, std::string> variables;
        for (char** entry = environ; *entry; ++entry) {
            const std::string text = *entry;
            const auto equals = text.find('=');
            if (equals != std::string::npos)
                variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
        variables["QT_QPA_PLATFORM"] = "offscreen";
        variables["SDL_AUDIODRIVER"] = "dummy";
        variables["DUSKMERE_TEST_ROOT"] = (m_root / "suite").string();
        variables["XDG_RUNTIME_DIR"] = runtimeFolder().string();
        variables["HOME"] = (m_root / "home").string();
        variables["XDG_CACHE_HOME"] = m_cache.string();
        // Nobody answers there: the sign-in gate stays on this machine.
        variables["FOTIVELA_ACCOUNT_URL"] = "http://127.0.0.1:9";
        variables["ASAN_OPTIONS"] = "detect_leaks=0";
        // An empty value: the variable is not set at all.
        for (auto& [name, value] : extra) {
            if (value.empty())
                variables.erase(name);
            else
                variables[name] = value;
        }
        std::vector<std::string> environment;
        for (const auto& [name, value] : variables)
            environment.push_back(name + "=" + value);

        std::vector<std::string> command{FOTIVELA_PROGRAM};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const fs::path log = m_root / ("program-" + std::to_string(m_programs.size()) + ".log");
        auto program = std::make_unique<ChildProgram>(std::move(command), std::move(environment), log, workingFolder);
        const pid_t pid = program->pid();
        m_programs[pid] = std::move(program);
        return pid;
    }

    // Its exit code, 128 + the signal that ended it, or -1 when still running.
    int waitForExit(pid_t pid, std::chrono::seconds timeout) { return m_programs.at(pid)->waitForExit(timeout); }

    // Of two starts made at the same moment, one hands its arguments to the other and ends
    // with 0: the one left running then, or -1 when neither did so within `timeout`.
    pid_t whichKeepsRunning(pid_t a, pid_t b, std::chrono::seconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        int aCode = -1, bCode = -1;
        while (Clock::now() < deadline && aCode < 0 && bCode < 0) {
            aCode = waitForExit(a, std::chrono::seconds(0));
            bCode = waitForExit(b, std::chrono::seconds(0));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return aCode == 0 ? b : bCode == 0 ? a : -1;
    }

    void stop(pid_t pid) { m_programs.at(pid)->stop(); }

    // True once a running instance answers on the socket.
    bool waitUntilListening(std::chrono::seconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            QLocalSocket socket;
            socket.connectToServer(QString::fromStdString((runtimeFolder() / "fotivela.socket").string()));
            if (socket.waitForConnected(200))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    static std::string commandLine(pid_t pid)
    {
        std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::map<pid_t, std::unique_ptr<ChildProgram>> m_programs;
    fs::path m_cache;
};

// What a test starts ends with it: when the test lets go of it (an assertion that returns early),
// and when the thread that started it dies without letting go, as a crashed test process does.
TEST(ChildProgramTest, AStartedProgramEndsWithTheTestThatStartedIt)
{
    pid_t pid = 0;
    {
        ChildProgram sleeper({"/bin/sleep", "600"}, {}, "/dev/null");
        pid = sleeper.pid();
        ASSERT_EQ(sleeper.waitForExit(std::chrono::seconds(0)), -1);
    }
    EXPECT_NE(::kill(pid, 0), 0) << "still running";

    std::thread([&pid] { pid = ChildProgram({"/bin/sleep", "600"}, {}, "/dev/null").release(); }).join();
    int status = 0;
    const bool ended = test::waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 30000);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    EXPECT_TRUE(ended && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "outlived its test";
}

// Generous: the program starts under the sanitizers on a loaded machine.
constexpr std::chrono::seconds startTimeout{90};

TEST_F(ProgramTest, TheSignInAddressLeavesTheCommandLineAndSigtermEndsTheProgramCleanly)
{
    // The leftover of an export killed an hour ago goes at start-up.
    const fs::path leftover = DuskmereStorage::temporaryDirectory() / (".fotivela-" + Uuid::random().toString() + ".mp4");
    std::ofstream(leftover) << "parte";
    fs::last_write_time(leftover, fs::file_time_type::clock::now() - std::chrono::hours(1));

    const pid_t program = start({"fotivela://auth?token=SECRETO-123456"});
    ASSERT_TRUE(waitUntilListening(startTimeout));
    EXPECT_TRUE(test::waitFor([&] { return !fs::exists(leftover); }, 30000));
    const std::string line = commandLine(program);
    EXPECT_NE(line.find(FOTIVELA_PROGRAM), std::string::npos) << line;
    EXPECT_EQ(line.find("SECRETO"), std::string::npos) << "the token is readable by every user";

    // A logout sends SIGTERM: the program ends by itself, with success, and takes its socket along.
    ::kill(program, SIGTERM);
    EXPECT_EQ(waitForExit(program, startTimeout), 0);
    EXPECT_FALSE(fs::exists(runtimeFolder() / "fotivela.socket"));
}

TEST_F(ProgramTest, StartsAtTheSameMomentAndWithAnotherTemporaryFolderShareOneInstance)
{
    fs::create_directories(m_root / "otro-tmp");
    const pid_t first = start({});
    const pid_t second = start({}, {{"TMPDIR", (m_root / "otro-tmp").string()}});
    ASSERT_TRUE(waitUntilListening(startTimeout));
    // One of the two hands its (empty) arguments to the other and ends; the other keeps running.
    const pid_t running = whichKeepsRunning(first, second, startTimeout);
    ASSERT_NE(running, -1) << "neither start handed over and ended";
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(waitForExit(running, std::chrono::seconds(0)), -1) << "both ended";

    // A later start with a document and another TMPDIR also ends at once.
    const pid_t third =
        start({(m_root / "nada.fotivela").string()}, {{"TMPDIR", (m_root / "otro-tmp").string()}});
    EXPECT_EQ(waitForExit(third, startTimeout), 0);
    EXPECT_EQ(waitForExit(running, std::chrono::seconds(0)), -1);
}

// With the program running in a session, a start that lost XDG_RUNTIME_DIR (sudo, cron, ssh, some
// launchers) hands its document over and ends, instead of running as a second program beside it.
TEST_F(ProgramTest, AStartWithoutTheRuntimeVariableFindsTheRunningProgram)
{
    const pid_t running = start({});
    ASSERT_TRUE(waitUntilListening(startTimeout));
    const pid_t second = start({(m_root / "nada.fotivela").string()}, {{"XDG_RUNTIME_DIR", ""}});
    EXPECT_EQ(waitForExit(second, startTimeout), 0) << "a second program runs";
    EXPECT_EQ(waitForExit(running, std::chrono::seconds(0)), -1);

    // Two such starts at the same moment: one runs, the other hands over and ends.
    stop(running);
    const pid_t with = start({});
    const pid_t without = start({}, {{"XDG_RUNTIME_DIR", ""}});
    const pid_t survivor = whichKeepsRunning(with, without, startTimeout);
    ASSERT_NE(survivor, -1) << "neither start handed over and ended";
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(waitForExit(survivor, std::chrono::seconds(0)), -1) << "both ended";
}

// The running program may have started in another folder: a start hands over the file it was
// named, found from where it started itself; addresses and absolute paths go as they are.
TEST_F(ProgramTest, ASecondStartHandsOverRelativePathsFromItsOwnFolder)
{
    // This test is the running program.
    SingleInstance running(std::vector<fs::path>{runtimeFolder()});
    ASSERT_EQ(running.claim({}), SingleInstance::Role::primary);
    QSignalSpy received(&running, &SingleInstance::argumentsReceived);
    const fs::path folder = m_root / "otra carpeta";
    fs::create_directories(folder);
    const std::string absolute = (m_root / "Boda.fotivela").string(), address = "fotivela://auth?token=abc";

    const pid_t second = start({"Decoy.fotivela", absolute, address}, {}, folder);
    ASSERT_TRUE(received.wait(static_cast<int>(std::chrono::milliseconds(startTimeout).count())));
    EXPECT_EQ(waitForExit(second, startTimeout), 0);
    EXPECT_EQ(received.at(0).at(0).toStringList().join(QLatin1Char('\n')).toStdString(),
              (folder / "Decoy.fotivela").string() + "\n" + absolute + "\n" + address);
}

} // namespace
} // namespace fotivela
