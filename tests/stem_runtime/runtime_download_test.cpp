#include "stem_runtime/demucs_runtime_install_state.h"
#include "stem_runtime/demucs_runtime_installer.h"
#include "stem_runtime/demucs_runtime_manager.h"
#include "stem_runtime/demucs_runtime_production_io.h"
#include "stem_runtime/demucs_runtime_texts.h"
#include "stem_runtime/runtime_package_fixture.h"
#include "support/test_audio.h"

#include <httplib.h>
#include <signal.h>
#include <sys/resource.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace fotivela {
namespace {

using namespace test;
using Clock = std::chrono::steady_clock;
namespace Layout = DemucsRuntimeInstallLayout;

// The package on a loopback HTTP server. Ranged requests get the rest of the file. Until
// released, a GET stops sending once `stallAt` bytes of the file have gone out.
class PackageServer {
public:
    explicit PackageServer(std::string bytes) : m_bytes(std::move(bytes))
    {
        m_server.Get("/package.tar.gz", [this](const httplib::Request& request, httplib::Response& response) {
            {
                std::lock_guard lock(m_mutex);
                if (request.method == "GET")
                    ++m_getCount;
                m_rangeHeaders.push_back(request.get_header_value("Range"));
            }
            if (m_endless) {
                // No length announced, and zeros for as long as anyone reads.
                response.set_chunked_content_provider("application/gzip", [](std::size_t offset, httplib::DataSink& sink) {
                    static const std::string zeros(65536, '\0');
                    if (offset >= endlessCap)
                        sink.done();
                    else
                        sink.write(zeros.data(), zeros.size());
                    return true;
                });
                return;
            }
            if (m_ignoresRanges) {
                // No length announced: the whole file, in chunks, whatever range was asked for.
                response.set_chunked_content_provider("application/gzip", [this](std::size_t offset, httplib::DataSink& sink) {
                    const std::size_t end = std::min(m_bytes.size(), offset + 65536);
                    sink.write(m_bytes.data() + offset, end - offset);
                    if (end == m_bytes.size())
                        sink.done();
                    return true;
                });
                return;
            }
            response.set_content_provider(m_bytes.size(), "application/gzip",
                [this](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    std::unique_lock lock(m_mutex);
                    const std::size_t end = offset + std::min<std::size_t>(length, 65536);
                    if (m_stallAt && end > *m_stallAt) {
                        if (offset < *m_stallAt) {
                            lock.unlock();
                            sink.write(m_bytes.data() + offset, *m_stallAt - offset);
                            return true;
                        }
                        m_stalled = true;
                        m_changed.notify_all();
                        m_changed.wait(lock, [&] { return !m_stallAt || m_dropStalled; });
                        if (m_dropStalled)
                            return false;
                    }
                    lock.unlock();
                    sink.write(m_bytes.data() + offset, end - offset);
                    return true;
                });
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    ~PackageServer()
    {
        dropStalledConnections();
        m_server.stop();
        m_thread.join();
    }

    void ignoreRanges() { m_ignoresRanges = true; }
    void sendEndlessly() { m_endless = true; }
    // Far past any package; only a download with no bound gets there.
    static constexpr std::size_t endlessCap = 96u << 20;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/package.tar.gz"; }

    void stallAt(std::size_t byte)
    {
        std::lock_guard lock(m_mutex);
        m_stallAt = byte;
        m_stalled = false;
    }

    bool waitUntilStalled(std::chrono::seconds patience = std::chrono::seconds(60))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, patience, [&] { return m_stalled; });
    }

    bool isStalled()
    {
        std::lock_guard lock(m_mutex);
        return m_stalled;
    }

    void release()
    {
        std::lock_guard lock(m_mutex);
        m_stallAt.reset();
        m_changed.notify_all();
    }

    // A stalled request ends with a broken connection.
    void dropStalledConnections()
    {
        std::lock_guard lock(m_mutex);
        m_dropStalled = true;
        m_changed.notify_all();
    }

    int getCount()
    {
        std::lock_guard lock(m_mutex);
        return m_getCount;
    }

    std::vector<std::string> rangeHeaders()
    {
        std::lock_guard lock(m_mutex);
        return m_rangeHeaders;
    }

private:
    std::string m_bytes;
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<std::size_t> m_stallAt;
    bool m_stalled = false;
    bool m_dropStalled = false;
    std::atomic<bool> m_ignoresRanges = false;
    std::atomic<bool> m_endless = false;
    int m_getCount = 0;
    std::vector<std::string> m_rangeHeaders;
};

// The processes whose command line holds text.
std::vector<pid_t> processesNaming(const std::string& text)
{
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string commandLine = readFile(entry.path() / "cmdline");
        std::replace(commandLine.begin(), commandLine.end(), '\0', ' ');
        if (commandLine.find(text) != std::string::npos)
            found.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return found;
}

std::string installFailure()
{
    try {
        DemucsRuntimeManager::shared().readyRuntime();
    } catch (const DemucsRuntimeError& error) {
        return error.what();
    }
    return "installed";
}

// The manager of this process installs into a fresh suite folder from the test's server.
class RuntimeDownload : public ::testing::Test {
protected:
    AudioTestFolder folder {"fotivela-runtime-download"};
    std::string package = readFile(DemucsRuntimePackage::builtArchivePath());
    PackageServer server {package};
    ScopedEnvironment suite {"DUSKMERE_TEST_ROOT", folder.path().string()};
    ScopedEnvironment url {DemucsRuntimePackage::urlVariable, server.url()};
    std::filesystem::path root = folder / "DemucsRuntime";
};

// Run in a child process by the test below, which kills it in the middle of the download.
TEST(RuntimeDownloadChild, InstallsWhenAsked)
{
    if (!std::getenv("FOTIVELA_TEST_INSTALL_CHILD"))
        GTEST_SKIP() << "runs only as the child of KilledInstallLeavesTheEarlierRuntimeAndTheNextOneResumes";
    DemucsRuntimeManager::shared().readyRuntime();
}

TEST_F(RuntimeDownload, KilledInstallLeavesTheEarlierRuntimeAndTheNextOneResumes)
{
    ASSERT_FALSE(package.empty());
    const auto first = DemucsRuntimeInstaller::ensureRuntime(root,
        writePackage(folder / "first.tar.gz", samplePackage("test-1"), "test-1"), {}, {});
    const auto firstRecord = DemucsRuntimeInstallState::readActiveRecord(root);

    const std::size_t half = package.size() / 2;
    server.stallAt(half);
    const auto partial = Layout::downloadsFolder(root) / (DemucsRuntimePackage::builtArchiveSha256() + std::string(".partial"));
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    std::map<std::string, std::string> environment {{"PATH", "/usr/bin:/bin"}, {"FOTIVELA_TEST_INSTALL_CHILD", "1"},
        {"DUSKMERE_TEST_ROOT", folder.path().string()}, {DemucsRuntimePackage::urlVariable, server.url()},
        {"ASAN_OPTIONS", "detect_leaks=0"}, {"QT_QPA_PLATFORM", "offscreen"},
        {"TMPDIR", std::filesystem::temp_directory_path().string()}};
    // The child is stopped (its group gets SIGTERM, then SIGKILL) once part of the package is on disk;
    // its temporary files go with this run's.
    try {
        const auto finished = DemucsRuntimeProductionIO::runProcess(self.string(),
            {"--gtest_filter=RuntimeDownloadChild.*"}, environment, 120.0,
            [&] {
                std::error_code error;
                if (server.isStalled() && std::filesystem::file_size(partial, error) > 0 && !error)
                    throw DemucsRuntimeError("matar");
            },
            65536, {});
        ADD_FAILURE() << "the child finished: " << finished.output;
    } catch (const DemucsRuntimeError&) {
    }
    // The download does not outlive the program that started it, though its server still waits.
    const auto patience = Clock::now() + std::chrono::seconds(20);
    while (!processesNaming(partial.string()).empty() && Clock::now() < patience)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(processesNaming(partial.string()), std::vector<pid_t> {});
    server.dropStalledConnections();
    EXPECT_EQ(DemucsRuntimeInstallState::readActiveRecord(root), firstRecord);
    EXPECT_TRUE(DemucsRuntimeInstallState::verifiedActiveRuntime(root, firstRecord->archiveSha256));
    EXPECT_EQ(listTree(Layout::stagingFolder(root)), std::vector<std::string> {});

    // The next install picks the download up where it stopped, and reports its progress.
    server.stallAt(package.size() + 1);
    std::vector<std::pair<std::int64_t, std::int64_t>> reports;
    const auto handle = DemucsRuntimeManager::shared().readyRuntime(
        [&](std::int64_t done, std::int64_t expected) { reports.emplace_back(done, expected); });
    EXPECT_EQ(handle.version, DemucsRuntimePackage::builtVersion());
    EXPECT_NE(handle.executableURL, first.executableURL);
    EXPECT_FALSE(std::filesystem::exists(first.executableURL));
    // The orphaned curl may have flushed the last of its half before or after the resume began.
    const std::string range = server.rangeHeaders().back();
    ASSERT_EQ(range.rfind("bytes=", 0), 0u) << range;
    const auto resumedFrom = std::stoll(range.substr(6));
    EXPECT_GT(resumedFrom, 0);
    EXPECT_LE(resumedFrom, static_cast<std::int64_t>(half));
    ASSERT_FALSE(reports.empty());
    EXPECT_GE(reports.front().first, resumedFrom);
    EXPECT_EQ(reports.back(), std::make_pair(static_cast<std::int64_t>(package.size()), static_cast<std::int64_t>(package.size())));
    for (std::size_t i = 1; i < reports.size(); ++i)
        EXPECT_LE(reports[i - 1].first, reports[i].first);
    EXPECT_FALSE(std::filesystem::exists(partial));
}

TEST_F(RuntimeDownload, PartialDownloadsThatCannotBeContinuedStartAfresh)
{
    const auto partial = Layout::downloadsFolder(root) / (DemucsRuntimePackage::builtArchiveSha256() + std::string(".partial"));
    std::filesystem::create_directories(partial.parent_path());

    // A partial file that is not a prefix of the package: resumed, found wrong, fetched whole.
    std::string wrongStart = package.substr(0, package.size() / 2);
    wrongStart[100] ^= 0x01;
    writeFile(partial, wrongStart);
    DemucsRuntimeManager::shared().readyRuntime();
    EXPECT_EQ(server.getCount(), 2);
    EXPECT_EQ(server.rangeHeaders().back(), "");

    // A server that cannot resume: the partial file is dropped and the package fetched whole.
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(partial.parent_path());
    writeFile(partial, package.substr(0, package.size() / 2));
    server.ignoreRanges();
    const auto handle = DemucsRuntimeManager::shared().readyRuntime();
    EXPECT_EQ(handle.version, DemucsRuntimePackage::builtVersion());
    EXPECT_EQ(server.getCount(), 4);
}

TEST_F(RuntimeDownload, ConcurrentCallersShareOneInstall)
{
    server.stallAt(package.size() / 3);
    std::vector<std::optional<DemucsRuntimeHandle>> handles(3);
    std::vector<std::string> errors(4);
    // Each caller hears the one download's progress.
    std::vector<std::atomic<std::int64_t>> heard(3);
    std::vector<std::thread> callers;
    for (std::size_t i = 0; i < handles.size(); ++i)
        callers.emplace_back([&, i] {
            handles[i] = DemucsRuntimeManager::shared().readyRuntime([&, i](std::int64_t done, std::int64_t) { heard[i] = done; });
        });
    // A caller that gives up leaves the others waiting on the same install.
    std::stop_source impatient;
    callers.emplace_back([&] {
        try {
            DemucsRuntimeManager::shared().readyRuntime({}, impatient.get_token());
        } catch (const DemucsRuntimeError& error) {
            errors[3] = error.what();
        }
    });
    ASSERT_TRUE(server.waitUntilStalled());
    impatient.request_stop();
    // Every waiting caller hears the partial file grow before the download may finish.
    const auto patience = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < patience && std::any_of(heard.begin(), heard.end(), [](const auto& done) { return done == 0; }))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    server.release();
    for (auto& caller : callers)
        caller.join();
    EXPECT_EQ(errors[3], DemucsRuntimeTexts::cancelled);
    for (const auto& handle : handles) {
        ASSERT_TRUE(handle);
        EXPECT_EQ(*handle, *handles[0]);
    }
    EXPECT_EQ(server.getCount(), 1);
    for (const auto& done : heard)
        EXPECT_EQ(done, static_cast<std::int64_t>(package.size()));
    EXPECT_EQ(listTree(Layout::versionsFolder(root)).front(),
        handles[0]->executableURL.parent_path().parent_path().filename().string());

    // Installed: later callers are answered from disk without a request.
    EXPECT_EQ(DemucsRuntimeManager::shared().readyRuntime(), *handles[0]);
    EXPECT_EQ(server.getCount(), 1);
}

TEST_F(RuntimeDownload, CancellingThePendingInstallStopsTheDownload)
{
    server.stallAt(package.size() / 2);
    std::string error;
    std::optional<Clock::time_point> failedAt;
    std::thread caller([&] {
        try {
            DemucsRuntimeManager::shared().readyRuntime();
        } catch (const DemucsRuntimeError& failure) {
            error = failure.what();
            failedAt = Clock::now();
        }
    });
    ASSERT_TRUE(server.waitUntilStalled());
    const auto cancelledAt = Clock::now();
    DemucsRuntimeManager::shared().cancelPendingInstall();
    caller.join();
    EXPECT_EQ(error, DemucsRuntimeTexts::cancelled);
    ASSERT_TRUE(failedAt);
    EXPECT_LT(*failedAt - cancelledAt, std::chrono::seconds(3));
    EXPECT_FALSE(std::filesystem::exists(root / "active.json"));

    // A failed download says so, and a later demand starts a fresh task.
    server.dropStalledConnections();
    server.release();
    try {
        DemucsRuntimeManager::shared().readyRuntime();
    } catch (const DemucsRuntimeError& failure) {
        ADD_FAILURE() << failure.what();
    }
    EXPECT_TRUE(std::filesystem::exists(root / "active.json"));
}

// A run cancelled during the first install, and the next run asking at once: the next run
// gets its own install, not the cancelled one's failure.
TEST_F(RuntimeDownload, CallerAfterACancelStartsAFreshInstall)
{
    server.stallAt(package.size() / 2);
    std::string cancelledError;
    std::thread cancelled([&] {
        try {
            DemucsRuntimeManager::shared().readyRuntime();
        } catch (const DemucsRuntimeError& failure) {
            cancelledError = failure.what();
        }
    });
    ASSERT_TRUE(server.waitUntilStalled());
    DemucsRuntimeManager::shared().cancelPendingInstall();
    std::optional<DemucsRuntimeHandle> handle;
    std::string nextError;
    std::thread next([&] {
        try {
            handle = DemucsRuntimeManager::shared().readyRuntime();
        } catch (const DemucsRuntimeError& failure) {
            nextError = failure.what();
        }
    });
    cancelled.join();
    EXPECT_EQ(cancelledError, DemucsRuntimeTexts::cancelled);
    server.release();
    next.join();
    EXPECT_EQ(nextError, "");
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->version, DemucsRuntimePackage::builtVersion());

    // A caller whose run is already over starts nothing.
    std::filesystem::remove_all(root);
    std::stop_source over;
    over.request_stop();
    const int requests = server.getCount();
    EXPECT_THROW(DemucsRuntimeManager::shared().readyRuntime({}, over.get_token()), DemucsRuntimeError);
    EXPECT_EQ(server.getCount(), requests);
    EXPECT_FALSE(std::filesystem::exists(root / "active.json"));
}

TEST_F(RuntimeDownload, UnreachableServerIsADownloadFailure)
{
    ScopedEnvironment nowhere {DemucsRuntimePackage::urlVariable, "http://127.0.0.1:1/package.tar.gz"};
    try {
        DemucsRuntimeManager::shared().readyRuntime();
        ADD_FAILURE() << "installed";
    } catch (const DemucsRuntimeError& error) {
        EXPECT_STREQ(error.what(), DemucsRuntimeTexts::downloadFailed);
    }
    EXPECT_FALSE(std::filesystem::exists(root / "active.json"));
}

TEST_F(RuntimeDownload, ServerWithNoLengthIsStoppedAtThePackageSizeAndNothingStays)
{
    server.sendEndlessly();
    std::uint64_t largest = 0;
    std::string error;
    try {
        DemucsRuntimeManager::shared().readyRuntime([&](std::int64_t done, std::int64_t) {
            largest = std::max(largest, static_cast<std::uint64_t>(done));
        });
    } catch (const DemucsRuntimeError& failure) {
        error = failure.what();
    }
    EXPECT_EQ(error, DemucsRuntimeTexts::digestMismatch);
    // What was on disk never grew past the package, and the refused download left nothing.
    EXPECT_LE(largest, package.size());
    EXPECT_EQ(listTree(Layout::downloadsFolder(root)), std::vector<std::string> {});
    EXPECT_FALSE(std::filesystem::exists(root / "active.json"));
    EXPECT_EQ(server.getCount(), 1);
}

TEST_F(RuntimeDownload, FullDiskSaysSoAndFreesWhatTheDownloadTook)
{
    // A file size limit, half the package, stands in for the disk filling up under curl.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto savedHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = package.size() / 2;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::string error = installFailure();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, savedHandler);

    EXPECT_EQ(error, DemucsRuntimeTexts::diskFull);
    EXPECT_EQ(listTree(Layout::downloadsFolder(root)), std::vector<std::string> {});
    EXPECT_FALSE(std::filesystem::exists(root / "active.json"));
}

TEST_F(RuntimeDownload, InterruptedDownloadStaysOnlyWhereItCanBeResumed)
{
    const auto partial = Layout::downloadsFolder(root) / (DemucsRuntimePackage::builtArchiveSha256() + std::string(".partial"));
    // The server announces the package's length: what arrived is kept for the next attempt.
    server.stallAt(package.size() / 2);
    std::thread dropper([&] {
        if (server.waitUntilStalled())
            server.dropStalledConnections();
    });
    EXPECT_EQ(installFailure(), DemucsRuntimeTexts::downloadFailed);
    dropper.join();
    EXPECT_TRUE(std::filesystem::exists(partial));
    EXPECT_LE(std::filesystem::file_size(partial), package.size() / 2);
}

} // namespace
} // namespace fotivela
