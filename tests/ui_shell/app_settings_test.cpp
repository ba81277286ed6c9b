#include "shell_test_support.h"

#include "ui/shell/app_settings_window.h"
#include "ui/shell/content_view.h"
#include "ui/shell/editor_view.h"
#include "ui/shell/top_bar.h"
#include "ui/shell/update_controller.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace fotivela;

namespace {

struct CountingUpdater : Updater {
    int checks = 0;
    void start() override {}
    void checkForUpdates() override { ++checks; }
};

} // namespace

class AppSettingsTest : public test::ShellTest {};

TEST_F(AppSettingsTest, LanguageTooltipsAndUpdateCheckActOnTheStoreAndTheController)
{
    store().setAppLanguage(AppLanguage::spanish);
    AppSettingsContent content(store(), storeSignals(), std::string("0.0.1"));
    auto updater = std::make_unique<CountingUpdater>();
    CountingUpdater* counting = updater.get();
    int alerts = 0;
    UpdateController controller(std::move(updater), [&alerts](const QString&, const QString&, const QString&) { ++alerts; },
                                std::make_shared<TerminationHold>());
    content.setUpdateController(&controller);
    content.show();
    QApplication::processEvents();

    EXPECT_EQ(content.languagePicker()->itemText(1), QStringLiteral("Inglés"));
    content.languagePicker()->setCurrentIndex(1);
    emit content.languagePicker()->activated(1);
    EXPECT_EQ(store().appLanguage(), AppLanguage::english);
    EXPECT_EQ(content.languagePicker()->itemText(1), QStringLiteral("English")) << "the pane follows the language";

    EXPECT_TRUE(store().showInterfaceTooltips());
    QTest::mouseClick(content.hideTooltipsBox(), Qt::LeftButton);
    EXPECT_FALSE(store().showInterfaceTooltips());

    // The published version is older than the running one: the alert, not the updater.
    QTest::mouseClick(content.checkForUpdatesButton(), Qt::LeftButton);
    EXPECT_EQ(alerts, 1);
    EXPECT_EQ(counting->checks, 0);
}

TEST_F(AppSettingsTest, TheSettingsWindowFollowsALanguageChangeMadeInsideIt)
{
    store().setAppLanguage(AppLanguage::spanish);
    AppSettingsWindow window(store(), storeSignals(), std::nullopt);
    window.show();
    QApplication::processEvents();
    const auto shows = [&window](const char* text) {
        for (const QLabel* label : window.findChildren<QLabel*>())
            if (label->isVisible() && label->text() == QString::fromUtf8(text))
                return true;
        return false;
    };
    EXPECT_TRUE(shows("Ajustes de la aplicación"));
    EXPECT_EQ(window.closeButton()->toolTip(), QStringLiteral("Cerrar"));

    QComboBox* language = window.content()->languagePicker();
    language->setFocus();
    QTest::keyClick(language, Qt::Key_Down);
    ASSERT_EQ(store().appLanguage(), AppLanguage::english);
    EXPECT_TRUE(shows("App settings"));
    EXPECT_FALSE(shows("Ajustes de la aplicación"));
    EXPECT_EQ(window.closeButton()->toolTip(), QStringLiteral("Close"));

    // Back to the longer Spanish texts: the window grows to hold them, nothing is squeezed.
    QTest::keyClick(language, Qt::Key_Up);
    ASSERT_EQ(store().appLanguage(), AppLanguage::spanish);
    QApplication::processEvents();
    for (const QPushButton* button : window.findChildren<QPushButton*>()) {
        EXPECT_GE(button->height(), button->sizeHint().height()) << button->text().toStdString();
    }
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (label->wordWrap()) {
            EXPECT_GE(label->height(), label->heightForWidth(label->width())) << label->text().toStdString();
        }
    }
}

TEST_F(AppSettingsTest, TheGearOpensOneSettingsSheetAndTheSettingsTabShowsTheSamePane)
{
    ContentView view(store(), storeSignals(), nullptr);
    view.resize(1280, 860);
    view.show();
    QApplication::processEvents();
    QTest::mouseClick(view.topBar()->settingsButton(), Qt::LeftButton);
    QApplication::processEvents();
    ASSERT_NE(view.topBar()->appSettingsWindow(), nullptr);
    QDialog* sheet = view.topBar()->appSettingsWindow();
    QTest::mouseClick(view.topBar()->settingsButton(), Qt::LeftButton);
    EXPECT_EQ(view.topBar()->appSettingsWindow(), sheet);
    QTest::keyClick(sheet, Qt::Key_Escape);
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(view.topBar()->appSettingsWindow(), nullptr);

    store().setRoute(AppRoute::editor);
    store().setActiveTab(EditorTab::settings);
    QApplication::processEvents();
    ASSERT_NE(view.editorView(), nullptr);
    EXPECT_NE(qobject_cast<SettingsInspector*>(view.editorView()->inspectorPanel()->inspector()), nullptr);
}
