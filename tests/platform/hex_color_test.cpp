#include "platform/hex_color.h"

#include <gtest/gtest.h>

namespace fotivela {
namespace {

TEST(HexColor, ReadsTheLowestSixDigitsAndGivesWhiteForAnythingElse)
{
    for (const char* red : {"#FF0000", "FF0000", "##FF0000", "#FF0000#", "#80FF0000", "#ff0000"})
        EXPECT_EQ(colorFromHex(red), QColor(255, 0, 0)) << red;
    for (const char* white : {"", "#", "#GG0000", " #FF0000", "#FF0000 ", "-1", "12345678901234567", "+-5"})
        EXPECT_EQ(colorFromHex(white), QColor(255, 255, 255)) << white;
    EXPECT_EQ(colorFromHex("#FFF"), QColor(0, 15, 255));
    EXPECT_EQ(colorFromHex("#12345"), QColor(1, 0x23, 0x45));
    EXPECT_EQ(colorFromHex("+0000FF"), QColor(0, 0, 255));
    EXPECT_EQ(colorFromHex("-2"), QColor(255, 255, 254)); // two's complement
}

} // namespace
} // namespace fotivela
