#include "inspector_test_support.h"

#include "ui/inspectors/inspector_host.h"
#include "ui/inspectors/ken_burns_controls.h"
#include "ui/inspectors/photos_inspector.h"
#include "ui/inspectors/title_color_selector.h"

#include <QComboBox>
#include <QPushButton>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

using namespace fotivela;
using namespace fotivela::test;

using InspectorInputTest = InspectorTest;

TEST_F(InspectorInputTest, TheWheelScrollsTheColumnAndChangesOnlyAClickedControl)
{
    std::vector<Slide> slides;
    for (int i = 0; i < 4; ++i)
        slides.push_back(slide("foto" + std::to_string(i) + ".jpg"));
    slides[0].kenBurnsEnabled = true;
    setSlides(slides);
    store().selectOnlyTimelineSlide(store().project().slides[0].id);
    InspectorHost host(store(), storeSignals());
    host.resize(330, 360);
    host.show();
    QApplication::processEvents();
    auto* photos = dynamic_cast<PhotosInspector*>(host.currentInspector());
    ASSERT_NE(photos, nullptr);
    QScrollBar* column = host.scrollArea()->verticalScrollBar();
    ASSERT_GT(column->maximum(), 0) << "the column must be taller than the window for this test";

    QSlider* zoom = photos->kenBurns()->zoomSlider();
    QComboBox* transition = photos->transitionPicker();
    host.scrollArea()->ensureWidgetVisible(zoom);
    QApplication::processEvents();
    const FotivelaProject before = store().project();

    // Over a slider and a picker nobody clicked: the column moves, the project does not.
    int scrolled = column->value();
    wheelNotch(zoom, sliderHandleCentre(zoom));
    EXPECT_GT(column->value(), scrolled);
    scrolled = column->value();
    host.scrollArea()->ensureWidgetVisible(transition);
    QApplication::processEvents();
    scrolled = column->value();
    wheelNotch(transition, transition->rect().center(), 120);
    EXPECT_LT(column->value(), scrolled);
    EXPECT_TRUE(store().project() == before);
    EXPECT_FALSE(store().hasUnsavedChanges());

    // Clicked first, the slider takes the wheel; once the focus leaves, it no longer does.
    host.scrollArea()->ensureWidgetVisible(zoom);
    QApplication::processEvents();
    QTest::mouseClick(zoom, Qt::LeftButton, {}, sliderHandleCentre(zoom));
    EXPECT_TRUE(store().project() == before) << "a click on the handle changes nothing";
    const int value = zoom->value();
    scrolled = column->value();
    wheelNotch(zoom, sliderHandleCentre(zoom));
    EXPECT_NE(zoom->value(), value);
    EXPECT_EQ(column->value(), scrolled);
    EXPECT_FALSE(store().project() == before);

    transition->setFocus(Qt::TabFocusReason);
    const int moved = zoom->value();
    wheelNotch(zoom, sliderHandleCentre(zoom));
    EXPECT_EQ(zoom->value(), moved);
    // A picker that has the focus from the keyboard, not from a click, still lets the column scroll.
    const QString shown = transition->currentText();
    wheelNotch(transition, transition->rect().center());
    EXPECT_EQ(transition->currentText(), shown);
}

TEST_F(InspectorInputTest, TheHexFieldShowsAllSixDigits)
{
    std::string chosen;
    TitleColorSelector selector(AppLanguage::spanish, "#AB12CD", [&](const std::string& hex) { chosen = hex; });
    selector.resize(300, 60);
    selector.show();
    QTest::mouseClick(selector.button(), Qt::LeftButton);
    ASSERT_TRUE(selector.popover()->isVisible());
    QLineEdit* field = selector.hexField();
    EXPECT_EQ(field->text(), "AB12CD");
    // The whole text within the field's room, with the line edit's own 2-pixel margins.
    const int room = field->contentsRect().width() - 4;
    EXPECT_LE(field->fontMetrics().horizontalAdvance(field->text()), room);
    EXPECT_LE(field->fontMetrics().horizontalAdvance(QStringLiteral("WWWWWW")), room);
    selector.popover()->hide();
}
