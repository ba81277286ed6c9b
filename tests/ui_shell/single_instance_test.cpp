// The single-instance guard: one running program per user, reached only by the same user.

#include "ui/shell/single_instance.h"

#include "support/scoped_environment.h"

#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

using namespace fotivela;

namespace {

// A private folder of its own for each guard, as the runtime folder is.
class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "fotivela-instance-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    // Claims from another thread, as a second start would, while this thread runs the first.
    std::thread claimElsewhere(const QStringList& arguments, SingleInstance::Role& role,
                               std::chrono::milliseconds patience = std::chrono::seconds(30))
    {
        return std::thread([this, arguments, &role, patience] {
            SingleInstance second(m_folder);
            role = second.claim(arguments, patience);
        });
    }

    std::filesystem::path m_folder;
};

TEST_F(SingleInstanceTest, ASecondStartHandsItsArgumentsToTheFirstEvenWhenTheFirstIsSlow)
{
    SingleInstance first(m_folder);
    ASSERT_EQ(first.claim({}), SingleInstance::Role::primary);
    QSignalSpy received(&first, &SingleInstance::argumentsReceived);

    auto role = SingleInstance::Role::failed;
    std::thread second = claimElsewhere({QStringLiteral("/tmp/x.fotivela"), QStringLiteral("fotivela://a")}, role);
    // The first instance is busy for a while before its event loop reads the socket.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 20000);
    second.join();
    EXPECT_EQ(role, SingleInstance::Role::forwarded);
    EXPECT_EQ(received.at(0).at(0).toStringList(),
              (QStringList{QStringLiteral("/tmp/x.fotivela"), QStringLiteral("fotivela://a")}));
}

TEST_F(SingleInstanceTest, ARunningInstanceThatNeverAnswersIsNotReplaced)
{
    SingleInstance first(m_folder);
    ASSERT_EQ(first.claim({}), SingleInstance::Role::primary);
    // No event loop runs here: the second start gives up without becoming the running instance.
    auto role = SingleInstance::Role::primary;
    claimElsewhere({}, role, std::chrono::milliseconds(1500)).join();
    EXPECT_EQ(role, SingleInstance::Role::failed);
    EXPECT_TRUE(std::filesystem::exists(first.socketPath()));
}

TEST_F(SingleInstanceTest, ASocketThatStillAnswersIsNeverRemoved)
{
    // A program that listens without holding the guard (an older one): it keeps its socket and
    // gets the arguments.
    QLocalServer older;
    ASSERT_TRUE(older.listen(QString::fromStdString((m_folder / "fotivela.socket").string())));
    QByteArray got;
    QObject::connect(&older, &QLocalServer::newConnection, [&] {
        QLocalSocket* socket = older.nextPendingConnection();
        QObject::connect(socket, &QLocalSocket::readyRead, [&got, socket] {
            got += socket->readAll();
            socket->write("ok");
            socket->flush();
        });
    });
    auto role = SingleInstance::Role::failed;
    std::thread second = claimElsewhere({QStringLiteral("/tmp/y.fotivela")}, role);
    QTRY_VERIFY_WITH_TIMEOUT(!got.isEmpty(), 20000);
    second.join();
    EXPECT_EQ(role, SingleInstance::Role::forwarded);
    EXPECT_TRUE(older.isListening());
    EXPECT_TRUE(std::filesystem::exists(m_folder / "fotivela.socket"));

    // Once it is gone, a socket left behind is replaced.
    older.close();
    ::close(::open((m_folder / "fotivela.socket").c_str(), O_CREAT | O_WRONLY, 0600));
    SingleInstance next(m_folder);
    EXPECT_EQ(next.claim({}), SingleInstance::Role::primary);
}

TEST_F(SingleInstanceTest, TheGuardLivesInThePrivateRuntimeFolderNeverInTheSharedOne)
{
    // Scoped, so that a failed assertion leaves no variable behind for the next test.
    const fotivela::testing::ScopedEnvironment runtime("XDG_RUNTIME_DIR", std::nullopt);
    const fotivela::testing::ScopedEnvironment cache("XDG_CACHE_HOME", (m_folder / "cache").string());
    const fotivela::testing::ScopedEnvironment temporary("TMPDIR", (m_folder / "shared").string());

    std::filesystem::create_directories(m_folder / "private");
    std::filesystem::permissions(m_folder / "private", std::filesystem::perms::owner_all);
    std::filesystem::create_directories(m_folder / "shared");
    std::filesystem::permissions(m_folder / "shared", std::filesystem::perms::all);

    // Beside the runtime folder, one for this machine in the cache folder, which starts without
    // the variable find too.
    setenv("XDG_RUNTIME_DIR", (m_folder / "private").c_str(), 1);
    const std::vector<std::filesystem::path> folders = SingleInstance::guardFolders();
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[0], m_folder / "private");
    EXPECT_EQ(folders[1].parent_path(), m_folder / "cache" / "fotivela");
    // A runtime folder other users may enter is not used, nor is TMPDIR.
    setenv("XDG_RUNTIME_DIR", (m_folder / "shared").c_str(), 1);
    EXPECT_EQ(SingleInstance::guardFolders(), std::vector<std::filesystem::path>{folders[1]});
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(SingleInstance::guardFolders(), std::vector<std::filesystem::path>{folders[1]});
    for (const std::filesystem::path& folder : {folders[1], folders[1].parent_path()}) {
        struct stat info {};
        ASSERT_EQ(::stat(folder.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u) << folder;
    }
}

// No XDG_RUNTIME_DIR (a sudo, a cron job) and a cache folder that is not private: the guard
// must still run somewhere private, or the start must know it runs without one.
TEST_F(SingleInstanceTest, WithoutARuntimeFolderOrAPrivateCacheTheGuardFindsAnotherPrivateFolder)
{
    const fotivela::testing::ScopedEnvironment runtime("XDG_RUNTIME_DIR", std::nullopt);
    const fotivela::testing::ScopedEnvironment cache("XDG_CACHE_HOME", (m_folder / "cache").string());
    const fotivela::testing::ScopedEnvironment suite("DUSKMERE_TEST_ROOT", (m_folder / "suite").string());
    const auto isPrivate = [](const std::filesystem::path& folder) {
        struct stat info {};
        return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid()
            && (info.st_mode & 0777) == 0700;
    };

    // The cache's "fotivela" is a link to a folder others may enter.
    std::filesystem::create_directories(m_folder / "cache");
    std::filesystem::create_directories(m_folder / "open");
    std::filesystem::permissions(m_folder / "open", std::filesystem::perms::all);
    std::filesystem::create_directory_symlink(m_folder / "open", m_folder / "cache" / "fotivela");

    const std::vector<std::filesystem::path> folders = SingleInstance::guardFolders();
    ASSERT_EQ(folders.size(), 1u) << "the guard turned itself off";
    const std::filesystem::path folder = folders[0];
    EXPECT_TRUE(isPrivate(folder)) << folder;
    EXPECT_NE(folder.parent_path(), m_folder / "cache" / "fotivela");
    EXPECT_EQ(std::filesystem::perms(std::filesystem::status(m_folder / "open").permissions()), std::filesystem::perms::all)
        << "a folder behind a link is never changed";
    {
        SingleInstance first(folder);
        EXPECT_EQ(first.claim({}), SingleInstance::Role::primary);
        QSignalSpy received(&first, &SingleInstance::argumentsReceived);
        SingleInstance::Role second = SingleInstance::Role::failed;
        std::thread other([&] { second = SingleInstance(folder).claim({QStringLiteral("b.fotivela")}, std::chrono::seconds(30)); });
        EXPECT_TRUE(received.wait(30000));
        other.join();
        EXPECT_EQ(second, SingleInstance::Role::forwarded);
    }

    // With no private folder anywhere, the start knows that it runs unguarded.
    const std::filesystem::path session = "/run/user/" + std::to_string(::getuid());
    if (!isPrivate(session)) {
        std::filesystem::remove_all(m_folder / "suite");
        std::filesystem::create_directories(m_folder / "suite" / "Fotivela");
        std::filesystem::create_directory_symlink(m_folder / "open", m_folder / "suite" / "Fotivela" / "Instance");
        const std::vector<std::filesystem::path> none = SingleInstance::guardFolders();
        EXPECT_TRUE(none.empty()) << none.size();
        EXPECT_EQ(SingleInstance(none).claim({}), SingleInstance::Role::unguarded);
    }
}

// sudo, cron, ssh and some launchers start the program without XDG_RUNTIME_DIR, or with another
// one: each start must still find the running program, in whichever order they come.
TEST_F(SingleInstanceTest, StartsWithAndWithoutTheRuntimeVariableFindTheSameRunningProgram)
{
    const fotivela::testing::ScopedEnvironment cache("XDG_CACHE_HOME", (m_folder / "cache").string());
    const fotivela::testing::ScopedEnvironment runtime("XDG_RUNTIME_DIR", std::nullopt);
    for (const char* name : {"run", "otro-run"}) {
        std::filesystem::create_directories(m_folder / name);
        std::filesystem::permissions(m_folder / name, std::filesystem::perms::owner_all);
    }
    const auto foldersWith = [this](const char* runtimeFolder) {
        runtimeFolder ? setenv("XDG_RUNTIME_DIR", (m_folder / runtimeFolder).c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
        return SingleInstance::guardFolders();
    };
    const std::pair<const char*, const char*> orders[] = {{"run", nullptr}, {nullptr, "run"}, {"run", "otro-run"}};
    for (const auto& [firstRuntime, secondRuntime] : orders) {
        SCOPED_TRACE(std::string(firstRuntime ? firstRuntime : "none") + " then " + (secondRuntime ? secondRuntime : "none"));
        SingleInstance first(foldersWith(firstRuntime));
        ASSERT_EQ(first.claim({}), SingleInstance::Role::primary);
        QSignalSpy received(&first, &SingleInstance::argumentsReceived);
        auto role = SingleInstance::Role::primary;
        std::thread second([&role, folders = foldersWith(secondRuntime)] {
            role = SingleInstance(folders).claim({QStringLiteral("/tmp/z.fotivela")}, std::chrono::seconds(30));
        });
        EXPECT_TRUE(received.wait(30000));
        second.join();
        EXPECT_EQ(role, SingleInstance::Role::forwarded);
        ASSERT_EQ(received.count(), 1);
        EXPECT_EQ(received.at(0).at(0).toStringList(), QStringList{QStringLiteral("/tmp/z.fotivela")});
    }
}

// A home on a read-only disk, where an earlier start left the guard's folder: starts with and
// without the runtime folder still make one program, and where no lock can be held the start knows.
TEST_F(SingleInstanceTest, AGuardFolderOnAReadOnlyDiskStillStopsASecondProgram)
{
    const std::filesystem::path runtime = m_folder / "run", home = m_folder / "home";
    for (const auto& folder : {runtime, home, home / "empty"}) {
        std::filesystem::create_directories(folder);
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    }
    ::close(::open((home / "fotivela.lock").c_str(), O_CREAT | O_WRONLY, 0600));
    // Permission bits stop no root: only a read-only mount makes the folder read-only for everyone.
    if (::mount(home.c_str(), home.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind-mount here (needs root or CAP_SYS_ADMIN): " << std::strerror(errno);
    struct Unmount {
        std::filesystem::path folder;
        ~Unmount() { ::umount2(folder.c_str(), MNT_DETACH); }
    } const unmount{home};
    ASSERT_EQ(::mount(nullptr, home.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0) << std::strerror(errno);

    SingleInstance first(std::vector<std::filesystem::path>{runtime, home});
    ASSERT_EQ(first.claim({}), SingleInstance::Role::primary);
    // With the program's own patience: an answer that cannot come is not waited for.
    auto role = SingleInstance::Role::primary;
    const auto started = std::chrono::steady_clock::now();
    std::thread([&role, home] { role = SingleInstance(home).claim({}); }).join();
    EXPECT_EQ(role, SingleInstance::Role::failed) << "a second program runs beside the first";
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << "the second start did not end at once";

    // No lock file there, and none can be made.
    EXPECT_EQ(SingleInstance(home / "empty").claim({}), SingleInstance::Role::unguarded);
}

TEST_F(SingleInstanceTest, AnotherUserIsRefusedOnBothSides)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    // A folder another user may reach, so that the uid checks are all that stands between them.
    std::filesystem::permissions(m_folder, std::filesystem::perms::all);
    const std::string socketPath = (m_folder / "fotivela.socket").string();
    const auto connectAs = [&socketPath](uid_t) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
        return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? fd : -1;
    };

    // Server side: arguments from another user are dropped unanswered.
    {
        SingleInstance first(m_folder);
        ASSERT_EQ(first.claim({}), SingleInstance::Role::primary);
        std::filesystem::permissions(first.socketPath(), std::filesystem::perms::all);
        QSignalSpy received(&first, &SingleInstance::argumentsReceived);
        std::fflush(nullptr);
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setuid(65534) != 0)
                ::_exit(90);
            const int fd = connectAs(65534);
            if (fd < 0)
                ::_exit(91);
            QByteArray message;
            QDataStream stream(&message, QIODevice::WriteOnly);
            stream << QStringList{QStringLiteral("fotivela://auth?token=robado")};
            [[maybe_unused]] const ssize_t sent = ::write(fd, message.constData(), static_cast<size_t>(message.size()));
            char answer[2] = {};
            // Nothing comes back: the connection is closed.
            ::_exit(::read(fd, answer, sizeof answer) <= 0 ? 0 : 92);
        }
        int status = 0;
        while (::waitpid(child, &status, WNOHANG) == 0)
            QTest::qWait(50);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        QTest::qWait(200);
        EXPECT_EQ(received.count(), 0);
    }

    // Client side: a socket another user listens on (with the guard file held) gets nothing.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setuid(65534) != 0)
            ::_exit(90);
        ::unlink((m_folder / "fotivela.lock").c_str());
        const int lock = ::open((m_folder / "fotivela.lock").c_str(), O_RDWR | O_CREAT, 0666);
        if (lock < 0 || ::flock(lock, LOCK_EX) != 0)
            ::_exit(93);
        ::unlink(socketPath.c_str());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0)
            ::_exit(91);
        [[maybe_unused]] const ssize_t signalled = ::write(ready[1], "r", 1);
        const int client = ::accept(fd, nullptr, nullptr);
        char buffer[256];
        // "0" when the client closed without sending anything; the guard stays held until killed.
        const char verdict = ::read(client, buffer, sizeof buffer) <= 0 ? '0' : '1';
        [[maybe_unused]] const ssize_t reported = ::write(ready[1], &verdict, 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    SingleInstance second(m_folder);
    EXPECT_EQ(second.claim({QStringLiteral("fotivela://auth?token=robado")}, std::chrono::milliseconds(1500)),
              SingleInstance::Role::failed);
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_EQ(byte, '0') << "the arguments went to another user";
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

} // namespace
