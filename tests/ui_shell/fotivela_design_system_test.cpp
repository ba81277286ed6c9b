#include "ui/shell/fotivela_design_system.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QImage>
#include <QScrollArea>
#include <QScroller>
#include <QStyleOption>
#include <QTest>
#include <gtest/gtest.h>

using namespace fotivela;

TEST(FotivelaDesignSystem, ThemeColoursAndHexRuleAreThoseOfTheProgram)
{
    EXPECT_EQ(AppTheme::accent().rgb(), QColor::fromRgbF(1.0f, 0.78f, 0.18f).rgb());
    EXPECT_EQ(AppTheme::accent().alpha(), 255);
    EXPECT_EQ(AppTheme::musicLane().rgb(), QColor::fromRgbF(0.06f, 0.08f, 0.10f).rgb());
    // Views and export share one parsing rule.
    EXPECT_EQ(colorFromHex("##FF0000#"), QColor(255, 0, 0));
    EXPECT_EQ(colorFromHex(" #FF0000"), QColor(255, 255, 255));
    EXPECT_EQ(withOpacity(QColor(10, 20, 30), 2.0).alpha(), 255);
    EXPECT_EQ(withOpacity(QColor(10, 20, 30), 0.0).alpha(), 0);
}

TEST(FotivelaDesignSystem, ScreenFontsTakeTheWeightWhileDrawnFramesKeepTheirFace)
{
    const QFont copperplate = font(TitleFontDesign::copperplate, 30, QFont::Bold);
    EXPECT_EQ(copperplate.family(), QStringLiteral("URW Bookman"));
    EXPECT_DOUBLE_EQ(copperplate.pixelSize(), 30);
    EXPECT_EQ(copperplate.weight(), QFont::Bold);

    const QFont mono = font(TitleFontDesign::monospaced, 20, QFont::Light);
    EXPECT_EQ(mono.family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
    EXPECT_EQ(mono.weight(), QFont::Light);

    // Rounded has no face of its own: the plain system font on screen and semibold in frames.
    EXPECT_EQ(font(TitleFontDesign::rounded, 14, QFont::Normal).family(), systemFont(14).family());
    EXPECT_EQ(nsFont(TitleFontDesign::rounded, 14).weight(), QFont::DemiBold);
    // A size of zero or less still makes a usable font.
    EXPECT_GT(font(TitleFontDesign::default_, 0, QFont::Normal).pixelSize(), 0);
}

TEST(FotivelaDesignSystem, CheckboxRowTogglesOnLabelClicksAndDrawsBothStates)
{
    QWidget host;
    auto* layout = new QHBoxLayout(&host);
    auto* box = new QCheckBox(QStringLiteral("Mostrar fondo del título con una etiqueta larga"), &host);
    layout->addWidget(box);
    fotivelaCheckbox(&host);
    host.resize(400, 40);
    host.show();
    QApplication::processEvents();
    EXPECT_EQ(box->style(), FotivelaCheckboxToggleStyle::shared());

    // Near the end of the label text, far from the box.
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() - 20, box->height() / 2));
    EXPECT_TRUE(box->isChecked());
    // In the gap between box and label.
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(20, box->height() / 2));
    EXPECT_FALSE(box->isChecked());

    const auto boxCentre = [&] {
        const QImage image = box->grab().toImage();
        QStyleOptionButton option;
        option.initFrom(box);
        const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
        // A point of the box away from the centre's check mark.
        return image.pixelColor(indicator.left() + 3, indicator.top() + 3);
    };
    const QColor off = boxCentre();
    EXPECT_LT(std::abs(off.red() - off.blue()), 12) << "an off box is a neutral faint white";
    box->setChecked(true);
    const QColor on = boxCentre();
    EXPECT_GT(on.red(), 220);
    EXPECT_LT(on.blue(), 120) << "an on box is filled with the accent";
}

TEST(FotivelaDesignSystem, ScrollElasticityIsSwitchedOffOnlyForTheSurroundingScrollArea)
{
    QScrollArea area;
    auto* content = new QWidget;
    area.setWidget(content);
    QScroller::grabGesture(area.viewport(), QScroller::LeftMouseButtonGesture);
    disableScrollElasticity(content);
    const QScrollerProperties properties = QScroller::scroller(area.viewport())->scrollerProperties();
    EXPECT_EQ(properties.scrollMetric(QScrollerProperties::VerticalOvershootPolicy)
                  .value<QScrollerProperties::OvershootPolicy>(),
              QScrollerProperties::OvershootAlwaysOff);
    EXPECT_EQ(properties.scrollMetric(QScrollerProperties::HorizontalOvershootPolicy)
                  .value<QScrollerProperties::OvershootPolicy>(),
              QScrollerProperties::OvershootAlwaysOff);

    QWidget loose;
    disableScrollElasticity(&loose); // nothing above it: nothing happens
    disableScrollElasticity(nullptr);
}

TEST(FotivelaDesignSystem, GlassPanelAndSymbolsPaint)
{
    FotivelaGlassPanel panel(12);
    panel.resize(120, 80);
    const QImage image = panel.grab().toImage();
    EXPECT_GT(image.pixelColor(60, 40).alpha(), 0) << "the glass fill is visible";
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0) << "rounded corners stay clear";

    EXPECT_FALSE(symbolIcon("plus").isNull());
    EXPECT_FALSE(symbolIcon("trash").isNull());
    EXPECT_TRUE(symbolIcon("no.such.symbol").isNull());
}
