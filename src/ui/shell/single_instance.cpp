#include "ui/shell/single_instance.h"

#include "platform/duskmere_storage.h"
#include "platform/log.h"

#include <QDataStream>
#include <QLocalSocket>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

namespace fotivela {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* lockName = "fotivela.lock";
constexpr const char* socketName = "fotivela.socket";

bool isPrivateFolderOfThisUser(const fs::path& folder)
{
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid()
        && (info.st_mode & 077) == 0;
}

// The socket's other end runs as this user; anything else gets nothing and gives nothing.
bool peerIsThisUser(qintptr descriptor)
{
    ucred credentials {};
    socklen_t length = sizeof credentials;
    return descriptor >= 0
        && ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0
        && credentials.uid == ::getuid();
}

// Unix socket names are short; a longer path could never be listened on.
constexpr std::size_t maximumSocketPath = sizeof(sockaddr_un::sun_path) - 1;

bool usableFolder(const fs::path& folder)
{
    return isPrivateFolderOfThisUser(folder) && (folder / socketName).string().size() <= maximumSocketPath;
}

// `folder`, created (with its parents) and made this user's private folder when that is
// possible; empty otherwise. A folder of another user or a link is never changed.
fs::path madePrivate(const fs::path& folder)
{
    DuskmereStorage::createPrivateDirectories(folder.parent_path());
    ::mkdir(folder.c_str(), 0700);
    struct stat info {};
    if (::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid())
        ::chmod(folder.c_str(), 0700);
    return usableFolder(folder) ? folder : fs::path();
}

// The guard's lock in `folder`. Read-only when an earlier start left it on a disk that is now
// read-only: flock() holds such a descriptor just as well. -1 when it cannot be opened: then that
// folder stops no other start.
int openLock(const fs::path& folder)
{
    const fs::path path = folder / lockName;
    int lock = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    const int writeError = errno;
    if (lock < 0)
        lock = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (lock < 0)
        logLine("Fotivela: cannot hold the single-instance guard in " + folder.string() + ": "
                + std::strerror(writeError) + "; starts that share only that folder do not find one another");
    return lock;
}

// Nothing can listen in a folder on a read-only disk, so a program holding its lock is out of reach there.
bool cannotHoldASocket(const fs::path& folder)
{
    return ::access(folder.c_str(), W_OK) != 0 && errno == EROFS;
}

int remainingMilliseconds(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1'000'000));
}

// A folder name for this machine: a home folder may be shared by several machines (NFS), whose
// programs must not take one another's guard, nor wait on a socket that lives elsewhere. The
// machine id stays when the host name changes (a DHCP lease may change it while the program runs).
std::string machineFolderName()
{
    for (const char* file : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        std::ifstream in(file);
        std::string id;
        if (in >> id && id.size() >= 12
            && std::all_of(id.begin(), id.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
            return id.substr(0, 12);
    }
    std::array<char, 256> buffer {};
    const std::string host = ::gethostname(buffer.data(), buffer.size() - 1) == 0 ? std::string(buffer.data()) : std::string();
    // FNV-1a: the socket's path has little room for a long name.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : host)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return std::string("h") + std::string(hex, 11);
}

// `base` and this machine's folder in it, both this user's private folders; empty otherwise.
fs::path machineFolderIn(const fs::path& base)
{
    if (madePrivate(base).empty())
        return {};
    return madePrivate(base / machineFolderName());
}

// The folder every start of this user on this machine finds, whatever its XDG_RUNTIME_DIR.
fs::path homeGuardFolder()
{
    fs::path cache;
    if (const char* configured = std::getenv("XDG_CACHE_HOME"); configured && configured[0] == '/')
        cache = configured;
    else if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        cache = fs::path(home) / ".cache";
    if (!cache.empty()) {
        if (fs::path made = machineFolderIn(cache / "fotivela"); !made.empty())
            return made;
        logLine("Fotivela: the cache folder is not private to this user; looking for another");
    }
    const fs::path suite = DuskmereStorage::suiteDirectory();
    std::error_code error;
    const fs::path absolute = suite.empty() ? fs::path() : fs::absolute(suite, error);
    return absolute.empty() || error ? fs::path() : machineFolderIn(absolute / "Fotivela" / "Instance");
}

} // namespace

SingleInstance::SingleInstance(std::vector<fs::path> folders, QObject* parent)
    : QObject(parent), m_folders(std::move(folders))
{
}

SingleInstance::SingleInstance(const fs::path& folder, QObject* parent)
    : SingleInstance(folder.empty() ? std::vector<fs::path>() : std::vector<fs::path>{folder}, parent)
{
}

SingleInstance::~SingleInstance()
{
    // The sockets go while the locks are still held, so no later start's socket is ever removed.
    for (const auto& server : m_servers)
        server->close();
    releaseLocks();
}

fs::path SingleInstance::socketPath() const
{
    return m_folders.empty() ? fs::path() : m_folders.front() / socketName;
}

std::vector<fs::path> SingleInstance::guardFolders()
{
    std::vector<fs::path> folders;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        if (usableFolder(runtime))
            folders.emplace_back(runtime);
        else
            logLine("Fotivela: XDG_RUNTIME_DIR is not a private folder of this user; looking for another");
    }
    // Starts without the variable (sudo, cron, ssh, some launchers) meet the others here.
    if (const fs::path home = homeGuardFolder(); !home.empty() && std::find(folders.begin(), folders.end(), home) == folders.end())
        folders.push_back(home);
    // The session's runtime folder, where only the variable was lost and no home folder serves.
    if (const fs::path session = "/run/user/" + std::to_string(::getuid()); folders.empty() && usableFolder(session))
        folders.push_back(session);
    return folders;
}

void SingleInstance::releaseLocks()
{
    for (const int lock : m_locks) {
        if (lock >= 0)
            ::close(lock);
    }
    m_locks.clear();
}

SingleInstance::Role SingleInstance::claim(const QStringList& arguments, std::chrono::milliseconds patience)
{
    if (m_folders.empty()) {
        logLine("Fotivela: no private folder for the single-instance guard");
        return Role::unguarded;
    }
    const Clock::time_point deadline = Clock::now() + patience;
    for (const fs::path& folder : m_folders)
        m_locks.push_back(openLock(folder));
    for (;;) {
        // The guards in a fixed order; one that another holds means a running instance (or a
        // start that may become it) there. A folder whose lock cannot be taken at all (a file
        // system without locks) guards nothing and stops nobody.
        std::optional<std::size_t> held;
        bool taken = false;
        for (std::size_t i = 0; i < m_locks.size() && !held; ++i) {
            if (m_locks[i] < 0)
                continue;
            if (::flock(m_locks[i], LOCK_EX | LOCK_NB) == 0)
                taken = true;
            else if (errno == EWOULDBLOCK)
                held = i;
        }
        if (!held) {
            // Whoever held the guards is gone; only a socket that still answers (a program without
            // the guard) takes the arguments instead.
            for (const fs::path& folder : m_folders) {
                if (forward(folder, arguments, std::chrono::milliseconds(500))) {
                    releaseLocks();
                    return Role::forwarded;
                }
            }
            becomePrimary();
            if (!taken) {
                logLine("Fotivela: no folder of the single-instance guard can be held; running without it");
                return Role::unguarded;
            }
            return Role::primary;
        }
        // Let go of the guards taken, so that a start holding the others can finish becoming the
        // running instance.
        for (const int lock : m_locks) {
            if (lock >= 0)
                ::flock(lock, LOCK_UN);
        }
        // The running instance holds the guard, perhaps still starting or busy: it gets the time it needs.
        if (forward(m_folders[*held], arguments, std::chrono::milliseconds(remainingMilliseconds(deadline)))) {
            releaseLocks();
            return Role::forwarded;
        }
        if (cannotHoldASocket(m_folders[*held])) {
            logLine("Fotivela: the running instance holds the guard in " + m_folders[*held].string()
                    + ", a read-only folder where it cannot be reached; this start ends");
            releaseLocks();
            return Role::failed;
        }
        if (Clock::now() >= deadline) {
            logLine("Fotivela: the running instance does not answer");
            releaseLocks();
            return Role::failed;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void SingleInstance::becomePrimary()
{
    for (const fs::path& folder : m_folders)
        listen(folder);
}

void SingleInstance::listen(const fs::path& folder)
{
    auto server = std::make_unique<QLocalServer>();
    QLocalServer* listening = server.get();
    connect(listening, &QLocalServer::newConnection, this, [this, listening] {
        while (QLocalSocket* socket = listening->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            if (!peerIsThisUser(socket->socketDescriptor())) {
                logLine("Fotivela refused a connection from another user");
                socket->abort();
                socket->deleteLater();
                continue;
            }
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                QDataStream stream(socket);
                stream.startTransaction();
                QStringList arguments;
                stream >> arguments;
                if (!stream.commitTransaction())
                    return; // wait for the rest
                socket->write("ok");
                socket->flush();
                emit argumentsReceived(arguments);
            });
        }
    });
    const QString path = QString::fromStdString((folder / socketName).string());
    if (!listening->listen(path)) {
        // Nobody answered on it and the guard is ours: it was left by a program that ended.
        QLocalServer::removeServer(path);
        if (!listening->listen(path))
            logLine("Fotivela: cannot listen on " + path.toStdString() + ": " + listening->errorString().toStdString());
    }
    m_servers.push_back(std::move(server));
}

bool SingleInstance::forward(const fs::path& folder, const QStringList& arguments, std::chrono::milliseconds patience)
{
    const Clock::time_point deadline = Clock::now() + patience;
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString((folder / socketName).string()));
    if (!socket.waitForConnected(std::min(remainingMilliseconds(deadline), 2000)))
        return false;
    if (!peerIsThisUser(socket.socketDescriptor())) {
        logLine("Fotivela: the single-instance socket belongs to another user");
        return false;
    }
    QByteArray message;
    QDataStream stream(&message, QIODevice::WriteOnly);
    stream << arguments;
    socket.write(message);
    if (!socket.waitForBytesWritten(remainingMilliseconds(deadline)))
        return false;
    // The answer says the running instance took them.
    QByteArray answer;
    while (answer.size() < 2 && socket.waitForReadyRead(remainingMilliseconds(deadline)))
        answer += socket.readAll();
    return answer == "ok";
}

} // namespace fotivela
