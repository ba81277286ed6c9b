#include "store_test_support.h"

#include "model/app_language.h"
#include "model/fotivela_preferences.h"
#include "model/recent_project_persistence.h"
#include "store/project_store_helpers.h"

#include <cmath>
#include <limits>

using namespace fotivela;
using namespace fotivela::test;

namespace {

using StoreNotification = StoreTest;

TEST_F(StoreNotification, SetUpStartsAtHomeWithNothingOpen)
{
    ProjectStore store;
    EXPECT_EQ(store.route(), AppRoute::home);
    EXPECT_FALSE(store.currentProjectURL());
    EXPECT_FALSE(store.hasOpenProject());
    EXPECT_EQ(store.project().name, "Nuevo video");
    EXPECT_EQ(store.timelineZoom(), 1.0);
    EXPECT_EQ(store.activeTab(), EditorTab::photos);
    EXPECT_FALSE(store.hasPendingAutosave());
    EXPECT_TRUE(store.undoStack().empty());
}

TEST_F(StoreNotification, LanguageAndTooltipsComeFromThePreferences)
{
    FotivelaPreferences& preferences = FotivelaPreferences::shared();

    preferences.setValue("fotivela.appLanguage", std::string("en"));
    preferences.setValue("showInterfaceTooltips", false);
    {
        ProjectStore store;
        EXPECT_EQ(store.appLanguage(), AppLanguage::english);
        EXPECT_FALSE(store.showInterfaceTooltips());
    }

    // Anything but exactly "es" or "en", or a value that is not text, counts as missing:
    // the detected language is used and written back.
    const std::string detected = AppLanguages::detectedDefault() == AppLanguage::english ? "en" : "es";
    for (const PlistValue& stored : {PlistValue(std::string("EN")), PlistValue(std::int64_t{3})}) {
        preferences.setValue("fotivela.appLanguage", stored);
        preferences.setValue("showInterfaceTooltips", std::string("no"));
        ProjectStore store;
        EXPECT_EQ(store.appLanguage(), AppLanguages::detectedDefault());
        EXPECT_TRUE(store.showInterfaceTooltips());
        const std::optional<PlistValue> written = preferences.object("fotivela.appLanguage");
        ASSERT_TRUE(written);
        ASSERT_TRUE(written->as<std::string>());
        EXPECT_EQ(*written->as<std::string>(), detected);
    }
}

TEST_F(StoreNotification, EqualWritesAreSilentAndDifferentWritesNotifyOnce)
{
    ProjectStore store;
    ChangeLog log(store);

    store.setExportProgress(0);
    store.setAudioWaveform({});
    store.setSelectedSlideID(std::nullopt);
    store.setProject(store.project());
    EXPECT_EQ(log.total(), 0u);

    store.setExportProgress(0.5);
    EXPECT_EQ(log.count(StoreField::exportProgress), 1);
    store.setExportProgress(0.5);
    EXPECT_EQ(log.count(StoreField::exportProgress), 1);

    store.setAudioWaveform({0.1, 0.2, 0.3});
    store.setAudioWaveform({0.1, 0.2, 0.3});
    EXPECT_EQ(log.count(StoreField::audioWaveform), 1);
    store.setAudioWaveform({0.1, 0.25, 0.3});
    store.setAudioWaveform({0.1, 0.25});
    EXPECT_EQ(log.count(StoreField::audioWaveform), 3);

    FotivelaProject renamed = store.project();
    renamed.name = "Boda";
    store.setProject(renamed);
    store.setProject(renamed);
    EXPECT_EQ(log.count(StoreField::project), 1);
}

TEST_F(StoreNotification, NotANumberNeverEqualsItselfAndInPlaceChangesAlwaysNotify)
{
    ProjectStore store;
    ChangeLog log(store);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    store.setExportProgress(nan);
    store.setExportProgress(nan);
    EXPECT_EQ(log.count(StoreField::exportProgress), 2);
    store.setSnappedBeatTime(nan);
    store.setSnappedBeatTime(nan);
    EXPECT_EQ(log.count(StoreField::snappedBeatTime), 2);

    store.modifyProject([](FotivelaProject&) {});
    store.modifyProject([](FotivelaProject&) {});
    EXPECT_EQ(log.count(StoreField::project), 2);
}

TEST_F(StoreNotification, ReadsAreTrackedAndObserversMayLeaveWhileTold)
{
    ProjectStore store;
    {
        ProjectStore::ReadTracking outer(store);
        (void)store.previewTime();
        {
            ProjectStore::ReadTracking inner(store);
            (void)store.hasOpenProject();
            EXPECT_TRUE(inner.hasRead(StoreField::project));
            EXPECT_TRUE(inner.hasRead(StoreField::currentProjectURL));
            EXPECT_FALSE(inner.hasRead(StoreField::previewTime));
        }
        EXPECT_TRUE(outer.hasRead(StoreField::previewTime));
        EXPECT_TRUE(outer.hasRead(StoreField::project));
        EXPECT_FALSE(outer.hasRead(StoreField::isPlaying));
    }

    int told = 0;
    ProjectStore::ObserverID first = 0;
    first = store.addObserver([&](StoreField) {
        ++told;
        store.removeObserver(first);
    });
    ChangeLog log(store);
    store.setIsPlaying(true);
    store.setIsPlaying(false);
    EXPECT_EQ(told, 1);
    EXPECT_EQ(log.count(StoreField::isPlaying), 2);
}

TEST_F(StoreNotification, RememberedProjectsGoFirstAndAreStored)
{
    ProjectStore store;
    for (int i = 0; i < 9; ++i)
        store.remember("Proyecto " + std::to_string(i), m_root / ("p" + std::to_string(i) + ".fotivela"));
    store.remember("Proyecto 4 otra vez", m_root / "p4.fotivela");
    const std::vector<RecentProject>& list = store.recentProjects();
    ASSERT_EQ(list.size(), 8u);
    EXPECT_EQ(list[0].name, "Proyecto 4 otra vez");
    EXPECT_EQ(list[1].name, "Proyecto 8");
    EXPECT_EQ(list[7].name, "Proyecto 1");
    EXPECT_EQ(RecentProjectPersistence::load().size(), 8u);
    EXPECT_EQ(RecentProjectPersistence::load()[0].url, m_root / "p4.fotivela");
    ProjectStore later;
    EXPECT_EQ(later.recentProjects()[0].name, "Proyecto 4 otra vez");
}

TEST_F(StoreNotification, TheProjectFolderIsChosenThroughTheInterface)
{
    ProjectStore store;
    const std::filesystem::path before = store.defaultProjectDirectory();
    std::filesystem::path offeredStart;
    std::string offeredLabel;
    store.chooseDefaultProjectDirectory([&](const std::filesystem::path& start, const std::string& label) {
        offeredStart = start;
        offeredLabel = label;
        return std::optional<std::filesystem::path>();
    });
    EXPECT_EQ(offeredStart, before);
    EXPECT_TRUE(offeredLabel == "Usar carpeta" || offeredLabel == "Use folder");
    EXPECT_EQ(store.defaultProjectDirectory(), before);

    const std::filesystem::path chosen = m_root / "Mis videos";
    store.chooseDefaultProjectDirectory([&](const std::filesystem::path&, const std::string&) { return chosen; });
    EXPECT_EQ(store.defaultProjectDirectory(), chosen);
    EXPECT_EQ(ProjectStore().defaultProjectDirectory(), chosen);

    ChangeLog log(store);
    store.clearPreviewImageCache();
    store.clearPreviewImageCache();
    EXPECT_EQ(store.previewCacheRevision(), 2);
    EXPECT_EQ(log.count(StoreField::previewCacheRevision), 2);
}

TEST(StoreHelpers, ProjectNamesAreTrimmedOrReplaced)
{
    EXPECT_EQ(ProjectStore::normalizedProjectName(""), "Nuevo video");
    EXPECT_EQ(ProjectStore::normalizedProjectName(" \n\t \r\n"), "Nuevo video");
    EXPECT_EQ(ProjectStore::normalizedProjectName("  Boda \n"), "Boda");
    EXPECT_EQ(ProjectStore::normalizedProjectName("\xC2\xA0Viaje a Roma\xE2\x80\xA8"), "Viaje a Roma");
    EXPECT_EQ(ProjectStore::normalizedProjectName("Año nuevo"), "Año nuevo");
}

TEST(StoreHelpers, TitleSnapshotsKeepTheUntrimmedTitle)
{
    Slide slide = makeSlide(3);
    slide.title = "   ";
    EXPECT_FALSE(SlideTitleSnapshot::of(slide));
    EXPECT_FALSE(SlideTitleSnapshot::of(std::nullopt));
    slide.title = " Hola ";
    slide.titleFontSize = 60;
    slide.titlePositionY = 0.8;
    const std::optional<SlideTitleSnapshot> snapshot = SlideTitleSnapshot::of(slide);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->title, " Hola ");
    EXPECT_EQ(snapshot->fontSize, 60);
    EXPECT_EQ(snapshot->positionY, 0.8);
}

TEST(StoreHelpers, InstrumentMarkersGroupAndFocusFallsBack)
{
    using I = AutoBeatInstrument;
    const BeatMarker kick = makeMarker(1, true, false, I::kick);
    const BeatMarker none = makeMarker(2);
    const BeatMarker snare = makeMarker(3, true, false, I::clapSnare);
    const auto groups = groupedInstrumentMarkers({kick, none, snare});
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups.at(I::kick), std::vector<BeatMarker>{kick});
    EXPECT_EQ(groups.at(I::clapSnare), (std::vector<BeatMarker>{none, snare}));
    EXPECT_TRUE(groupedInstrumentMarkers({}).empty());

    EXPECT_EQ(fallbackDetectionFocus({I::kick}), BeatDetectionFocus::kick);
    EXPECT_EQ(fallbackDetectionFocus({I::cymbalHats}), BeatDetectionFocus::cymbal);
    EXPECT_EQ(fallbackDetectionFocus({I::drums, I::bass}), BeatDetectionFocus::clapSnare);
    EXPECT_EQ(fallbackDetectionFocus({I::vocals}), BeatDetectionFocus::fullMix);
    EXPECT_EQ(fallbackDetectionFocus({}), BeatDetectionFocus::clapSnare);
    // Several instruments without drums or snare: the first in case order decides.
    EXPECT_EQ(fallbackDetectionFocus({I::kick, I::bass}), BeatDetectionFocus::kick);
}

} // namespace
