#include "ui/shell/fotivela_app_delegate.h"

#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <QWidget>

namespace fotivela {

bool ApplicationArguments::isAddress(const QString& argument)
{
    if (argument.isEmpty() || argument.startsWith(QLatin1Char('-')))
        return false;
    const QUrl url(argument);
    return !url.isLocalFile() && url.scheme().size() > 1;
}

QStringList ApplicationArguments::withAbsolutePaths(const QStringList& arguments)
{
    QStringList absolute;
    for (const QString& argument : arguments) {
        const bool path = !argument.isEmpty() && !argument.startsWith(QLatin1Char('-')) && !QUrl(argument).isLocalFile()
                          && !isAddress(argument);
        absolute.push_back(path ? QFileInfo(argument).absoluteFilePath() : argument);
    }
    return absolute;
}

std::vector<OpenRequest> ApplicationArguments::route(const QStringList& arguments)
{
    std::vector<OpenRequest> requests;
    for (const QString& argument : arguments) {
        if (argument.isEmpty() || argument.startsWith(QLatin1Char('-')))
            continue;
        const QUrl url(argument);
        if (url.isLocalFile()) {
            requests.push_back({OpenRequest::Kind::projectDocument, url.toLocalFile()});
        } else if (isAddress(argument)) {
            requests.push_back({OpenRequest::Kind::address, argument});
        } else {
            // A plain path, relative ones taken from where the program was started.
            requests.push_back({OpenRequest::Kind::projectDocument, QFileInfo(argument).absoluteFilePath()});
        }
    }
    return requests;
}

FotivelaAppDelegate::FotivelaAppDelegate(std::shared_ptr<TerminationHold> hold, QObject* parent)
    : QObject(parent)
    , m_hold(std::move(hold))
    , m_schedule([this](int delay, std::function<void()> step) { QTimer::singleShot(delay, this, std::move(step)); })
{
}

void FotivelaAppDelegate::applicationDidFinishLaunching()
{
    m_hold->disable(terminationHoldReason);
    bringMainWindowToFront();
}

void FotivelaAppDelegate::applicationShouldHandleReopen()
{
    // A window closed by the user stays hidden until the program is started again.
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->property("fotivelaMainWindow").toBool() && window->isHidden())
            window->show();
    bringMainWindowToFront();
}

bool FotivelaAppDelegate::openFile(const QString& path)
{
    const QUrl url = QUrl::fromLocalFile(path);
    bringMainWindowToFront();
    emit fotivelaOpenProjectDocument(url);
    return true;
}

void FotivelaAppDelegate::openFiles(const QStringList& paths)
{
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.push_back(QUrl::fromLocalFile(path));
    for (const QUrl& url : urls) {
        bringMainWindowToFront();
        emit fotivelaOpenProjectDocument(url);
    }
}

void FotivelaAppDelegate::handleArguments(const QStringList& arguments)
{
    QStringList documents;
    for (const OpenRequest& request : ApplicationArguments::route(arguments)) {
        if (request.kind == OpenRequest::Kind::projectDocument) {
            documents.push_back(request.value);
        } else {
            bringMainWindowToFront();
            emit openAddressRequested(request.value);
        }
    }
    openFiles(documents);
}

void FotivelaAppDelegate::activateWindows()
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible() || window->isMinimized())
            continue;
        window->raise();
        window->activateWindow();
    }
}

void FotivelaAppDelegate::bringMainWindowToFront()
{
    // Three tries: the desktop may not grant focus to a window that has just appeared.
    for (const int delay : {150, 600, 1200})
        m_schedule(delay, [] { activateWindows(); });
}

} // namespace fotivela
