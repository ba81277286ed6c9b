#include "stem_runtime/demucs_runtime_manager.h"
#include "stem_runtime/demucs_runtime_production_io.h"
#include "stem_runtime/demucs_runtime_texts.h"
#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <limits>
#include <thread>

namespace fotivela {
using test::AudioTestFolder;
namespace {

using DemucsRuntimeProductionIO::runProcess;
using Clock = std::chrono::steady_clock;

const std::map<std::string, std::string> plainEnvironment {{"PATH", "/usr/bin:/bin"}};

DemucsRuntimeProductionIO::ProcessResult shell(const std::string& script, double timeout = 30.0,
    std::size_t limit = 65536, std::stop_token stop = {}, const std::map<std::string, std::string>& environment = plainEnvironment)
{
    return runProcess("/bin/sh", {"-c", script}, environment, timeout, {}, limit, {}, stop);
}

// Runs fn and answers the description of the DemucsRuntimeError it throws ("" when none).
template <typename Fn>
std::string failureText(Fn&& fn)
{
    try {
        fn();
    } catch (const DemucsRuntimeError& error) {
        return error.what();
    }
    return {};
}

bool processExists(pid_t pid)
{
    // A zombie still answers kill(0); its state letter says it has ended.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    return !text.empty() && close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

pid_t readPid(const std::filesystem::path& file)
{
    for (int i = 0; i < 200; ++i) {
        std::ifstream stream(file);
        pid_t pid = 0;
        if (stream >> pid && pid > 0)
            return pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
}

bool waitUntilGone(pid_t pid, std::chrono::milliseconds patience)
{
    const auto until = Clock::now() + patience;
    while (processExists(pid)) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

TEST(RuntimeProcess, ReportsExitStatusOutputAndSignals)
{
    auto ok = shell("echo out; echo err >&2; exit 0");
    EXPECT_EQ(ok.status, 0);
    EXPECT_NE(ok.output.find("out\n"), std::string::npos);
    EXPECT_NE(ok.output.find("err\n"), std::string::npos);

    EXPECT_EQ(shell("exit 3").status, 3);
    // Killed by a signal: never mistaken for success.
    const auto killed = shell("kill -9 $$");
    EXPECT_NE(killed.status, 0);
    EXPECT_EQ(killed.status, 128 + SIGKILL);
}

TEST(RuntimeProcess, PassesArgumentsAndExactlyTheGivenEnvironment)
{
    const auto result = runProcess("/usr/bin/env", {}, {{"ONLY_THIS", "a b=c"}}, 30.0, {}, 4096, {});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "ONLY_THIS=a b=c\n");

    const auto arguments = runProcess("/bin/sh", {"-c", "printf '[%s]' \"$@\"", "sh", "one two", "", "*"},
        plainEnvironment, 30.0, {}, 4096, {});
    EXPECT_EQ(arguments.output, "[one two][][*]");
}

TEST(RuntimeProcess, RetainsOnlyTheLimitButDrainsEverything)
{
    // 4 MB through a 1,000-byte limit: the child must not block on a full pipe.
    const auto result = shell("head -c 4000000 /dev/zero | tr '\\0' x; echo done >&2", 60.0, 1000);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, std::string(1000, 'x'));

    const auto largest = shell("head -c 1048600 /dev/zero | tr '\\0' y", 60.0, 1'048'576);
    EXPECT_EQ(largest.output.size(), 1'048'576u);
}

TEST(RuntimeProcess, RejectsInvalidLimitsAndUnlaunchablePrograms)
{
    for (double timeout : {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_EQ(failureText([&] { shell("true", timeout); }), DemucsRuntimeTexts::invalidProcessLimits) << timeout;
    for (std::size_t limit : {std::size_t {0}, std::size_t {1'048'577}})
        EXPECT_EQ(failureText([&] { shell("true", 10.0, limit); }), DemucsRuntimeTexts::invalidProcessLimits) << limit;
    EXPECT_EQ(shell("true", 10.0, 1).status, 0);
    EXPECT_EQ(shell("true", 10.0, 1'048'576).status, 0);

    for (const char* executable : {"/nonexistent/separator", "/etc/hostname", ""})
        EXPECT_EQ(failureText([&] { runProcess(executable, {}, plainEnvironment, 10.0, {}, 100, {}); }),
            DemucsRuntimeTexts::processLaunchFailed)
            << executable;
}

// The child starts a grandchild that ignores SIGTERM; stopping the group must take both.
// The inner shell writes its own pid, then becomes the sleep; the ignored TERM is inherited.
constexpr const char* stubbornFamily = "trap '' TERM; sh -c 'echo $$ > \"$0\"; exec sleep 60' \"$1\" & wait";

TEST(RuntimeProcess, TimeOutStopsTheWholeProcessGroup)
{
    AudioTestFolder folder("fotivela-runtime-process");
    const auto pidFile = folder / "grandchild.pid";
    bool terminated = false;
    const auto start = Clock::now();
    EXPECT_EQ(failureText([&] {
        runProcess("/bin/sh", {"-c", stubbornFamily, "sh", pidFile.string()}, plainEnvironment, 2.0, {}, 4096,
            [&] { terminated = true; });
    }),
        DemucsRuntimeTexts::processTimedOut);
    const auto elapsed = Clock::now() - start;
    EXPECT_TRUE(terminated);
    EXPECT_LT(elapsed, std::chrono::seconds(10));
    const pid_t grandchild = readPid(pidFile);
    ASSERT_GT(grandchild, 0);
    EXPECT_TRUE(waitUntilGone(grandchild, std::chrono::seconds(5)));
}

TEST(RuntimeProcess, StopRequestEndsTheGroupWithinASecond)
{
    AudioTestFolder folder("fotivela-runtime-process");
    const auto pidFile = folder / "grandchild.pid";
    std::stop_source stop;
    std::optional<Clock::time_point> stoppedAt;
    std::thread requester([&] {
        readPid(pidFile);
        stoppedAt = Clock::now();
        stop.request_stop();
    });
    EXPECT_EQ(failureText([&] {
        runProcess("/bin/sh", {"-c", stubbornFamily, "sh", pidFile.string()}, plainEnvironment, 600.0, {}, 4096, {},
            stop.get_token());
    }),
        DemucsRuntimeTexts::processStopped);
    const auto returnedAt = Clock::now();
    requester.join();
    ASSERT_TRUE(stoppedAt);
    // A second, with room for sanitizers on a loaded machine.
    EXPECT_LT(returnedAt - *stoppedAt, std::chrono::milliseconds(2500));
    const pid_t grandchild = readPid(pidFile);
    ASSERT_GT(grandchild, 0);
    EXPECT_TRUE(waitUntilGone(grandchild, std::chrono::seconds(2)));
}

TEST(RuntimeProcess, ChildThatLeavesADescendantHoldingTheOutputStillReturns)
{
    AudioTestFolder folder("fotivela-runtime-process");
    const auto pidFile = folder / "leftover.pid";
    const auto start = Clock::now();
    const auto result = runProcess("/bin/sh", {"-c", "sh -c 'echo $$ > \"$0\"; exec sleep 60' \"$1\" & echo bye", "sh", pidFile.string()},
        plainEnvironment, 60.0, {}, 4096, {});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "bye\n");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    const pid_t leftover = readPid(pidFile);
    ASSERT_GT(leftover, 0);
    EXPECT_TRUE(waitUntilGone(leftover, std::chrono::seconds(5)));
}

// Run in a process of its own by the test below, which kills it while the child runs.
TEST(RuntimeProcessParent, WaitsForItsChild)
{
    const char* pidFile = std::getenv("FOTIVELA_TEST_PARENT_PID_FILE");
    if (!pidFile)
        GTEST_SKIP() << "runs only as the parent of ChildEndsWithItsKilledParent";
    runProcess("/bin/sh", {"-c", "echo $$ > \"$0\"; exec sleep 600", pidFile}, plainEnvironment, 900.0, {}, 4096, {});
}

TEST(RuntimeProcess, ChildEndsWithItsKilledParent)
{
    AudioTestFolder folder("fotivela-runtime-process");
    const auto pidFile = folder / "child.pid";
    const auto self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::vector<std::string> texts {self, "--gtest_filter=RuntimeProcessParent.*", "PATH=/usr/bin:/bin",
        "FOTIVELA_TEST_PARENT_PID_FILE=" + pidFile.string(), "ASAN_OPTIONS=detect_leaks=0",
        // Killed, it cannot clean up after itself: its temporary files go with this run's.
        "TMPDIR=" + std::filesystem::temp_directory_path().string()};
    char* argv[] = {texts[0].data(), texts[1].data(), nullptr};
    char* envp[] = {texts[2].data(), texts[3].data(), texts[4].data(), texts[5].data(), nullptr};
    pid_t parent = -1;
    ASSERT_EQ(::posix_spawn(&parent, self.c_str(), nullptr, nullptr, argv, envp), 0);
    pid_t child = 0;
    for (int i = 0; i < 6 && child <= 0; ++i)
        child = readPid(pidFile);
    if (child <= 0) {
        ::kill(parent, SIGKILL);
        ::waitpid(parent, nullptr, 0);
        FAIL() << "the parent never started its child";
    }
    ASSERT_TRUE(processExists(child));

    // SIGKILL: the parent runs no code of its own on the way out.
    ::kill(parent, SIGKILL);
    ::waitpid(parent, nullptr, 0);
    EXPECT_TRUE(waitUntilGone(child, std::chrono::seconds(15)));
    if (processExists(child))
        ::kill(child, SIGKILL);
}

TEST(RuntimeProcess, OfflineEnvironmentKeepsCachesAndTemporaryFilesPrivate)
{
    AudioTestFolder root("fotivela-runtime-env");
    setenv("DUSKMERE_TEST_ROOT", root.path().c_str(), 1);
    const auto cache = root / "cache";
    const auto environment = DemucsRuntimeProductionIO::offlineEnvironment(cache);
    EXPECT_EQ(environment.at("TMPDIR"), (root.path() / "Fotivela" / "Temporary").string());
    EXPECT_TRUE(std::filesystem::is_directory(environment.at("TMPDIR")));
    EXPECT_EQ(environment.at("HF_HUB_OFFLINE"), "1");
    EXPECT_EQ(environment.at("HF_HUB_CACHE"), (cache / "hub").string());
    EXPECT_EQ(environment.at("TRANSFORMERS_CACHE"), (cache / "transformers").string());
    EXPECT_EQ(environment.at("PYTHONNOUSERSITE"), "1");
    EXPECT_EQ(environment.at("PYTORCH_ENABLE_MPS_FALLBACK"), "1");
    // What a child sees is exactly this environment.
    const auto seen = runProcess("/usr/bin/env", {}, environment, 30.0, {}, 65536, {});
    EXPECT_NE(seen.output.find("TMPDIR=" + environment.at("TMPDIR") + "\n"), std::string::npos);
    EXPECT_EQ(seen.output.find("DUSKMERE_TEST_ROOT"), std::string::npos);
    unsetenv("DUSKMERE_TEST_ROOT");
}

} // namespace
} // namespace fotivela
