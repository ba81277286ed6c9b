#pragma once

#include <QLocalServer>
#include <QObject>
#include <QStringList>

#include <chrono>
#include <filesystem>

namespace fotivela {

// One program per user: a second start hands its arguments to the running one and ends. The
// socket and a lock file live in a folder only this user can enter; whoever holds the lock is
// the running instance, so two starts at the same moment cannot both become it, and both ends
// of every connection check that the other side is the same user.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // `folder` holds "fotivela.socket" and "fotivela.lock"; empty: no guard at all.
    explicit SingleInstance(std::filesystem::path folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // $XDG_RUNTIME_DIR when it is this user's private folder; otherwise "fotivela" in the user's
    // cache folder, made private; otherwise the session's /run/user/<uid>, then a folder in the
    // program's own data folder (never the shared temporary folder). Empty when none works.
    static std::filesystem::path runtimeFolder();

    // `unguarded`: there was no private folder, so this start runs without the guard and
    // the user must be told that a second start would not find it.
    enum class Role { primary, forwarded, failed, unguarded };

    // Becomes the running instance, or hands `arguments` to the one that runs, waiting up to
    // `patience` for it to take them (it may still be starting, or busy). `failed` when it never
    // answers: this start must then end, not run as a second instance.
    Role claim(const QStringList& arguments, std::chrono::milliseconds patience = std::chrono::seconds(60));

    std::filesystem::path socketPath() const { return m_folder / "fotivela.socket"; }

signals:
    // Another start of the program, with its arguments (possibly none: bring the window back).
    void argumentsReceived(const QStringList& arguments);

private:
    // Sends the arguments; true once the running instance answered that it took them.
    bool forward(const QStringList& arguments, std::chrono::milliseconds patience) const;
    void becomePrimary();

    std::filesystem::path m_folder;
    int m_lock = -1;
    QLocalServer m_server;
};

} // namespace fotivela
