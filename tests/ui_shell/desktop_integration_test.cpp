// What the program hands to the desktop: alerts, the file manager, Qt's own texts, the open
// and export panels.
#include "shell_test_support.h"

#include "ui/shell/file_manager_reveal.h"
#include "ui/shell/qt_translations.h"
#include "ui/shell/store_dialog_panels.h"
#include "ui/shell/update_controller.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <fstream>

using namespace fotivela;

namespace {

// Stands in for the desktop's file manager on a private session bus.
class FakeFileManager : public QDBusVirtualObject {
public:
    QStringList shown;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() != QStringLiteral("org.freedesktop.FileManager1")
            || message.member() != QStringLiteral("ShowItems") || message.arguments().size() != 2)
            return false;
        shown += message.arguments().at(0).toStringList();
        connection.send(message.createReply());
        return true;
    }
};

} // namespace

TEST(DesktopAlerts, TheUpToDateAlertCarriesBothSentencesInTheBox)
{
    QMessageBox box;
    setUpAlertBox(box, QStringLiteral("Fotivela está al día"), QStringLiteral("Ya tienes instalada la versión más reciente."));
    EXPECT_EQ(box.text(), QStringLiteral("Fotivela está al día"));
    EXPECT_EQ(box.informativeText(), QStringLiteral("Ya tienes instalada la versión más reciente."));
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Fotivela"));
}

TEST(DesktopFileManager, AnExportedFileIsShownSelectedOrItsFolderOpened)
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty() || qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        GTEST_SKIP() << "needs dbus-daemon and a process without a session bus of its own";
    QProcess bus;
    bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--print-address"), QStringLiteral("--nofork"),
                       QStringLiteral("--nopidfile")});
    ASSERT_TRUE(bus.waitForStarted(5000));
    ASSERT_TRUE(bus.waitForReadyRead(5000));
    const QByteArray address = bus.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);

    const std::filesystem::path file = std::filesystem::temp_directory_path() / "Mi video.mp4";
    std::vector<QUrl> opened;
    const auto openFolder = [&](const QUrl& folder) { opened.push_back(folder); };

    {
        // No file manager on the bus: the folder opens instead.
        revealInFileManager(file, openFolder);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.empty(); }, 10000));
        EXPECT_EQ(opened.front(), QUrl::fromLocalFile(QString::fromStdString(file.parent_path().string())));
    }
    {
        QDBusConnection manager = QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("manager"));
        ASSERT_TRUE(manager.isConnected());
        FakeFileManager fake;
        ASSERT_TRUE(manager.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"), &fake));
        ASSERT_TRUE(manager.registerService(QStringLiteral("org.freedesktop.FileManager1")));
        opened.clear();
        revealInFileManager(file, openFolder);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !fake.shown.isEmpty(); }, 10000));
        EXPECT_EQ(fake.shown, QStringList{QUrl::fromLocalFile(QString::fromStdString(file.string())).toString()});
        QTest::qWait(100);
        EXPECT_TRUE(opened.empty()) << "the file manager took it: no folder window as well";
        QDBusConnection::disconnectFromBus(QStringLiteral("manager"));
    }
    bus.kill();
    bus.waitForFinished(5000);
}

TEST(DesktopTexts, QtsOwnTextsFollowTheInterfaceLanguage)
{
    QtTranslations translations;
    ASSERT_TRUE(translations.apply(AppLanguage::spanish)) << "Qt's Spanish texts are installed (qt6-translations-l10n)";
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancelar"));
    EXPECT_TRUE(translations.apply(AppLanguage::english));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

class ProjectPanelsTest : public test::ShellTest {};

TEST_F(ProjectPanelsTest, TheOpenPanelTakesAProjectFolderAndEntersAnyOtherFolder)
{
    const auto folder = m_root / "Viaje";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "Viaje.fotivela") << "{}";
    const auto plain = m_root / "Otra carpeta";
    std::filesystem::create_directories(plain);

    ProjectOpenPanel panel;
    panel.setDirectory(QString::fromStdString(m_root.string()));
    panel.selectFile(QString::fromStdString(plain.string()));
    panel.accept();
    EXPECT_NE(panel.result(), QDialog::Accepted);
    EXPECT_EQ(std::filesystem::path(panel.directory().absolutePath().toStdString()), plain);

    panel.setDirectory(QString::fromStdString(m_root.string()));
    panel.selectFile(QString::fromStdString(folder.string()));
    panel.accept();
    EXPECT_EQ(panel.result(), QDialog::Accepted);
    EXPECT_EQ(panel.choice(), std::optional<std::filesystem::path>(folder));
}

TEST(ExportPanel, TheVideoAlwaysEndsInMP4)
{
    EXPECT_EQ(withMP4Extension(QStringLiteral("/videos/Mi video")), QStringLiteral("/videos/Mi video.mp4"));
    EXPECT_EQ(withMP4Extension(QStringLiteral("/videos/Mi.video")), QStringLiteral("/videos/Mi.video.mp4"));
    EXPECT_EQ(withMP4Extension(QStringLiteral("/videos/Viaje.MP4")), QStringLiteral("/videos/Viaje.MP4"));
    EXPECT_EQ(withMP4Extension(QString()), QString());
}
