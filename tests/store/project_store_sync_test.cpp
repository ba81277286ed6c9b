#include "music_test_support.h"

#include <cmath>
#include <limits>

using namespace fotivela;
using namespace fotivela::test;

namespace {

using Access = ProjectStoreMusicTestAccess;
using StoreSync = StoreTest;

std::vector<double> durations(const ProjectStore& store)
{
    std::vector<double> result;
    for (const Slide& slide : store.project().slides)
        result.push_back(slide.duration);
    return result;
}

void expectDurations(const ProjectStore& store, const std::vector<double>& expected)
{
    const std::vector<double> actual = durations(store);
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(actual[i], expected[i], 1e-9) << "slide " << i;
}

void prepare(ProjectStore& store, SyncMode mode, int slides, double song, std::vector<BeatMarker> markers)
{
    store.modifyProject([&](FotivelaProject& p) {
        p.audio = makeTrack(mode);
        p.audio->beatMarkers = markers;
        p.slides.clear();
        for (int i = 0; i < slides; ++i)
            p.slides.push_back(makeSlide(1));
    });
    store.setAudioBeatMarkers(std::move(markers));
    store.setAudioDuration(song);
    store.recalculateTotalDuration();
}

TEST_F(StoreSync, ManualPlacementUsesEnabledManualMarkersOnce)
{
    ProjectStore store;
    prepare(store, SyncMode::manual, 3, 10,
            {makeMarker(2, true, true), makeMarker(4, true, true), makeMarker(6, true, true), makeMarker(8, true, true)});
    const std::size_t undoBefore = store.undoStack().size();
    store.placeSlidesOnManualBeatMarkers();
    expectDurations(store, {2, 2, 2});
    EXPECT_EQ(store.totalDuration(), 6);
    EXPECT_EQ(store.undoStack().size(), undoBefore + 1);
    EXPECT_TRUE(store.hasPendingAutosave());

    prepare(store, SyncMode::manual, 5, 10, {makeMarker(9, true, true)});
    store.placeSlidesOnManualBeatMarkers();
    expectDurations(store, {9, 0.5, 0.5, 0.05, 0.05});

    // Too early, disabled, automatic or within the spacing of another: not used. A marker
    // past song and slideshow stretches the span without being used itself.
    prepare(store, SyncMode::manual, 2, 4,
            {makeMarker(0.05, true, true), makeMarker(1, false, true), makeMarker(2, true, false), makeMarker(3, true, true),
             makeMarker(3.1, true, true), makeMarker(12, true, true)});
    store.placeSlidesOnManualBeatMarkers();
    const std::vector<double> placed = durations(store);
    ASSERT_EQ(placed.size(), 2u);
    EXPECT_GE(placed[0], 3);
    EXPECT_LE(placed[0], 3.1);
    EXPECT_NEAR(placed[0] + placed[1], 12, 1e-9);

    // Nothing usable, or automatic mode: nothing changes and no undo step.
    prepare(store, SyncMode::manual, 2, 4, {makeMarker(1, false, true)});
    const std::size_t steps = store.undoStack().size();
    store.placeSlidesOnManualBeatMarkers();
    prepare(store, SyncMode::autoBeatV2, 2, 4, {makeMarker(1, true, true)});
    store.placeSlidesOnManualBeatMarkers();
    expectDurations(store, {1, 1});
    EXPECT_EQ(store.undoStack().size(), steps);
}

TEST_F(StoreSync, SettingsAreClampedNeverRefused)
{
    ProjectStore store;
    prepare(store, SyncMode::manual, 2, 10, {});
    const double nan = std::numeric_limits<double>::quiet_NaN();
    store.setCutAudioFadeOutDuration(20);
    EXPECT_EQ(store.project().audio->cutFadeOutDuration, 12);
    store.setCutAudioFadeOutDuration(0.1);
    EXPECT_EQ(store.project().audio->cutFadeOutDuration, 0.2);
    store.setCutAudioFadeOutDuration(nan);
    EXPECT_EQ(store.project().audio->cutFadeOutDuration, 0.2);
    store.setBeatSensitivity(2);
    EXPECT_EQ(store.project().audio->beatSensitivity, 1.5);
    store.setBeatSensitivity(nan);
    EXPECT_EQ(store.project().audio->beatSensitivity, -1.5);
    store.setAutoBeatMinimumMarkerSpacing(0.01);
    EXPECT_EQ(store.project().audio->autoBeatMinimumMarkerSpacing, 0.08);
    store.setAutoBeatMinimumMarkerSpacing(nan);
    EXPECT_EQ(store.project().audio->autoBeatMinimumMarkerSpacing, 0.08);
}

TEST_F(StoreSync, UndoOfASensitivityDragBringsBackTheValueBeforeIt)
{
    ProjectStore store;
    prepare(store, SyncMode::manual, 1, 10, {});
    for (double value : {0.6, 0.8, 1.0})
        store.previewBeatSensitivity(value);
    EXPECT_EQ(store.project().audio->beatSensitivity, 1.0);
    const std::size_t undoBefore = store.undoStack().size();
    store.setBeatSensitivity(1.1);
    ASSERT_EQ(store.undoStack().size(), undoBefore + 1);
    EXPECT_EQ(store.undoStack().back().project.audio->beatSensitivity, 0.5);
    EXPECT_EQ(store.project().audio->beatSensitivity, 1.1);
}

TEST_F(StoreSync, CutStaysOffWhilePhotosOutnumberTheMarkers)
{
    ProjectStore store;
    prepare(store, SyncMode::autoBeatV2, 3, 10, {makeMarker(2, true, true)});
    const std::size_t undoBefore = store.undoStack().size();
    store.setCutAudioToSlideshowDuration(true);
    EXPECT_FALSE(store.project().audio->cutToSlideshowDuration);
    EXPECT_EQ(store.undoStack().size(), undoBefore);

    prepare(store, SyncMode::manual, 3, 10, {});
    store.setCutAudioToSlideshowDuration(true);
    EXPECT_TRUE(store.project().audio->cutToSlideshowDuration);
    EXPECT_EQ(store.undoStack().size(), undoBefore + 1);
    // Switching to automatic with too few markers: the cut is turned off again.
    store.modifyProject([](FotivelaProject& p) { p.audio->syncMode = SyncMode::autoBeatV2; });
    store.normalizeCutAudioToSlideshowDurationIfNeeded();
    EXPECT_FALSE(store.project().audio->cutToSlideshowDuration);
}

TEST_F(StoreSync, AttackWaveformAndInstrumentSelection)
{
    ProjectStore store;
    Access::setPhysicalMemory(store, 16 * gibibyte);
    prepare(store, SyncMode::autoBeatV2, 2, 10,
            {makeMarker(1, true, false, AutoBeatInstrument::bass), makeMarker(2, true, true)});
    store.modifyProject([](FotivelaProject& p) {
        p.audio->autoBeatInstruments = {AutoBeatInstrument::bass, AutoBeatInstrument::vocals};
    });
    store.setVisibleStemWaveformInstruments({AutoBeatInstrument::bass});
    store.setAudibleTimelineInstruments({AutoBeatInstrument::bass});
    store.setSoloTimelineInstrument(AutoBeatInstrument::bass);

    store.setAttackWaveformEnabled(true);
    EXPECT_TRUE(store.isAttackWaveformEnabled());
    EXPECT_TRUE(store.project().audio->isAttackWaveformEnabled);
    EXPECT_TRUE(store.project().audio->autoBeatInstruments.empty());
    EXPECT_TRUE(store.visibleStemWaveformInstruments().empty());
    EXPECT_TRUE(store.audibleTimelineInstruments().empty());
    EXPECT_FALSE(store.soloTimelineInstrument());
    // Automatic markers go, the manual one stays.
    ASSERT_EQ(store.audioBeatMarkers().size(), 1u);
    EXPECT_TRUE(store.audioBeatMarkers()[0].isManual);

    // Choosing one instrument leaves the attack mode; removing the last one while the
    // attack mode is off keeps drums.
    Access::setStemSourcePreparer(store, StemSourcePreparation::prepareWithRuntime);
    store.setAutoBeatInstrument(AutoBeatInstrument::vocals, true);
    EXPECT_FALSE(store.isAttackWaveformEnabled());
    EXPECT_EQ(store.project().audio->autoBeatInstruments, std::set<AutoBeatInstrument>{AutoBeatInstrument::vocals});
    EXPECT_EQ(store.project().audio->beatDetectionFocus, BeatDetectionFocus::fullMix);
    store.setAutoBeatInstrument(AutoBeatInstrument::vocals, false);
    EXPECT_EQ(store.project().audio->autoBeatInstruments, std::set<AutoBeatInstrument>{AutoBeatInstrument::drums});
    EXPECT_EQ(store.visibleStemWaveformInstruments(), std::set<AutoBeatInstrument>{AutoBeatInstrument::drums});
    EXPECT_EQ(store.project().audio->beatDetectionFocus, BeatDetectionFocus::clapSnare);
    EXPECT_TRUE(store.isAnalyzingAudio());
    waitFor([&] { return !store.isAnalyzingAudio(); }, 10000);

    // Manual mode keeps every marker and drops only the attack markers.
    store.setAttackBeatMarkers({makeMarker(3)});
    store.setSyncMode(SyncMode::manual);
    EXPECT_FALSE(store.isAttackWaveformEnabled());
    EXPECT_TRUE(store.attackBeatMarkers().empty());
    EXPECT_TRUE(store.hasPendingAutosave());
}

} // namespace
