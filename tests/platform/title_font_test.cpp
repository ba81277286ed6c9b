#include "platform/title_font.h"

#include <QFontInfo>

#include <gtest/gtest.h>

namespace fotivela {
namespace {

// Every design must find its face on a machine set up by install-deps; a
// missing font package would silently change every exported title.
TEST(TitleFont, EveryDesignHasAnInstalledFace)
{
    const std::pair<TitleFontDesign, const char*> faces[] = {
        {TitleFontDesign::default_, "DejaVu Sans"},   {TitleFontDesign::rounded, "DejaVu Sans"},
        {TitleFontDesign::serif, "Nimbus Roman"},     {TitleFontDesign::monospaced, "DejaVu Sans Mono"},
        {TitleFontDesign::avenirNext, "URW Gothic"},  {TitleFontDesign::futura, "URW Gothic"},
        {TitleFontDesign::helveticaNeue, "Nimbus Sans"}, {TitleFontDesign::georgia, "DejaVu Serif"},
        {TitleFontDesign::baskerville, "P052"},       {TitleFontDesign::didot, "C059"},
        {TitleFontDesign::copperplate, "URW Bookman"}, {TitleFontDesign::markerFelt, "Comic Neue"},
    };
    for (const auto& [design, family] : faces) {
        const QFont font = nsFont(design, 30);
        // Qt names the foundry when a family comes from two ("Nimbus Roman [urw]").
        const QString found = QFontInfo(font).family();
        EXPECT_EQ(found.left(found.indexOf(" [")).toStdString(), family);
        EXPECT_DOUBLE_EQ(font.pointSizeF(), 30);
    }
    EXPECT_GE(nsFont(TitleFontDesign::default_, 30).weight(), QFont::DemiBold);
}

} // namespace
} // namespace fotivela
