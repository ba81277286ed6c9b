#include "shell_test_support.h"

#include "ui/account/auth_gate_view.h"
#include "ui/account/auth_view.h"
#include "ui/shell/fotivela_app.h"
#include "ui/shell/fotivela_app_delegate.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTimer>

#include "model/project_json.h"

#include <csignal>
#include <fstream>

using namespace fotivela;

class FotivelaAppTest : public test::ShellTest {};

TEST_F(FotivelaAppTest, OneWindowBehindTheGateWithTheMenuCommands)
{
    // Nobody answers on this port: the session ends signed out without leaving the machine.
    setenv("FOTIVELA_ACCOUNT_URL", "http://127.0.0.1:9", 1);
    FotivelaApp app;
    QSignalSpy opened(&app.delegate(), &FotivelaAppDelegate::fotivelaOpenProjectDocument);
    app.start({QStringLiteral("--flag"), (m_root / "missing.fotivela").c_str()});
    QMainWindow* window = app.window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->minimumSize(), QSize(1180, 820));
    EXPECT_EQ(window->size(), QSize(1280, 860));
    EXPECT_EQ(window->centralWidget(), app.gate());
    EXPECT_EQ(opened.count(), 1) << "the start's own document, options ignored";

    // The menu command works before sign-in; the dialog opens once the root view shows.
    app.newProjectAction()->trigger();
    EXPECT_TRUE(app.store().isNewProjectDialogPresented());
    app.newProjectAction()->trigger();
    EXPECT_TRUE(app.store().isNewProjectDialogPresented());
    EXPECT_EQ(app.newProjectAction()->shortcut(), QKeySequence(QKeySequence::New));

    // Closing the window keeps the program, the store and its state.
    window->close();
    QApplication::processEvents();
    EXPECT_TRUE(app.store().isNewProjectDialogPresented());
    app.delegate().applicationShouldHandleReopen();
    EXPECT_TRUE(window->isVisible());
    unsetenv("FOTIVELA_ACCOUNT_URL");
}

TEST_F(FotivelaAppTest, SigtermWritesThePendingEditAndEndsTheEventLoop)
{
    setenv("FOTIVELA_ACCOUNT_URL", "http://127.0.0.1:9", 1);
    FotivelaApp app;
    app.start({});
    app.store().setDefaultProjectDirectory(m_root / "projects");
    app.store().createProject("Viaje");
    const std::filesystem::path file = *app.store().currentProjectURL();
    app.store().importPhotos({m_root / "a.jpg"});
    ASSERT_TRUE(app.store().hasPendingAutosave());

    // The signal arrives while the program waits in its event loop.
    QTimer::singleShot(0, [] { ::raise(SIGTERM); });
    QTimer::singleShot(30000, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(app.store().hasUnsavedChanges());
    std::ifstream in(file);
    const FotivelaProject saved = decodeProject(std::string(std::istreambuf_iterator<char>(in), {}));
    EXPECT_EQ(saved.slides.size(), 1u);
    unsetenv("FOTIVELA_ACCOUNT_URL");
}
