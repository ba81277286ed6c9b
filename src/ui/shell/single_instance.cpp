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
#include <cstdlib>
#include <string>
#include <thread>

namespace fotivela {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

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
    return isPrivateFolderOfThisUser(folder) && (folder / "fotivela.socket").string().size() <= maximumSocketPath;
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

int remainingMilliseconds(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1'000'000));
}

} // namespace

SingleInstance::SingleInstance(fs::path folder, QObject* parent) : QObject(parent), m_folder(std::move(folder))
{
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
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
}

SingleInstance::~SingleInstance()
{
    // The socket goes while the lock is still held, so no later start's socket is ever removed.
    m_server.close();
    if (m_lock >= 0)
        ::close(m_lock);
}

fs::path SingleInstance::runtimeFolder()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        if (usableFolder(runtime))
            return runtime;
        logLine("Fotivela: XDG_RUNTIME_DIR is not a private folder of this user; looking for another");
    }
    // Never the shared temporary folder: another user could hold the guard there, or listen in its place.
    fs::path cache;
    if (const char* configured = std::getenv("XDG_CACHE_HOME"); configured && configured[0] == '/')
        cache = configured;
    else if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        cache = fs::path(home) / ".cache";
    if (!cache.empty()) {
        if (fs::path made = madePrivate(cache / "fotivela"); !made.empty())
            return made;
        logLine("Fotivela: the cache folder is not private to this user; looking for another");
    }
    // The session's runtime folder, where only the variable was lost (sudo, cron, ssh).
    if (const fs::path session = "/run/user/" + std::to_string(::getuid()); usableFolder(session))
        return session;
    // Last, the program's own data folder.
    const fs::path suite = DuskmereStorage::suiteDirectory();
    std::error_code error;
    const fs::path absolute = suite.empty() ? fs::path() : fs::absolute(suite, error);
    return absolute.empty() || error ? fs::path() : madePrivate(absolute / "Fotivela" / "Instance");
}

SingleInstance::Role SingleInstance::claim(const QStringList& arguments, std::chrono::milliseconds patience)
{
    if (m_folder.empty()) {
        logLine("Fotivela: no private folder for the single-instance guard");
        return Role::unguarded;
    }
    const Clock::time_point deadline = Clock::now() + patience;
    m_lock = ::open((m_folder / "fotivela.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    for (;;) {
        if (m_lock < 0 || ::flock(m_lock, LOCK_EX | LOCK_NB) == 0) {
            // Whoever held the guard is gone; only a socket that still answers (a program without
            // the guard) takes the arguments instead.
            if (forward(arguments, std::chrono::milliseconds(500))) {
                if (m_lock >= 0)
                    ::close(m_lock);
                m_lock = -1;
                return Role::forwarded;
            }
            becomePrimary();
            return Role::primary;
        }
        // The running instance holds the guard, perhaps still starting or busy: it gets the time it needs.
        if (forward(arguments, std::chrono::milliseconds(remainingMilliseconds(deadline))))
            return Role::forwarded;
        if (Clock::now() >= deadline) {
            logLine("Fotivela: the running instance does not answer");
            return Role::failed;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void SingleInstance::becomePrimary()
{
    const QString path = QString::fromStdString(socketPath().string());
    if (m_server.listen(path))
        return;
    // Nobody answered on it and the guard is ours: it was left by a program that ended.
    QLocalServer::removeServer(path);
    if (!m_server.listen(path))
        logLine("Fotivela: cannot listen on " + socketPath().string() + ": " + m_server.errorString().toStdString());
}

bool SingleInstance::forward(const QStringList& arguments, std::chrono::milliseconds patience) const
{
    const Clock::time_point deadline = Clock::now() + patience;
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(socketPath().string()));
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
