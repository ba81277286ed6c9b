#include "music_test_support.h"

#include "analysis/audio_analysis_cache_key.h"

using namespace fotivela;
using namespace fotivela::test;

namespace {

using StoreMarkers = StoreTest;

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

// A project in automatic mode whose manual markers (no instrument) drive the placement.
void prepare(ProjectStore& store, std::size_t slideCount, double slideDuration, double songDuration,
             const std::vector<BeatMarker>& markers)
{
    store.modifyProject([&](FotivelaProject& p) {
        p.audio = makeTrack(SyncMode::autoBeatV2);
        p.slides.clear();
        for (std::size_t i = 0; i < slideCount; ++i)
            p.slides.push_back(makeSlide(slideDuration));
    });
    store.recalculateTotalDuration();
    store.setAudioDuration(songDuration);
    store.setAudioBeatMarkers(markers);
}

TEST(StoreBoundaries, FillTheSpanAfterTheLastMarker)
{
    const auto at = [](std::vector<double> times) {
        std::vector<BeatMarker> markers;
        for (double t : times)
            markers.push_back(makeMarker(t));
        return markers;
    };
    EXPECT_TRUE(ProjectStore::beatBoundaries(0, 10, at({1})).empty());
    EXPECT_EQ(ProjectStore::beatBoundaries(4, 8, {}), (std::vector<double>{0, 2, 4, 6, 8}));
    EXPECT_EQ(ProjectStore::beatBoundaries(3, 10, at({2})), (std::vector<double>{0, 2, 6, 10}));
    EXPECT_EQ(ProjectStore::beatBoundaries(5, 10, at({9})), (std::vector<double>{0, 9, 9.5, 10, 10, 10}));
    // Markers at or beyond the span do not count.
    EXPECT_EQ(ProjectStore::beatBoundaries(2, 10, at({10, 12})), (std::vector<double>{0, 5, 10}));
    const std::vector<double> thirds = ProjectStore::beatBoundaries(4, 10, at({3}));
    ASSERT_EQ(thirds.size(), 5u);
    EXPECT_NEAR(thirds[2], 3 + 7.0 / 3, 1e-12);
    EXPECT_NEAR(thirds[3], 3 + 14.0 / 3, 1e-12);
}

TEST_F(StoreMarkers, PhotosArePlacedOnTheMarkers)
{
    ProjectStore store;
    prepare(store, 4, 1.5, 10, {makeMarker(1, true, true), makeMarker(2, true, true), makeMarker(3, true, true),
                                makeMarker(4, true, true), makeMarker(5, true, true)});
    store.autoSyncSlidesToBeatTimes();
    expectDurations(store, {1, 1, 1, 1});
    EXPECT_EQ(store.totalDuration(), 4);
    EXPECT_TRUE(store.hasUnsavedChanges());
    EXPECT_TRUE(store.hasPendingAutosave());

    // Nothing usable after 0.05 s: an even split of the span.
    prepare(store, 4, 1, 8, {makeMarker(0.03, true, true), makeMarker(3, false, true)});
    store.autoSyncSlidesToBeatTimes();
    expectDurations(store, {2, 2, 2, 2});

    prepare(store, 3, 1, 10, {makeMarker(9.8, true, true)});
    store.autoSyncSlidesToBeatTimes();
    expectDurations(store, {9.8, 0.2, 0.05});
    // Placed again (as at every opening), the squeezed slide does not lengthen the span.
    store.autoSyncSlidesToBeatTimes();
    expectDurations(store, {9.8, 0.2, 0.05});

    // A slideshow longer than the song spans the slideshow.
    prepare(store, 2, 6, 4, {});
    store.autoSyncSlidesToBeatTimes();
    expectDurations(store, {6, 6});
}

TEST_F(StoreMarkers, PlacementWithoutSlidesChangesNothing)
{
    ProjectStore store;
    prepare(store, 0, 1, 10, {makeMarker(1, true, true)});
    store.setHasUnsavedChanges(false);
    store.autoSyncSlidesToBeatTimes();
    EXPECT_FALSE(store.hasUnsavedChanges());
    EXPECT_FALSE(store.hasPendingAutosave());
}

TEST_F(StoreMarkers, StoringKeepsEveryManualMarkerOnce)
{
    ProjectStore store;
    store.modifyProject([](FotivelaProject& p) { p.audio = makeTrack(SyncMode::manual); });
    const BeatMarker manualA = makeMarker(1.5, true, true);
    const BeatMarker manualB = makeMarker(3.5, true, true);
    store.setAudioBeatMarkers({manualA});
    store.modifyProject([&](FotivelaProject& p) { p.audio->beatMarkers = {manualA, manualB}; });

    BeatMarker detectedA = manualA; // a manual marker that comes back with the detection
    const BeatMarker first = makeMarker(1);
    const BeatMarker tie = makeMarker(1);
    store.setHasUnsavedChanges(false);
    const auto before = store.project().updatedAt;
    detectedA.isManual = false;
    ProjectStoreTestAccess::storeBeatMarkers(store, {first, tie, makeMarker(3), detectedA}, false);
    const std::vector<BeatMarker>& stored = store.audioBeatMarkers();
    ASSERT_EQ(stored.size(), 5u);
    EXPECT_EQ(stored[0].id, first.id);
    EXPECT_EQ(stored[1].id, tie.id);
    EXPECT_EQ(stored[2].id, manualA.id);
    EXPECT_FALSE(stored[2].isManual);
    EXPECT_EQ(stored[4].id, manualB.id);
    EXPECT_EQ(store.project().audio->beatMarkers, stored);
    EXPECT_FALSE(store.hasUnsavedChanges());
    EXPECT_GE(store.project().updatedAt, before);

    // An empty list brings back exactly the manual markers.
    store.setAudioBeatMarkers({manualA, manualB});
    store.modifyProject([&](FotivelaProject& p) { p.audio->beatMarkers = {manualA, manualB}; });
    ProjectStoreTestAccess::storeBeatMarkers(store, {}, true);
    EXPECT_EQ(store.audioBeatMarkers(), (std::vector<BeatMarker>{manualA, manualB}));
    EXPECT_TRUE(store.hasUnsavedChanges());
    EXPECT_TRUE(store.hasPendingAutosave());

    // A list with a manual marker is the whole list.
    const BeatMarker only = makeMarker(2, true, true);
    ProjectStoreTestAccess::storeBeatMarkers(store, {only}, true);
    EXPECT_EQ(store.audioBeatMarkers(), std::vector<BeatMarker>{only});
}

TEST_F(StoreMarkers, StoringWritesTheAnalysisIntoTheSong)
{
    ProjectStore store;
    using I = AutoBeatInstrument;
    AudioTrack track = makeTrack(SyncMode::autoBeatV2);
    track.beatDetectionFocus = BeatDetectionFocus::kick;
    track.autoBeatInstruments = {I::bass, I::vocals, I::drums};
    track.beatSensitivity = 1.7;
    track.instrumentAnalysisCache[I::bass] = AudioAnalysis{{0.3, 0.4}, {makeMarker(9)}, 0.2, 4, 25};
    track.instrumentAnalysisCache[I::drums] = AudioAnalysis{{0.5}, {makeMarker(8)}, 0.2, 4, 25};
    store.modifyProject([&](FotivelaProject& p) { p.audio = track; });
    store.setAudioWaveform({0.1, 0.2});
    store.setAttackDetectionWaveform({0.7});

    const BeatMarker bass = makeMarker(2, true, false, I::bass);
    const BeatMarker vocals = makeMarker(1, true, false, I::vocals);
    ProjectStoreTestAccess::storeBeatMarkers(store, {bass, vocals, makeMarker(3, true, false, I::kick)}, true);

    const AudioTrack& song = *store.project().audio;
    EXPECT_EQ(song.analysisVersion, 25);
    EXPECT_EQ(song.waveformSamples, (std::vector<double>{0.1, 0.2}));
    EXPECT_EQ(song.attackDetectionSamples, std::vector<double>{0.7});
    const AudioAnalysis& focus = song.analysisCache.at(BeatDetectionFocus::kick);
    EXPECT_EQ(focus.beatMarkers, store.audioBeatMarkers());
    EXPECT_EQ(focus.sensitivity, 1.7);
    EXPECT_EQ(focus.beatsPerBar, 4);

    // Only analysed instruments get their edits back; the drums lost every marker.
    EXPECT_EQ(song.instrumentAnalysisCache.at(I::bass).beatMarkers, std::vector<BeatMarker>{bass});
    EXPECT_EQ(song.instrumentAnalysisCache.at(I::bass).waveformSamples, (std::vector<double>{0.3, 0.4}));
    EXPECT_EQ(song.instrumentAnalysisCache.at(I::bass).sensitivity, 1.7);
    EXPECT_TRUE(song.instrumentAnalysisCache.at(I::drums).beatMarkers.empty());
    EXPECT_FALSE(song.instrumentAnalysisCache.contains(I::vocals));
    EXPECT_EQ(song.instrumentAnalysisVariants.at("Bajo|fallback|s:1500|b:4|v:25").beatMarkers,
              std::vector<BeatMarker>{bass});
    EXPECT_TRUE(song.instrumentAnalysisVariants.contains("Bateria completa|fallback|s:1500|b:4|v:25"));
    EXPECT_EQ(song.instrumentAnalysisVariants.size(), 2u);
}

std::set<double> bassVariantSensitivities(const ProjectStore& store)
{
    std::set<double> result;
    for (const auto& [key, analysis] : store.project().audio->instrumentAnalysisVariants)
        if (key.starts_with("Bajo|"))
            result.insert(analysis.sensitivity);
    return result;
}

TEST_F(StoreMarkers, TheSongKeepsTheCurrentVariantAndTheMostRecentFew)
{
    ProjectStore store;
    using I = AutoBeatInstrument;
    AudioTrack track = makeTrack(SyncMode::autoBeatV2);
    track.autoBeatInstruments = {I::bass};
    track.beatsPerBar = 4;
    track.instrumentAnalysisCache[I::bass] = AudioAnalysis{std::vector<double>(1000, 0.5), {}, 0.0, 4, 25};
    // As read from an older file: twelve bass variants and one of the vocals.
    for (int i = 0; i < 12; ++i)
        track.instrumentAnalysisVariants[AudioAnalysisCacheKey::variantKey(I::bass, "fallback", i / 10.0, 4)] =
            AudioAnalysis{{0.5}, {}, i / 10.0, 4, 25};
    track.instrumentAnalysisVariants["Voz|fallback|s:0|b:4|v:25"] = AudioAnalysis{{0.5}, {}, 0.0, 4, 25};
    store.modifyProject([&](FotivelaProject& p) { p.audio = track; });
    // Each position gets its analysis, which the user leaves as it is.
    const auto moveSliderTo = [&](double sensitivity) {
        store.modifyProject([&](FotivelaProject& p) { p.audio->beatSensitivity = sensitivity; });
        ProjectStoreTestAccess::storeBeatMarkers(store, {makeMarker(1, true, false, I::bass)}, true, false);
    };

    // The first write trims what the file held to the variants nearest the slider.
    moveSliderTo(0.52);
    EXPECT_EQ(bassVariantSensitivities(store), (std::set<double>{0.4, 0.5, 0.52, 0.6}));
    EXPECT_TRUE(store.project().audio->instrumentAnalysisVariants.contains("Voz|fallback|s:0|b:4|v:25"));

    // Ten new positions: only the last four stay.
    const auto position = [](int i) { return 1.0 + i * 0.01; };
    for (int i = 1; i <= 10; ++i)
        moveSliderTo(position(i));
    EXPECT_EQ(bassVariantSensitivities(store), (std::set<double>{position(7), position(8), position(9), position(10)}));

    // Back and forth between two positions: the other one is always still there.
    for (int i = 0; i < 6; ++i) {
        moveSliderTo(position(i % 2 == 0 ? 7 : 10));
        EXPECT_TRUE(AudioAnalysisCacheKey::cachedInstrumentAnalysis(I::bass, *store.project().audio).has_value());
        EXPECT_EQ(bassVariantSensitivities(store).size(), 4u);
        EXPECT_TRUE(bassVariantSensitivities(store).contains(position(i % 2 == 0 ? 10 : 7)));
    }
    EXPECT_EQ(store.project().audio->instrumentAnalysisVariants.size(), 5u);

    // Markers the user edited at one position are still there however far the slider goes.
    const BeatMarker detected = makeMarker(1, true, false, I::bass);
    moveSliderTo(0.3);
    store.modifyProject([&](FotivelaProject& p) { p.audio->beatSensitivity = 0.25; });
    ProjectStoreTestAccess::storeBeatMarkers(store, {detected}, true, false);
    BeatMarker edited = detected;
    edited.isEnabled = false;
    ProjectStoreTestAccess::storeBeatMarkers(store, {edited}, true);
    // Storing the same markers again, as the end of every edit does, is no edit of this variant.
    moveSliderTo(0.35);
    ProjectStoreTestAccess::storeBeatMarkers(store, store.audioBeatMarkers(), true);
    for (int i = 1; i <= 10; ++i)
        moveSliderTo(-1.0 + i * 0.01);
    const auto& variants = store.project().audio->instrumentAnalysisVariants;
    ASSERT_TRUE(variants.contains("Bajo|fallback|s:250|b:4|v:25"));
    EXPECT_EQ(variants.at("Bajo|fallback|s:250|b:4|v:25").beatMarkers, std::vector<BeatMarker>{edited});
    EXPECT_TRUE(variants.at("Bajo|fallback|s:250|b:4|v:25").hasUserEdits);
    EXPECT_FALSE(variants.contains("Bajo|fallback|s:350|b:4|v:25"));
    EXPECT_EQ(bassVariantSensitivities(store).size(), 5u);
}

std::vector<double> pulseCurve(std::size_t count, const std::vector<std::size_t>& peaks)
{
    std::vector<double> curve(count, 0.02);
    for (std::size_t peak : peaks) {
        curve[peak] = 1.0;
        if (peak + 1 < count)
            curve[peak + 1] = 0.5;
    }
    return curve;
}

TEST_F(StoreMarkers, AttackMarkersKeepTheOverridesOfTheUser)
{
    ProjectStore store;
    AudioTrack track = makeTrack(SyncMode::autoBeatV2);
    track.isAttackWaveformEnabled = true;
    store.modifyProject([&](FotivelaProject& p) { p.audio = track; });
    store.setIsAttackWaveformEnabled(true);
    store.setAudioDuration(10);
    store.setAudioWaveform(pulseCurve(400, {40, 120, 200, 280, 360}));
    ProjectStoreTestAccess::regenerateAttackBeatMarkers(store);
    const std::vector<BeatMarker> detected = store.attackBeatMarkers();
    ASSERT_GE(detected.size(), 3u);
    for (const BeatMarker& marker : detected) {
        EXPECT_EQ(marker.kind, BeatKind::strong);
        EXPECT_FALSE(marker.isManual);
        EXPECT_FALSE(marker.sourceInstrument);
    }

    const BeatMarker& target = detected[1];
    BeatMarker near = makeMarker(target.time + 0.04, false);
    BeatMarker nearTwin = makeMarker(target.time + 0.04, true);
    BeatMarker far = makeMarker(detected[2].time + 0.06, false);
    store.modifyProject([&](FotivelaProject& p) { p.audio->attackMarkerOverrides = {near, nearTwin, far}; });
    ProjectStoreTestAccess::regenerateAttackBeatMarkers(store);
    const std::vector<BeatMarker>& again = store.attackBeatMarkers();
    ASSERT_EQ(again.size(), detected.size());
    EXPECT_EQ(again[1].id, near.id); // equally near: the first override wins
    EXPECT_FALSE(again[1].isEnabled);
    EXPECT_EQ(again[1].time, target.time);
    EXPECT_NE(again[2].id, far.id);

    // Switched off: no attack markers, overrides kept; on again: the marker comes back disabled.
    store.setIsAttackWaveformEnabled(false);
    ProjectStoreTestAccess::regenerateAttackBeatMarkers(store);
    EXPECT_TRUE(store.attackBeatMarkers().empty());
    EXPECT_EQ(store.project().audio->attackMarkerOverrides.size(), 3u);
    store.setIsAttackWaveformEnabled(true);
    ProjectStoreTestAccess::regenerateAttackBeatMarkers(store);
    EXPECT_FALSE(store.attackBeatMarkers()[1].isEnabled);

    // Restoring throws the overrides away, with one undo step; with none it does nothing.
    store.restoreAttackBeatMarkers();
    EXPECT_TRUE(store.project().audio->attackMarkerOverrides.empty());
    EXPECT_TRUE(store.attackBeatMarkers()[1].isEnabled);
    EXPECT_EQ(store.undoStack().size(), 1u);
    EXPECT_TRUE(store.hasUnsavedChanges());
    store.restoreAttackBeatMarkers();
    EXPECT_EQ(store.undoStack().size(), 1u);

    // A record of a moved marker finds the hit it was moved from and puts the marker back where
    // it was moved, but never past an enabled marker nobody edited.
    ASSERT_GE(detected.size(), 5u);
    BeatMarker moved = makeMarker(detected[2].time - 0.3);
    moved.detectedTime = detected[2].time + 0.03;
    BeatMarker passing = makeMarker(detected[4].time + 0.5);
    passing.detectedTime = detected[3].time;
    store.modifyProject([&](FotivelaProject& p) { p.audio->attackMarkerOverrides = {moved, passing}; });
    ProjectStoreTestAccess::regenerateAttackBeatMarkers(store);
    const std::vector<BeatMarker>& placed = store.attackBeatMarkers();
    EXPECT_EQ(placed[2].id, moved.id);
    EXPECT_EQ(placed[2].time, moved.time);
    EXPECT_EQ(placed[3].id, passing.id);
    EXPECT_NEAR(placed[3].time, detected[4].time - 0.08, 1e-9);
}

TEST_F(StoreMarkers, EditedTimesSnapToMarkersAndThePlayhead)
{
    ProjectStore store;
    store.modifyProject([](FotivelaProject& p) {
        p.audio = makeTrack(SyncMode::manual);
        p.slides = {makeSlide(5), makeSlide(5)};
    });
    store.recalculateTotalDuration();
    store.setAudioDuration(8);
    store.setAudioBeatMarkers({makeMarker(1.0, true, true), makeMarker(1.125, true, true), makeMarker(3, false, true)});
    store.setPreviewTime(20);

    EXPECT_EQ(ProjectStoreTestAccess::snapTimelineEditTime(store, 1.0625), 1.0);
    EXPECT_EQ(store.snappedBeatTime(), 1.0);
    EXPECT_EQ(ProjectStoreTestAccess::snapTimelineEditTime(store, 1.1), 1.125);
    EXPECT_EQ(ProjectStoreTestAccess::snapTimelineEditTime(store, 1.25), 1.25);
    EXPECT_FALSE(store.snappedBeatTime());
    EXPECT_EQ(ProjectStoreTestAccess::snapTimelineEditTime(store, 3.05), 3.05); // a disabled marker does not attract
    EXPECT_EQ(ProjectStoreTestAccess::snapTimelineEditTime(store, -1), 0.0);

    store.setPreviewTime(2.0);
    EXPECT_EQ(ProjectStoreTestAccess::snapTimelineEditTime(store, 2.0625), 2.0);

    store.modifyProject([](FotivelaProject& p) { p.audio->syncMode = SyncMode::autoBeatV2; });
    EXPECT_EQ(ProjectStoreTestAccess::snapTimelineEditTime(store, 1.01), 1.01);
    EXPECT_FALSE(store.snappedBeatTime());
    EXPECT_EQ(ProjectStoreTestAccess::snapTimelineEditTime(store, 99), 10.0);
    EXPECT_EQ(ProjectStoreTestAccess::snapTimelineEditTime(store, std::numeric_limits<double>::quiet_NaN()), 0.0);

    EXPECT_EQ(ProjectStoreTestAccess::startTime(store, 0), 0.0);
    EXPECT_EQ(ProjectStoreTestAccess::startTime(store, 1), 5.0);
    EXPECT_EQ(ProjectStoreTestAccess::startTime(store, 2), 10.0);
}

// A moved attack marker stands where the user put it whenever the same hits are found again:
// after an undo of another edit, a sensitivity moved and back, and a reopening, with the cuts.
TEST_F(StoreMarkers, MovedAttackMarkersKeepTheirPlaceAcrossRegenerations)
{
    AudioTestFolder folder{"fotivela-store-moved-attack"};
    const std::filesystem::path song = writeClickSong(folder.path(), "golpes", 8, {1, 2, 3, 4, 5, 6, 7});
    const std::filesystem::path url = m_root / "Proyectos" / "Golpes" / "Golpes.fotivela";
    std::filesystem::create_directories(url.parent_path());
    const auto markerAt = [](const ProjectStore& store, double time) {
        for (const BeatMarker& marker : store.attackBeatMarkers())
            if (marker.isEnabled && std::abs(marker.time - time) < 0.06)
                return marker;
        ADD_FAILURE() << "no enabled attack marker near " << time;
        return BeatMarker{};
    };
    const auto times = [](const ProjectStore& store) {
        std::vector<double> result;
        for (const BeatMarker& marker : store.attackBeatMarkers())
            result.push_back(marker.time);
        return result;
    };

    std::vector<double> moved;
    std::vector<double> placed;
    {
        ProjectStore store;
        store.setCurrentProjectURL(url);
        store.modifyProject([&](FotivelaProject& p) {
            p.name = "Golpes";
            p.audio = makeTrack(SyncMode::autoBeatV2, song);
            p.audio->isAttackWaveformEnabled = true;
            p.slides.clear();
            for (int i = 0; i < 8; ++i)
                p.slides.push_back(makeSlide(1));
        });
        store.setIsAttackWaveformEnabled(true);
        store.setAudioDuration(8);
        store.recalculateTotalDuration();
        ProjectStoreMusicTestAccess::analyzeWaveformAsync(store, song, true);
        ASSERT_TRUE(waitFor([&] { return !store.attackBeatMarkers().empty(); }, 20000));

        const auto drag = [&](const Uuid& id, double to) {
            store.setIsEditingBeatMarker(true);
            store.moveBeatMarker(id, to);
            store.setIsEditingBeatMarker(false);
            store.commitPendingBeatMarkerMove();
        };
        // The start marker, a short drag and a long one.
        drag(markerAt(store, 0).id, 0.217);
        drag(markerAt(store, 2).id, markerAt(store, 2).time + 0.04);
        drag(markerAt(store, 4).id, 3.5);
        moved = times(store);
        placed = durations(store);
        EXPECT_NEAR(placed[0], 0.217, 1e-9);
        EXPECT_NEAR(placed[0] + placed[1] + placed[2] + placed[3] + placed[4], 3.5, 1e-9);

        store.toggleBeatMarkerEnabled(markerAt(store, 6).id);
        store.undoLastStep();
        ASSERT_TRUE(waitFor([&] { return !store.attackBeatMarkers().empty(); }, 20000));
        EXPECT_EQ(times(store), moved);
        expectDurations(store, placed);

        store.setBeatSensitivity(0.6);
        store.setBeatSensitivity(0.5);
        EXPECT_EQ(times(store), moved);
        expectDurations(store, placed);
        store.saveCurrentProjectImmediatelyIfPossible();
    }

    ProjectStore reopened;
    ASSERT_TRUE(reopened.loadProject(url));
    ASSERT_TRUE(waitFor([&] { return !reopened.attackBeatMarkers().empty(); }, 20000));
    EXPECT_EQ(times(reopened), moved);
    expectDurations(reopened, placed);
}

} // namespace
