#pragma once

#include <QLocalServer>
#include <QObject>
#include <QStringList>

namespace fotivela {

// One program per user: a second start hands its arguments to the running one through a local
// socket only this user can open, and ends.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(QString serverName, QObject* parent = nullptr);

    // The per-user socket name of the program.
    static QString defaultServerName();

    // Sends `arguments` to a running instance; true when one took them.
    bool forwardToRunningInstance(const QStringList& arguments, int timeoutMilliseconds = 1500) const;
    // Becomes the running instance; false when the socket cannot be made.
    bool listen();

signals:
    // Another start of the program, with its arguments (possibly none: bring the window back).
    void argumentsReceived(const QStringList& arguments);

private:
    QString m_serverName;
    QLocalServer m_server;
};

} // namespace fotivela
