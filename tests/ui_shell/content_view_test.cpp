#include "shell_test_support.h"

#include "model/recent_project_persistence.h"
#include "ui/shell/content_view.h"
#include "ui/shell/editor_view.h"
#include "ui/shell/export_progress_overlay.h"
#include "ui/shell/home_view.h"
#include "ui/shell/keyboard_shortcut_catcher.h"
#include "ui/shell/project_dialogs.h"
#include "ui/shell/top_bar.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <QSignalSpy>
#include <QTest>

using namespace fotivela;

namespace {

class ContentViewTest : public test::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        m_view = std::make_unique<ContentView>(store(), storeSignals(), nullptr);
        m_view->resize(1280, 860);
        m_view->show();
        QApplication::setActiveWindow(m_view.get());
        QApplication::processEvents();
    }
    void TearDown() override
    {
        m_view.reset();
        QApplication::processEvents();
        ShellTest::TearDown();
    }
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, QWidget* target = nullptr)
    {
        // Keys go where the focus is, as they do in the window.
        QWidget* receiver = target ? target : QApplication::focusWidget() ? QApplication::focusWidget() : m_view.get();
        QTest::keyClick(receiver, static_cast<Qt::Key>(key), modifiers);
        QApplication::processEvents();
    }

    std::unique_ptr<ContentView> m_view;
};

} // namespace

TEST_F(ContentViewTest, RouteSwapsOnlyTheAreaBelowTheTopBar)
{
    TopBar* bar = m_view->topBar();
    EXPECT_TRUE(m_view->homeView()->isVisible());
    EXPECT_EQ(m_view->editorView(), nullptr);
    EXPECT_FALSE(bar->backToProjectButton()->isVisible()) << "no project open";
    EXPECT_FALSE(bar->homeButton()->isVisible());
    EXPECT_FALSE(bar->updateButton()->isVisible()) << "nothing published";

    store().setRoute(AppRoute::editor);
    QApplication::processEvents();
    ASSERT_NE(m_view->editorView(), nullptr);
    EXPECT_FALSE(m_view->homeView()->isVisible());
    EXPECT_EQ(m_view->topBar(), bar);
    EXPECT_TRUE(bar->homeButton()->isVisible());
    EXPECT_TRUE(bar->packageButton()->isVisible());

    // "Exportar" switches the inspector tab and stays in the editor.
    QTest::mouseClick(bar->exportButton(), Qt::LeftButton);
    EXPECT_EQ(store().activeTab(), EditorTab::export_);
    EXPECT_EQ(store().route(), AppRoute::editor);

    openSlides(2);
    QTest::mouseClick(bar->homeButton(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(store().route(), AppRoute::home);
    EXPECT_TRUE(bar->backToProjectButton()->isVisible()) << "the project stayed open";
    QTest::mouseClick(bar->backToProjectButton(), Qt::LeftButton);
    EXPECT_EQ(store().route(), AppRoute::editor);
}

TEST_F(ContentViewTest, ShortcutsActOnTheStoreButNotDuringAnExport)
{
    openSlides(3);
    store().setTimelineZoomValue(6.0);
    press(Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(store().timelineZoom(), 6.0) << "the store clamps";

    press(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(store().timelineSelection().size(), 3u);

    store().setIsExporting(true);
    QApplication::processEvents();
    ASSERT_NE(m_view->exportOverlay(), nullptr);
    EXPECT_TRUE(m_view->exportOverlay()->isVisible());
    const auto before = store().project().slides.size();
    const double zoom = store().timelineZoom();
    press(Qt::Key_Delete);
    press(Qt::Key_Minus, Qt::ControlModifier);
    press(Qt::Key_Space);
    EXPECT_EQ(store().project().slides.size(), before);
    EXPECT_DOUBLE_EQ(store().timelineZoom(), zoom);
    EXPECT_FALSE(store().isPlaying());

    store().setIsExporting(false);
    QApplication::processEvents();
    EXPECT_EQ(m_view->exportOverlay(), nullptr);
    press(Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_NEAR(store().timelineZoom(), 6.0 / 1.18, 1e-9);
    press(Qt::Key_Delete);
    EXPECT_EQ(store().project().slides.size(), 0u) << "all three were selected";
}

TEST_F(ContentViewTest, TypingInAFieldReachesTheFieldButTabNeverDoes)
{
    openSlides(2);
    auto* field = new QLineEdit(m_view.get());
    field->show();
    field->setFocus();
    QApplication::processEvents();
    press(Qt::Key_M, Qt::NoModifier, field);
    press(Qt::Key_Space, Qt::NoModifier, field);
    EXPECT_EQ(field->text(), QStringLiteral("m "));
    EXPECT_EQ(store().manualBeatMarkerCount(), 0);
    EXPECT_FALSE(store().isPlaying());
    press(Qt::Key_Tab, Qt::NoModifier, field);
    EXPECT_TRUE(field->hasFocus()) << "Tab is swallowed";
}

TEST_F(ContentViewTest, NewProjectDialogTrimsTheNameAndEveryWayOutLowersTheFlag)
{
    store().setIsNewProjectDialogPresented(true);
    QApplication::processEvents();
    NewProjectDialog* dialog = m_view->newProjectDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->nameField()->text().isEmpty());

    QTest::mouseClick(dialog->closeButton(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_FALSE(store().isNewProjectDialogPresented());
    EXPECT_FALSE(store().hasOpenProject());

    store().setIsNewProjectDialogPresented(true);
    QApplication::processEvents();
    dialog = m_view->newProjectDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->nameField()->text().isEmpty()) << "a new dialog starts empty";
    dialog->nameField()->setText(QStringLiteral("  Boda de Ana \n"));
    QTest::keyClick(dialog->nameField(), Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_FALSE(store().isNewProjectDialogPresented());
    EXPECT_EQ(store().project().name, "Boda de Ana");

    store().setIsNewProjectDialogPresented(true);
    QApplication::processEvents();
    dialog = m_view->newProjectDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->nameField()->setText(QStringLiteral("   "));
    QTest::mouseClick(dialog->createButton(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(store().project().name, "Nuevo video");
}

TEST_F(ContentViewTest, RemovingARecentProjectDropsEveryEntryOfItsFileAndTouchesNoDisk)
{
    const auto folder = m_root / "projects" / "Viaje";
    std::filesystem::create_directories(folder);
    const RecentProject trip{"Viaje", folder / "Viaje.fotivela", std::chrono::system_clock::now()};
    const RecentProject other{"Otro", m_root / "projects" / "Otro" / "Otro.fotivela", std::chrono::system_clock::now()};
    store().setRecentProjects({trip, other, RecentProject{"Viaje copia", trip.url, trip.savedAt}});

    store().setRecentProjectPendingDeletion(other);
    QApplication::processEvents();
    ASSERT_NE(m_view->deleteRecentProjectDialog(), nullptr);
    QTest::mouseClick(m_view->deleteRecentProjectDialog()->cancelButton(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_FALSE(store().recentProjectPendingDeletion().has_value());
    EXPECT_EQ(store().recentProjects().size(), 3u);

    store().setRecentProjectPendingDeletion(trip);
    QApplication::processEvents();
    auto* dialog = m_view->deleteRecentProjectDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->folderLabel()->toolTip().endsWith(QStringLiteral("Viaje")));
    QTest::mouseClick(dialog->removeButton(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_FALSE(store().recentProjectPendingDeletion().has_value());
    ASSERT_EQ(store().recentProjects().size(), 1u);
    EXPECT_EQ(store().recentProjects()[0].name, "Otro");
    EXPECT_TRUE(std::filesystem::exists(folder));
    // The list in the preferences follows.
    ProjectStore reopened;
    ASSERT_EQ(reopened.recentProjects().size(), 1u);
    EXPECT_EQ(reopened.recentProjects()[0].url, other.url);
}

TEST_F(ContentViewTest, ManualMarkerDialogOpensForAnyCountAndClosingClearsIt)
{
    EXPECT_EQ(DeleteManualBeatMarkersDialog::message(1), "Se eliminara la marca manual que has creado.");
    EXPECT_EQ(DeleteManualBeatMarkersDialog::message(12), "Se eliminaran las 12 marcas manuales que has creado.");
    EXPECT_EQ(DeleteManualBeatMarkersDialog::message(0), "Se eliminaran las 0 marcas manuales que has creado.");

    store().setManualBeatMarkerDeletionCount(0);
    QApplication::processEvents();
    ASSERT_NE(m_view->deleteManualBeatMarkersDialog(), nullptr);
    EXPECT_TRUE(m_view->deleteManualBeatMarkersDialog()->isVisible());
    // Escape is one more way out.
    QTest::keyClick(m_view->deleteManualBeatMarkersDialog(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_FALSE(store().manualBeatMarkerDeletionCount().has_value());

    store().setManualBeatMarkerDeletionCount(3);
    QApplication::processEvents();
    ASSERT_NE(m_view->deleteManualBeatMarkersDialog(), nullptr);
    store().setManualBeatMarkerDeletionCount(std::nullopt); // whoever clears it closes it
    QApplication::processEvents();
    EXPECT_TRUE(!m_view->deleteManualBeatMarkersDialog() || !m_view->deleteManualBeatMarkersDialog()->isVisible());
}

TEST_F(ContentViewTest, ExportOverlayShowsRoundedPercentAndTheMessage)
{
    EXPECT_EQ(ExportProgressOverlay::percentText(0.0), QStringLiteral("0%"));
    EXPECT_EQ(ExportProgressOverlay::percentText(0.004), QStringLiteral("0%"));
    EXPECT_EQ(ExportProgressOverlay::percentText(0.005), QStringLiteral("1%"));
    EXPECT_EQ(ExportProgressOverlay::percentText(0.5), QStringLiteral("50%"));
    EXPECT_EQ(ExportProgressOverlay::percentText(0.999), QStringLiteral("100%"));
    EXPECT_EQ(ExportProgressOverlay::percentText(std::nan("")), QStringLiteral("0%"));
    EXPECT_EQ(ExportProgressOverlay::percentText(1e300), QStringLiteral("9223372036854775807%"));

    store().setAppLanguageValue(AppLanguage::spanish);
    store().setIsExporting(true);
    QApplication::processEvents();
    ExportProgressOverlay* overlay = m_view->exportOverlay();
    ASSERT_NE(overlay, nullptr);
    EXPECT_EQ(overlay->geometry(), m_view->rect());
    EXPECT_EQ(overlay->message(), QStringLiteral("Preparando exportacion"));
    store().setExportMessage(std::string(400, 'x'));
    QApplication::processEvents();
    EXPECT_EQ(overlay->message().size(), 400);
    // A point outside the card is dimmed black.
    const QImage image = m_view->grab().toImage();
    const QColor corner = image.pixelColor(5, image.height() - 5);
    EXPECT_LT(corner.red(), 30);
}

TEST_F(ContentViewTest, TheExportBarOnScreenFollowsThePercentage)
{
    store().setIsExporting(true);
    store().setExportMessage("Renderizando fotogramas");
    QApplication::processEvents();
    const QProgressBar* bar = m_view->exportOverlay()->progressBar();
    ASSERT_TRUE(bar->isVisible());
    // Many small steps, each painted, as an export reports them.
    for (int percent = 10; percent <= 79; ++percent) {
        store().setExportProgress(percent / 100.0);
        QApplication::processEvents();
    }
    QTest::qWait(50);
    // What the window shows now, not a fresh rendering of it.
    const QImage shown = m_view->windowHandle()->screen()->grabWindow(m_view->winId()).toImage();
    const QRect track(bar->mapTo(m_view.get(), QPoint(0, 0)), bar->size());
    const int y = track.center().y();
    int filled = 0;
    for (int x = track.left(); x <= track.right(); ++x) {
        const QColor c = shown.pixelColor(x, y);
        filled += c.red() > 180 && c.green() > 120 && c.blue() < 110 ? 1 : 0;
    }
    EXPECT_NEAR(static_cast<double>(filled) / track.width(), 0.79, 0.04);
}
