#include "platform/plist_value.h"

#include <gtest/gtest.h>

using namespace fotivela;
using namespace std::chrono;

namespace {

PlistValue sampleDictionary()
{
    PlistValue::Dictionary nested{{"b", PlistValue(true)}, {"n", PlistValue(std::int64_t{-42})}};
    return PlistValue(PlistValue::Dictionary{
        {"recentProjects", PlistValue(PlistValue::Data{'[', ']', 0, 255})},
        {"defaultProjectDirectory", PlistValue("/home/ana/Vídeos")},
        {"showInterfaceTooltips", PlistValue(false)},
        {"stemSecondsPerAudioSecond", PlistValue(1.15)},
        {"big", PlistValue(std::int64_t{1} << 40)},
        {"when", PlistValue(PlistValue::Date(sys_days(2026y / 3 / 1) + 9h + 30min + 250ms))},
        {"list", PlistValue(PlistValue::Array{PlistValue("a"), PlistValue(2), PlistValue(nested)})},
        {"empty", PlistValue(PlistValue::Dictionary{})},
    });
}

} // namespace

TEST(PlistValue, BinaryRoundTripKeepsEveryKindOfValue)
{
    const PlistValue original = sampleDictionary();
    const auto bytes = binaryPropertyList(original);
    ASSERT_GE(bytes.size(), 8u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "bplist00");
    EXPECT_EQ(parsePropertyList(bytes), original);
}

TEST(PlistValue, ReadsXmlPropertyLists)
{
    const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>fotivela.appLanguage</key><string>en</string>
<key>showInterfaceTooltips</key><true/>
<key>stemSecondsPerAudioSecond</key><real>1.5</real>
</dict></plist>)";
    const auto parsed = parsePropertyList(std::span(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()));
    ASSERT_TRUE(parsed);
    const auto* dict = parsed->as<PlistValue::Dictionary>();
    ASSERT_TRUE(dict);
    EXPECT_EQ(dict->at("fotivela.appLanguage"), PlistValue("en"));
    EXPECT_EQ(dict->at("showInterfaceTooltips"), PlistValue(true));
    EXPECT_EQ(dict->at("stemSecondsPerAudioSecond"), PlistValue(1.5));
}

TEST(PlistValue, TextThatIsNoPropertyListGivesNothing)
{
    for (const std::string& text : {std::string("hola, esto no es un plist"), std::string(), std::string("bplist00"),
                                   std::string("<plist><dict><key>a</key>")}) {
        EXPECT_EQ(parsePropertyList(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())), std::nullopt)
            << text;
    }
}

TEST(PlistValue, NestingDeeperThanAnySettingGivesNothing)
{
    std::string xml = R"(<?xml version="1.0"?><plist version="1.0">)";
    for (int i = 0; i < 30000; ++i)
        xml += "<array>";
    for (int i = 0; i < 30000; ++i)
        xml += "</array>";
    xml += "</plist>";
    EXPECT_EQ(parsePropertyList(std::span(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size())), std::nullopt);
}

TEST(PlistValue, TextHoldingANulCharacterGivesNothing)
{
    // Non-ASCII texts are stored as UTF-16; turning "é" (00 E9) into U+0000 puts a NUL inside the
    // key, then inside the value.
    for (const int which : {0, 1}) {
        auto bytes = binaryPropertyList(PlistValue(PlistValue::Dictionary{{"clav\xC3\xA9", PlistValue("valor \xC3\xA9")}}));
        int seen = 0;
        for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
            if (bytes[i] == 0x00 && bytes[i + 1] == 0xE9 && seen++ == which) {
                bytes[i + 1] = 0x00;
                break;
            }
        }
        ASSERT_EQ(seen, which + 1);
        EXPECT_EQ(parsePropertyList(bytes), std::nullopt) << which;
    }
}

TEST(PlistValue, TextThatWouldNotReadBackIsRefusedOnWriting)
{
    // A cut-off sequence, a stray byte, an encoded surrogate and a NUL, as a value and as a key.
    for (const std::string& text : {std::string("V\xC3"), std::string("abc\xFF"), std::string("\xED\xA0\x80"),
                                   std::string("a\0b", 3)}) {
        EXPECT_THROW(binaryPropertyList(PlistValue(PlistValue::Dictionary{{"k", PlistValue(text)}})), std::invalid_argument);
        EXPECT_THROW(binaryPropertyList(PlistValue(PlistValue::Dictionary{{text, PlistValue(true)}})), std::invalid_argument);
        EXPECT_THROW(binaryPropertyList(PlistValue(PlistValue::Array{PlistValue(text)})), std::invalid_argument);
    }
    const PlistValue wide(PlistValue::Dictionary{{"\xF0\x9F\x98\x80", PlistValue("\xEF\xBF\xBF \xE2\x82\xAC")}});
    EXPECT_EQ(parsePropertyList(binaryPropertyList(wide)), wide);
}
