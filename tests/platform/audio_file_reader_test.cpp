#include "platform/audio_file_reader.h"

#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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

// An RF64 header of stereo 32-bit float at 44.1 kHz over a sparse data chunk of dataBytes.
void writeSparseRF64(const std::filesystem::path& file, std::uint64_t dataBytes)
{
    std::string header;
    auto text = [&](const char* four) { header.append(four, 4); };
    auto le = [&](std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            header.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    const std::uint64_t headerBytes = 12 + 8 + 28 + 8 + 16 + 8;
    text("RF64"), le(0xFFFFFFFFu, 4), text("WAVE");
    text("ds64"), le(28, 4), le(headerBytes - 8 + dataBytes, 8), le(dataBytes, 8), le(dataBytes / 8, 8), le(0, 4);
    text("fmt "), le(16, 4), le(3, 2), le(2, 2), le(44100, 4), le(44100 * 8, 4), le(8, 2), le(32, 2);
    text("data"), le(0xFFFFFFFFu, 4);
    ASSERT_EQ(header.size(), headerBytes);
    {
        std::ofstream out(file, std::ios::binary);
        out.write(header.data(), static_cast<std::streamsize>(header.size()));
    }
    std::filesystem::resize_file(file, headerBytes + dataBytes);
}

TEST(AudioFileReader, AStemPastFourGiBStatesItsWholeLength)
{
    AudioTestFolder folder;
    // 3 h 23 min: past the length at which a WAV's 32-bit sizes wrap.
    const std::uint64_t frames = 44100ull * 12'180;
    const auto file = folder / "drums.wav";
    writeSparseRF64(file, frames * 8);
    const AudioFileFormat format = AudioFileReader::formatOf(file);
    EXPECT_EQ(format.channelCount, 2);
    EXPECT_TRUE(format.isFloat);
    EXPECT_EQ(format.lengthFrames, static_cast<std::int64_t>(frames));
    EXPECT_TRUE(format.isLengthExact);
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
