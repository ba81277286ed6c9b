// The window on every screen the test has (one small screen by default; a 1024 × 600 netbook
// screen, a 1366 × 768 laptop screen and a large one under the three-screen configuration). Where the screen holds the
// content's minimum the window keeps it; on a smaller one the window fits the screen's free
// area and home and editor can be reached to their last control.
#include "shell_test_support.h"

#include "support/layout_checks.h"
#include "ui/shell/app_settings_window.h"
#include "ui/shell/content_view.h"
#include "ui/shell/editor_view.h"
#include "ui/shell/home_view.h"
#include "ui/shell/main_window.h"
#include "ui/shell/top_bar.h"

#include <QApplication>
#include <QDialog>
#include <QLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

using namespace fotivela;

namespace {

constexpr QSize contentMinimum(ContentView::minimumWidth, ContentView::minimumHeight);

class WindowFitTest : public test::ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        std::vector<RecentProject> recent;
        for (int i = 0; i < 8; ++i)
            recent.push_back({"Proyecto " + std::to_string(i + 1), m_root / std::to_string(i) / "p.fotivela",
                              std::chrono::system_clock::now()});
        store().setRecentProjects(recent);
        m_window = std::make_unique<FotivelaMainWindow>();
        m_window->menuBar()->addMenu(QStringLiteral("Archivo"));
        m_content = new ContentView(store(), storeSignals(), nullptr);
        m_window->setContent(m_content, contentMinimum);
    }
    void TearDown() override
    {
        m_window.reset();
        QApplication::processEvents();
        ShellTest::TearDown();
    }

    // The window as a start puts it on `screen`: the default size, bounded by the free area.
    void showOn(QScreen* screen)
    {
        m_window->hide();
        m_window->setScreen(screen);
        const QRect free = screen->availableGeometry();
        m_window->move(free.topLeft());
        m_window->resize(QSize(1280, 860 + m_window->menuBar()->sizeHint().height()).boundedTo(free.size()));
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        QApplication::processEvents();
    }
    bool holdsMinimum() const
    {
        const QSize room = m_window->contentRoom();
        return room.width() >= contentMinimum.width() && room.height() >= contentMinimum.height();
    }
    ::testing::AssertionResult fitsFreeArea() const
    {
        const QRect free = m_window->screen()->availableGeometry();
        if (free.contains(m_window->frameGeometry()))
            return ::testing::AssertionSuccess();
        const QRect frame = m_window->frameGeometry();
        return ::testing::AssertionFailure() << "frame " << frame.x() << "," << frame.y() << " " << frame.width() << "x"
                                             << frame.height() << " outside " << free.width() << "x" << free.height();
    }
    // Reachable: the window's content area scrolls each corner of the widget into view (a
    // widget wider than the window, such as the timeline, shows one end at a time).
    ::testing::AssertionResult reachable(QWidget* widget) const
    {
        QScrollArea* area = m_window->contentArea();
        if (!widget->isVisible())
            return ::testing::AssertionFailure() << test::layout_checks::describe(widget).toStdString() << " hidden";
        for (const QPoint corner : {QPoint(0, 0), QPoint(widget->width() - 1, widget->height() - 1)}) {
            const QPoint inContent = widget->mapTo(area->widget(), corner);
            area->ensureVisible(inContent.x(), inContent.y(), 1, 1);
            QApplication::processEvents();
            const QPoint shown = widget->mapTo(area->viewport(), corner);
            if (!area->viewport()->rect().contains(shown))
                return ::testing::AssertionFailure()
                    << test::layout_checks::describe(widget).toStdString() << ": corner at " << shown.x() << ","
                    << shown.y() << " out of a viewport " << area->viewport()->width() << "x"
                    << area->viewport()->height();
        }
        return ::testing::AssertionSuccess();
    }
    void showRoute(AppRoute route)
    {
        store().setRoute(route);
        // The view the route leaves goes at once, as it does when the event loop runs.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
    }
    // No widget gets less room than its own layout needs, where its children would overlap.
    static ::testing::AssertionResult notSqueezed(const QWidget* root)
    {
        QStringList found;
        for (const QWidget* widget : root->findChildren<QWidget*>()) {
            if (!widget->isVisibleTo(root) || !widget->layout())
                continue;
            const QSize needs = widget->layout()->totalMinimumSize();
            if (widget->width() < needs.width() - test::layout_checks::slack
                || widget->height() < needs.height() - test::layout_checks::slack)
                found << test::layout_checks::describe(widget)
                        + QStringLiteral(" %1x%2 needs %3x%4")
                              .arg(widget->width())
                              .arg(widget->height())
                              .arg(needs.width())
                              .arg(needs.height());
        }
        if (found.isEmpty())
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << found.join(QStringLiteral("; ")).toStdString();
    }
    bool scrollsDown() const { return m_window->contentArea()->verticalScrollBar()->isVisible(); }
    bool scrollsSideways() const { return m_window->contentArea()->horizontalScrollBar()->isVisible(); }

    test::ProgramLooks m_looks;
    std::unique_ptr<FotivelaMainWindow> m_window;
    ContentView* m_content = nullptr;
};

} // namespace

TEST_F(WindowFitTest, OnEveryScreenTheWindowFitsAndHomeAndEditorReachTheirLastControl)
{
    for (QScreen* screen : QGuiApplication::screens()) {
        const QSize free = screen->availableGeometry().size();
        SCOPED_TRACE(std::to_string(free.width()) + "x" + std::to_string(free.height()));
        showOn(screen);
        showRoute(AppRoute::home);
        // The user makes the window as small as it goes.
        m_window->resize(400, 300);
        QApplication::processEvents();
        const int menu = m_window->menuBar()->height();
        if (holdsMinimum()) {
            // Nothing changes where the screen has the room: the smallest window holds the whole content.
            EXPECT_EQ(m_window->minimumSize(), QSize(contentMinimum.width(), contentMinimum.height() + menu));
            EXPECT_EQ(m_content->size(), contentMinimum);
            EXPECT_FALSE(scrollsDown());
        } else {
            EXPECT_TRUE(fitsFreeArea());
            EXPECT_LE(m_window->minimumHeight(), m_window->contentRoom().height() + menu);
        }

        HomeView* home = m_content->homeView();
        ASSERT_EQ(home->cards().size(), 8u);
        EXPECT_TRUE(reachable(home->cards().back())) << "the last recent project";
        EXPECT_TRUE(reachable(home->newProjectButton()));
        EXPECT_TRUE(reachable(m_content->topBar()->settingsButton()));
        test::expectFits(m_content, "home");
        EXPECT_TRUE(notSqueezed(m_content));
        // Content as wide as the screen that scrolls down leaves room for the scroll bar.
        if (free.width() >= 1024) {
            EXPECT_FALSE(scrollsSideways());
        }

        if (store().project().slides.empty())
            openSlides(8);
        showRoute(AppRoute::editor);
        EditorView* editor = m_content->editorView();
        ASSERT_NE(editor, nullptr);
        EXPECT_TRUE(reachable(editor->timelineArea())) << "the timeline, at the bottom";
        EXPECT_TRUE(reachable(editor->inspectorPanel()));
        EXPECT_TRUE(reachable(m_content->topBar()->exportButton()));
        // A laptop's free area leaves the editor room enough: it shrinks to it instead of scrolling.
        if (free.width() >= contentMinimum.width() && free.height() >= 700) {
            EXPECT_FALSE(scrollsDown()) << "the editor scrolls on a screen it fits";
        }
        test::expectFits(m_content, "editor");
        EXPECT_TRUE(notSqueezed(m_content));
        // Content as wide as the screen that scrolls down leaves room for the scroll bar.
        if (free.width() >= 1024) {
            EXPECT_FALSE(scrollsSideways());
        }
        showRoute(AppRoute::home);
    }
}

TEST_F(WindowFitTest, AWindowLargerThanItsScreenFitsItAgain)
{
    // As a start finds a window that grew larger than its screen's free area.
    QScreen* screen = QGuiApplication::primaryScreen();
    showOn(screen);
    const QRect free = screen->availableGeometry();
    m_window->move(free.topLeft() + QPoint(40, 60));
    m_window->resize(free.size() + QSize(200, 200));
    QApplication::processEvents();
    m_window->hide();
    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    QApplication::processEvents();
    EXPECT_TRUE(fitsFreeArea());

    // Moved from a screen that holds the whole minimum to one that does not, the window
    // shrinks to the smaller one's free area at once.
    QScreen* large = nullptr;
    QScreen* small = nullptr;
    for (QScreen* each : QGuiApplication::screens()) {
        const QSize room = each->availableGeometry().size();
        (room.width() >= 1280 && room.height() >= 1000 ? large : small) = each;
    }
    if (!large || !small)
        return;
    showOn(large);
    m_window->resize(1280, 900);
    QApplication::processEvents();
    ASSERT_EQ(m_window->size(), QSize(1280, 900));
    m_window->setScreen(small);
    m_window->move(small->availableGeometry().topLeft());
    QApplication::processEvents();
    EXPECT_TRUE(fitsFreeArea());
    EXPECT_EQ(m_window->screen(), small);
}

TEST_F(WindowFitTest, AHomeMadeWideNarrowsAgainToFewerColumns)
{
    showOn(QGuiApplication::primaryScreen());
    m_window->resize(1900, 900);
    QApplication::processEvents();
    HomeView* home = m_content->homeView();
    ASSERT_EQ(home->currentColumnCount(), HomeView::columnCount(home->width() - 48));
    ASSERT_GE(home->currentColumnCount(), 6);
    // The six columns of the wide window do not hold the window at their width.
    m_window->resize(1280, 900);
    QApplication::processEvents();
    EXPECT_EQ(m_window->width(), 1280);
    EXPECT_EQ(home->currentColumnCount(), HomeView::columnCount(home->width() - 48));
    EXPECT_EQ(home->currentColumnCount(), 4);
    EXPECT_FALSE(scrollsSideways());
}

TEST_F(WindowFitTest, TheAppSettingsWindowOpensAtTheHeightItsWrappedNotesNeed)
{
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect free = screen->availableGeometry();
        showOn(screen);
        for (const AppLanguage language : {AppLanguage::spanish, AppLanguage::english}) {
            SCOPED_TRACE(std::to_string(free.width()) + "x" + std::to_string(free.height())
                         + (language == AppLanguage::spanish ? " es" : " en"));
            store().setAppLanguage(language);
            QTest::mouseClick(m_content->topBar()->settingsButton(), Qt::LeftButton);
            QDialog* sheet = m_content->topBar()->appSettingsWindow();
            ASSERT_NE(sheet, nullptr);
            ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
            QApplication::processEvents();

            EXPECT_EQ(sheet->height(), sheet->heightForWidth(sheet->width()));
            EXPECT_TRUE(free.contains(sheet->frameGeometry()));
            test::expectFits(sheet, "settings");
            for (const QPushButton* button : sheet->findChildren<QPushButton*>()) {
                const QRect shown(button->mapTo(sheet, QPoint(0, 0)), button->size());
                EXPECT_GE(button->height(), button->sizeHint().height()) << button->text().toStdString();
                EXPECT_TRUE(sheet->rect().contains(shown)) << button->text().toStdString();
            }
            QTest::keyClick(sheet, Qt::Key_Escape);
            QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            ASSERT_EQ(m_content->topBar()->appSettingsWindow(), nullptr);
        }
    }
}
