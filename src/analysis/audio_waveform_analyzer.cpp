#include "analysis/audio_waveform_analyzer.h"

#include "analysis/beat_marker_detector.h"
#include "analysis/waveform_curve_builder.h"
#include "platform/audio_file_reader.h"
#include "platform/log.h"

#include <algorithm>
#include <limits>

namespace fotivela {

namespace AudioWaveformAnalyzer {

namespace {

// Only what a single 32-bit-counted buffer could hold is analysed.
constexpr int64_t kMaximumFrames = std::numeric_limits<int32_t>::max();

WaveformAnalysis scaled(const WaveformCurveBuilder& builder, double sampleRate)
{
    return {BeatMarkerDetector::contrastNormalized(builder.rawDisplay()),
        BeatMarkerDetector::normalized(builder.rawDetection()),
        sampleRate > 0 ? static_cast<double>(builder.framesSeen()) / sampleRate : 0.0};
}

// One streaming pass over an open reader with a given bucket size.
WaveformCurveBuilder analysePass(
    AudioFileReader& reader, const WaveformBucketLayout& layout, BeatDetectionFocus focus, const std::stop_token& stop)
{
    WaveformCurveBuilder builder(layout.framesPerBucket, focus, layout.bucketCount);
    AudioBlockView block;
    while (builder.framesSeen() < kMaximumFrames && !stop.stop_requested() && reader.readBlock(block)) {
        const int64_t frames = std::min(block.frameCount, kMaximumFrames - builder.framesSeen());
        builder.addFrames(block.channels, block.channelCount, frames);
    }
    builder.finish();
    return builder;
}

} // namespace

WaveformAnalysis makeWaveformAnalysis(
    const std::filesystem::path& file, int64_t targetSamples, BeatDetectionFocus focus, std::stop_token stop)
{
    try {
        // The bucket size depends on the length, which compressed files only
        // estimate until decoded: analyse with the stated length and, in the
        // rare case that the decoded length calls for another bucket size, run
        // once more with the true one. Memory stays bounded either way.
        AudioFileReader reader = AudioFileReader::open(file);
        const double rate = reader.format().sampleRate;
        const int64_t stated = std::clamp<int64_t>(reader.format().lengthFrames, 0, kMaximumFrames);
        const WaveformBucketLayout guess = waveformBucketLayout(stated, rate, targetSamples);

        WaveformCurveBuilder builder = analysePass(reader, guess, focus, stop);
        const int64_t frames = builder.framesSeen();
        if (frames == 0 || stop.stop_requested())
            return {};
        const WaveformBucketLayout actual = waveformBucketLayout(frames, rate, targetSamples);
        if (actual.framesPerBucket != guess.framesPerBucket) {
            AudioFileReader again = AudioFileReader::open(file);
            builder = analysePass(again, actual, focus, stop);
            if (stop.stop_requested())
                return {};
        }
        return scaled(builder, rate);
    } catch (const std::exception& error) {
        logLine("Fotivela waveform: " + file.string() + ": " + error.what());
        return {};
    }
}

WaveformAnalysis makeWaveformAnalysis(const std::vector<std::vector<float>>& channels, double sampleRate,
    int64_t targetSamples, BeatDetectionFocus focus)
{
    int64_t frames = channels.empty() ? 0 : static_cast<int64_t>(channels.front().size());
    for (const auto& channel : channels)
        frames = std::min(frames, static_cast<int64_t>(channel.size()));
    frames = std::min(frames, kMaximumFrames);
    if (frames == 0)
        return {};

    const WaveformBucketLayout layout = waveformBucketLayout(frames, sampleRate, targetSamples);
    WaveformCurveBuilder builder(layout.framesPerBucket, focus, layout.bucketCount);
    std::vector<const float*> pointers;
    for (const auto& channel : channels)
        pointers.push_back(channel.data());
    builder.addFrames(pointers.data(), static_cast<int>(pointers.size()), frames);
    builder.finish();
    return scaled(builder, sampleRate);
}

} // namespace AudioWaveformAnalyzer

} // namespace fotivela
