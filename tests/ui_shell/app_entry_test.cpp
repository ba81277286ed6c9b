#include "ui/shell/fotivela_app_delegate.h"
#include "ui/shell/keyboard_shortcut_catcher.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>


using namespace fotivela;

namespace {

struct Counts {
    int undo = 0, selectAll = 0, zoomIn = 0, zoomOut = 0, previous = 0, next = 0, space = 0, del = 0, marker = 0;
};

void wire(KeyboardShortcutCatcher& catcher, Counts& counts)
{
    catcher.onUndo = [&] { ++counts.undo; };
    catcher.onSelectAll = [&] { ++counts.selectAll; };
    catcher.onZoomIn = [&] { ++counts.zoomIn; };
    catcher.onZoomOut = [&] { ++counts.zoomOut; };
    catcher.onPreviousSlide = [&] { ++counts.previous; };
    catcher.onNextSlide = [&] { ++counts.next; };
    catcher.onSpace = [&] { ++counts.space; };
    catcher.onDeleteMarker = [&] { ++counts.del; };
    catcher.onAddMarker = [&] { ++counts.marker; };
}

QKeyEvent key(int code, Qt::KeyboardModifiers modifiers = {}, const QString& text = {}, quint32 scan = 0)
{
    return QKeyEvent(QEvent::KeyPress, code, modifiers, scan, 0, 0, text);
}

} // namespace

TEST(KeyboardShortcutCatcher, MapsKeysToTheNineActions)
{
    QWidget window;
    KeyboardShortcutCatcher catcher(&window);
    Counts counts;
    wire(catcher, counts);

    EXPECT_TRUE(catcher.handle(key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier), false));
    EXPECT_EQ(counts.undo, 1) << "Shift does not stop undo";
    EXPECT_TRUE(catcher.handle(key(Qt::Key_Left, Qt::ControlModifier), false));
    EXPECT_EQ(counts.previous, 1);
    EXPECT_TRUE(catcher.handle(key(Qt::Key_M, Qt::ControlModifier), false));
    EXPECT_EQ(counts.marker, 1);
    EXPECT_TRUE(catcher.handle(key(Qt::Key_Equal, Qt::ControlModifier), false));
    EXPECT_EQ(counts.zoomIn, 1);
    EXPECT_FALSE(catcher.handle(key(Qt::Key_Minus, {}, QStringLiteral("-")), false)) << "minus needs Control";
    EXPECT_EQ(counts.zoomOut, 0);
    // Another layout: the key that types "m" has another code.
    EXPECT_TRUE(catcher.handle(key(Qt::Key_unknown, {}, QStringLiteral("M")), false));
    EXPECT_EQ(counts.marker, 2);
    EXPECT_FALSE(catcher.handle(key(Qt::Key_Q), false));

    // Text input keeps its keys, except Tab.
    EXPECT_FALSE(catcher.handle(key(Qt::Key_Space), true));
    EXPECT_TRUE(catcher.handle(key(Qt::Key_Tab), true));
    EXPECT_EQ(counts.space, 0);

    catcher.onDeleteMarker = nullptr;
    EXPECT_TRUE(catcher.handle(key(Qt::Key_Backspace), false)) << "consumed without an action";
}

TEST(KeyboardShortcutCatcher, KeysOfAnotherWindowPassUntouched)
{
    QWidget window;
    QWidget other;
    KeyboardShortcutCatcher catcher(&window);
    Counts counts;
    wire(catcher, counts);
    auto* field = new QLineEdit(&other);
    other.show();
    field->setFocus();
    QApplication::setActiveWindow(&other);
    QApplication::processEvents();
    QTest::keyClick(field, Qt::Key_Space);
    EXPECT_EQ(counts.space, 0);
    QTest::keyClick(field, Qt::Key_Tab);
    EXPECT_EQ(field->text(), QStringLiteral(" "));
}

TEST(ApplicationArguments, DocumentsAddressesAndOptions)
{
    const auto requests = ApplicationArguments::route(
        {QStringLiteral("--verbose"), QStringLiteral("/home/ana/Boda.fotivela"),
         QStringLiteral("file:///home/ana/Viaje%20largo/Viaje.fotivela"), QStringLiteral("fotivela://auth?token=abc"),
         QString()});
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0], (OpenRequest{OpenRequest::Kind::projectDocument, QStringLiteral("/home/ana/Boda.fotivela")}));
    EXPECT_EQ(requests[1],
              (OpenRequest{OpenRequest::Kind::projectDocument, QStringLiteral("/home/ana/Viaje largo/Viaje.fotivela")}));
    EXPECT_EQ(requests[2], (OpenRequest{OpenRequest::Kind::address, QStringLiteral("fotivela://auth?token=abc")}));
}

TEST(FotivelaAppDelegate, EachDocumentBecomesOneSignalAndThreeActivationSteps)
{
    auto hold = std::make_shared<TerminationHold>();
    FotivelaAppDelegate delegate(hold);
    std::vector<int> delays;
    delegate.setScheduler([&delays](int delay, std::function<void()>) { delays.push_back(delay); });
    QSignalSpy opened(&delegate, &FotivelaAppDelegate::fotivelaOpenProjectDocument);

    delegate.openFiles({});
    EXPECT_EQ(opened.count(), 0);
    EXPECT_TRUE(delays.empty());

    delegate.openFiles({QStringLiteral("/tmp/a.fotivela"), QStringLiteral("/tmp/b.fotivela")});
    ASSERT_EQ(opened.count(), 2);
    EXPECT_EQ(opened.at(0).at(0).toUrl(), QUrl::fromLocalFile(QStringLiteral("/tmp/a.fotivela")));
    EXPECT_EQ(opened.at(1).at(0).toUrl(), QUrl::fromLocalFile(QStringLiteral("/tmp/b.fotivela")));
    EXPECT_EQ(delays, (std::vector<int>{150, 600, 1200, 150, 600, 1200}));

    QSignalSpy addresses(&delegate, &FotivelaAppDelegate::openAddressRequested);
    delegate.handleArguments({QStringLiteral("fotivela://auth?error=x"), QStringLiteral("/tmp/c.fotivela")});
    EXPECT_EQ(addresses.count(), 1);
    EXPECT_EQ(opened.count(), 3);
}

TEST(FotivelaAppDelegate, ActivationLeavesMinimisedWindowsWhereTheyAre)
{
    QWidget shown;
    QWidget minimised;
    shown.show();
    minimised.showMinimized();
    QApplication::processEvents();
    FotivelaAppDelegate::activateWindows();
    EXPECT_TRUE(minimised.isMinimized());
}
