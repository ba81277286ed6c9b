#include "ui/inspectors/title_color_selector.h"

#include "platform/hex_color.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <vector>

using namespace fotivela;

TEST(TitleColorSelectorRules, SanitisesAndNormalisesTypedAndStoredColours)
{
    EXPECT_EQ(TitleColorSelector::sanitizedHexDigits("#ab12Cd"), "AB12CD");
    EXPECT_EQ(TitleColorSelector::sanitizedHexDigits("#AABBCCDD"), "AABBCC");
    EXPECT_EQ(TitleColorSelector::sanitizedHexDigits("ab-12-cd-34"), "AB12CD");
    EXPECT_EQ(TitleColorSelector::sanitizedHexDigits("  ##12 3# "), "123");

    EXPECT_EQ(TitleColorSelector::normalizedHexIfValid("#AABBCCDD"), "#AABBCC");
    EXPECT_EQ(TitleColorSelector::normalizedHexIfValid("12345"), std::nullopt);

    EXPECT_EQ(TitleColorSelector::normalizedHex("#ffe27a"), "#FFE27A");
    EXPECT_EQ(TitleColorSelector::normalizedHex(" ##ffe27a# \n"), "#FFE27A");
    // Unlike the sanitiser, nothing is dropped from the middle or cut off the end.
    EXPECT_EQ(TitleColorSelector::normalizedHex("#12 3456"), "#FFFFFF");
    EXPECT_EQ(TitleColorSelector::normalizedHex("#AABBCCDD"), "#FFFFFF");
    EXPECT_EQ(TitleColorSelector::normalizedHex("red"), "#FFFFFF");
}

class TitleColorSelectorWidget : public ::testing::Test {
protected:
    std::vector<std::string> reported;
    std::unique_ptr<TitleColorSelector> make(const std::string& stored)
    {
        return std::make_unique<TitleColorSelector>(AppLanguage::spanish, stored,
                                                    [this](const std::string& hex) { reported.push_back(hex); });
    }
};

TEST_F(TitleColorSelectorWidget, TypedColourAppliesOnlyWhenValidAndClosesThePopup)
{
    auto selector = make("#FFFFFF");
    selector->show();
    QTest::mouseClick(selector->button(), Qt::LeftButton);
    ASSERT_TRUE(selector->isPresented());
    EXPECT_EQ(selector->hexField()->text(), "FFFFFF");

    selector->hexField()->clear();
    QTest::keyClicks(selector->hexField(), "#ab12");
    EXPECT_EQ(selector->hexField()->text(), "AB12");
    EXPECT_FALSE(selector->applyButton()->isEnabled());
    EXPECT_DOUBLE_EQ(selector->draftSwatch()->opacity(), 0.35);
    QTest::keyClick(selector->hexField(), Qt::Key_Return);
    EXPECT_TRUE(reported.empty());
    EXPECT_TRUE(selector->isPresented());

    QTest::keyClicks(selector->hexField(), "Cd");
    EXPECT_EQ(selector->hexField()->text(), "AB12CD");
    EXPECT_TRUE(selector->applyButton()->isEnabled());
    EXPECT_DOUBLE_EQ(selector->draftSwatch()->opacity(), 1.0);
    QTest::mouseClick(selector->applyButton(), Qt::LeftButton);
    EXPECT_EQ(reported, std::vector<std::string>{"#AB12CD"});
    EXPECT_FALSE(selector->isPresented());
    EXPECT_FALSE(selector->popover()->isVisible());
}

TEST_F(TitleColorSelectorWidget, PastedTextKeepsSixDigitsAndPresetsReportAtOnceKeepingThePopupOpen)
{
    auto selector = make("#FFFFFF");
    selector->show();
    selector->togglePopover();
    selector->setDraftText("ab-12-cd-34");
    EXPECT_EQ(selector->hexField()->text(), "AB12CD");
    selector->setDraftText("#AABBCCDD");
    EXPECT_EQ(selector->hexField()->text(), "AABBCC");

    QTest::mouseClick(selector->paletteButton(4), Qt::LeftButton);
    EXPECT_EQ(reported, std::vector<std::string>{"#FF5A5F"});
    EXPECT_TRUE(selector->isPresented());
    EXPECT_EQ(selector->hexField()->text(), "FF5A5F");
}

TEST_F(TitleColorSelectorWidget, StoredTextThatIsNoColourShowsWhite)
{
    auto selector = make("red");
    selector->show();
    EXPECT_EQ(selector->hexLabel()->text(), "#FFFFFF");
    EXPECT_TRUE(selector->paletteButton(0)->property("selectedPreset").toBool());
    selector->togglePopover();
    EXPECT_EQ(selector->hexField()->text(), "FFFFFF");

    selector->setColorHex("#ffe27a");
    EXPECT_TRUE(selector->paletteButton(2)->property("selectedPreset").toBool());
    EXPECT_FALSE(selector->paletteButton(0)->property("selectedPreset").toBool());
}
