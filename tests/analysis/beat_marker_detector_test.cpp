#include "analysis/beat_marker_detector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

using namespace fotivela;

namespace {

BeatMarker marker(double time, double strength = 0.5, BeatKind kind = BeatKind::strong, bool enabled = true,
    bool manual = false, std::optional<AutoBeatInstrument> instrument = std::nullopt)
{
    BeatMarker m;
    m.id = Uuid::random();
    m.time = time;
    m.strength = strength;
    m.kind = kind;
    m.isEnabled = enabled;
    m.isManual = manual;
    m.sourceInstrument = instrument;
    return m;
}

// Zeros with a spike of the given height at each index.
std::vector<double> spikes(size_t n, const std::vector<size_t>& at, double height = 1.0)
{
    std::vector<double> curve(n, 0.0);
    for (size_t i : at)
        curve[i] = height;
    return curve;
}

std::vector<BeatMarker> detect(const std::vector<double>& curve, double duration, double sensitivity = 0,
    int64_t beatsPerBar = 1, bool includeSuppressed = true)
{
    return BeatMarkerDetector::detectBeatMarkers(
        curve, duration, sensitivity, beatsPerBar, BeatDetectionProfile::attack(), std::nullopt, includeSuppressed);
}

// Everything but the ids, which are new on every run.
void expectSameMarkers(const std::vector<BeatMarker>& a, const std::vector<BeatMarker>& b)
{
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].time, b[i].time);
        EXPECT_EQ(a[i].strength, b[i].strength);
        EXPECT_EQ(a[i].kind, b[i].kind);
    }
}

// The close-marker rule exactly as worded: every marker against every survivor.
std::vector<BeatMarker> closeMarkersByDefinition(const std::vector<BeatMarker>& markers, double spacing)
{
    std::vector<size_t> ranking(markers.size());
    for (size_t i = 0; i < ranking.size(); ++i)
        ranking[i] = i;
    std::stable_sort(ranking.begin(), ranking.end(), [&](size_t a, size_t b) {
        const double pa = BeatMarkerDetector::markerPriority(markers[a]);
        const double pb = BeatMarkerDetector::markerPriority(markers[b]);
        if (pa != pb)
            return pa > pb;
        return markers[a].time < markers[b].time;
    });
    std::vector<BeatMarker> survivors;
    const double s = std::max(spacing, 0.0);
    for (size_t index : ranking) {
        bool close = false;
        for (const BeatMarker& survivor : survivors)
            close = close || std::fabs(survivor.time - markers[index].time) < s;
        if (!close)
            survivors.push_back(markers[index]);
    }
    std::vector<BeatMarker> out = markers;
    for (BeatMarker& m : out) {
        m.isEnabled = std::any_of(survivors.begin(), survivors.end(), [&](const BeatMarker& k) { return k.id == m.id; });
    }
    BeatMarkerDetector::sortByTime(out);
    return out;
}

} // namespace

TEST(BeatMarkerDetector, ShortCurvesAndFlatCurves)
{
    EXPECT_TRUE(detect(std::vector<double>(8, 0.5), 10).empty());
    EXPECT_TRUE(detect(std::vector<double>(20, 0.5), 0).empty());

    const auto flat = detect(std::vector<double>(9, 0.5), 10);
    ASSERT_EQ(flat.size(), 2u);
    EXPECT_EQ(flat[0].time, 0.0);
    EXPECT_EQ(flat[0].kind, BeatKind::bar);
    EXPECT_EQ(flat[0].strength, 1.0);
    EXPECT_FALSE(flat[0].sourceInstrument);
    EXPECT_EQ(flat[1].time, 10.0);

    // No end marker when the song is too short for one.
    EXPECT_EQ(detect(std::vector<double>(9, 0.5), 0.2).size(), 1u);
}

TEST(BeatMarkerDetector, StartAndEndMarkersDependOnTheGap)
{
    // The detected onset's frame does not depend on the duration once the
    // back-tracking window is capped in frames, so the duration places it.
    const size_t n = 200;
    const auto early = spikes(n, {20});
    const auto probe = detect(early, 100.0);
    ASSERT_EQ(probe.size(), 3u);
    const double firstFrame = probe[1].time / (100.0 / n);
    ASSERT_GT(firstFrame, 0);
    const auto firstAt = [&](double time) { return detect(early, time * static_cast<double>(n) / firstFrame); };

    const auto near = firstAt(0.04);
    EXPECT_NEAR(near.front().time, 0.04, 1e-9);
    const auto far = firstAt(0.06);
    ASSERT_GE(far.size(), 2u);
    EXPECT_EQ(far.front().time, 0.0);
    EXPECT_EQ(far.front().kind, BeatKind::bar);
    EXPECT_NEAR(far[1].time, 0.06, 1e-9);

    const auto late = spikes(n, {180});
    const auto lateProbe = detect(late, 100.0);
    ASSERT_EQ(lateProbe.size(), 3u);
    const double lastFrame = lateProbe[1].time / (100.0 / n);
    const auto gapAtEnd = [&](double gap) { return detect(late, gap / (1.0 - lastFrame / static_cast<double>(n))); };
    const auto tight = gapAtEnd(0.19);
    ASSERT_EQ(tight.size(), 2u); // start marker and the onset
    const auto loose = gapAtEnd(0.21);
    ASSERT_EQ(loose.size(), 3u);
    EXPECT_NEAR(loose.back().time - loose[1].time, 0.21, 1e-9);
    EXPECT_EQ(loose.back().kind, BeatKind::bar);
    EXPECT_EQ(loose.back().strength, 1.0);
}

TEST(BeatMarkerDetector, SensitivityIsClamped)
{
    std::vector<size_t> at;
    for (size_t i = 10; i < 390; i += 17)
        at.push_back(i);
    auto curve = spikes(400, at);
    for (size_t i = 0; i < curve.size(); ++i)
        curve[i] += 0.1 * std::fabs(std::sin(static_cast<double>(i) * 0.7));
    expectSameMarkers(detect(curve, 20, -5), detect(curve, 20, -1.5));
    expectSameMarkers(detect(curve, 20, 9), detect(curve, 20, 1.5));
}

TEST(BeatMarkerDetector, BarCounterSkipsInsertedMarkers)
{
    std::vector<size_t> at;
    for (size_t i = 20; i < 380; i += 30)
        at.push_back(i);
    std::vector<double> curve = spikes(400, at);
    for (size_t k = 0; k < at.size(); ++k)
        curve[at[k]] = 0.6 + 0.03 * static_cast<double>(k % 5); // strong and weak peaks both
    const auto markers = BeatMarkerDetector::detectBeatMarkers(
        curve, 40, 0, 4, BeatDetectionProfile::instrument(AutoBeatInstrument::drums), AutoBeatInstrument::drums, true);
    ASSERT_EQ(markers.size(), at.size() + 2);
    EXPECT_FALSE(markers.front().sourceInstrument); // inserted start marker
    EXPECT_FALSE(markers.back().sourceInstrument); // inserted end marker
    bool sawStrong = false, sawWeak = false;
    for (size_t k = 0; k < at.size(); ++k) {
        const BeatMarker& m = markers[k + 1];
        EXPECT_EQ(m.sourceInstrument, AutoBeatInstrument::drums);
        EXPECT_EQ(m.kind == BeatKind::bar, k % 4 == 0) << k;
        sawStrong = sawStrong || m.kind == BeatKind::strong;
        sawWeak = sawWeak || m.kind == BeatKind::weak;
        EXPECT_LE(m.time, static_cast<double>(at[k]) * 0.1); // onsets move back, never forward
    }
    EXPECT_TRUE(sawStrong);
    EXPECT_TRUE(sawWeak);

    // Beats per bar 0 never marks a bar among the detected markers.
    const auto noBars = BeatMarkerDetector::detectBeatMarkers(
        curve, 40, 0, 0, BeatDetectionProfile::attack(), std::nullopt, true);
    for (size_t k = 1; k + 1 < noBars.size(); ++k)
        EXPECT_NE(noBars[k].kind, BeatKind::bar);
}

TEST(BeatMarkerDetector, SpacedPeaksKeepTheEarlierOfEqualScores)
{
    const auto curve = spikes(400, {100, 106, 300});
    const auto all = detect(curve, 4, 0, 1, true);
    const auto spaced = detect(curve, 4, 0, 1, false);
    ASSERT_EQ(all.size(), spaced.size() + 1);
    EXPECT_EQ(spaced[1].time, all[1].time);
    EXPECT_EQ(spaced[2].time, all[3].time);
}

TEST(BeatMarkerDetector, CurveScaling)
{
    EXPECT_TRUE(BeatMarkerDetector::normalized({}).empty());
    EXPECT_TRUE(BeatMarkerDetector::contrastNormalized({}).empty());
    EXPECT_EQ(BeatMarkerDetector::normalized({0, 0, 0}), (std::vector<double> {0, 0, 0}));
    EXPECT_EQ(BeatMarkerDetector::contrastNormalized({0, 0}), (std::vector<double> {0, 0}));
    // Tiny curves are divided by 0.001, not blown up to 1.
    EXPECT_EQ(BeatMarkerDetector::normalized({0.0005, -1, 4}), (std::vector<double> {0.000125, 0, 1}));
    EXPECT_EQ(BeatMarkerDetector::normalized({0.0005}), (std::vector<double> {0.5}));

    const auto c = BeatMarkerDetector::contrastNormalized({0, 1, 0, 0});
    EXPECT_DOUBLE_EQ(c[1], std::pow(1 - 0.18 * 0.25, 0.74));
    EXPECT_EQ(c[0], 0.0);
}

TEST(BeatMarkerDetector, CloseMarkersKeepTheHigherPriority)
{
    const BeatMarker weak = marker(1.00, 0.9, BeatKind::weak);
    const BeatMarker strong = marker(1.05, 0.1, BeatKind::strong);
    auto out = BeatMarkerDetector::automaticallyDisabledCloseMarkers({strong, weak}, 0.1);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].id, weak.id); // sorted by time
    EXPECT_FALSE(out[0].isEnabled);
    EXPECT_TRUE(out[1].isEnabled);

    BeatMarker disabled = weak;
    disabled.isEnabled = false;
    for (double spacing : {0.0, -1.0}) {
        out = BeatMarkerDetector::automaticallyDisabledCloseMarkers({strong, disabled}, spacing);
        EXPECT_TRUE(out[0].isEnabled && out[1].isEnabled); // re-enabled: the rule decides alone
    }
}

TEST(BeatMarkerDetector, CloseMarkersMatchTheDefinitionOnRandomLists)
{
    std::mt19937 random(42);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int round = 0; round < 300; ++round) {
        const size_t count = random() % 120;
        const double span = 0.2 + unit(random) * 10;
        std::vector<BeatMarker> markers;
        for (size_t i = 0; i < count; ++i) {
            // Coarse times and strengths make ties of time and of priority common.
            const double time = std::round(unit(random) * span * 50) / 50;
            const double strength = std::round(unit(random) * 4) / 4;
            const auto kind = static_cast<BeatKind>(random() % 3);
            markers.push_back(marker(time, strength, kind, random() % 2 == 0));
            if (i > 0 && random() % 25 == 0)
                markers.back().id = markers[random() % i].id; // shared ids follow the id rule
        }
        const double spacing = (round % 10 == 0) ? -0.1 : unit(random) * 0.6;
        EXPECT_EQ(BeatMarkerDetector::automaticallyDisabledCloseMarkers(markers, spacing),
            closeMarkersByDefinition(markers, spacing))
            << "round " << round;
    }
}

TEST(BeatMarkerDetector, MergedMarkersCollapseNearDuplicates)
{
    const auto drums = AutoBeatInstrument::drums;
    const BeatMarker enabled = marker(2.00, 0.2, BeatKind::strong, true, false, drums);
    const BeatMarker disabledNear = marker(2.05, 0.9, BeatKind::strong, false, false, drums);
    const BeatMarker disabledFar = marker(2.08, 0.9, BeatKind::strong, false, false, drums);

    auto out = BeatMarkerDetector::mergedMarkers({{disabledNear}, {enabled}});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].id, enabled.id);
    out = BeatMarkerDetector::mergedMarkers({{enabled, disabledFar}});
    EXPECT_EQ(out.size(), 2u);

    // Other instrument, or manual against automatic: both stay.
    const BeatMarker bass = marker(2.00, 0.2, BeatKind::strong, true, false, AutoBeatInstrument::bass);
    const BeatMarker manual = marker(2.01, 0.2, BeatKind::strong, true, true, drums);
    EXPECT_EQ(BeatMarkerDetector::mergedMarkers({{enabled}, {bass}, {manual}}).size(), 3u);

    // Same state: the strictly stronger wins, and later markers compare with the winner.
    const BeatMarker a = marker(1.00, 0.3);
    const BeatMarker b = marker(1.05, 0.6);
    const BeatMarker c = marker(1.12, 0.6);
    out = BeatMarkerDetector::mergedMarkers({{a, b, c}});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].id, b.id);
    EXPECT_TRUE(BeatMarkerDetector::mergedMarkers({}).empty());
}

TEST(BeatMarkerDetector, UniquedMarkersKeepOnePerCluster)
{
    const BeatMarker m0 = marker(0.0, 0.1, BeatKind::weak);
    const BeatMarker m3 = marker(0.3, 0.5, BeatKind::strong);
    const BeatMarker m6 = marker(0.6, 0.5, BeatKind::weak);
    auto out = BeatMarkerDetector::uniquedBeatMarkers({m6, m3, m0}, 0.5);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].id, m3.id);
    EXPECT_EQ(out[1].id, m6.id);

    // A disabled automatic marker removes its cluster unless an enabled manual marker is there.
    BeatMarker off = m3;
    off.isEnabled = false;
    out = BeatMarkerDetector::uniquedBeatMarkers({m0, off, m6}, 0.5);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].id, m6.id);
    const BeatMarker manual = marker(0.1, 0.0, BeatKind::weak, true, true);
    const BeatMarker manualBar = marker(0.2, 0.0, BeatKind::bar, true, true);
    out = BeatMarkerDetector::uniquedBeatMarkers({m0, off, manual, manualBar, m6}, 0.5);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].id, manualBar.id);

    // Ties go to the earliest.
    const BeatMarker t1 = marker(1.0, 0.5);
    const BeatMarker t2 = marker(1.1, 0.5);
    out = BeatMarkerDetector::uniquedBeatMarkers({t2, t1}, 0.5);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].id, t1.id);
}

TEST(BeatMarkerDetector, RandomCurvesGiveWellFormedMarkers)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int round = 0; round < 200; ++round) {
        std::vector<double> curve(9 + random() % 600);
        for (double& v : curve)
            v = unit(random) < 0.1 ? unit(random) : 0.05 * unit(random);
        const double duration = 0.01 + unit(random) * 60;
        const auto instrument = static_cast<AutoBeatInstrument>(random() % 7);
        const auto markers = BeatMarkerDetector::detectBeatMarkers(curve, duration, unit(random) * 4 - 2,
            static_cast<int64_t>(random() % 6) - 1, BeatDetectionProfile::instrument(instrument), instrument, round % 2 == 0);
        ASSERT_FALSE(markers.empty());
        EXPECT_LE(markers.front().time, 0.05);
        EXPECT_LE(duration - markers.back().time, 0.2 + 1e-12);
        for (const BeatMarker& m : markers) {
            EXPECT_GE(m.time, 0.0);
            EXPECT_LE(m.time, duration);
            EXPECT_GE(m.strength, 0.0);
            EXPECT_LE(m.strength, 1.0);
            EXPECT_TRUE(m.isEnabled);
            EXPECT_FALSE(m.isManual);
        }
    }
}

TEST(BeatMarkerDetector, ARippleOnAHitsEnvelopeGivesNoSecondCandidate)
{
    // A kick over a chord as the clap-snare focus reads it, every 40 buckets: the
    // hit's envelope tops out, dips a little and climbs again two buckets later.
    const std::vector<double> period {0.150, 0.205, 0.215, 0.161, 0.198, 0.220, 0.172, 0.209, 0.231, 0.237, 0.169,
        0.234, 0.268, 0.127, 0.232, 0.284, 0.122, 0.226, 0.303, 0.117, 0.936, 0.462, 0.279, 0.166, 0.309, 0.206, 0.116,
        0.244, 0.188, 0.114, 0.241, 0.214, 0.136, 0.228, 0.205, 0.180, 0.216, 0.192, 0.193, 0.228};
    std::vector<double> curve;
    for (int k = 0; k < 20; ++k)
        curve.insert(curve.end(), period.begin(), period.end());
    const double bucket = 0.0125;
    const auto markers = detect(curve, bucket * static_cast<double>(curve.size()));
    ASSERT_EQ(markers.size(), 20u + 2); // with the start and end markers
    for (int k = 0; k < 20; ++k) {
        const double hit = (40.0 * k + 20) * bucket;
        EXPECT_LE(markers[static_cast<size_t>(k) + 1].time, hit) << k;
        EXPECT_GE(markers[static_cast<size_t>(k) + 1].time, hit - 10 * bucket) << k;
    }
}

TEST(BeatMarkerDetector, AStepAndTheSwellAfterItAreOneHit)
{
    // A steep step, then a slow swell to three times its height over 30 buckets:
    // the score peaks on the step and again near the top of the swell, where the
    // envelope pulls ahead of its local mean. One marker, at the step.
    std::vector<double> curve(400, 0.0);
    for (size_t start : {100u, 250u}) {
        for (size_t k = 0; k < 30; ++k)
            curve[start + k] = 0.3 + 0.7 * static_cast<double>(k) / 29.0;
    }
    const double bucket = 0.0125;
    const auto markers = detect(curve, bucket * static_cast<double>(curve.size()));
    ASSERT_EQ(markers.size(), 2u + 2);
    for (size_t k = 0; k < 2; ++k) {
        const double step = (k == 0 ? 100 : 250) * bucket;
        EXPECT_LE(markers[k + 1].time, step) << k;
        EXPECT_GE(markers[k + 1].time, step - 8 * bucket) << k;
    }
}

TEST(BeatMarkerDetector, AHitThatClimbsInTwoStepsIsOneHit)
{
    // The hit's envelope climbs to 0.4, holds there for three buckets and climbs
    // on to its top: both climbs pass as hits, but the second starts right after
    // the first tops out with nothing lost in between, so they are one hit.
    std::vector<double> curve(400, 0.0);
    std::vector<size_t> hits;
    for (size_t start = 20; start + 40 < curve.size(); start += 40) {
        for (size_t k = 0; k < 7; ++k)
            curve[start + k] = 0.4;
        for (size_t k = 7; k < 30; ++k)
            curve[start + k] = std::exp(-static_cast<double>(k - 7) / 6.0);
        hits.push_back(start);
    }
    const double bucket = 0.0125;
    const auto markers = detect(curve, bucket * static_cast<double>(curve.size()));
    ASSERT_EQ(markers.size(), hits.size() + 2); // with the start and end markers
    for (size_t k = 0; k < hits.size(); ++k) {
        EXPECT_GE(markers[k + 1].time, static_cast<double>(hits[k] - 2) * bucket) << k;
        EXPECT_LE(markers[k + 1].time, static_cast<double>(hits[k] + 7) * bucket) << k;
    }
}

TEST(BeatMarkerDetector, AHitOutOfSilenceIsMarkedWhereItsEnvelopeLeavesSilence)
{
    // A small first step, then the hit: the five-value mean leaves zero two
    // buckets before the first non-zero value, and the onset is found there,
    // small as that first step is.
    std::vector<double> curve(200, 0.0);
    curve[50] = 0.15;
    for (size_t k = 51; k < 90; ++k)
        curve[k] = std::exp(-static_cast<double>(k - 51) / 6.0);
    const double bucket = 0.0125;
    const auto markers = detect(curve, bucket * static_cast<double>(curve.size()));
    ASSERT_EQ(markers.size(), 3u);
    EXPECT_DOUBLE_EQ(markers[1].time, 48 * bucket);
}
