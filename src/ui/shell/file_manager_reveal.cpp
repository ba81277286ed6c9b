#include "ui/shell/file_manager_reveal.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QString>

#ifdef FOTIVELA_HAS_QTDBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#else
#include <QProcess>
#endif

namespace fotivela {

namespace {

const QString service = QStringLiteral("org.freedesktop.FileManager1");
const QString objectPath = QStringLiteral("/org/freedesktop/FileManager1");
constexpr int callTimeoutMilliseconds = 5000;

} // namespace

void revealInFileManager(const std::filesystem::path& file, std::function<void(const QUrl& folder)> openFolder)
{
    const QFileInfo info(QString::fromStdString(file.string()));
    const QUrl fileUrl = QUrl::fromLocalFile(info.absoluteFilePath());
    const QUrl folderUrl = QUrl::fromLocalFile(info.absolutePath());
    if (!openFolder)
        openFolder = [](const QUrl& folder) { QDesktopServices::openUrl(folder); };

#ifdef FOTIVELA_HAS_QTDBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(folderUrl);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, service, QStringLiteral("ShowItems"));
    call << QStringList{fileUrl.toString()} << QString();
    // Asynchronous: starting a file manager can take a moment, and the window stays live.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, callTimeoutMilliseconds), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, folderUrl, openFolder](QDBusPendingCallWatcher*) {
                         if (watcher->isError())
                             openFolder(folderUrl);
                         watcher->deleteLater();
                     });
#else
    auto* process = new QProcess(qApp);
    QObject::connect(process, &QProcess::finished, process,
                     [process, folderUrl, openFolder](int exitCode, QProcess::ExitStatus status) {
                         if (status != QProcess::NormalExit || exitCode != 0)
                             openFolder(folderUrl);
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, folderUrl, openFolder](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            openFolder(folderUrl);
            process->deleteLater();
        }
    });
    process->start(QStringLiteral("dbus-send"),
                   {QStringLiteral("--session"), QStringLiteral("--print-reply"), QStringLiteral("--dest=") + service,
                    QStringLiteral("--reply-timeout=%1").arg(callTimeoutMilliseconds), objectPath,
                    service + QStringLiteral(".ShowItems"), QStringLiteral("array:string:") + fileUrl.toString(),
                    QStringLiteral("string:")});
#endif
}

} // namespace fotivela
