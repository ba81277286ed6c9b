#include "model/editor_tab.h"
#include "model/fotivela_project.h"
#include "model/lumo_image_framing_policy.h"
#include "model/lumo_project_background_color.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

using namespace fotivela;

namespace {

template <class E>
void expectStoredStringsRoundTrip()
{
    std::set<std::string_view> seen;
    for (E value : allCases<E>()) {
        const auto stored = toStored(value);
        EXPECT_TRUE(seen.insert(stored).second) << "duplicate stored string " << stored;
        EXPECT_EQ(fromStored<E>(stored), value) << stored;
    }
}

} // namespace

TEST(StoredEnums, EveryCaseReadsBackFromItsStoredString)
{
    expectStoredStringsRoundTrip<SlideTransition>();
    expectStoredStringsRoundTrip<ZoomMode>();
    expectStoredStringsRoundTrip<TitleFontDesign>();
    expectStoredStringsRoundTrip<SyncMode>();
    expectStoredStringsRoundTrip<BeatDetectionFocus>();
    expectStoredStringsRoundTrip<AutoBeatInstrument>();
    expectStoredStringsRoundTrip<AudioStem>();
    expectStoredStringsRoundTrip<StemSeparationEngine>();
    expectStoredStringsRoundTrip<BeatKind>();
    expectStoredStringsRoundTrip<ExportQuality>();
    expectStoredStringsRoundTrip<ExportCodec>();
    expectStoredStringsRoundTrip<ProjectFormat>();
    expectStoredStringsRoundTrip<EditorTab>();
}

TEST(StoredEnums, MatchExactlyWithoutCaseFolding)
{
    EXPECT_EQ(fromStored<BeatKind>("Strong"), std::nullopt);
    EXPECT_EQ(fromStored<EditorTab>("Marcadores"), EditorTab::aiMusic);
    EXPECT_EQ(fromStored<EditorTab>("Música"), std::nullopt);
    EXPECT_EQ(fromStored<EditorTab>("fotos"), std::nullopt);
    EXPECT_EQ(fromStored<ProjectFormat>("Horizontal 4:5"), ProjectFormat::landscape);
    EXPECT_EQ(fromStored<ProjectFormat>("Horizontal 5:4"), std::nullopt);
    EXPECT_EQ(fromStored<SyncMode>("Auto ritmo"), std::nullopt); // an alias only for the decoder
}

TEST(ProjectFormatTexts, LandscapeShowsFiveToFourAndIsWide)
{
    EXPECT_EQ(displayTitle(ProjectFormat::landscape, nullptr), "Feed horizontal 5:4");
    EXPECT_DOUBLE_EQ(aspectRatio(ProjectFormat::landscape), 1.25);
    const InterfaceTextTranslator english = [](std::string_view s) {
        return s == "Feed cuadrado" ? std::string("Square feed") : std::string(s);
    };
    EXPECT_EQ(displayTitle(ProjectFormat::square, english), "Square feed 1:1");
    EXPECT_EQ(description(ProjectFormat::youtube, nullptr), "YouTube, web y TV");
}

TEST(FotivelaProjectTemplate, HasTheTemplateValuesAndAFreshIdentity)
{
    const auto a = FotivelaProject::empty();
    const auto b = FotivelaProject::empty();
    EXPECT_NE(a.id, b.id);
    EXPECT_EQ(a.name, "Nuevo video");
    EXPECT_EQ(a.createdAt, a.updatedAt);
    EXPECT_EQ(a.format, ProjectFormat::youtube);
    EXPECT_EQ(a.fps, 30);
    EXPECT_EQ(a.fillPhotosToScreen, false);
    EXPECT_EQ(a.backgroundColorHex, "#000000");
    EXPECT_TRUE(a.slides.empty());
    EXPECT_FALSE(a.audio.has_value());
    ASSERT_TRUE(a.aiMusic.has_value());
    EXPECT_EQ(*a.aiMusic, AIMusicSettings{});
    EXPECT_EQ(a.aiMusic->requestedMusicStyle, "Pop calido, suave");
    EXPECT_TRUE(a.aiMusic->withVocals);
    EXPECT_EQ(a.exportSettings.quality, ExportQuality::high);
    EXPECT_EQ(a.exportSettings.codec, ExportCodec::h265);
    EXPECT_EQ(a.exportSettings.bitrateMbps, 12);
    EXPECT_TRUE(a.exportSettings.includeAudio);
    EXPECT_EQ(a.exportSettings.outputFormat, "mp4");
}

TEST(LightweightUndoCopy, WithoutSongIsTheProject)
{
    auto project = FotivelaProject::empty();
    project.slides.push_back(Slide{.id = Uuid::random(), .imageURL = "/tmp/a.jpg", .name = "a"});
    EXPECT_EQ(project.lightweightUndoCopy(), project);
}

TEST(LightweightUndoCopy, DropsCurvesAndCachesButKeepsEverythingElse)
{
    auto project = FotivelaProject::empty();
    AudioTrack track;
    track.url = "/música/tema.mp3";
    track.name = "tema";
    track.syncMode = SyncMode::autoBeatV2;
    track.fadeIn = true;
    track.cutToSlideshowDuration = true;
    track.beatSensitivity = 0.4;
    track.beatsPerBar = 4;
    track.snapTolerance = 0.1;
    track.autoBeatTargets = syncSelectableKinds();
    track.autoBeatInstruments = {AutoBeatInstrument::kick};
    track.waveformSamples = {0.1, 0.5};
    track.attackDetectionSamples = {0.2};
    const BeatMarker marker{.id = Uuid::random(), .time = 1.5, .strength = 0.7, .kind = BeatKind::bar};
    track.beatMarkers = {marker};
    track.isAttackWaveformEnabled = true;
    track.attackMarkerOverrides = {marker};
    track.analysisCache[BeatDetectionFocus::kick] = AudioAnalysis{.waveformSamples = {0.3}, .version = 25};
    track.instrumentAnalysisCache[AutoBeatInstrument::bass] = AudioAnalysis{.version = 25};
    track.instrumentAnalysisVariants["Bajo|fallback|s:400|b:4|v:25"] = AudioAnalysis{.version = 25};
    track.stemSeparation.engine = StemSeparationEngine::demucs;
    track.stemSeparation.stems[AudioStem::bass] = "/tmp/bass.wav";
    track.stemSeparation.message = "Listo";
    track.analysisVersion = 25;
    project.audio = track;

    const auto light = project.lightweightUndoCopy();
    auto expected = project;
    expected.audio->waveformSamples.clear();
    expected.audio->attackDetectionSamples.clear();
    expected.audio->analysisCache.clear();
    expected.audio->instrumentAnalysisCache.clear();
    expected.audio->instrumentAnalysisVariants.clear();
    EXPECT_EQ(light, expected);
    EXPECT_NE(light, project);
}

TEST(LumoImageFramingPolicy, FillAndFitOfALandscapePhotoInAPortraitFrame)
{
    auto g = LumoImageFramingPolicy::geometry(1.5, 0.5625, 1, true);
    EXPECT_NEAR(g.scale, 2.666667, 1e-6);
    EXPECT_NEAR(g.maxOffsetX, 0.833333, 1e-6);
    EXPECT_EQ(g.maxOffsetY, 0);

    g = LumoImageFramingPolicy::geometry(1.5, 0.5625, 1, false);
    EXPECT_EQ(g, (LumoImageFramingGeometry{1, 0, 0}));

    g = LumoImageFramingPolicy::geometry(1.5, 0.5625, 2, false);
    EXPECT_DOUBLE_EQ(g.scale, 2);
    EXPECT_DOUBLE_EQ(g.maxOffsetX, 0.5);
    EXPECT_EQ(g.maxOffsetY, 0);
}

TEST(LumoImageFramingPolicy, EqualRatiosSmallScalesAndDegenerateRatios)
{
    auto g = LumoImageFramingPolicy::geometry(1.0, 1.0, 1.5, true);
    EXPECT_DOUBLE_EQ(g.scale, 1.5);
    EXPECT_DOUBLE_EQ(g.maxOffsetX, 0.25);
    EXPECT_DOUBLE_EQ(g.maxOffsetY, 0.25);

    EXPECT_EQ(LumoImageFramingPolicy::geometry(1.5, 0.5625, 0.5, true),
              LumoImageFramingPolicy::geometry(1.5, 0.5625, 1, true));

    g = LumoImageFramingPolicy::geometry(0, 0, 2, true);
    EXPECT_DOUBLE_EQ(g.scale, 2);
    EXPECT_DOUBLE_EQ(g.maxOffsetX, 0.5);

    g = LumoImageFramingPolicy::geometry(0, 1.0, 1, true);
    EXPECT_NEAR(g.scale, 1e6, 1e-3);
    EXPECT_EQ(g.maxOffsetX, 0);
    EXPECT_NEAR(g.maxOffsetY, 499999.5, 1e-3);
}

TEST(LumoImageFramingPolicy, NonFiniteInputsGiveFiniteResults)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& g : {LumoImageFramingPolicy::geometry(nan, 1, 1, true),
                          LumoImageFramingPolicy::geometry(1, nan, nan, true),
                          LumoImageFramingPolicy::geometry(inf, 1, inf, false)}) {
        EXPECT_TRUE(std::isfinite(g.scale));
        EXPECT_TRUE(std::isfinite(g.maxOffsetX));
        EXPECT_TRUE(std::isfinite(g.maxOffsetY));
    }
    EXPECT_EQ(LumoImageFramingPolicy::geometry(1, 1, nan, false).scale, 1);
}

TEST(LumoProjectBackgroundColor, AcceptsOnlyHashAndSixHexDigits)
{
    using LumoProjectBackgroundColor::normalized;
    EXPECT_EQ(normalized("#ff8800"), "#FF8800");
    EXPECT_EQ(normalized("#a1B2c3"), "#A1B2C3");
    for (const char* bad : {"ff8800", "#fff", "#FF8800AA", " #FF8800", "#GG0000", "#FF880", "#FF88 0", "",
                            "#ＦＦ8800"})
        EXPECT_EQ(normalized(std::string(bad)), "#000000") << bad;
    EXPECT_EQ(normalized(std::nullopt), "#000000");
}

TEST(EditorTab, SidebarHoldsFourTabsInOrder)
{
    EXPECT_EQ(allCases<EditorTab>().size(), 5u);
    EXPECT_EQ(sidebarTabs[2], EditorTab::aiMusic);
    EXPECT_EQ(std::find(sidebarTabs.begin(), sidebarTabs.end(), EditorTab::settings), sidebarTabs.end());
}
