#pragma once

#include <QMainWindow>
#include <QObject>
#include <QPointer>

#include <memory>

class QAction;
class QApplication;

namespace fotivela {

class AuthGateView;
class FotivelaAppDelegate;
class ProjectStore;
class SingleInstance;
class StoreSignals;
class TerminationHold;
class TerminationSignals;

// The program: the one store of the run, its window behind the sign-in gate, the menu commands
// and the delegate that brings the window forward and hands it the documents to open.
class FotivelaApp : public QObject {
    Q_OBJECT

public:
    static constexpr int defaultWidth = 1280;
    static constexpr int defaultHeight = 860;

    explicit FotivelaApp(QObject* parent = nullptr);
    ~FotivelaApp() override;

    // Runs the whole program; `version` is the build's version.
    static int main(int argc, char** argv, const char* version);

    ProjectStore& store() { return *m_store; }
    StoreSignals& storeSignals() { return *m_signals; }
    FotivelaAppDelegate& delegate() { return *m_delegate; }
    QMainWindow* window() const { return m_window; }
    AuthGateView* gate() const { return m_gate; }
    QAction* newProjectAction() const { return m_newProject; }
    QAction* checkForUpdatesAction() const { return m_checkForUpdates; }
    QAction* quitAction() const { return m_quit; }

    // Builds and shows the window, then handles the start's own arguments. From then on SIGTERM
    // and SIGINT end the program through terminate().
    void start(const QStringList& arguments);

    // Ends the program as Quit does, without asking: a running export is cancelled (its files
    // removed once its thread stops) and the project's pending edits are written.
    void terminate();

    // Tells the user that this start found no private folder for the single-instance guard,
    // so another start would not find this one. Does not wait for the answer.
    void warnWithoutSingleInstanceGuard();

private:
    void buildWindow();
    void buildMenus();
    void translateMenus();
    void quit();

    std::shared_ptr<TerminationHold> m_hold;
    std::unique_ptr<TerminationSignals> m_terminationSignals;
    // The program's main() reads the signals itself, from before the window exists.
    bool m_terminationSignalsInstalled = false;
    std::unique_ptr<ProjectStore> m_store;
    std::unique_ptr<StoreSignals> m_signals;
    FotivelaAppDelegate* m_delegate = nullptr;
    QPointer<QMainWindow> m_window;
    AuthGateView* m_gate = nullptr;
    QAction* m_newProject = nullptr;
    QAction* m_checkForUpdates = nullptr;
    QAction* m_quit = nullptr;
    class QMenu* m_fileMenu = nullptr;
    class QMenu* m_helpMenu = nullptr;
    class QtTranslations* m_qtTranslations = nullptr;
};

} // namespace fotivela
