#include "platform/audio_file_reader.h"

#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <limits>

using namespace fotivela;
using namespace fotivela::test;

TEST(AudioFileReader, StatesFormatDetails)
{
    AudioTestFolder folder;
    const TestSignal signal = makeSine(440, 0.5, 48000, 2);
    struct Case {
        TestAudioFormat format;
        AudioFormatID id;
        std::optional<int> bits;
        bool isFloat;
    };
    for (const Case& c : {Case {TestAudioFormat::wav16, AudioFormatID::linearPCM, 16, false},
             Case {TestAudioFormat::wav24, AudioFormatID::linearPCM, 24, false},
             Case {TestAudioFormat::wavFloat, AudioFormatID::linearPCM, 32, true},
             Case {TestAudioFormat::aiff16, AudioFormatID::linearPCM, 16, false},
             Case {TestAudioFormat::flac24, AudioFormatID::flac, 24, false},
             Case {TestAudioFormat::mp3, AudioFormatID::other, std::nullopt, false}}) {
        const auto file = writeAudioFile(folder.path(), std::string("song-") + std::to_string(static_cast<int>(c.format)),
            signal, c.format);
        const AudioFileFormat format = AudioFileReader::formatOf(file);
        EXPECT_EQ(format.formatID, c.id) << file;
        EXPECT_EQ(format.bitsPerSample, c.bits) << file;
        EXPECT_EQ(format.isFloat, c.isFloat) << file;
        EXPECT_EQ(format.channelCount, 2);
        EXPECT_EQ(format.sampleRate, 48000);
        EXPECT_EQ(format.lengthFrames, 24000) << file;
    }
    EXPECT_THROW(AudioFileReader::formatOf(folder / "missing.wav"), AudioDecoderError);
}

TEST(AudioFileReader, ReadsWholeAndInBlocksAlike)
{
    AudioTestFolder folder;
    TestSignal signal = makeSine(330, 0.7, 44100, 3, 0.4, true);
    addNoise(signal, 0.1, 9);
    const auto file = writeAudioFile(folder.path(), "song", signal, TestAudioFormat::wavFloat);

    const AudioBuffer whole = AudioFileReader::readWhole(file);
    EXPECT_EQ(whole.sampleRate, 44100);
    EXPECT_EQ(whole.channels, signal.channels); // float WAV is exact

    AudioFileReader reader = AudioFileReader::open(file, 1000);
    AudioBlockView block;
    std::vector<std::vector<float>> joined(3);
    while (reader.readBlock(block)) {
        ASSERT_LE(block.frameCount, 1000);
        for (int c = 0; c < block.channelCount; ++c)
            joined[static_cast<size_t>(c)].insert(joined[static_cast<size_t>(c)].end(), block.channels[c], block.channels[c] + block.frameCount);
    }
    EXPECT_EQ(joined, signal.channels);

    EXPECT_EQ(AudioFileReader::readWhole(file, 100).frameCount(), 100);
}

TEST(AudioFileReader, AHeaderThatLiesAboutItsSizeReadsWhatIsThere)
{
    AudioTestFolder folder;
    const TestSignal signal = makeSine(440, 0.2, 44100, 2);
    const auto file = writeAudioFile(folder.path(), "song", signal, TestAudioFormat::wavFloat);
    setWavDataChunkSize(file, 0xFFFFFFF0u);
    EXPECT_EQ(AudioFileReader::readWhole(file).channels, signal.channels);
}

TEST(AudioFileReader, WritesFloatWavThatReadsBackExactly)
{
    AudioTestFolder folder;
    AudioBuffer buffer;
    buffer.sampleRate = 22050;
    buffer.channels = {{0.0f, 0.5f, -1.0f, 1.5f, 1e-30f}, {-0.25f, 0.125f, 0.0f, -2.0f, 3.0f}};
    const auto file = folder / "out.wav";
    AudioFileReader::writeFloatWav(file, buffer);
    EXPECT_EQ(AudioFileReader::readWhole(file), buffer);
    const AudioFileFormat format = AudioFileReader::formatOf(file);
    EXPECT_TRUE(format.isFloat);
    EXPECT_EQ(format.bitsPerSample, 32);

    // Overwrites in place, and leaves nothing behind but the file.
    buffer.channels = {{0.75f}};
    AudioFileReader::writeFloatWav(file, buffer);
    EXPECT_EQ(AudioFileReader::readWhole(file), buffer);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}

TEST(AudioFileReader, FailedWritesLeaveNoFile)
{
    AudioTestFolder folder;
    AudioBuffer buffer {44100, {{0.1f, 0.2f}}};
    EXPECT_THROW(AudioFileReader::writeFloatWav(folder / "missing" / "out.wav", buffer), AudioFileWriteError);
    EXPECT_THROW(AudioFileReader::writeFloatWav(folder / "bad.wav", AudioBuffer {44100, {{0.1f}, {0.1f, 0.2f}}}),
        AudioFileWriteError);
    EXPECT_THROW(AudioFileReader::writeFloatWav(folder / "bad.wav", AudioBuffer {0, {{0.1f}}}), AudioFileWriteError);
    EXPECT_THROW(AudioFileReader::writeFloatWav(folder / "bad.wav", AudioBuffer {44100, {}}), AudioFileWriteError);
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}
