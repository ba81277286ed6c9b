#include "analysis/beat_marker_detector.h"
#include "analysis/waveform_curve_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

using namespace fotivela;

namespace {

std::vector<float> noiseWithClicks(size_t frames, unsigned seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 0.05f);
    std::vector<float> samples(frames);
    for (size_t i = 0; i < frames; ++i)
        samples[i] = noise(random) + ((i % 4410) < 40 ? 0.8f : 0.0f);
    return samples;
}

WaveformCurveBuilder build(const std::vector<std::vector<float>>& channels, int64_t framesPerBucket,
    BeatDetectionFocus focus, const std::vector<int64_t>& blockSizes = {})
{
    WaveformCurveBuilder builder(framesPerBucket, focus);
    const auto frames = static_cast<int64_t>(channels.front().size());
    int64_t done = 0;
    size_t next = 0;
    while (done < frames) {
        const int64_t block = blockSizes.empty() ? frames : std::min(blockSizes[next++ % blockSizes.size()], frames - done);
        std::vector<const float*> pointers;
        for (const auto& c : channels)
            pointers.push_back(c.data() + done);
        builder.addFrames(pointers.data(), static_cast<int>(pointers.size()), block);
        done += block;
    }
    builder.finish();
    return builder;
}

} // namespace

TEST(WaveformCurveBuilder, BucketLayout)
{
    EXPECT_EQ(waveformBucketLayout(441000, 44100, 1400), (WaveformBucketLayout {1400, 315}));
    EXPECT_EQ(waveformBucketLayout(44100 * 900, 44100, 1400), (WaveformBucketLayout {45000, 882}));
    EXPECT_EQ(waveformBucketLayout(100, 44100, 45), (WaveformBucketLayout {45, 2}));
    // 3 minutes at 48 kHz: 80 buckets a second.
    EXPECT_EQ(waveformBucketLayout(48000 * 180, 48000, 1400), (WaveformBucketLayout {14400, 600}));
    // A target of zero would divide by zero.
    EXPECT_EQ(waveformBucketLayout(10, 44100, 0).bucketCount, 1);

    const std::vector<std::vector<float>> hundred {std::vector<float>(100, 0.1f)};
    EXPECT_EQ(build(hundred, 2, BeatDetectionFocus::kick).rawDisplay().size(), 50u);
    EXPECT_EQ(build(hundred, 3, BeatDetectionFocus::kick).rawDisplay().size(), 34u); // last bucket shorter
}

TEST(WaveformCurveBuilder, BlockSplitDoesNotChangeTheCurves)
{
    const std::vector<std::vector<float>> stereo {noiseWithClicks(50000, 1), noiseWithClicks(50000, 2)};
    for (BeatDetectionFocus focus : allCases<BeatDetectionFocus>()) {
        const auto whole = build(stereo, 315, focus);
        const auto split = build(stereo, 315, focus, {1, 7, 4096, 333, 1152});
        EXPECT_EQ(whole.rawDisplay(), split.rawDisplay());
        EXPECT_EQ(whole.rawDetection(), split.rawDetection());
        EXPECT_EQ(split.framesSeen(), 50000);
    }
}

TEST(WaveformCurveBuilder, MonoEqualsIdenticalStereo)
{
    const auto samples = noiseWithClicks(30000, 3);
    for (BeatDetectionFocus focus : allCases<BeatDetectionFocus>()) {
        const auto mono = build({samples}, 200, focus);
        const auto stereo = build({samples, samples}, 200, focus);
        EXPECT_EQ(mono.rawDisplay(), stereo.rawDisplay());
        EXPECT_EQ(mono.rawDetection(), stereo.rawDetection());
    }
}

TEST(WaveformCurveBuilder, SilenceAndAClick)
{
    const auto silent = build({std::vector<float>(10000, 0.0f)}, 100, BeatDetectionFocus::fullMix);
    EXPECT_EQ(BeatMarkerDetector::contrastNormalized(silent.rawDisplay()), std::vector<double>(100, 0.0));
    EXPECT_EQ(BeatMarkerDetector::normalized(silent.rawDetection()), std::vector<double>(100, 0.0));

    std::vector<float> click(10000, 0.0f);
    click[5050] = 0.9f;
    for (BeatDetectionFocus focus : allCases<BeatDetectionFocus>()) {
        const auto built = build({click}, 100, focus);
        const auto display = BeatMarkerDetector::contrastNormalized(built.rawDisplay());
        const auto detection = BeatMarkerDetector::normalized(built.rawDetection());
        // The contrast curve subtracts a little of the mean, so the click's bucket is the top, just under 1.
        EXPECT_EQ(*std::max_element(display.begin(), display.end()), display[50]);
        EXPECT_GT(display[50], 0.99);
        EXPECT_EQ(detection[50], 1.0);
        EXPECT_EQ(display[10], 0.0); // silence before the click
        EXPECT_LT(display[90], 0.2); // the filters' tail fades under the contrast curve
    }
}

TEST(WaveformCurveBuilder, NonFiniteSamplesAreSilence)
{
    auto samples = noiseWithClicks(20000, 4);
    auto poisoned = samples;
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (size_t i = 9000; i < 9100; ++i) {
        samples[i] = 0.0f;
        poisoned[i] = (i % 3 == 0) ? nan : ((i % 3 == 1) ? inf : -inf);
    }
    for (BeatDetectionFocus focus : allCases<BeatDetectionFocus>()) {
        EXPECT_EQ(build({poisoned}, 300, focus).rawDisplay(), build({samples}, 300, focus).rawDisplay());
        EXPECT_EQ(build({poisoned}, 300, focus).rawDetection(), build({samples}, 300, focus).rawDetection());
    }

    // Finite samples at the float limit cannot overflow a curve either.
    const std::vector<std::vector<float>> huge {std::vector<float>(5000, std::numeric_limits<float>::max()),
        std::vector<float>(5000, -std::numeric_limits<float>::max())};
    const auto built = build(huge, 50, BeatDetectionFocus::cymbal);
    for (double v : built.rawDisplay())
        EXPECT_TRUE(std::isfinite(v));
    for (double v : BeatMarkerDetector::normalized(built.rawDetection()))
        EXPECT_TRUE(std::isfinite(v));
}
