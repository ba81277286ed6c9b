#include "ui/shell/single_instance.h"

#include <QDataStream>
#include <QLocalSocket>

#include <unistd.h>

namespace fotivela {

SingleInstance::SingleInstance(QString serverName, QObject* parent)
    : QObject(parent)
    , m_serverName(std::move(serverName))
{
    // Only this user may hand paths to the program.
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
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

QString SingleInstance::defaultServerName()
{
    return QStringLiteral("fotivela-%1").arg(::getuid());
}

bool SingleInstance::forwardToRunningInstance(const QStringList& arguments, int timeoutMilliseconds) const
{
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(timeoutMilliseconds))
        return false;
    QByteArray message;
    QDataStream stream(&message, QIODevice::WriteOnly);
    stream << arguments;
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMilliseconds))
        return false;
    // The answer says the running instance took them; without it this start carries on.
    return socket.waitForReadyRead(timeoutMilliseconds) && socket.readAll() == "ok";
}

bool SingleInstance::listen()
{
    if (m_server.listen(m_serverName))
        return true;
    // A socket left by a program that crashed: nobody answers on it, so it may go.
    if (m_server.serverError() == QAbstractSocket::AddressInUseError) {
        QLocalServer::removeServer(m_serverName);
        return m_server.listen(m_serverName);
    }
    return false;
}

} // namespace fotivela
