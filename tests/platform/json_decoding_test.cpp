#include "platform/file_url.h"
#include "platform/iso8601_date.h"
#include "platform/json_decoding.h"

#include <gtest/gtest.h>

using namespace fotivela;
using namespace std::chrono;
using Json = nlohmann::json;

namespace {

JsonDecodingError decodingError(auto&& action)
{
    try {
        action();
    } catch (const JsonDecodingError& e) {
        return e;
    }
    ADD_FAILURE() << "no decoding error";
    return JsonDecodingError(JsonDecodingError::Kind::dataCorrupted, "", "");
}

} // namespace

TEST(JsonParsing, DeepNestingIsRefusedWithoutExhaustingTheStack)
{
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_EQ(decodingError([&] { parseFotivelaJson(deep); }).kind(), JsonDecodingError::Kind::dataCorrupted);
    const std::string objects = std::string(200000, '{');
    EXPECT_THROW(parseFotivelaJson(objects), JsonDecodingError);

    const std::string atLimit = std::string(512, '[') + std::string(512, ']');
    EXPECT_NO_THROW(parseFotivelaJson(atLimit));
    EXPECT_THROW(parseFotivelaJson("[" + atLimit + "]"), JsonDecodingError);
    // Brackets inside strings do not count.
    EXPECT_NO_THROW(parseFotivelaJson("[\"" + std::string(5000, '[') + "\\\"\"]"));
}

TEST(JsonParsing, BrokenTextFailsWithADecodingError)
{
    for (const char* bad : {"", "{", "{\"a\": 1", "{\"a\": 1}}", "[1,]", "{'a': 1}", "nul", "[1e400]",
                            "\"\xC3\x28\"", "\"\\ud800\"", "{\"a\" 1}", "[01]", "[NaN]"})
        EXPECT_THROW(parseFotivelaJson(bad), JsonDecodingError) << bad;
}

TEST(JsonReaders, CheckTypesAndNameTheKeyPath)
{
    const Json doc = Json::parse(R"({"audio": {"beatMarkers": [{}, {"kind": 3}]}})");
    const JsonPath root;
    const auto error = decodingError([&] {
        const JsonObjectReader top(doc, root);
        top.required("audio", [](const Json& audio, const JsonPath& path) {
            const JsonObjectReader r(audio, path);
            return r.required("beatMarkers", [](const Json& list, const JsonPath& at) {
                return readJsonList(list, at, [](const Json& marker, const JsonPath& markerPath) {
                    return JsonObjectReader(marker, markerPath).optionalOr("kind", readJsonString, "none");
                });
            });
        });
    });
    EXPECT_EQ(error.kind(), JsonDecodingError::Kind::typeMismatch);
    EXPECT_EQ(error.path(), "audio.beatMarkers[1].kind");
    EXPECT_NE(std::string(error.what()).find("audio.beatMarkers[1].kind"), std::string::npos);
}

TEST(JsonReaders, NullIsMissingForOptionalKeysAndAFailureForRequiredOnes)
{
    const Json doc = Json::parse(R"({"a": null})");
    const JsonPath root;
    const JsonObjectReader r(doc, root);
    EXPECT_EQ(r.optional("a", readJsonBool), std::nullopt);
    EXPECT_EQ(r.optionalOr("a", readJsonDouble, 2.5), 2.5);
    EXPECT_EQ(decodingError([&] { r.required("a", readJsonBool); }).kind(), JsonDecodingError::Kind::valueNotFound);
    EXPECT_EQ(decodingError([&] { r.required("b", readJsonBool); }).kind(), JsonDecodingError::Kind::keyNotFound);
}

TEST(JsonReaders, NumbersMustFitTheirField)
{
    const JsonPath root;
    EXPECT_EQ(readJsonInt64(Json::parse("30"), root), 30);
    EXPECT_EQ(readJsonInt64(Json::parse("3.0"), root), 3);
    EXPECT_EQ(readJsonInt64(Json::parse("-9223372036854775808"), root), std::numeric_limits<std::int64_t>::min());
    for (const char* bad : {"3.5", "9223372036854775808", "1e19", "99999999999999999999", "\"3\"", "true"})
        EXPECT_THROW(readJsonInt64(Json::parse(bad), root), JsonDecodingError) << bad;
    EXPECT_EQ(readJsonDouble(Json::parse("12"), root), 12.0);
    EXPECT_EQ(readJsonDouble(Json::parse("1e300"), root), 1e300);
    EXPECT_EQ(readJsonDouble(Json::parse("99999999999999999999"), root), 1e20);
    EXPECT_THROW(readJsonBool(Json::parse("1"), root), JsonDecodingError);
    EXPECT_THROW(readJsonDoubleList(Json::parse("[1, \"2\"]"), root), JsonDecodingError);
}

TEST(JsonReaders, FlatDictionaryMustHoldWholePairs)
{
    const JsonPath root;
    auto read = [&](const char* text) {
        return readJsonFlatDictionary(Json::parse(text), root, readJsonString, readJsonInt64);
    };
    EXPECT_TRUE(read("[]").empty());
    EXPECT_EQ(read(R"(["a", 1, "b", 2, "a", 3])"), (std::map<std::string, std::int64_t>{{"a", 3}, {"b", 2}}));
    EXPECT_THROW(read(R"(["a", 1, "b"])"), JsonDecodingError);
    EXPECT_THROW(read(R"({"a": 1})"), JsonDecodingError);
}

TEST(Iso8601Date, WritesWholeSecondsInUtc)
{
    const auto date = sys_days{2025y / March / 1} + 10h + 20min + 30s + 750ms;
    EXPECT_EQ(formatIso8601Date(date), "2025-03-01T10:20:30Z");
    EXPECT_EQ(parseIso8601Date("2025-03-01T10:20:30Z"), time_point_cast<system_clock::duration>(date - 750ms));
    // Before 1970 a fraction still rounds towards the past.
    EXPECT_EQ(formatIso8601Date(sys_days{1969y / December / 31} + 23h + 59min + 59s + 500ms),
              "1969-12-31T23:59:59Z");
}

TEST(Iso8601Date, ReadsZonesAndRefusesFractionsAndImpossibleDates)
{
    const auto utc = parseIso8601Date("2024-02-29T12:00:00Z");
    ASSERT_TRUE(utc);
    EXPECT_EQ(parseIso8601Date("2024-02-29T13:30:00+01:30"), utc);
    EXPECT_EQ(parseIso8601Date("2024-02-29T07:00:00-0500"), utc);
    EXPECT_TRUE(parseIso8601Date("1700-01-01T00:00:00Z"));
    EXPECT_TRUE(parseIso8601Date("2261-12-31T23:59:59Z"));
    for (const char* bad :
         {"2024-02-29T12:00:00.5Z", "2024-02-29T12:00:00", "2023-02-29T12:00:00Z", "2024-13-01T00:00:00Z",
          "2024-01-01T24:00:00Z", "2024-01-01T00:60:00Z", "2024-01-01 00:00:00Z", "2024-1-01T00:00:00Z",
          "2024-01-01T00:00:00z", "2024-01-01T00:00:00+1:00", "", "2024-01-01T00:00:00Z ",
          // Beyond the clock's range (found by the fuzzer: the conversion overflowed).
          "9573-03-01T09:00:00+01:00", "0000-01-01T00:30:00+01:00", "9999-12-31T23:30:00-01:00",
          "1677-01-01T00:00:00Z", "2263-01-01T00:00:00Z"})
        EXPECT_FALSE(parseIso8601Date(bad)) << bad;
}

TEST(FileUrl, EscapesEverythingOutsideThePathCharacters)
{
    EXPECT_EQ(fileUrlString("/home/ana/Mis fotos/año 100%/a#b?.jpg"),
              "file:///home/ana/Mis%20fotos/a%C3%B1o%20100%25/a%23b%3F.jpg");
    EXPECT_EQ(fileUrlString("/a/b-c_d.e~f!$&'()*+,;=:@/"), "file:///a/b-c_d.e~f!$&'()*+,;=:@/");
    const std::filesystem::path odd = "/tmp/x \t\n\"[]\\{}|^`<>\xE9";
    EXPECT_EQ(pathFromFileUrl(fileUrlString(odd)), odd);
    EXPECT_TRUE(fileUrlString("relative/x").starts_with("file:///"));
}

TEST(FileUrl, ReadsFileUrlsOnly)
{
    EXPECT_EQ(pathFromFileUrl("file:///a/b%20c"), std::filesystem::path("/a/b c"));
    EXPECT_EQ(pathFromFileUrl("FILE://localhost/a"), std::filesystem::path("/a"));
    EXPECT_EQ(pathFromFileUrl("file:/a/b"), std::filesystem::path("/a/b"));
    EXPECT_EQ(pathFromFileUrl("file:///a/b?x=1#y"), std::filesystem::path("/a/b"));
    EXPECT_EQ(pathFromFileUrl("file:///a/dir/"), std::filesystem::path("/a/dir/"));
    for (const char* bad : {"", "/a/b", "http://x/a", "file://server/a", "file:a/b", "file://", "file:///a%2",
                            "file:///a%zz", "file:///a%00b", "file:///a\nb", "fil:///a"})
        EXPECT_FALSE(pathFromFileUrl(bad)) << bad;
}
