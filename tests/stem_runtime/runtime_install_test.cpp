#include "platform/file_url.h"
#include "stem_runtime/demucs_runtime_digest.h"
#include "stem_runtime/demucs_runtime_install_state.h"
#include "stem_runtime/demucs_runtime_installer.h"
#include "stem_runtime/demucs_runtime_manager.h"
#include "stem_runtime/demucs_runtime_production_io.h"
#include "stem_runtime/demucs_runtime_texts.h"
#include "stem_runtime/runtime_package_fixture.h"
#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

namespace fotivela {
namespace {

using namespace test;
using DemucsRuntimeInstaller::ensureRuntime;
using Clock = std::chrono::steady_clock;
namespace Layout = DemucsRuntimeInstallLayout;

// A fresh root with a first runtime already active, to see that failures leave it so.
class RuntimeInstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = folder / "DemucsRuntime";
        firstSource = writePackage(folder / "first.tar.gz", samplePackage("test-1"), "test-1");
        previous = ensureRuntime(root, firstSource, {}, {});
        previousRecord = DemucsRuntimeInstallState::readActiveRecord(root);
        ASSERT_TRUE(previousRecord);
    }

    void expectPreviousStillActive()
    {
        EXPECT_EQ(DemucsRuntimeInstallState::readActiveRecord(root), previousRecord);
        EXPECT_EQ(entryNames(Layout::versionsFolder(root)), std::vector<std::string> {previousRecord->folder});
        EXPECT_EQ(listTree(Layout::stagingFolder(root)), std::vector<std::string> {});
        EXPECT_TRUE(DemucsRuntimeInstallState::verifiedActiveRuntime(root, previousRecord->archiveSha256));
    }

    AudioTestFolder folder {"fotivela-runtime-install"};
    std::filesystem::path root;
    DemucsRuntimePackageSource firstSource;
    DemucsRuntimeHandle previous;
    std::optional<DemucsRuntimeActiveRecord> previousRecord;
};

TEST_F(RuntimeInstall, InstallsAVerifiedRuntimeAndAnswersItAgainWithoutReinstalling)
{
    EXPECT_EQ(previous.version, "test-1");
    EXPECT_EQ(previous.modelName, "htdemucs");
    EXPECT_EQ(previous.executableURL.parent_path().parent_path(), Layout::versionsFolder(root) / previousRecord->folder);
    EXPECT_TRUE(std::filesystem::is_directory(previous.cacheURL));
    EXPECT_TRUE(std::filesystem::is_regular_file(previous.modelRepositoryURL / "htdemucs.json"));
    EXPECT_TRUE(std::filesystem::is_regular_file(
        previous.executableURL.parent_path().parent_path() / ".duskmere-demucs-install.json"));
    const auto ran = DemucsRuntimeProductionIO::runProcess(previous.executableURL, {"-n", "htdemucs"},
        {{"PATH", "/usr/bin:/bin"}}, 30.0, {}, 4096, {});
    EXPECT_EQ(ran.output, "runtime test-1 -n htdemucs\n");

    // The same package again: the same folder, untouched.
    const auto markerTime = std::filesystem::last_write_time(previous.executableURL);
    const auto again = ensureRuntime(root, firstSource, {}, {});
    EXPECT_EQ(again, previous);
    EXPECT_EQ(std::filesystem::last_write_time(previous.executableURL), markerTime);

    // A newer package replaces it, and the older folder goes.
    const auto second = ensureRuntime(root, writePackage(folder / "second.tar.gz", samplePackage("test-2"), "test-2"), {}, {});
    EXPECT_EQ(second.version, "test-2");
    EXPECT_EQ(entryNames(Layout::versionsFolder(root)).size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(previous.executableURL));
}

TEST_F(RuntimeInstall, DamagedActiveInstallIsReinstalled)
{
    const auto& source = firstSource;
    auto script = readFile(previous.executableURL);
    script[script.size() - 2] = 'X';
    writeFile(previous.executableURL, script);
    ASSERT_FALSE(DemucsRuntimeInstallState::verifiedActiveRuntime(root, source.sha256));

    const auto repaired = ensureRuntime(root, source, {}, {});
    EXPECT_NE(repaired.executableURL, previous.executableURL);
    EXPECT_EQ(readFile(repaired.executableURL), samplePayload("test-1")[1].content);

    // A lost executable bit counts as damage too.
    ::chmod(repaired.executableURL.c_str(), 0600);
    EXPECT_NE(ensureRuntime(root, source, {}, {}).executableURL, repaired.executableURL);
}

struct BadPackage {
    const char* name;
    std::string bytes;
    std::string sha256; // empty: the digest of bytes
    std::string version;
    const char* expectedText;
};

std::vector<ArchiveEntry> withManifest(std::vector<ArchiveEntry> payload, const std::string& version)
{
    payload.insert(payload.begin(), manifestEntry(payload, version));
    return payload;
}

// absoluteTarget: where an entry with an absolute path would land if it were followed.
std::vector<BadPackage> badPackages(const std::filesystem::path& absoluteTarget)
{
    std::vector<BadPackage> cases;
    const std::string good = samplePackage("test-2");

    std::string tampered = good;
    tampered[tampered.size() / 2] ^= 0x20;
    cases.push_back({"tampered byte", tampered, DemucsRuntimeDigest::sha256Hex(good), "test-2", DemucsRuntimeTexts::digestMismatch});
    cases.push_back({"digest of another package", good, DemucsRuntimeDigest::sha256Hex(samplePackage("test-3")), "test-2",
        DemucsRuntimeTexts::digestMismatch});
    const std::string unpadded = makeTarGz(withManifest(samplePayload("test-2"), "test-2"), false);
    EXPECT_LT(unpadded.size(), good.size());
    for (std::size_t cut : {unpadded.size() / 2, unpadded.size() - 1})
        cases.push_back({"truncated archive", unpadded.substr(0, cut), "", "test-2", DemucsRuntimeTexts::archiveDamaged});
    cases.push_back({"data after the archive", unpadded + "trailing", "", "test-2", DemucsRuntimeTexts::archiveDamaged});
    cases.push_back({"not an archive", "just some text", "", "test-2", DemucsRuntimeTexts::archiveDamaged});
    cases.push_back({"version the program does not expect", good, "", "test-9", DemucsRuntimeTexts::wrongVersion});

    auto payload = samplePayload("test-2");
    auto otherModel = payload;
    otherModel[3].content = "{\"version\": \"test-7\"}";
    cases.push_back({"model of another version", makeTarGz(withManifest(otherModel, "test-2")), "", "test-2",
        DemucsRuntimeTexts::wrongVersion});

    auto extra = withManifest(payload, "test-2");
    extra.push_back({"bin/helper", "#!/bin/sh\n"});
    cases.push_back({"file the manifest does not name", makeTarGz(extra), "", "test-2", DemucsRuntimeTexts::manifestMismatch});

    auto missing = withManifest(payload, "test-2");
    missing.pop_back();
    cases.push_back({"file the manifest names is missing", makeTarGz(missing), "", "test-2",
        DemucsRuntimeTexts::manifestMismatch});

    auto changed = withManifest(payload, "test-2");
    changed[2].content += "# one more line\n";
    cases.push_back({"file differs from the manifest", makeTarGz(changed), "", "test-2", DemucsRuntimeTexts::manifestMismatch});

    auto noManifest = payload;
    cases.push_back({"no manifest", makeTarGz(noManifest), "", "test-2", DemucsRuntimeTexts::manifestMismatch});

    for (const auto& [name, entry] : std::vector<std::pair<const char*, ArchiveEntry>> {
             {"parent path", {"../escaped.txt", "x"}},
             {"nested parent path", {"model/../../escaped.txt", "x"}},
             {"absolute path", {absoluteTarget.string(), "x"}},
             {"link out of the folder", {"model/escape", "/etc", ArchiveEntry::Kind::symlink}},
             {"hard link", {"model/copy", "bin/fotivela-stem-separator", ArchiveEntry::Kind::hardlink}},
             {"repeated entry", {"model/htdemucs.json", "{\"version\": \"test-2\"}"}},
         }) {
        auto unsafe = withManifest(payload, "test-2");
        unsafe.push_back(entry);
        cases.push_back({name, makeTarGz(unsafe), "", "test-2", DemucsRuntimeTexts::unsafeEntry});
    }
    return cases;
}

TEST_F(RuntimeInstall, EveryRejectedPackageLeavesTheEarlierRuntimeActive)
{
    for (auto& bad : badPackages(folder / "absolute.txt")) {
        SCOPED_TRACE(bad.name);
        auto source = writePackage(folder / "bad.tar.gz", bad.bytes, bad.version);
        if (!bad.sha256.empty())
            source.sha256 = bad.sha256;
        try {
            ensureRuntime(root, source, {}, {});
            ADD_FAILURE() << "installed";
        } catch (const DemucsRuntimeError& error) {
            EXPECT_STREQ(error.what(), bad.expectedText);
        }
        expectPreviousStillActive();
        EXPECT_FALSE(std::filesystem::exists(folder / "escaped.txt"));
        EXPECT_FALSE(std::filesystem::exists(root / "escaped.txt"));
        EXPECT_FALSE(std::filesystem::exists(folder / "absolute.txt"));
    }
}

TEST(RuntimeInstallFirst, RejectedPackageWithNothingInstalledLeavesNothingActive)
{
    AudioTestFolder folder("fotivela-runtime-install");
    const auto root = folder / "DemucsRuntime";
    auto source = writePackage(folder / "bad.tar.gz", samplePackage("test-1"), "test-1");
    source.sha256 = DemucsRuntimeDigest::sha256Hex("something else");
    EXPECT_THROW(ensureRuntime(root, source, {}, {}), DemucsRuntimeError);
    source.url = fileUrlString(folder / "missing.tar.gz");
    try {
        ensureRuntime(root, source, {}, {});
        ADD_FAILURE() << "installed";
    } catch (const DemucsRuntimeError& error) {
        EXPECT_STREQ(error.what(), DemucsRuntimeTexts::packageMissing);
    }
    EXPECT_FALSE(std::filesystem::exists(root / "active.json"));
    EXPECT_EQ(listTree(Layout::versionsFolder(root)), std::vector<std::string> {});

    // A runtime folder that is a link leads nowhere: nothing is written through it.
    const auto elsewhere = folder / "elsewhere";
    const auto linked = folder / "linked";
    std::filesystem::create_directory(elsewhere);
    std::filesystem::create_directory_symlink(elsewhere, linked);
    const auto good = writePackage(folder / "good.tar.gz", samplePackage("test-1"), "test-1");
    try {
        ensureRuntime(linked, good, {}, {});
        ADD_FAILURE() << "installed through a link";
    } catch (const DemucsRuntimeError& error) {
        EXPECT_STREQ(error.what(), DemucsRuntimeTexts::installFailed);
    }
    EXPECT_EQ(listTree(elsewhere), std::vector<std::string> {});
}

TEST_F(RuntimeInstall, InstallWaitsForAnotherProcessHoldingTheLock)
{
    const auto source = writePackage(folder / "second.tar.gz", samplePackage("test-2"), "test-2");
    const auto acquired = folder / "acquired";
    const auto release = folder / "release";
    std::optional<Clock::time_point> releasedAt;
    std::thread holder([&] {
        DemucsRuntimeProductionIO::runProcess("/usr/bin/flock",
            {(root / "install.lock").string(), "/bin/sh", "-c",
                "touch \"$0\"; while [ ! -e \"$1\" ]; do sleep 0.05; done", acquired.string(), release.string()},
            {{"PATH", "/usr/bin:/bin"}}, 60.0, {}, 4096, {});
        releasedAt = Clock::now();
    });
    while (!std::filesystem::exists(acquired))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    // A stop request ends the wait for the lock.
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop.request_stop();
    });
    try {
        ensureRuntime(root, source, {}, stop.get_token());
        ADD_FAILURE() << "installed while another process held the lock";
    } catch (const DemucsRuntimeError& error) {
        EXPECT_STREQ(error.what(), DemucsRuntimeTexts::cancelled);
    }
    stopper.join();
    expectPreviousStillActive();

    std::optional<Clock::time_point> installedAt;
    std::thread installer([&] {
        ensureRuntime(root, source, {}, {});
        installedAt = Clock::now();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(installedAt);
    writeFile(release, "");
    holder.join();
    installer.join();
    ASSERT_TRUE(installedAt && releasedAt);
    EXPECT_GE(*installedAt, *releasedAt);
    EXPECT_EQ(DemucsRuntimeInstallState::readActiveRecord(root)->version, "test-2");
}

// Run in a child process by the test below, with a file size limit standing in for a full disk.
TEST(RuntimeInstallChild, InstallsUnderAFileSizeLimit)
{
    const char* root = std::getenv("FOTIVELA_TEST_CHILD_ROOT");
    if (!root)
        GTEST_SKIP() << "runs only as the child of FullDiskLeavesNothingActive";
    ::signal(SIGXFSZ, SIG_IGN);
    try {
        ensureRuntime(root, DemucsRuntimePackage::shippedSource(), {}, {});
        std::printf("installed\n");
    } catch (const DemucsRuntimeError& error) {
        std::printf("error: %s\n", error.what());
    }
}

TEST(RuntimeInstallFirst, FullDiskLeavesNothingActiveAndSaysSo)
{
    AudioTestFolder folder("fotivela-runtime-install");
    const auto root = folder / "DemucsRuntime";
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    std::map<std::string, std::string> environment {{"PATH", "/usr/bin:/bin"}, {"FOTIVELA_TEST_CHILD_ROOT", root.string()},
        {"ASAN_OPTIONS", "detect_leaks=0"}, {"QT_QPA_PLATFORM", "offscreen"},
        {"TMPDIR", std::filesystem::temp_directory_path().string()}};
    // No room for the package's largest file unpacked, whatever this build's separator weighs.
    const std::uint64_t largest = largestEntrySize(readFile(DemucsRuntimePackage::builtArchivePath()));
    ASSERT_GT(largest, 1u);
    const std::uint64_t limit = largest / 2;
    const auto result = DemucsRuntimeProductionIO::runProcess("/usr/bin/prlimit",
        {"--fsize=" + std::to_string(limit), self.string(), "--gtest_filter=RuntimeInstallChild.*"}, environment, 120.0,
        {}, 65536, {});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find(std::string("error: ") + DemucsRuntimeTexts::diskFull), std::string::npos) << result.output;
    EXPECT_FALSE(std::filesystem::exists(root / "active.json"));
    EXPECT_EQ(listTree(Layout::versionsFolder(root)), std::vector<std::string> {});
    EXPECT_EQ(listTree(Layout::stagingFolder(root)), std::vector<std::string> {});
}

TEST_F(RuntimeInstall, PackageThatIsAFifoIsRefusedWithoutWaitingForAWriter)
{
    const auto fifo = folder / "package.tar.gz";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto second = writePackage(folder / "second.tar.gz", samplePackage("test-2"), "test-2");
    for (const std::string& url : {fileUrlString(fifo), fifo.string()}) {
        std::promise<std::string> answer;
        auto answered = answer.get_future();
        std::thread installer([&] {
            try {
                ensureRuntime(root, {url, second.sha256, "test-2"}, {}, {});
                answer.set_value("installed");
            } catch (const DemucsRuntimeError& error) {
                answer.set_value(error.what());
            }
        });
        const bool inTime = answered.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
        // A stuck open() is let go by a writer, so that the test can end.
        for (int i = 0; !inTime && i < 100; ++i) {
            const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) {
                ::close(writer);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        installer.join();
        EXPECT_TRUE(inTime) << url;
        EXPECT_EQ(answered.get(), DemucsRuntimeTexts::packageMissing) << url;
        expectPreviousStillActive();
    }
}

} // namespace
} // namespace fotivela
