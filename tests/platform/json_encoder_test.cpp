#include "platform/json_decoding.h"
#include "platform/json_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace fotivela;
using Json = nlohmann::json;

namespace {

std::string number(double d)
{
    std::string out;
    appendFotivelaJsonNumber(out, d);
    return out;
}

} // namespace

TEST(JsonEncoder, WritesThePlatformPrettyLayoutWithKeysInByteOrder)
{
    Json j = Json::object();
    j["b"] = 1.0;
    j["a"] = Json::array();
    j["c"] = {{"x", Json::array({1, "y"})}, {"e", Json::object()}};
    j["B"] = true;
    EXPECT_EQ(encodeFotivelaJson(j), "{\n"
                                     "  \"B\" : true,\n"
                                     "  \"a\" : [\n"
                                     "\n"
                                     "  ],\n"
                                     "  \"b\" : 1,\n"
                                     "  \"c\" : {\n"
                                     "    \"e\" : {\n"
                                     "\n"
                                     "    },\n"
                                     "    \"x\" : [\n"
                                     "      1,\n"
                                     "      \"y\"\n"
                                     "    ]\n"
                                     "  }\n"
                                     "}");
    EXPECT_EQ(encodeFotivelaJson(Json::array()), "[\n\n]");
    EXPECT_EQ(encodeFotivelaJson(Json("x")), "\"x\"");
    EXPECT_EQ(encodeFotivelaJson(Json::binary({0xFB, 0xFF, 0x00, 'a'})), "\"+\\/8AYQ==\"");
    EXPECT_EQ(encodeFotivelaJson(Json::binary({'a', 'b', 'c'})), "\"YWJj\"");
}

TEST(JsonEncoder, EscapesSlashesQuotesAndControlCharacters)
{
    EXPECT_EQ(encodeFotivelaJson(Json("file:///a b/\"c\"\\\n\t\r\b\f\x01\x1f\x7f")),
              "\"file:\\/\\/\\/a b\\/\\\"c\\\"\\\\\\n\\t\\r\\b\\f\\u0001\\u001f\x7f\"");
    EXPECT_EQ(encodeFotivelaJson(Json(std::string("a\0b", 3))), "\"a\\u0000b\"");
    EXPECT_EQ(encodeFotivelaJson(Json("canción ✓ 𝄞")), "\"canción ✓ 𝄞\"");
}

TEST(JsonEncoder, InvalidUtf8IsWrittenAsReplacementCharacterAndReadsBack)
{
    // A Latin-1 file name or a cut multi-byte sequence must not make the file unreadable.
    const std::string text = encodeFotivelaJson(Json(std::string("caf\xE9 \xE2\x82 \xED\xA0\x80 ok")));
    EXPECT_EQ(text, "\"caf\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD ok\"");
    EXPECT_NO_THROW(parseFotivelaJson(text));
}

TEST(JsonEncoder, NumbersInTheirShortestRoundTripForm)
{
    EXPECT_EQ(number(1.0), "1");
    EXPECT_EQ(number(-3.0), "-3");
    EXPECT_EQ(number(0.0), "0");
    EXPECT_EQ(number(-0.0), "0");
    EXPECT_EQ(number(0.12), "0.12");
    EXPECT_EQ(number(2.5), "2.5");
    EXPECT_EQ(number(0.0001), "0.0001");
    EXPECT_EQ(number(0.00001), "1e-05");
    EXPECT_EQ(number(9007199254740992.0), "9007199254740992");
    EXPECT_EQ(number(1e16), "1e+16");
    EXPECT_EQ(number(1.5e300), "1.5e+300");
    EXPECT_EQ(number(123456.789), "123456.789");
    EXPECT_EQ(number(1.0 / 3.0), "0.3333333333333333");
    EXPECT_EQ(encodeFotivelaJson(Json(std::numeric_limits<std::int64_t>::min())), "-9223372036854775808");

    std::mt19937_64 random(7);
    for (int i = 0; i < 20000; ++i) {
        double d;
        const auto bits = random();
        std::memcpy(&d, &bits, sizeof d);
        if (!std::isfinite(d))
            continue;
        const auto text = number(d);
        EXPECT_EQ(Json::parse(text).get<double>(), d) << text;
    }
}

TEST(JsonEncoder, NonFiniteNumbersFailAndLeaveTheOutputUntouched)
{
    for (const double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity()}) {
        Json j = {{"ok", 1}, {"z", Json::array({0.5, Json::object({{"deep", bad}})})}};
        EXPECT_THROW(encodeFotivelaJson(j), JsonEncodingError);
        std::string out = "kept";
        EXPECT_THROW(appendFotivelaJson(out, j), JsonEncodingError);
        EXPECT_EQ(out, "kept");
    }
}

TEST(JsonEncoder, RefusesNestingPastTheLimit)
{
    Json deep = Json::array();
    for (int i = 0; i < 600; ++i)
        deep = Json::array({std::move(deep)});
    EXPECT_THROW(encodeFotivelaJson(deep), JsonEncodingError);
}
