#include "analysis/waveform_curve_builder.h"

#include "analysis/denormal_guard.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace fotivela {

namespace {

constexpr int64_t kMaximumBuckets = 45000;
constexpr double kBucketsPerSecond = 80.0;

// Integer part of a non-negative estimate; NaN counts as 0, huge values saturate.
int64_t wholeBuckets(double estimate)
{
    if (!(estimate > 0))
        return 0;
    return estimate < 9.2e18 ? static_cast<int64_t>(estimate) : std::numeric_limits<int64_t>::max();
}

// NaN and infinities in a float file count as silence, and absurd finite values
// are bounded so that no filter state or energy can overflow into a curve.
inline float sanitizedSample(float sample)
{
    constexpr float kLimit = 1.0e6f;
    if (std::fabs(sample) <= kLimit)
        return sample;
    return std::isfinite(sample) ? std::copysign(kLimit, sample) : 0.0f;
}

} // namespace

WaveformBucketLayout waveformBucketLayout(int64_t frames, double sampleRate, int64_t targetSamples)
{
    WaveformBucketLayout layout;
    const int64_t wanted = wholeBuckets(static_cast<double>(frames) / std::max(sampleRate, 1.0) * kBucketsPerSecond);
    // A target below one would divide by zero; one bucket is the least that means anything.
    layout.bucketCount = std::max<int64_t>(std::min(std::max(wanted, targetSamples), kMaximumBuckets), 1);
    layout.framesPerBucket = std::max<int64_t>(frames / layout.bucketCount, 1);
    return layout;
}

WaveformCurveBuilder::WaveformCurveBuilder(int64_t framesPerBucket, BeatDetectionFocus focus, int64_t expectedBuckets)
    : m_framesPerBucket(std::max<int64_t>(framesPerBucket, 1))
    , m_focus(focus)
{
    if (expectedBuckets > 0) {
        m_rawDisplay.reserve(static_cast<size_t>(expectedBuckets) + 1);
        m_rawDetection.reserve(static_cast<size_t>(expectedBuckets) + 1);
    }
}

void WaveformCurveBuilder::addFrames(const float* const* channels, int channelCount, int64_t frameCount)
{
    const DenormalGuard denormals;
    const float divisor = static_cast<float>(std::max(channelCount, 1));
    for (int64_t i = 0; i < frameCount; ++i) {
        float sum = 0;
        for (int c = 0; c < channelCount; ++c) {
            sum += sanitizedSample(channels[c][i]);
        }
        const float mono = sum / divisor;

        const float low = m_low * 0.985f + mono * 0.015f;
        const float lowDelta = low - m_low;
        const float mid = m_mid * 0.72f + (mono - low) * 0.28f;
        const float midDelta = mid - m_mid;
        const float high = mono - low - mid;
        const float highDelta = high - m_previousHigh;
        const float diff = std::fabs(mono - m_previousMono);

        m_peak = std::max(m_peak, std::fabs(mono));
        m_diffPeak = std::max(m_diffPeak, diff);
        m_lowPeak = std::max(m_lowPeak, std::fabs(low));
        m_lowDeltaPeak = std::max(m_lowDeltaPeak, std::fabs(lowDelta));
        m_midPeak = std::max(m_midPeak, std::fabs(mid));
        m_midDeltaPeak = std::max(m_midDeltaPeak, std::fabs(midDelta));
        m_highPeak = std::max(m_highPeak, std::fabs(high));
        m_highDeltaPeak = std::max(m_highDeltaPeak, std::fabs(highDelta));
        m_lowEnergy += low * low;
        m_midEnergy += mid * mid;
        m_highEnergy += high * high;
        ++m_count;

        m_previousMono = mono;
        m_low = low;
        m_mid = mid;
        m_previousHigh = high;

        if (m_count == m_framesPerBucket)
            closeBucket();
    }
    m_framesSeen += frameCount;
}

void WaveformCurveBuilder::finish()
{
    const DenormalGuard denormals;
    if (m_count > 0)
        closeBucket();
}

void WaveformCurveBuilder::closeBucket()
{
    const float n = static_cast<float>(std::max<int64_t>(m_count, 1));
    const float lowRMS = std::sqrt(m_lowEnergy / n);
    const float midRMS = std::sqrt(m_midEnergy / n);
    const float highRMS = std::sqrt(m_highEnergy / n);
    const float total = lowRMS + midRMS + highRMS + 0.0001f;
    const float lowShare = lowRMS / total;
    const float midShare = midRMS / total;
    const float highShare = highRMS / total;

    float attack = 0;
    switch (m_focus) {
    case BeatDetectionFocus::clapSnare:
        attack = (0.74f * m_midDeltaPeak + 0.18f * m_diffPeak + 0.08f * m_midPeak)
            * std::max(1.0f - 0.75f * lowShare, 0.42f) * (0.72f + 0.7f * midShare);
        break;
    case BeatDetectionFocus::kick:
        attack = (0.42f * m_lowPeak + 0.48f * m_lowDeltaPeak + 0.1f * m_diffPeak)
            * std::max(1.0f - 0.7f * highShare, 0.44f) * (0.7f + 0.82f * lowShare);
        break;
    case BeatDetectionFocus::cymbal:
        attack = (0.24f * m_highPeak + 0.66f * m_highDeltaPeak + 0.1f * m_diffPeak)
            * std::max(1.0f - 0.84f * lowShare, 0.38f) * (0.7f + 0.92f * highShare);
        break;
    case BeatDetectionFocus::fullMix:
        attack = 0.72f * m_peak + 0.28f * m_diffPeak;
        break;
    }
    const float display = 0.56f * m_peak + 0.44f * attack;

    m_rawDisplay.push_back(static_cast<double>(display));
    m_rawDetection.push_back(static_cast<double>(attack));

    m_count = 0;
    m_peak = m_diffPeak = m_lowPeak = m_lowDeltaPeak = 0;
    m_midPeak = m_midDeltaPeak = m_highPeak = m_highDeltaPeak = 0;
    m_lowEnergy = m_midEnergy = m_highEnergy = 0;
}

} // namespace fotivela
