#include "shell_test_support.h"

#include "ui/account/auth_gate_view.h"
#include "ui/account/auth_view.h"
#include "ui/shell/fotivela_app.h"
#include "ui/shell/fotivela_app_delegate.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QSignalSpy>

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
    EXPECT_EQ(window->centralWidget(), app.gate());
    // The sizes are the content's; the menu bar sits above them.
    QApplication::processEvents();
    EXPECT_EQ(app.gate()->size(), QSize(1280, 860));
    window->resize(400, 300);
    QApplication::processEvents();
    EXPECT_EQ(app.gate()->size(), QSize(1180, 820)) << "the smallest window still holds the whole content";
    window->resize(1280, 860 + window->menuBar()->height());
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
