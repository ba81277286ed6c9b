#include "platform/audio_decoder.h"

#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>

using namespace fotivela;
using namespace fotivela::test;

namespace {

struct LosslessCase {
    TestAudioFormat format;
    int sampleRate;
    int channels;
};

std::string caseName(const testing::TestParamInfo<LosslessCase>& info)
{
    const char* names[] = {"wav16", "wav24", "wav32", "wavFloat", "flac16", "flac24", "aiff16", "mp3", "m4a"};
    return std::string(names[static_cast<int>(info.param.format)]) + "_" + std::to_string(info.param.sampleRate) + "_"
        + std::to_string(info.param.channels) + "ch";
}

// Distinct content per channel (tone, noise and clicks), so that order and values both show.
TestSignal richSignal(int sampleRate, int channels, double seconds)
{
    TestSignal signal = makeSine(220.0, seconds, sampleRate, channels, 0.4, true);
    addNoise(signal, 0.05, 3);
    addClicks(signal, {0.1, 0.25}, 0.5, 0);
    return signal;
}

class LosslessDecoding : public testing::TestWithParam<LosslessCase> {};

TEST_P(LosslessDecoding, GivesBackEverySampleExactly)
{
    const LosslessCase c = GetParam();
    AudioTestFolder folder;
    // An odd length catches block-size rounding.
    const TestSignal signal = richSignal(c.sampleRate, c.channels, 0.3 + 37.0 / c.sampleRate);
    const auto file = writeAudioFile(folder.path(), "song", signal, c.format);

    AudioDecoder decoder(file);
    const AudioStreamInfo& info = decoder.info();
    EXPECT_EQ(info.sampleRate, c.sampleRate);
    EXPECT_EQ(info.channelCount, c.channels);
    EXPECT_EQ(info.frameCount, static_cast<std::int64_t>(signal.frameCount()));
    EXPECT_TRUE(info.isLengthExact);
    EXPECT_NEAR(info.durationSeconds, signal.durationSeconds(), 1e-9);
    const bool isFloat = c.format == TestAudioFormat::wavFloat;
    const int bits = c.format == TestAudioFormat::wav24 || c.format == TestAudioFormat::flac24 ? 24
        : c.format == TestAudioFormat::wav32 || isFloat                                      ? 32
                                                                                              : 16;
    EXPECT_EQ(info.bitsPerSample, bits);
    EXPECT_EQ(info.isFloat, isFloat);
    EXPECT_EQ(info.isLinearPcm, c.format != TestAudioFormat::flac16 && c.format != TestAudioFormat::flac24);

    const auto decoded = decoder.readAll();
    ASSERT_EQ(decoded.size(), static_cast<std::size_t>(c.channels));
    for (int ch = 0; ch < c.channels; ++ch) {
        const auto& got = decoded[static_cast<std::size_t>(ch)];
        const auto& source = signal.channels[static_cast<std::size_t>(ch)];
        ASSERT_EQ(got.size(), source.size()) << "channel " << ch;
        std::size_t mismatches = 0;
        for (std::size_t i = 0; i < got.size(); ++i)
            mismatches += got[i] != quantizedSample(source[i], c.format);
        EXPECT_EQ(mismatches, 0u) << "channel " << ch;
    }
    EXPECT_EQ(decoder.position(), static_cast<std::int64_t>(signal.frameCount()));
}

INSTANTIATE_TEST_SUITE_P(Formats, LosslessDecoding,
    testing::Values(LosslessCase{TestAudioFormat::wav16, 44100, 2}, LosslessCase{TestAudioFormat::wav24, 48000, 1},
        LosslessCase{TestAudioFormat::wav32, 96000, 2}, LosslessCase{TestAudioFormat::wavFloat, 22050, 6},
        LosslessCase{TestAudioFormat::flac16, 44100, 6}, LosslessCase{TestAudioFormat::flac24, 96000, 2},
        LosslessCase{TestAudioFormat::aiff16, 48000, 2}, LosslessCase{TestAudioFormat::wav16, 22050, 1}),
    caseName);

struct LossyCase {
    TestAudioFormat format;
    int sampleRate;
    int channels;
};

class LossyDecoding : public testing::TestWithParam<LosslessCase> {};

// Encoder delay and padding must be gone: the same length, the tone where it was.
TEST_P(LossyDecoding, KeepsLengthOnsetAndPitch)
{
    const LosslessCase c = GetParam();
    AudioTestFolder folder;
    TestSignal signal = makeSilenceFrames(static_cast<std::size_t>(1.5 * c.sampleRate) + 123, c.sampleRate, c.channels);
    const double onset = 0.5;
    addSine(signal, 1000.0, 0.5, onset);
    const auto file = writeAudioFile(folder.path(), "song", signal, c.format);

    AudioDecoder decoder(file);
    EXPECT_EQ(decoder.info().sampleRate, c.sampleRate);
    EXPECT_EQ(decoder.info().channelCount, c.channels);
    EXPECT_NEAR(static_cast<double>(decoder.info().frameCount), static_cast<double>(signal.frameCount()), 4.0);
    EXPECT_TRUE(decoder.info().isLengthExact);
    EXPECT_FALSE(decoder.info().isLinearPcm);

    const auto decoded = decoder.readAll();
    ASSERT_EQ(decoded.size(), static_cast<std::size_t>(c.channels));
    EXPECT_NEAR(static_cast<double>(decoded[0].size()), static_cast<double>(signal.frameCount()), 4.0);
    const std::int64_t start = firstFrameAbove(decoded.back(), 0.1f);
    // A lossy codec smears an onset by a few samples, never by a frame.
    EXPECT_NEAR(static_cast<double>(start) / c.sampleRate, onset, 0.002);
    EXPECT_NEAR(estimateFrequency(decoded[0], c.sampleRate, static_cast<std::size_t>(0.7 * c.sampleRate),
                    static_cast<std::size_t>(0.5 * c.sampleRate)),
        1000.0, 2.0);
}

INSTANTIATE_TEST_SUITE_P(Formats, LossyDecoding,
    testing::Values(LosslessCase{TestAudioFormat::mp3, 44100, 2}, LosslessCase{TestAudioFormat::mp3, 22050, 1},
        LosslessCase{TestAudioFormat::mp3, 48000, 2}, LosslessCase{TestAudioFormat::m4a, 44100, 2},
        LosslessCase{TestAudioFormat::m4a, 48000, 6}, LosslessCase{TestAudioFormat::m4a, 96000, 1},
        LosslessCase{TestAudioFormat::m4a, 22050, 2}),
    caseName);

} // namespace

namespace {

TEST(AudioDecoderSeek, LandsOnTheExactSampleInLosslessFiles)
{
    AudioTestFolder folder;
    const TestSignal signal = richSignal(48000, 2, 2.0);
    for (const auto format : {TestAudioFormat::wav24, TestAudioFormat::flac16, TestAudioFormat::aiff16}) {
        AudioDecoder decoder(writeAudioFile(folder.path(), "seek", signal, format));
        for (const std::int64_t target : {std::int64_t{70001}, std::int64_t{3}, std::int64_t{95990}, std::int64_t{0}}) {
            decoder.seekToFrame(target);
            EXPECT_EQ(decoder.position(), target);
            std::vector<std::vector<float>> block;
            const std::int64_t n = decoder.read(block, 4096);
            ASSERT_EQ(n, std::min<std::int64_t>(4096, 96000 - target));
            for (std::size_t c = 0; c < 2; ++c)
                for (std::int64_t i = 0; i < n; i += 97)
                    ASSERT_EQ(block[c][static_cast<std::size_t>(i)],
                        quantizedSample(signal.channels[c][static_cast<std::size_t>(target + i)], format))
                        << fileExtension(format) << " target " << target << " offset " << i;
        }
        decoder.seekToFrame(96000);
        std::vector<std::vector<float>> block;
        EXPECT_EQ(decoder.read(block, 100), 0);
        decoder.seek(-5.0);
        EXPECT_EQ(decoder.read(block, 100), 100);
    }
}

// After a seek into a lossy file the clicks come at the same frames as in a straight read.
TEST(AudioDecoderSeek, KeepsOnsetTimesInLossyFiles)
{
    AudioTestFolder folder;
    TestSignal signal = makeSilence(4.0, 44100, 2);
    addClicks(signal, {1.0, 2.5, 3.2});
    for (const auto format : {TestAudioFormat::mp3, TestAudioFormat::m4a}) {
        AudioDecoder decoder(writeAudioFile(folder.path(), "clicks", signal, format));
        const auto straight = decoder.readAll();
        const std::int64_t firstClick = firstFrameAbove(straight[0], 0.3f, 44100 * 2);
        ASSERT_GT(firstClick, 0);
        decoder.seek(2.2);
        std::vector<std::vector<float>> block;
        decoder.read(block, 44100);
        const std::int64_t afterSeek = firstFrameAbove(block[0], 0.3f);
        ASSERT_GE(afterSeek, 0) << fileExtension(format);
        EXPECT_NEAR(static_cast<double>(afterSeek + 97020), static_cast<double>(firstClick), 2.0) << fileExtension(format);
        EXPECT_NEAR(static_cast<double>(firstClick) / 44100.0, 2.5, 0.002) << fileExtension(format);
        // Back to the start: the same samples as the first read.
        decoder.seekToFrame(0);
        decoder.read(block, 44100 + 100);
        std::size_t differing = 0;
        for (std::size_t i = 0; i < block[0].size(); ++i)
            differing += std::fabs(block[0][i] - straight[0][i]) > 1e-3f;
        EXPECT_EQ(differing, 0u) << fileExtension(format);
    }
}

void expectOpenFails(const std::filesystem::path& file, AudioDecoderError::Kind kind)
{
    try {
        AudioDecoder decoder(file);
        ADD_FAILURE() << file << " opened";
    } catch (const AudioDecoderError& error) {
        EXPECT_EQ(error.kind(), kind) << file << ": " << error.detail();
        EXPECT_FALSE(std::string(error.what()).empty());
    }
}

TEST(AudioDecoderFailures, RejectFilesThatAreNotAudio)
{
    AudioTestFolder folder;
    expectOpenFails(folder / "missing.wav", AudioDecoderError::Kind::cannotOpen);
    expectOpenFails(folder.path(), AudioDecoderError::Kind::cannotOpen);
    writeTextFile(folder / "empty.mp3", "");
    expectOpenFails(folder / "empty.mp3", AudioDecoderError::Kind::cannotOpen);
    writeTextFile(folder / "notes.mp3", "Esto no es una canción, solo texto con nombre de audio.\n");
    expectOpenFails(folder / "notes.mp3", AudioDecoderError::Kind::cannotOpen);
    writeRandomBytes(folder / "noise.m4a", 20000);
    expectOpenFails(folder / "noise.m4a", AudioDecoderError::Kind::cannotOpen);
    writeVideoWithoutAudio(folder / "silent.mp4");
    expectOpenFails(folder / "silent.mp4", AudioDecoderError::Kind::noAudioStream);
    // A header with no samples after it.
    const auto headerOnly = writeAudioFile(folder.path(), "header", makeSine(440, 0.5), TestAudioFormat::wav16);
    truncateFile(headerOnly, 44);
    EXPECT_THROW(AudioDecoder{headerOnly}, AudioDecoderError);
}

// Damaged songs still give what they hold, and never more than the header promised.
TEST(AudioDecoderFailures, TruncatedAndLyingFilesEndEarlyWithoutThrowing)
{
    AudioTestFolder folder;
    const TestSignal signal = makeSine(440, 2.0, 44100, 2);
    for (const auto format : {TestAudioFormat::wav16, TestAudioFormat::flac16, TestAudioFormat::mp3, TestAudioFormat::m4a,
             TestAudioFormat::aiff16}) {
        const auto file = writeAudioFile(folder.path(), "cut", signal, format);
        truncateFile(file, std::filesystem::file_size(file) / 2);
        std::int64_t frames = -1;
        try {
            AudioDecoder decoder(file);
            frames = static_cast<std::int64_t>(decoder.readAll()[0].size());
            EXPECT_EQ(decoder.info().frameCount, frames) << fileExtension(format);
        } catch (const AudioDecoderError&) {
            // A cut MP4 may have lost its index: failing to open is a clean outcome.
            EXPECT_EQ(format, TestAudioFormat::m4a);
            continue;
        }
        EXPECT_GT(frames, 0) << fileExtension(format);
        EXPECT_LT(frames, 88200 * 3 / 4) << fileExtension(format);
    }

    const auto lying = writeAudioFile(folder.path(), "lying", signal, TestAudioFormat::wav16);
    setWavDataChunkSize(lying, 0x7ffffff0u);
    AudioDecoder decoder(lying);
    EXPECT_EQ(decoder.readAll()[0].size(), 88200u);
    EXPECT_EQ(decoder.info().frameCount, 88200);
}

// Damaged float songs: NaN and infinities are silence to every reader, while loud
// finite samples come through as they are (each reader bounds them its own way).
TEST(AudioDecoderValues, NonFiniteSamplesAreSilenceAndLoudOnesStay)
{
    AudioTestFolder folder;
    TestSignal signal = makeSine(440, 0.1, 44100, 2);
    signal.channels[0][10] = std::numeric_limits<float>::quiet_NaN();
    signal.channels[1][20] = std::numeric_limits<float>::infinity();
    signal.channels[0][30] = -std::numeric_limits<float>::infinity();
    signal.channels[1][40] = 1e30f;
    signal.channels[0][50] = -3e38f;
    // Interleaved float (WAV) and planar float (WavPack) take different ways through the decoder.
    const auto wavPack = folder / "damaged.wv";
    writeWavPackFloat(wavPack, signal);
    for (const auto& file : {writeAudioFile(folder.path(), "damaged", signal, TestAudioFormat::wavFloat), wavPack}) {
        SCOPED_TRACE(file.filename().string());
        AudioDecoder decoder(file);
        const auto decoded = decoder.readAll();
        ASSERT_EQ(decoded.size(), 2u);
        EXPECT_EQ(decoded[0][10], 0.0f);
        EXPECT_EQ(decoded[1][20], 0.0f);
        EXPECT_EQ(decoded[0][30], 0.0f);
        EXPECT_EQ(decoded[1][40], 1e30f);
        EXPECT_EQ(decoded[0][50], -3e38f);
        // Only the damaged samples change: their neighbours and the other side stay.
        EXPECT_EQ(decoded[1][10], signal.channels[1][10]);
        EXPECT_EQ(decoded[0][11], signal.channels[0][11]);
        EXPECT_EQ(decoded[0][20], signal.channels[0][20]);
    }
}

} // namespace

namespace {

// Damaged bytes anywhere in a song: opening, reading and seeking either work or
// throw the decoder's error; nothing crashes, hangs or reads out of bounds.
TEST(AudioDecoderFailures, SurvivesCorruptedBytes)
{
    AudioTestFolder folder;
    TestSignal signal = makeSine(500, 0.6, 32000, 2, 0.5, true);
    addClicks(signal, {0.1, 0.3});
    std::mt19937 random(20261207);
    for (const auto format : {TestAudioFormat::wav16, TestAudioFormat::flac16, TestAudioFormat::aiff16,
             TestAudioFormat::mp3, TestAudioFormat::m4a}) {
        const auto original = writeAudioFile(folder.path(), "original", signal, format);
        std::ifstream in(original, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (int round = 0; round < 30; ++round) {
            std::string damaged = bytes;
            const int flips = 1 + static_cast<int>(random() % 16);
            // Half the rounds hit the header, where a lie does the most harm.
            const std::size_t span = round % 2 == 0 ? std::min<std::size_t>(damaged.size(), 256) : damaged.size();
            for (int i = 0; i < flips; ++i)
                damaged[random() % span] = static_cast<char>(random());
            const auto file = folder / (std::string("damaged.") + fileExtension(format));
            writeTextFile(file, damaged);
            try {
                AudioDecoder decoder(file);
                const auto all = decoder.readAll();
                ASSERT_EQ(all.size(), static_cast<std::size_t>(decoder.info().channelCount));
                decoder.seek(0.25);
                std::vector<std::vector<float>> block;
                decoder.read(block, 4096);
                decoder.seekToFrame(0);
                decoder.read(block, 4096);
            } catch (const AudioDecoderError&) {
            }
        }
    }
}

} // namespace
