#include "shell_test_support.h"

#include "store/store_dialogs.h"
#include "ui/shell/store_dialog_panels.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include "support/scoped_environment.h"

#include <QTest>
#include <QTimer>

#include <functional>
#include <optional>

using namespace fotivela;
namespace fs = std::filesystem;

namespace {

using ScopedVariable = fotivela::testing::ScopedEnvironment;

QString qt(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

// Readable in a failure's message.
std::string text(const QString& string)
{
    return string.toStdString();
}

// Answers the file panel that the next call opens, while it lives. A panel the answer left
// open is closed after a while, so that a fault fails the test instead of hanging it.
class PanelAnswer {
public:
    explicit PanelAnswer(std::function<void(QFileDialog*)> answer)
    {
        m_poll.setInterval(10);
        QObject::connect(&m_poll, &QTimer::timeout, [this, answer = std::move(answer)] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* panel = qobject_cast<QFileDialog*>(widget);
                if (!panel || !panel->isVisible())
                    continue;
                if (!m_answered) {
                    m_answered = true;
                    answer(panel);
                } else if (++m_waited > 500) {
                    ADD_FAILURE() << "the panel stayed open";
                    panel->reject();
                }
                return;
            }
            if (m_answered)
                m_poll.stop();
        });
        m_poll.start();
    }

private:
    QTimer m_poll;
    bool m_answered = false;
    int m_waited = 0;
};

} // namespace

// A home folder of the test's own, with the user folders the desktop names.
class FilePanelsTest : public test::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        m_home = m_root / "home";
        for (const char* folder : {"Pictures", "Music", "Videos", "Documents"})
            fs::create_directories(m_home / folder);
        fs::create_directories(m_root / "config");
        m_homeVariable.emplace("HOME", m_home.string());
        m_configVariable.emplace("XDG_CONFIG_HOME", (m_root / "config").string());
        m_window.resize(1180, 820);
        m_window.show();
        installStoreDialogPanels(store(), &m_window);
    }
    void TearDown() override
    {
        m_configVariable.reset();
        m_homeVariable.reset();
        ShellTest::TearDown();
    }

    fs::path m_home;
    std::optional<ScopedVariable> m_homeVariable;
    std::optional<ScopedVariable> m_configVariable;
    QWidget m_window;
};

TEST_F(FilePanelsTest, TheExportPanelStartsInVideosAndTheNextOneWhereTheLastExportWent)
{
    const fs::path elsewhere = m_root / "entregas";
    fs::create_directories(elsewhere);
    QString firstFolder;
    const PanelAnswer firstAnswer([&](QFileDialog* panel) {
        firstFolder = panel->directory().absolutePath();
        auto* name = panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        // The user goes to another folder and names the film there.
        panel->setDirectory(qt(elsewhere));
        name->selectAll();
        QTest::keyClicks(name, QStringLiteral("Boda"));
        QMetaObject::invokeMethod(panel, "accept");
    });
    const auto first = store().dialogs().chooseExportDestination("Demo.mp4");
    EXPECT_EQ(text(firstFolder), (m_home / "Videos").string());
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, elsewhere / "Boda.mp4");

    QString secondFolder;
    QString proposed;
    const PanelAnswer secondAnswer([&](QFileDialog* panel) {
        secondFolder = panel->directory().absolutePath();
        proposed = panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
        panel->reject();
    });
    EXPECT_FALSE(store().dialogs().chooseExportDestination("Demo.mp4"));
    EXPECT_EQ(text(secondFolder), elsewhere.string());
    EXPECT_EQ(text(proposed), "Demo.mp4");
}

TEST_F(FilePanelsTest, WithoutAVideosFolderTheExportPanelStartsAtHome)
{
    fs::remove(m_home / "Videos");
    QString folder;
    const PanelAnswer answer([&](QFileDialog* panel) {
        folder = panel->directory().absolutePath();
        panel->reject();
    });
    store().dialogs().chooseExportDestination("Demo.mp4");
    EXPECT_EQ(text(folder), m_home.string());
}

TEST_F(FilePanelsTest, ThePackagePanelStartsInDocumentsWithItsTitleTranslatedAndTheOpenPanelInTheProjects)
{
    const std::string message = "Crea una carpeta empaquetada con proyecto, previos y originales.";
    for (AppLanguage language : {AppLanguage::spanish, AppLanguage::english}) {
        store().setAppLanguage(language);
        QString title;
        QString folder;
        QString shownMessage;
        const PanelAnswer answer([&](QFileDialog* panel) {
            title = panel->windowTitle();
            folder = panel->directory().absolutePath();
            if (auto* package = dynamic_cast<PackageSavePanel*>(panel))
                shownMessage = package->message()->text();
            panel->reject();
        });
        EXPECT_FALSE(store().dialogs().choosePackageDestination("Demo", message));
        EXPECT_EQ(text(title), language == AppLanguage::english ? "Package" : "Empaquetar");
        EXPECT_EQ(text(folder), (m_home / "Documents").string());
        // The message itself is the store's, shown as it is written.
        EXPECT_EQ(text(shownMessage), message);
    }

    // The package command hands the panel its message in the interface language.
    for (AppLanguage language : {AppLanguage::english, AppLanguage::spanish}) {
        store().setAppLanguage(language);
        QString shownMessage;
        const PanelAnswer answer([&](QFileDialog* panel) {
            if (auto* package = dynamic_cast<PackageSavePanel*>(panel))
                shownMessage = package->message()->text();
            panel->reject();
        });
        store().packageProject();
        EXPECT_EQ(text(shownMessage), language == AppLanguage::english
                                          ? "Creates a packaged folder with the project, previews, and originals."
                                          : message);
    }

    QString openFolder;
    const PanelAnswer openAnswer([&](QFileDialog* panel) {
        openFolder = panel->directory().absolutePath();
        panel->reject();
    });
    EXPECT_FALSE(store().dialogs().chooseProjectToOpen());
    EXPECT_EQ(text(openFolder), (m_root / "projects").string());
}
