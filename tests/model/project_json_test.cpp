#include "model/project_json.h"
#include "platform/atomic_file.h"
#include "platform/json_encoder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace fotivela;
using namespace std::chrono;
using Json = nlohmann::json;

namespace {

const char* const slideId = "11111111-2222-4333-8444-555555555555";
const char* const markerId = "AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE";

Json minimalSlide()
{
    return {{"id", slideId},          {"imageURL", "file:///fotos/a%20b.jpg"},
            {"name", "a b"},          {"order", 0},
            {"duration", 2.5},        {"transition", "Corte"},
            {"zoom", "Sin zoom"},     {"title", ""}};
}

Json minimalMarker()
{
    return {{"id", markerId}, {"time", 1.25}, {"strength", 0.8}, {"kind", "strong"}, {"isEnabled", true},
            {"isManual", false}};
}

Json minimalAnalysis()
{
    return {{"waveformSamples", {0.1, 0.2}}, {"beatMarkers", {minimalMarker()}}, {"sensitivity", 0.5},
            {"beatsPerBar", 4}, {"version", 25}};
}

Json minimalStemState()
{
    return {{"engine", "Mezcla original"}, {"sourceSignature", ""}, {"stems", Json::array()},
            {"instrumentPreviewURLs", Json::array()}, {"message", "Pendiente"}};
}

Json minimalTrack()
{
    return {{"url", "file:///musica/tema.mp3"},
            {"name", "tema"},
            {"syncMode", "Manual"},
            {"fadeIn", true},
            {"fadeOut", false},
            {"beatSensitivity", 0.5},
            {"beatDetectionFocus", "Todo"},
            {"beatsPerBar", 4},
            {"snapTolerance", 0.1},
            {"autoBeatTargets", {"strong", "bar", "strong"}},
            {"autoBeatInstruments", {"Bombo"}},
            {"waveformSamples", {0, 0.5, 1}},
            {"beatMarkers", {minimalMarker()}},
            {"analysisCache", Json::array()},
            {"instrumentAnalysisCache", Json::array()},
            {"instrumentAnalysisVariants", Json::object()},
            {"stemSeparation", minimalStemState()},
            {"analysisVersion", 25}};
}

Json minimalProject()
{
    return {{"id", "0F0E0D0C-0B0A-4908-8706-050403020100"},
            {"name", "Viaje"},
            {"createdAt", "2025-03-01T10:20:30Z"},
            {"updatedAt", "2025-03-02T11:00:00Z"},
            {"format", "YouTube 16:9"},
            {"fps", 30},
            {"slides", {minimalSlide()}},
            {"exportSettings", Json::object()}};
}

FotivelaProject decode(const Json& j)
{
    return decodeProject(j.dump());
}

JsonDecodingError decodeFailure(const Json& j)
{
    try {
        decode(j);
    } catch (const JsonDecodingError& e) {
        return e;
    }
    ADD_FAILURE() << "decoded without error: " << j.dump();
    return JsonDecodingError(JsonDecodingError::Kind::dataCorrupted, "", "");
}

// A project that uses every field with a value other than its default.
FotivelaProject fullProject()
{
    auto p = FotivelaProject::empty();
    p.name = "Boda / 2024 \"final\"";
    p.createdAt = sys_days{2024y / June / 1} + 9h;
    p.updatedAt = sys_days{2024y / June / 2} + 18h + 30min + 5s;
    p.format = ProjectFormat::landscape;
    p.fps = 24;
    p.fillPhotosToScreen = true;
    p.backgroundColorHex = "#12AB34";
    for (int i = 0; i < 3; ++i) {
        Slide s;
        s.id = Uuid::random();
        s.imageURL = "/home/ana/Fotos/boda " + std::to_string(i) + "/ñ#?.heic";
        s.name = "foto " + std::to_string(i);
        s.order = i;
        s.duration = 1.5 + i;
        s.transition = i == 0 ? SlideTransition::cut : SlideTransition::dissolve;
        s.zoom = ZoomMode::slowOut;
        s.imageScale = 2.25;
        s.imageOffsetX = -0.5;
        s.imageOffsetY = 0.125;
        s.kenBurnsEnabled = true;
        s.kenBurnsZoomAmount = 0.2;
        s.kenBurnsMovementAmount = 0.6;
        s.title = "Título";
        s.titleFontSize = 64;
        s.titleColorHex = "#ff0000";
        s.titleFontDesign = TitleFontDesign::markerFelt;
        s.titleHasBackground = false;
        s.titlePositionX = 0.3;
        s.titlePositionY = 0.8;
        s.isGeneratedTitleSlide = i == 2;
        p.slides.push_back(s);
    }
    AudioTrack t;
    t.url = "/home/ana/Música/tema (final).mp3";
    t.name = "tema";
    t.syncMode = SyncMode::autoBeatV2;
    t.fadeIn = true;
    t.fadeOut = true;
    t.cutToSlideshowDuration = true;
    t.cutFadeOutDuration = 4;
    t.beatSensitivity = 0.4567;
    t.autoBeatMinimumMarkerSpacing = 0.3;
    t.beatDetectionFocus = BeatDetectionFocus::cymbal;
    t.beatsPerBar = 3;
    t.snapTolerance = 0.08;
    t.autoBeatTargets = {BeatKind::bar, BeatKind::weak};
    t.autoBeatInstruments = {AutoBeatInstrument::kick, AutoBeatInstrument::bass};
    t.waveformSamples = {0, 0.25, 1, 1e-7};
    t.attackDetectionSamples = {0.5, 0.75};
    BeatMarker m{.id = Uuid::random(), .time = 3.5, .strength = 0.9, .kind = BeatKind::weak, .isEnabled = false,
                 .isManual = true, .sourceInstrument = AutoBeatInstrument::clapSnare};
    t.beatMarkers = {m, BeatMarker{.id = Uuid::random(), .time = 7}};
    t.isAttackWaveformEnabled = false;
    t.attackMarkerOverrides = {m};
    const AudioAnalysis analysis{.waveformSamples = {0.5}, .beatMarkers = {m}, .sensitivity = 0.4567,
                                 .beatsPerBar = 3, .version = 25};
    t.analysisCache = {{BeatDetectionFocus::kick, analysis}, {BeatDetectionFocus::fullMix, AudioAnalysis{}}};
    t.instrumentAnalysisCache = {{AutoBeatInstrument::kick, analysis}, {AutoBeatInstrument::bass, analysis}};
    t.instrumentAnalysisVariants = {{"Bajo|fallback|s:457|b:3|v:25", analysis}, {"Bombo|demucs:Bateria", {.hasUserEdits = true}}};
    t.stemSeparation.engine = StemSeparationEngine::demucs;
    t.stemSeparation.sourceSignature = "/música/tema.mp3|123|1700000000.5";
    t.stemSeparation.cacheDirectory = "/proj/AI/Stems/ABC/htdemucs/tema/";
    t.stemSeparation.stems = {{AudioStem::drums, "/proj/AI/Stems/drums.wav"},
                              {AudioStem::bass, "/proj/AI/Stems/bass.wav"}};
    t.stemSeparation.instrumentPreviewURLs = {{AutoBeatInstrument::kick, "/proj/kick-filtered-v2.wav"}};
    t.stemSeparation.separatedAt = sys_days{2024y / June / 2} + 18h;
    t.stemSeparation.message = "Separado";
    t.analysisVersion = 25;
    p.audio = t;
    p.aiMusic->lyrics = "la la\nla";
    p.aiMusic->withVocals = false;
    p.aiMusic->lastContactSheetURL = "/proj/AI/ContactSheets/sheet.jpg";
    p.aiMusic->lastGeneratedAt = sys_days{2024y / June / 2} + 17h;
    p.exportSettings = {ExportQuality::premium, ExportCodec::h264, 33.5, false, "mov"};
    return p;
}

} // namespace

TEST(ProjectJson, FullProjectRoundTripsAndReEncodesIdentically)
{
    const auto project = fullProject();
    const auto text = encodeProject(project);
    const auto decoded = decodeProject(text);
    EXPECT_EQ(decoded, project);
    EXPECT_EQ(encodeProject(decoded), text);
}

TEST(ProjectJson, WritesTheFileLayoutAndForms)
{
    const auto project = fullProject();
    const auto text = encodeProject(project);
    EXPECT_TRUE(text.starts_with("{\n  \"aiMusic\" : {\n"));
    EXPECT_NE(text.find("\"createdAt\" : \"2024-06-01T09:00:00Z\""), std::string::npos);
    EXPECT_NE(text.find("\"id\" : \"" + project.id.toString() + "\""), std::string::npos);
    EXPECT_NE(text.find("\"format\" : \"Horizontal 4:5\""), std::string::npos);
    EXPECT_NE(text.find("\"imageURL\" : \"file:\\/\\/\\/home\\/ana\\/Fotos\\/boda%200\\/%C3%B1%23%3F.heic\""),
              std::string::npos);
    EXPECT_NE(text.find("\"bitrateMbps\" : 33.5"), std::string::npos);
    EXPECT_NE(text.find("\"fps\" : 24"), std::string::npos);

    // Enumeration-keyed dictionaries are flat arrays; text-keyed ones objects.
    const auto tree = Json::parse(text);
    const auto& audio = tree["audio"];
    ASSERT_EQ(audio["analysisCache"].size(), 4u);
    EXPECT_EQ(audio["analysisCache"][0], "Bombo");
    EXPECT_TRUE(audio["analysisCache"][1].is_object());
    EXPECT_EQ(audio["instrumentAnalysisCache"][0], "Bombo");
    EXPECT_EQ(audio["instrumentAnalysisCache"][2], "Bajo");
    EXPECT_TRUE(audio["instrumentAnalysisVariants"].is_object());
    EXPECT_EQ(audio["stemSeparation"]["stems"], Json({"Bateria", "file:///proj/AI/Stems/drums.wav", "Bajo",
                                                      "file:///proj/AI/Stems/bass.wav"}));
    EXPECT_EQ(audio.size(), 24u);
    EXPECT_EQ(tree["slides"][0].size(), 21u);
    EXPECT_EQ(audio["beatMarkers"][1].count("sourceInstrument"), 0u);
}

TEST(ProjectJson, MinimalFileReadsWithAbsentOptionalsAndDefaults)
{
    const auto p = decode(minimalProject());
    EXPECT_EQ(p.name, "Viaje");
    EXPECT_EQ(p.createdAt, sys_days{2025y / March / 1} + 10h + 20min + 30s);
    EXPECT_FALSE(p.fillPhotosToScreen);
    EXPECT_FALSE(p.backgroundColorHex);
    EXPECT_FALSE(p.audio);
    EXPECT_FALSE(p.aiMusic);
    EXPECT_EQ(p.exportSettings, ExportSettings{});

    const Slide& s = p.slides.at(0);
    EXPECT_EQ(s.imageURL, "/fotos/a b.jpg");
    EXPECT_EQ(s.imageScale, 1);
    EXPECT_EQ(s.imageOffsetX, 0);
    EXPECT_FALSE(s.kenBurnsEnabled);
    EXPECT_EQ(s.kenBurnsZoomAmount, 0.12);
    EXPECT_EQ(s.kenBurnsMovementAmount, 0.35);
    EXPECT_EQ(s.titleFontSize, 42);
    EXPECT_EQ(s.titleColorHex, "#FFFFFF");
    EXPECT_EQ(s.titleFontDesign, TitleFontDesign::default_);
    EXPECT_TRUE(s.titleHasBackground);
    EXPECT_EQ(s.titlePositionX, 0.5);
    EXPECT_FALSE(s.isGeneratedTitleSlide);

    // Absent optionals stay out on the next write, and unknown keys are gone.
    auto withExtra = minimalProject();
    withExtra["version"] = 3;
    withExtra["slides"][0]["extra"] = {1, 2};
    const auto written = Json::parse(encodeProject(decode(withExtra)));
    for (const char* key : {"fillPhotosToScreen", "backgroundColorHex", "audio", "aiMusic", "version"})
        EXPECT_EQ(written.count(key), 0u) << key;
    EXPECT_EQ(written["slides"][0].count("extra"), 0u);

    auto noSlides = minimalProject();
    noSlides["slides"] = Json::array();
    EXPECT_TRUE(decode(noSlides).slides.empty());
}

TEST(ProjectJson, MissingRequiredKeysFailTheWholeFile)
{
    for (const char* key : {"id", "name", "createdAt", "updatedAt", "format", "fps", "slides", "exportSettings"}) {
        auto j = minimalProject();
        j.erase(key);
        EXPECT_EQ(decodeFailure(j).path(), key);
        j[key] = nullptr;
        EXPECT_EQ(decodeFailure(j).kind(), JsonDecodingError::Kind::valueNotFound) << key;
    }
    for (const char* key : {"id", "imageURL", "name", "order", "duration", "transition", "zoom", "title"}) {
        auto j = minimalProject();
        j["slides"][0].erase(key);
        EXPECT_EQ(decodeFailure(j).path(), std::string("slides[0].") + key);
    }
    const Json minimalTrackKeys = minimalTrack();
    for (const auto& [key, _] : minimalTrackKeys.items()) {
        auto j = minimalProject();
        j["audio"] = minimalTrack();
        j["audio"].erase(key);
        EXPECT_EQ(decodeFailure(j).path(), "audio." + key);
    }
    const Json minimalMarkerKeys = minimalMarker();
    for (const auto& [key, _] : minimalMarkerKeys.items()) {
        auto j = minimalProject();
        j["audio"] = minimalTrack();
        j["audio"]["beatMarkers"][0].erase(key);
        EXPECT_EQ(decodeFailure(j).path(), "audio.beatMarkers[0]." + key);
    }
    const Json minimalAnalysisKeys = minimalAnalysis();
    for (const auto& [key, _] : minimalAnalysisKeys.items()) {
        auto j = minimalProject();
        j["audio"] = minimalTrack();
        j["audio"]["analysisCache"] = {"Todo", minimalAnalysis()};
        j["audio"]["analysisCache"][1].erase(key);
        EXPECT_EQ(decodeFailure(j).path(), "audio.analysisCache[1]." + key);
    }
    const Json minimalStemStateKeys = minimalStemState();
    for (const auto& [key, _] : minimalStemStateKeys.items()) {
        auto j = minimalProject();
        j["audio"] = minimalTrack();
        j["audio"]["stemSeparation"].erase(key);
        EXPECT_EQ(decodeFailure(j).path(), "audio.stemSeparation." + key);
    }
}

TEST(ProjectJson, WrongTypesAtEveryLevelFail)
{
    auto j = minimalProject();
    j["audio"] = minimalTrack();
    j["aiMusic"] = Json::object();
    ASSERT_NO_THROW(decode(j));
    const std::vector<std::pair<Json::json_pointer, Json>> cases = {
        {Json::json_pointer(""), Json::array()},
        {Json::json_pointer("/fps"), 29.97},
        {Json::json_pointer("/fps"), "30"},
        {Json::json_pointer("/name"), 5},
        {Json::json_pointer("/fillPhotosToScreen"), 1},
        {Json::json_pointer("/slides"), Json::object()},
        {Json::json_pointer("/slides/0"), "slide"},
        {Json::json_pointer("/slides/0/duration"), "2"},
        {Json::json_pointer("/slides/0/imageScale"), true},
        {Json::json_pointer("/audio/waveformSamples/1"), nullptr},
        {Json::json_pointer("/audio/autoBeatTargets"), "strong"},
        {Json::json_pointer("/audio/beatMarkers/0/isManual"), "false"},
        {Json::json_pointer("/audio/instrumentAnalysisVariants"), Json::array()},
        {Json::json_pointer("/audio/stemSeparation/stems"), Json::object()},
        {Json::json_pointer("/aiMusic/withVocals"), "yes"},
        {Json::json_pointer("/exportSettings/bitrateMbps"), "12"},
        {Json::json_pointer("/exportSettings/quality"), "1080P"},
        {Json::json_pointer("/id"), "not-a-uuid"},
        {Json::json_pointer("/slides/0/imageURL"), "/fotos/a.jpg"},
        {Json::json_pointer("/slides/0/imageURL"), "https://example.com/a.jpg"},
        {Json::json_pointer("/updatedAt"), "2025-03-02T11:00:00.250Z"},
        {Json::json_pointer("/updatedAt"), 1700000000},
        {Json::json_pointer("/fps"), 1e20},
        {Json::json_pointer("/fps"), 9223372036854775807.0},
        {Json::json_pointer("/audio/analysisVersion"), -1e300},
    };
    for (const auto& [pointer, value] : cases) {
        auto broken = j;
        broken[pointer] = value;
        EXPECT_THROW(decode(broken), JsonDecodingError) << pointer.to_string() << " = " << value.dump();
    }
}

TEST(ProjectJson, DecodingErrorsNameTheFailingKey)
{
    auto j = minimalProject();
    j["audio"] = minimalTrack();
    j["audio"]["beatMarkers"][0]["kind"] = "Strong";
    const auto error = decodeFailure(j);
    EXPECT_EQ(error.path(), "audio.beatMarkers[0].kind");
    EXPECT_NE(std::string(error.what()).find("Strong"), std::string::npos);
}

TEST(SlideJson, ClampsFramingAndReadsOlderFadeAsDissolve)
{
    auto j = minimalProject();
    j["slides"][0]["imageScale"] = 0.5;
    j["slides"][0]["imageOffsetX"] = -2;
    j["slides"][0]["imageOffsetY"] = 0.9;
    j["slides"][0]["transition"] = "Fade";
    auto p = decode(j);
    EXPECT_EQ(p.slides[0].imageScale, 1.0);
    EXPECT_EQ(p.slides[0].imageOffsetX, -0.75);
    EXPECT_EQ(p.slides[0].imageOffsetY, 0.75);
    EXPECT_EQ(p.slides[0].transition, SlideTransition::dissolve);
    EXPECT_EQ(Json::parse(encodeProject(p))["slides"][0]["transition"], "Fundido");

    j["slides"][0]["imageScale"] = 7;
    EXPECT_EQ(decode(j).slides[0].imageScale, 4.0);

    // A fade held in memory is written as it stands.
    p.slides[0].transition = SlideTransition::fade;
    EXPECT_EQ(Json::parse(encodeProject(p))["slides"][0]["transition"], "Fade");
}

TEST(SlideJson, UnknownFontFailsButMissingFontIsSystem)
{
    auto j = minimalProject();
    j["slides"][0]["titleFontDesign"] = "Comic Sans";
    EXPECT_EQ(decodeFailure(j).path(), "slides[0].titleFontDesign");
    j["slides"][0]["titleFontDesign"] = "Marker Felt";
    EXPECT_EQ(decode(j).slides[0].titleFontDesign, TitleFontDesign::markerFelt);
}

TEST(AudioTrackJson, OlderAutoModeReadsAsCurrentWithTheAttackCurveOn)
{
    auto j = minimalProject();
    j["audio"] = minimalTrack();
    j["audio"]["syncMode"] = "Auto ritmo";
    auto p = decode(j);
    EXPECT_EQ(p.audio->syncMode, SyncMode::autoBeatV2);
    EXPECT_TRUE(p.audio->isAttackWaveformEnabled);
    const auto written = Json::parse(encodeProject(p));
    EXPECT_EQ(written["audio"]["syncMode"], "Auto ritmo v2");
    EXPECT_EQ(written["audio"]["isAttackWaveformEnabled"], true);

    j["audio"]["syncMode"] = "Manual";
    p = decode(j);
    EXPECT_FALSE(p.audio->isAttackWaveformEnabled);
    EXPECT_FALSE(p.audio->cutToSlideshowDuration);
    EXPECT_EQ(p.audio->cutFadeOutDuration, 2.5);
    EXPECT_EQ(p.audio->autoBeatMinimumMarkerSpacing, 0.22);
    EXPECT_TRUE(p.audio->attackDetectionSamples.empty());
    EXPECT_TRUE(p.audio->attackMarkerOverrides.empty());
    EXPECT_EQ(p.audio->autoBeatTargets, (std::set<BeatKind>{BeatKind::strong, BeatKind::bar}));
    EXPECT_FALSE(p.audio->beatMarkers[0].sourceInstrument);

    j["audio"]["isAttackWaveformEnabled"] = true;
    EXPECT_TRUE(decode(j).audio->isAttackWaveformEnabled);
}

TEST(AudioTrackJson, UnknownSyncModeFailsWithItsOwnMessage)
{
    auto j = minimalProject();
    j["audio"] = minimalTrack();
    j["audio"]["syncMode"] = "Auto";
    const auto error = decodeFailure(j);
    EXPECT_STREQ(error.what(), "Modo de sincronizacion desconocido: Auto");
    EXPECT_EQ(error.path(), "audio.syncMode");
}

TEST(AudioTrackJson, StemDictionariesMustHoldWholePairsOfKnownKeys)
{
    auto j = minimalProject();
    j["audio"] = minimalTrack();
    j["audio"]["stemSeparation"]["stems"] = {"Bateria", "file:///s/d.wav", "Bajo"};
    EXPECT_EQ(decodeFailure(j).path(), "audio.stemSeparation.stems");
    j["audio"]["stemSeparation"]["stems"] = {"Bateria", "file:///s/d.wav", "Batería", "file:///s/b.wav"};
    EXPECT_EQ(decodeFailure(j).path(), "audio.stemSeparation.stems[2]");
    j["audio"]["stemSeparation"]["stems"] = {"Bateria", "file:///s/d.wav"};
    j["audio"]["stemSeparation"]["instrumentPreviewURLs"] = {"Bombo", "file:///s/k.wav"};
    const auto p = decode(j);
    EXPECT_EQ(p.audio->stemSeparation.stems.at(AudioStem::drums), "/s/d.wav");
    EXPECT_EQ(p.audio->stemSeparation.instrumentPreviewURLs.at(AutoBeatInstrument::kick), "/s/k.wav");
    EXPECT_FALSE(p.audio->stemSeparation.cacheDirectory);
    EXPECT_FALSE(p.audio->stemSeparation.separatedAt);
}

TEST(ExportSettingsJson, DefaultBitrateFollowsTheStoredQuality)
{
    const JsonPath root;
    EXPECT_EQ(decodeExportSettings(Json::object(), root), ExportSettings{});
    EXPECT_EQ(decodeExportSettings(Json{{"quality", "720p"}}, root).bitrateMbps, 6);
    EXPECT_EQ(decodeExportSettings(Json{{"quality", "4K"}}, root).bitrateMbps, 45);
    EXPECT_EQ(decodeExportSettings(Json{{"quality", "720p"}, {"bitrateMbps", 20}}, root).bitrateMbps, 20);
    EXPECT_THROW(decodeExportSettings(Json{{"codec", "H.266"}}, root), JsonDecodingError);
}

TEST(AIMusicSettingsJson, EmptyObjectIsTheTemplateAndWritesSixKeys)
{
    const JsonPath root;
    const auto settings = decodeAIMusicSettings(Json::object(), root);
    EXPECT_EQ(settings, *FotivelaProject::empty().aiMusic);
    const auto written = toJson(settings);
    EXPECT_EQ(written.size(), 6u);
    EXPECT_EQ(written.count("lastContactSheetURL"), 0u);
}

TEST(ProjectJson, FormatIsReadByItsExactStoredString)
{
    auto j = minimalProject();
    j["format"] = "Horizontal 4:5";
    const auto p = decode(j);
    EXPECT_EQ(p.format, ProjectFormat::landscape);
    EXPECT_EQ(displayTitle(p.format, nullptr), "Feed horizontal 5:4");
    j["format"] = "Horizontal 5:4";
    EXPECT_EQ(decodeFailure(j).path(), "format");
}

TEST(ProjectJson, NonFiniteNumberAnywhereFailsTheEncoding)
{
    auto p = fullProject();
    p.slides[1].duration = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THROW(encodeProject(p), JsonEncodingError);
    p = fullProject();
    p.audio->instrumentAnalysisVariants.begin()->second.waveformSamples.push_back(
        std::numeric_limits<double>::infinity());
    EXPECT_THROW(encodeProject(p), JsonEncodingError);
}

TEST(ProjectJson, DatesAreWrittenToTheWholeSecond)
{
    auto p = fullProject();
    p.updatedAt = sys_days{2025y / March / 1} + 10h + 20min + 30s + 750ms;
    const auto text = encodeProject(p);
    EXPECT_NE(text.find("\"updatedAt\" : \"2025-03-01T10:20:30Z\""), std::string::npos);
    EXPECT_EQ(decodeProject(text).updatedAt, sys_days{2025y / March / 1} + 10h + 20min + 30s);
}

TEST(ProjectJson, TruncatedFilesNeverDecode)
{
    const auto text = encodeProject(fullProject());
    for (std::size_t length = 0; length < text.size(); length += 97)
        EXPECT_THROW(decodeProject(std::string_view(text).substr(0, length)), JsonDecodingError) << length;
}

TEST(RecentProjectJson, AllThreeKeysAreRequired)
{
    const RecentProject entry{"Viaje", "/home/ana/Viaje/Viaje.fotivela", sys_days{2025y / May / 5} + 8h};
    const JsonPath root;
    const auto j = toJson(entry);
    EXPECT_EQ(j["url"], "file:///home/ana/Viaje/Viaje.fotivela");
    EXPECT_EQ(j["savedAt"], "2025-05-05T08:00:00Z");
    EXPECT_EQ(decodeRecentProject(j, root), entry);
    for (const char* key : {"name", "url", "savedAt"}) {
        auto broken = j;
        broken.erase(key);
        EXPECT_THROW(decodeRecentProject(broken, root), JsonDecodingError) << key;
    }
}

TEST(ProjectJson, HugeNumbersAndDeepNestingInTheFileFailCleanly)
{
    for (const std::string& value : {std::string("1e400"), std::string("-1e400"), std::string(400, '9'),
                                      std::string(100000, '[') + std::string(100000, ']')}) {
        auto text = minimalProject().dump();
        text.insert(text.size() - 1, ",\"unknown\":" + value);
        EXPECT_THROW(decodeProject(text), JsonDecodingError) << value.substr(0, 20);
    }
    // A huge integer where a float is wanted is just a large float.
    auto j = minimalProject();
    j["slides"][0]["titleFontSize"] = Json::parse(std::string(30, '9'));
    EXPECT_EQ(decode(j).slides[0].titleFontSize, 1e30);
}

TEST(ProjectFile, WrittenAtomicallyAndReadBackFromDisk)
{
    const auto folder = std::filesystem::temp_directory_path() / ("fotivela-project-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto file = folder / "Viaje.fotivela";
    const auto project = fullProject();
    atomicWriteFile(file, encodeProject(project));
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    EXPECT_EQ(decodeProject(bytes.str()), project);
    std::filesystem::remove_all(folder);
}
