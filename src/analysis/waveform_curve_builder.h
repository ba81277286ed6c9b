#pragma once

#include "model/audio_track.h"

#include <cstdint>
#include <vector>

namespace fotivela {

// How a song of a given length is cut into time buckets: 80 buckets a second,
// at least the caller's target and at most 45000, of whole frames each.
struct WaveformBucketLayout {
    int64_t bucketCount = 0;
    int64_t framesPerBucket = 1;

    bool operator==(const WaveformBucketLayout&) const = default;
};

WaveformBucketLayout waveformBucketLayout(int64_t frames, double sampleRate, int64_t targetSamples);

// Runs the per-frame band filters and bucket statistics over planar float
// frames fed in any block sizes; the raw curves it builds do not depend on how
// the frames were split into blocks.
class WaveformCurveBuilder {
public:
    WaveformCurveBuilder(int64_t framesPerBucket, BeatDetectionFocus focus, int64_t expectedBuckets = 0);

    // channels[c][i] is frame i of channel c; frameCount frames of every channel.
    void addFrames(const float* const* channels, int channelCount, int64_t frameCount);
    // Closes the last, possibly shorter, bucket.
    void finish();

    int64_t framesSeen() const { return m_framesSeen; }
    const std::vector<double>& rawDisplay() const { return m_rawDisplay; }
    const std::vector<double>& rawDetection() const { return m_rawDetection; }

private:
    void closeBucket();

    int64_t m_framesPerBucket;
    BeatDetectionFocus m_focus;
    int64_t m_framesSeen = 0;

    // Filter state, carried across buckets.
    float m_previousMono = 0;
    float m_low = 0;
    float m_mid = 0;
    float m_previousHigh = 0;

    // Bucket statistics.
    int64_t m_count = 0;
    float m_peak = 0, m_diffPeak = 0, m_lowPeak = 0, m_lowDeltaPeak = 0;
    float m_midPeak = 0, m_midDeltaPeak = 0, m_highPeak = 0, m_highDeltaPeak = 0;
    float m_lowEnergy = 0, m_midEnergy = 0, m_highEnergy = 0;

    std::vector<double> m_rawDisplay;
    std::vector<double> m_rawDetection;
};

} // namespace fotivela
