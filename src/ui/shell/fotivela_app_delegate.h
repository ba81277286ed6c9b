#pragma once

#include "ui/shell/update_controller.h"

#include <QObject>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

namespace fotivela {

// What a start argument asks for: a project document (a path or file URL) or an address for the
// program (the browser's sign-in return). Options are ignored: the program has none.
struct OpenRequest {
    enum class Kind { projectDocument, address };
    Kind kind;
    QString value; // a file path, or the address as given

    bool operator==(const OpenRequest&) const = default;
};

namespace ApplicationArguments {
std::vector<OpenRequest> route(const QStringList& arguments);
// An address for the program rather than a document (a scheme other than file).
bool isAddress(const QString& argument);
// The arguments with every relative path made absolute against this process's working folder,
// so that a running program handed them opens the same files; the rest stays as given.
QStringList withAbsolutePaths(const QStringList& arguments);
} // namespace ApplicationArguments

// Keeps the program running with its window in front, and turns requests to open a file into
// the `fotivelaOpenProjectDocument` signal.
class FotivelaAppDelegate : public QObject {
    Q_OBJECT

public:
    // Runs a step after a delay in milliseconds; the program's uses the event loop's timers.
    using Scheduler = std::function<void(int delayMilliseconds, std::function<void()> step)>;

    explicit FotivelaAppDelegate(std::shared_ptr<TerminationHold> hold, QObject* parent = nullptr);

    void setScheduler(Scheduler scheduler) { m_schedule = std::move(scheduler); }

    void applicationDidFinishLaunching();
    // A second start of the program: bring the window back.
    void applicationShouldHandleReopen();
    bool openFile(const QString& path);
    void openFiles(const QStringList& paths);
    // One start's arguments: documents become the signal, addresses `openAddressRequested`.
    void handleArguments(const QStringList& arguments);

    // One activation step: every window that is not minimised comes forward.
    static void activateWindows();

signals:
    void fotivelaOpenProjectDocument(const QUrl& url);
    void openAddressRequested(const QString& address);

private:
    void bringMainWindowToFront();

    std::shared_ptr<TerminationHold> m_hold;
    Scheduler m_schedule;
};

} // namespace fotivela
