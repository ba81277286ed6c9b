#include "shell_test_support.h"

#include "ui/account/auth_gate_view.h"
#include "ui/account/auth_view.h"
#include "ui/shell/fotivela_app.h"
#include "ui/shell/fotivela_app_delegate.h"
#include "ui/shell/main_window.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTest>
#include <QSignalSpy>
#include <QTimer>

#include "model/project_json.h"
#include "platform/background_task.h"
#include "platform/duskmere_storage.h"
#include "support/test_images.h"


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
    auto* fitted = dynamic_cast<FotivelaMainWindow*>(window);
    ASSERT_NE(fitted, nullptr);
    EXPECT_EQ(fitted->contentArea()->widget(), app.gate());
    // The sizes are the content's; the menu bar sits above them.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QApplication::processEvents();
    const QRect free = window->screen()->availableGeometry();
    const QSize room = fitted->contentRoom();
    const bool holdsMinimum = room.width() >= 1180 && room.height() >= 820;
    // The default size where the screen holds it; on a smaller screen the window fits the
    // screen's free area.
    if (room.width() >= 1280 && room.height() >= 860)
        EXPECT_EQ(app.gate()->size(), QSize(1280, 860));
    else
        EXPECT_TRUE(free.contains(window->frameGeometry()));
    window->resize(400, 300);
    QApplication::processEvents();
    if (holdsMinimum) {
        EXPECT_EQ(app.gate()->size(), QSize(1180, 820)) << "the smallest window still holds the whole content";
    } else {
        EXPECT_TRUE(free.contains(window->frameGeometry())) << "the smallest window still fits the screen";
    }
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

TEST_F(FotivelaAppTest, AStartWithoutTheSingleInstanceGuardSaysSoWithoutBlocking)
{
    setenv("FOTIVELA_ACCOUNT_URL", "http://127.0.0.1:9", 1);
    FotivelaApp app;
    app.start({});
    app.store().setAppLanguage(AppLanguage::spanish);
    app.warnWithoutSingleInstanceGuard();
    auto* box = app.window()->findChild<QMessageBox*>(QStringLiteral("fotivelaUnguardedWarning"));
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    EXPECT_TRUE(box->text().startsWith(QStringLiteral("Fotivela no ha encontrado una carpeta privada")));
    // The program goes on behind it; the button closes it.
    EXPECT_TRUE(app.window()->isVisible());
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(app.window()->findChild<QMessageBox*>(QStringLiteral("fotivelaUnguardedWarning")), nullptr);

    app.store().setAppLanguage(AppLanguage::english);
    app.warnWithoutSingleInstanceGuard();
    box = app.window()->findChild<QMessageBox*>(QStringLiteral("fotivelaUnguardedWarning"));
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().startsWith(QStringLiteral("Fotivela found no private folder")));
    box->close();
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

TEST_F(FotivelaAppTest, SigtermDuringAnExportCancelsItAndLeavesNoFiles)
{
    setenv("FOTIVELA_ACCOUNT_URL", "http://127.0.0.1:9", 1);
    FotivelaApp app;
    app.start({});
    const std::filesystem::path photo = m_root / "rojo.png";
    test::writeImage(photo, test::makeTwoToneImage(32, 32, Qt::red, Qt::blue), "PNG");
    FotivelaProject project = FotivelaProject::empty();
    project.name = "Largo";
    project.fps = 30;
    project.exportSettings.quality = ExportQuality::quick;
    project.exportSettings.codec = ExportCodec::h264;
    // Far longer than the test waits: only a cancellation ends it in time.
    Slide slide = test::makeSlide(600, "rojo.png");
    slide.imageURL = photo;
    project.slides = {slide};
    app.store().setProject(project);
    app.store().setCurrentProjectURL(m_root / "Largo" / "Largo.fotivela");
    const std::filesystem::path output = m_root / "largo.mp4";
    app.store().exportVideo(output);
    ASSERT_TRUE(test::waitFor([&] { return app.store().exportProgress() > 0.001; }, 60000));

    QTimer::singleShot(0, [] { ::raise(SIGTERM); });
    QTimer::singleShot(60000, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(QApplication::exec(), 0);
    // As at the end of the program: the cancelled run stops and removes its files.
    backgroundPool().waitForDone();
    EXPECT_FALSE(std::filesystem::exists(output));
    for (const auto& entry : std::filesystem::directory_iterator(DuskmereStorage::temporaryDirectory()))
        EXPECT_NE(entry.path().extension(), ".mp4") << entry.path();
    EXPECT_TRUE(std::filesystem::exists(m_root / "Largo" / "Largo.fotivela"));
    unsetenv("FOTIVELA_ACCOUNT_URL");
}
