#pragma once

#include <QLocalServer>
#include <QObject>
#include <QStringList>

#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

namespace fotivela {

// One program per user: a second start hands its arguments to the running one and ends. A
// socket and a lock file live in each of a few folders only this user can enter; whoever holds
// the locks of all its folders is the running instance, so two starts that share a folder
// cannot both become it, and both ends of every connection check that the other side is the
// same user.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // Each folder holds "fotivela.socket" and "fotivela.lock"; none: no guard at all.
    explicit SingleInstance(std::vector<std::filesystem::path> folders, QObject* parent = nullptr);
    // One folder; empty: no guard at all.
    explicit SingleInstance(const std::filesystem::path& folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // $XDG_RUNTIME_DIR when it is this user's private folder, and a private folder for this
    // machine in the user's cache folder (else in the program's own data folder), which every
    // start of the user finds whatever XDG_RUNTIME_DIR says or whether it is set at all. With
    // neither, the session's /run/user/<uid>. Never the shared temporary folder. None when no
    // private folder works.
    static std::vector<std::filesystem::path> guardFolders();

    // `unguarded`: there was no private folder, or none whose lock could be held (a read-only
    // disk, a file system without locks), so this start runs without the guard and the user
    // must be told that a second start would not find it.
    enum class Role { primary, forwarded, failed, unguarded };

    // Becomes the running instance, or hands `arguments` to the one that runs, waiting up to
    // `patience` for it to take them (it may still be starting, or busy). `failed` when it never
    // answers: this start must then end, not run as a second instance.
    Role claim(const QStringList& arguments, std::chrono::milliseconds patience = std::chrono::seconds(60));

    // The socket in the first folder; empty without a guard.
    std::filesystem::path socketPath() const;

signals:
    // Another start of the program, with its arguments (possibly none: bring the window back).
    void argumentsReceived(const QStringList& arguments);

private:
    // Sends the arguments to the socket in `folder`; true once the running instance answered
    // that it took them.
    static bool forward(const std::filesystem::path& folder, const QStringList& arguments,
                        std::chrono::milliseconds patience);
    void becomePrimary();
    void listen(const std::filesystem::path& folder);
    void releaseLocks();

    std::vector<std::filesystem::path> m_folders;
    std::vector<int> m_locks;
    std::vector<std::unique_ptr<QLocalServer>> m_servers;
};

} // namespace fotivela
