#include "store_test_support.h"

using namespace fotivela;
using namespace fotivela::test;

namespace {

using StoreDerived = StoreTest;

void setSlides(ProjectStore& store, std::vector<Slide> slides)
{
    store.modifyProject([&](FotivelaProject& project) { project.slides = std::move(slides); });
    store.recalculateTotalDuration();
}

TEST_F(StoreDerived, AProjectIsOpenWithSlidesASongOrAFile)
{
    ProjectStore store;
    EXPECT_FALSE(store.hasOpenProject());
    store.setCurrentProjectURL(m_root / "Boda/Boda.fotivela");
    EXPECT_TRUE(store.hasOpenProject());
    store.setCurrentProjectURL(std::nullopt);
    store.modifyProject([](FotivelaProject& p) { p.audio = makeTrack(SyncMode::manual); });
    EXPECT_TRUE(store.hasOpenProject());
}

TEST_F(StoreDerived, SlideUnderATime)
{
    ProjectStore store;
    const Slide first = makeSlide(4);
    const Slide second = makeSlide(6);
    setSlides(store, {first, second});
    ASSERT_EQ(store.totalDuration(), 10);
    EXPECT_EQ(store.slide(3.99)->id, first.id);
    EXPECT_EQ(store.slide(4)->id, second.id);
    EXPECT_FALSE(store.slide(10));
    EXPECT_EQ(store.slide(-2)->id, first.id);
    EXPECT_FALSE(store.slide(std::numeric_limits<double>::quiet_NaN()));

    store.setTotalDuration(0);
    EXPECT_FALSE(store.slide(0));
    // Durations that fall short of the total: the last slide stands in.
    store.setTotalDuration(20);
    EXPECT_EQ(store.slide(15)->id, second.id);
}

TEST_F(StoreDerived, SelectionAndPreviewSlides)
{
    ProjectStore store;
    const Slide a = makeSlide(2);
    const Slide b = makeSlide(3);
    const Slide c = makeSlide(4);
    setSlides(store, {a, b, c});

    EXPECT_EQ(store.selectedSlide()->id, a.id);
    EXPECT_FALSE(store.previewSlide());
    store.setSelectedSlideID(Uuid::random());
    EXPECT_FALSE(store.selectedSlide());
    EXPECT_FALSE(store.previewSlide());
    EXPECT_TRUE(store.editableSlides().empty());

    store.setSelectedSlideID(b.id);
    EXPECT_EQ(store.previewSlide()->id, b.id);
    store.setIsPlaying(true);
    store.setPreviewTime(5.5);
    EXPECT_EQ(store.previewSlide()->id, c.id);

    store.setTimelineSelection({c.id, a.id});
    const std::vector<Slide> selected = store.selectedTimelineSlides();
    ASSERT_EQ(selected.size(), 2u);
    EXPECT_EQ(selected[0].id, a.id);
    EXPECT_EQ(selected[1].id, c.id);
    EXPECT_EQ(store.editableSlides().size(), 2u);
    store.setTimelineSelection({});
    ASSERT_EQ(store.editableSlides().size(), 1u);
    EXPECT_EQ(store.editableSlides()[0].id, b.id);
}

TEST_F(StoreDerived, AutomaticMarkersCutAndPhotoCounts)
{
    ProjectStore store;
    AudioTrack track = makeTrack(SyncMode::manual);
    track.cutToSlideshowDuration = true;
    store.modifyProject([&](FotivelaProject& p) { p.audio = track; });
    setSlides(store, {makeSlide(3), makeSlide(3), makeSlide(4)});
    store.setAudioDuration(10);

    // Manual mode shows only the manual markers; of those, only the ones after 0.05 s sync.
    store.setAudioBeatMarkers({makeMarker(0.05, true, true), makeMarker(0.0501, true, true),
                               makeMarker(1, true, false), makeMarker(2, false, true), makeMarker(0.5, true, true)});
    const std::vector<BeatMarker>& sync = store.autoSyncBeatMarkers();
    ASSERT_EQ(sync.size(), 2u);
    EXPECT_EQ(sync[0].time, 0.0501);
    EXPECT_EQ(sync[1].time, 0.5);
    EXPECT_EQ(store.manualBeatMarkerCount(), 3);
    EXPECT_FALSE(store.hasSurplusPhotosForAudioCut());
    EXPECT_EQ(store.autoBeatRequiredPhotoCount(), 3);

    EXPECT_FALSE(store.audioCutTime());
    store.setAudioDuration(12);
    EXPECT_EQ(store.audioCutTime(), 10.0);

    store.modifyProject([](FotivelaProject& p) { p.audio->syncMode = SyncMode::autoBeatV2; });
    // Automatic mode without instruments shows the manual markers without an instrument.
    EXPECT_TRUE(store.hasSurplusPhotosForAudioCut());
    EXPECT_EQ(store.autoBeatRequiredPhotoCount(), 2);
}

TEST_F(StoreDerived, CachedDerivedDataFollowsEveryChangeThatFeedsIt)
{
    ProjectStore store;
    store.modifyProject([](FotivelaProject& p) { p.audio = makeTrack(SyncMode::manual); });
    const BeatMarker marker = makeMarker(1, true, true);
    store.setAudioBeatMarkers({marker});
    EXPECT_EQ(store.timelineDerivedData().beatMarkers.size(), 1u);
    EXPECT_FALSE(store.timelineDerivedData().selectedMarker);

    store.setSelectedBeatMarkerID(marker.id);
    EXPECT_EQ(store.timelineDerivedData().selectedMarker, marker);
    EXPECT_EQ(store.selectedBeatMarker(), marker);

    store.setAudioBeatMarkers({marker, makeMarker(2, true, true)});
    EXPECT_EQ(store.timelineDerivedData().beatMarkers.size(), 2u);
    setSlides(store, {makeSlide(2), makeSlide(3), makeSlide(4)});
    EXPECT_EQ(store.timelineDerivedData().slideBoundaryTimes, (std::vector<double>{2, 5}));

    // Detected markers are hidden in manual mode.
    BeatMarker detected = marker;
    detected.isManual = false;
    store.setAudioBeatMarkers({detected});
    EXPECT_TRUE(store.timelineDerivedData().beatMarkers.empty());
    EXPECT_FALSE(store.selectedBeatMarker());
}

TEST_F(StoreDerived, CachedStemWaveformsFollowTheFilesOnDisk)
{
    ProjectStore store;
    const auto preview = m_root / "p/bass-preview.wav";
    const auto stem = m_root / "p/bass.wav";
    writeText(preview, "p");
    writeText(stem, "b");
    AudioTrack track = makeTrack(SyncMode::autoBeatV2);
    track.autoBeatInstruments = {AutoBeatInstrument::bass};
    track.stemSeparation.engine = StemSeparationEngine::demucs;
    track.stemSeparation.stems[AudioStem::bass] = stem;
    track.stemSeparation.instrumentPreviewURLs[AutoBeatInstrument::bass] = preview;
    track.instrumentAnalysisVariants["Bajo|demucs:Bajo|s:500|b:4|v:25"] = AudioAnalysis{{0.1}, {}, 0.5, 4, 25};
    track.instrumentAnalysisVariants["Bajo|fallback|s:500|b:4|v:25"] = AudioAnalysis{{0.9}, {}, 0.5, 4, 25};
    store.modifyProject([&](FotivelaProject& p) { p.audio = track; });
    store.setVisibleStemWaveformInstruments({AutoBeatInstrument::bass});

    ASSERT_EQ(store.timelineDerivedData().stemWaveforms.size(), 1u);
    EXPECT_EQ(store.timelineDerivedData().stemWaveforms[0].samples, std::vector<double>{0.1});
    // The stem is gone: the analysis of the original mix is the one drawn.
    std::filesystem::remove(stem);
    ASSERT_EQ(store.timelineDerivedData().stemWaveforms.size(), 1u);
    EXPECT_EQ(store.timelineDerivedData().stemWaveforms[0].samples, std::vector<double>{0.9});
    std::filesystem::remove(preview);
    EXPECT_TRUE(store.timelineDerivedData().stemWaveforms.empty());
}

TEST_F(StoreDerived, InstrumentPreviewFallsBackToTheStemThenToNothing)
{
    ProjectStore store;
    const auto preview = m_root / "p/kick.wav";
    const auto stem = m_root / "p/drums.flac";
    writeText(preview, "k");
    writeText(stem, "d");
    AudioTrack track = makeTrack(SyncMode::autoBeatV2);
    track.stemSeparation.instrumentPreviewURLs[AutoBeatInstrument::kick] = preview;
    track.stemSeparation.stems[AudioStem::drums] = stem;
    store.modifyProject([&](FotivelaProject& p) { p.audio = track; });

    EXPECT_EQ(store.instrumentPreviewURL(AutoBeatInstrument::kick), preview);
    EXPECT_EQ(store.instrumentPreviewURL(AutoBeatInstrument::cymbalHats), stem);
    EXPECT_FALSE(store.instrumentPreviewURL(AutoBeatInstrument::bass));
    std::filesystem::remove(preview);
    EXPECT_EQ(store.instrumentPreviewURL(AutoBeatInstrument::kick), stem);
    std::filesystem::remove(stem);
    EXPECT_FALSE(store.instrumentPreviewURL(AutoBeatInstrument::kick));
}

} // namespace
