#include "timeline_test_support.h"

#include "ui/timeline/beat_marker_interaction_view.h"
#include "ui/timeline/timeline_ruler.h"
#include "ui/timeline/timeline_tool_button.h"

#include <QEnterEvent>
#include <QHelpEvent>
#include <QPointer>
#include <QTest>
#include <QToolTip>

using namespace fotivela;
using namespace fotivela::test;

namespace {

void enter(QWidget* widget)
{
    QEnterEvent event(QPointF(5, 5), widget->mapTo(widget->window(), QPointF(5, 5)), widget->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(widget, &event);
}
void leave(QWidget* widget)
{
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(widget, &event);
}

TEST(TimelineToolButtonTest, TheBubbleShowsOnlyWithHelpOnAndAText)
{
    QWidget window;
    window.resize(300, 120);
    TimelineToolButton button(TimelineToolButton::Icon::plus, &window);
    button.move(100, 80);
    window.show();
    QApplication::processEvents();

    button.setHelp("Aumentar zoom del timeline (Cmd +)", true);
    enter(&button);
    ASSERT_TRUE(button.tooltip());
    EXPECT_EQ(button.tooltip()->text(), "Aumentar zoom del timeline (Cmd +)");
    // Centred over the tile and floating above it, wider than the tile for a long text.
    const QRect bubble = button.tooltip()->geometry();
    EXPECT_NEAR(bubble.center().x(), 112, 1);
    EXPECT_LT(bubble.bottom(), 80);
    EXPECT_GT(bubble.width(), 24);
    leave(&button);
    QApplication::processEvents();
    EXPECT_FALSE(button.tooltip());

    button.setHelp("Aumentar zoom del timeline (Cmd +)", false);
    enter(&button);
    EXPECT_FALSE(button.tooltip());
    EXPECT_TRUE(button.toolTip().isEmpty());
    leave(&button);
    button.setHelp("", true);
    enter(&button);
    EXPECT_FALSE(button.tooltip());
    leave(&button);

    // Disabled: dimmed and inert, but the bubble still explains it.
    int clicks = 0;
    QObject::connect(&button, &QAbstractButton::clicked, [&] { ++clicks; });
    button.setHelp("Ayuda", true);
    button.setDisabledLook(true);
    press(&button, QPointF(12, 11));
    release(&button, QPointF(12, 11));
    EXPECT_EQ(clicks, 0);
    enter(&button);
    EXPECT_TRUE(button.tooltip());
}

TEST(TimelineToolButtonTest, OneBubbleThatScalesAndFadesInAndOut)
{
    QWidget window;
    window.resize(300, 120);
    TimelineToolButton button(TimelineToolButton::Icon::plus, &window);
    button.move(100, 80);
    window.show();
    QApplication::processEvents();
    button.setHelp("Ayuda", true);
    enter(&button);
    QPointer<TimelineTooltip> bubble = button.tooltip();
    ASSERT_TRUE(bubble);
    EXPECT_LT(bubble->presence(), 1.0) << "it comes in, not at once";
    ASSERT_TRUE(QTest::qWaitFor([&] { return bubble->presence() == 1.0; }, 2000));

    // The platform's help tag stays set, but does not show on top of the bubble.
    EXPECT_EQ(button.toolTip(), "Ayuda");
    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), button.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&button, &help);
    EXPECT_FALSE(QToolTip::isVisible());

    // Leaving fades it out, then it goes.
    leave(&button);
    ASSERT_TRUE(bubble);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !bubble; }, 2000));
}

TEST_F(TimelineTest, ZoomHelpNamesTheKeyThatWorks)
{
    showPanel();
    EXPECT_EQ(panel->zoomInButton()->toolTip(), "Aumentar zoom del timeline (Ctrl +)");
    EXPECT_EQ(panel->zoomOutButton()->toolTip(), "Reducir zoom del timeline (Ctrl -)");
    store->setAppLanguage(AppLanguage::english);
    settle();
    EXPECT_EQ(panel->zoomInButton()->toolTip(), "Zoom timeline in (Ctrl +)");
    EXPECT_EQ(panel->zoomOutButton()->toolTip(), "Zoom timeline out (Ctrl -)");
}

TEST(BeatMarkerInteraction, LeavingTheStripEndsEditingUnlessAMarkerIsHeld)
{
    TimelineRuler ruler;
    ruler.resize(420, 40);
    const BeatMarker first = makeMarker(5, true, true);
    const BeatMarker near = makeMarker(5.3, false, true);
    ruler.setValues(10, {first, near}, {first.id}, std::nullopt, 0);
    ruler.show();
    BeatMarkerInteractionView* strip = ruler.interaction();
    std::vector<bool> editing;
    strip->onEditingChanged = [&](bool value) { editing.push_back(value); };
    std::vector<std::optional<Uuid>> selected;
    strip->onSelect = [&](std::optional<Uuid> id) { selected.push_back(id); };

    // Overlapping hit boxes: a left click takes the nearest, a right click prefers the disabled one.
    EXPECT_EQ(strip->marker(QPointF(211, 20), false)->id, first.id);
    EXPECT_EQ(strip->marker(QPointF(211, 20), true)->id, near.id);
    EXPECT_FALSE(strip->marker(QPointF(211, 5), false));

    hover(strip, QPointF(211, 20));
    EXPECT_EQ(strip->hoveredMarkerID(), first.id);
    leave(strip);
    EXPECT_FALSE(strip->hoveredMarkerID());
    ASSERT_EQ(editing.size(), 1u);
    EXPECT_FALSE(editing.back());

    press(strip, QPointF(210, 20));
    editing.clear();
    drag(strip, QPointF(240, 20));
    leave(strip);
    EXPECT_EQ(editing, std::vector<bool>{true});
    EXPECT_EQ(strip->draggedMarkerID(), first.id);
    release(strip, QPointF(240, 20));
    EXPECT_EQ(editing.back(), false);
    EXPECT_FALSE(strip->draggedMarkerID());
}

} // namespace
