#include "platform/atomic_file.h"
#include "platform/duskmere_storage.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace fotivela;
namespace fs = std::filesystem;

namespace {

// A fresh folder per test, removed afterwards, with the environment put back.
class StorageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_root = fs::temp_directory_path() / ("fotivela-storage-test-" + std::to_string(::getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root);
        save("DUSKMERE_TEST_ROOT");
        save("XDG_DATA_HOME");
        save("HOME");
    }

    void TearDown() override
    {
        for (const auto& [name, value] : m_saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        fs::remove_all(m_root);
    }

    const fs::path& root() const { return m_root; }

    static std::string read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static mode_t modeOf(const fs::path& path)
    {
        struct stat info {};
        ::stat(path.c_str(), &info);
        return info.st_mode & 07777;
    }

    std::size_t entryCount(const fs::path& folder) const
    {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }

private:
    void save(const char* name)
    {
        const char* value = std::getenv(name);
        m_saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }

    fs::path m_root;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

} // namespace

TEST_F(StorageTest, SuiteFolderFollowsTheTestRootOrTheDataHome)
{
    ::setenv("XDG_DATA_HOME", (root() / "data").c_str(), 1);
    ::setenv("DUSKMERE_TEST_ROOT", "", 1);
    EXPECT_EQ(DuskmereStorage::suiteDirectory(), root() / "data" / "com.quenbarrow.orvelant");
    ::unsetenv("DUSKMERE_TEST_ROOT");
    EXPECT_EQ(DuskmereStorage::suiteDirectory(), root() / "data" / "com.quenbarrow.orvelant");

    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", (root() / "home").c_str(), 1);
    EXPECT_EQ(DuskmereStorage::suiteDirectory(), root() / "home" / ".local" / "share" / "com.quenbarrow.orvelant");

    ::setenv("DUSKMERE_TEST_ROOT", "/tmp/x", 1);
    EXPECT_EQ(DuskmereStorage::suiteDirectory(), fs::path("/tmp/x"));
    ::setenv("DUSKMERE_TEST_ROOT", "rel/~x", 1);
    EXPECT_EQ(DuskmereStorage::suiteDirectory(), fs::current_path() / "rel" / "~x");
}

TEST_F(StorageTest, TemporaryFolderIsCreatedPrivateAndRecreatedWhenDeleted)
{
    ::setenv("DUSKMERE_TEST_ROOT", (root() / "suite").c_str(), 1);
    const mode_t previous = ::umask(0);
    const auto folder = DuskmereStorage::temporaryDirectory();
    ::umask(previous);
    EXPECT_EQ(folder, root() / "suite" / "Fotivela" / "Temporary");
    for (const auto& created : {root() / "suite", root() / "suite" / "Fotivela", folder}) {
        ASSERT_TRUE(fs::is_directory(created)) << created;
        EXPECT_EQ(modeOf(created), 0700u) << created;
    }

    fs::remove_all(folder);
    EXPECT_TRUE(fs::is_directory(DuskmereStorage::temporaryDirectory()));

    // An existing folder keeps its mode.
    ::chmod(folder.c_str(), 0755);
    DuskmereStorage::temporaryDirectory();
    EXPECT_EQ(modeOf(folder), 0755u);
}

TEST_F(StorageTest, TemporaryFolderFailureIsSilent)
{
    ::setenv("DUSKMERE_TEST_ROOT", (root() / "suite").c_str(), 1);
    fs::create_directories(root() / "suite");
    std::ofstream(root() / "suite" / "Fotivela") << "in the way";
    EXPECT_EQ(DuskmereStorage::temporaryDirectory(), root() / "suite" / "Fotivela" / "Temporary");
    EXPECT_FALSE(fs::exists(root() / "suite" / "Fotivela" / "Temporary"));
}

TEST_F(StorageTest, AtomicWriteReplacesTheFileWithTheGivenMode)
{
    const auto target = root() / "Viaje.fotivela";
    std::ofstream(target) << "old";
    ::chmod(target.c_str(), 0644);
    atomicWriteFile(target, "new contents");
    EXPECT_EQ(read(target), "new contents");
    EXPECT_EQ(modeOf(target), 0600u);
    atomicWriteFile(root() / "list.json", std::string(1 << 20, 'x'), 0640);
    EXPECT_EQ(fs::file_size(root() / "list.json"), 1u << 20);
    EXPECT_EQ(modeOf(root() / "list.json"), 0640u);
    EXPECT_EQ(entryCount(root()), 2u);
}

TEST_F(StorageTest, FailedWritesLeaveTheOldFileAndNoTemporary)
{
    EXPECT_THROW(atomicWriteFile(root() / "missing" / "a.json", "x"), FileWriteError);

    // A folder in the target's place: the rename fails after the data was written.
    fs::create_directories(root() / "taken" / "inside");
    EXPECT_THROW(atomicWriteFile(root() / "taken", "x"), FileWriteError);
    EXPECT_TRUE(fs::is_directory(root() / "taken" / "inside"));
    EXPECT_EQ(entryCount(root()), 1u);
}

TEST_F(StorageTest, AFullDiskFailsTheWriteAndKeepsTheOldFile)
{
    const auto target = root() / "project.fotivela";
    std::ofstream(target) << "old";

    // A file size limit makes write() fail with EFBIG as a full disk fails with ENOSPC.
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous {};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    try {
        atomicWriteFile(target, std::string(100000, 'x'));
        ADD_FAILURE() << "the write succeeded";
    } catch (const FileWriteError& e) {
        EXPECT_EQ(e.errorNumber(), EFBIG);
        EXPECT_EQ(e.target(), target);
    }
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(read(target), "old");
    EXPECT_EQ(entryCount(root()), 1u);
}
