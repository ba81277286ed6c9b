#include "model/project_audio_resource_storage.h"
#include "platform/audio_converter.h"
#include "platform/audio_file_reader.h"

#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;
namespace storage = fotivela::ProjectAudioResourceStorage;

namespace {

std::string readBytes(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& file, const std::string& bytes)
{
    std::ofstream(file, std::ios::binary) << bytes;
}

std::set<std::string> namesIn(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

std::string le32(std::uint32_t value)
{
    return {char(value & 0xff), char((value >> 8) & 0xff), char((value >> 16) & 0xff), char(value >> 24)};
}

// The verification works in the system's temporary folder: each test gets its own.
class ScopedTemporaryFolder {
public:
    explicit ScopedTemporaryFolder(const fs::path& path)
    {
        if (const char* old = std::getenv("TMPDIR"))
            m_old = old;
        setenv("TMPDIR", path.c_str(), 1);
    }
    ~ScopedTemporaryFolder() { m_old ? setenv("TMPDIR", m_old->c_str(), 1) : unsetenv("TMPDIR"); }

private:
    std::optional<std::string> m_old;
};

class LosslessStorage : public ::testing::Test {
protected:
    LosslessStorage()
    {
        fs::create_directories(m_folder / "Boda");
        writeBytes(m_project, "{}");
        fs::create_directories(m_folder / "tmp");
    }
    ~LosslessStorage() override { EXPECT_TRUE(fs::is_empty(m_folder / "tmp")) << "verification folders left behind"; }

    fs::path music() const { return m_folder / "Boda" / "AI" / "GeneratedMusic"; }
    std::string songBytes(const TestSignal& signal, TestAudioFormat format)
    {
        const fs::path file = m_folder / ("delivered." + std::string(fileExtension(format)));
        writeAudioFile(file, signal, format);
        return readBytes(file);
    }

    AudioTestFolder m_folder{"fotivela-flac"};
    fs::path m_project = m_folder / "Boda" / "Boda.fotivela";
    ScopedTemporaryFolder m_temporary{m_folder / "tmp"};
};

} // namespace

TEST_F(LosslessStorage, GeneratedWavBecomesAVerifiedFlacUnderAFreeName)
{
    const TestSignal signal = makeSine(330, 0.5, 44100, 2, 0.6, true);
    const std::string wav = songBytes(signal, TestAudioFormat::wav16);

    const fs::path first = storage::persistGeneratedAudio(wav, "Tema.WAV", m_project);
    EXPECT_EQ(first, music() / "Tema.flac");
    const fs::path second = storage::persistGeneratedAudio(wav, "canciones/Tema.wav", m_project);
    EXPECT_EQ(second, music() / "Tema-2.flac");
    EXPECT_EQ(namesIn(music()), (std::set<std::string>{"Tema.flac", "Tema-2.flac"}));

    EXPECT_EQ(storage::flacStreamInfo(first), (storage::FLACStreamInfo{44100, 2, 16, 22050}));
    const AudioBuffer decoded = AudioFileReader::readWhole(first);
    ASSERT_EQ(decoded.frameCount(), 22050);
    for (size_t c = 0; c < 2; ++c)
        for (size_t i = 0; i < 22050; ++i)
            ASSERT_EQ(decoded.channels[c][i], quantizedSample(signal.channels[c][i], TestAudioFormat::wav16));
}

TEST_F(LosslessStorage, SongsThatCannotBeFlacAreStoredAsDelivered)
{
    // Nine channels are more than FLAC carries: the conversion fails and the WAV is kept.
    const std::string nine = songBytes(makeSine(220, 0.1, 44100, 9), TestAudioFormat::wav16);
    EXPECT_EQ(storage::persistGeneratedAudio(nine, "Tema.WAV", m_project), music() / "Tema.WAV");
    EXPECT_EQ(storage::persistGeneratedAudio(nine, "Tema.WAV", m_project), music() / "Tema-2.WAV");
    EXPECT_EQ(readBytes(music() / "Tema-2.WAV"), nine);

    const std::string floats = songBytes(makeSine(220, 0.1), TestAudioFormat::wavFloat);
    EXPECT_EQ(storage::persistGeneratedAudio(floats, "flotante.wav", m_project), music() / "flotante.wav");
    const std::string mp3 = songBytes(makeSine(220, 0.3), TestAudioFormat::mp3);
    EXPECT_EQ(storage::persistGeneratedAudio(mp3, "Cancion.MP3", m_project), music() / "Cancion.MP3");
    EXPECT_EQ(readBytes(music() / "Cancion.MP3"), mp3);

    // No extension: kept without one, then numbered; names that address folders are replaced.
    EXPECT_EQ(storage::persistGeneratedAudio(mp3, "tema", m_project), music() / "tema");
    EXPECT_EQ(storage::persistGeneratedAudio(mp3, "tema", m_project), music() / "tema-2");
    EXPECT_EQ(storage::persistGeneratedAudio(mp3, "..", m_project), music() / "cancion");
    EXPECT_EQ(storage::persistGeneratedAudio(mp3, "", m_project), music() / "cancion-2");
    EXPECT_EQ(namesIn(music()), (std::set<std::string>{"Tema.WAV", "Tema-2.WAV", "flotante.wav", "Cancion.MP3", "tema",
                                                       "tema-2", "cancion", "cancion-2"}));

    // A project folder that cannot hold the music folder: the error reaches the caller.
    fs::remove_all(m_folder / "Boda" / "AI");
    writeBytes(m_folder / "Boda" / "AI", "a file in the way");
    EXPECT_THROW(storage::persistGeneratedAudio(mp3, "x.mp3", m_project), fs::filesystem_error);
}

TEST_F(LosslessStorage, StemFolderKeepsOnlyWhatConvertsLosslessly)
{
    const fs::path stems = m_folder / "Boda" / "AI" / "Stems" / "ABC" / "htdemucs" / "cancion";
    fs::create_directories(stems);
    const TestSignal stereo = makeSine(110, 0.4, 44100, 2, 0.5, true);
    writeAudioFile(stems / "drums.wav", stereo, TestAudioFormat::wav16);
    writeAudioFile(stems / "bass.WAV", stereo, TestAudioFormat::wav24);
    writeAudioFile(stems / "vocals.wav", stereo, TestAudioFormat::wavFloat);
    writeAudioFile(stems / "other.wav", stereo, TestAudioFormat::wav16);
    writeBytes(stems / "other.flac", "already here");
    writeAudioFile(m_folder / "outside.wav", stereo, TestAudioFormat::wav16);
    fs::create_symlink(m_folder / "outside.wav", stems / "linked.wav");
    const std::string vocals = readBytes(stems / "vocals.wav");

    storage::convertLosslessWAVFiles(stems);

    EXPECT_EQ(namesIn(stems), (std::set<std::string>{"drums.flac", "bass.flac", "vocals.wav", "other.wav", "other.flac",
                                                     "linked.wav"}));
    EXPECT_EQ(storage::flacStreamInfo(stems / "bass.flac"), (storage::FLACStreamInfo{44100, 2, 24, 17640}));
    const AudioBuffer bass = AudioFileReader::readWhole(stems / "bass.flac");
    for (size_t i = 0; i < 17640; i += 7)
        ASSERT_EQ(bass.channels[1][i], quantizedSample(stereo.channels[1][i], TestAudioFormat::wav24));
    EXPECT_EQ(readBytes(stems / "vocals.wav"), vocals);
    EXPECT_EQ(readBytes(stems / "other.flac"), "already here");
    EXPECT_TRUE(fs::is_symlink(stems / "linked.wav"));
    EXPECT_TRUE(fs::exists(m_folder / "outside.wav"));

    // Only a real folder of the user's own is converted.
    fs::create_directory_symlink(stems, m_folder / "alias");
    EXPECT_THROW(storage::convertLosslessWAVFiles(m_folder / "alias"), storage::StorageError);
    try {
        storage::convertLosslessWAVFiles(m_folder / "missing");
        ADD_FAILURE();
    } catch (const storage::StorageError& error) {
        EXPECT_EQ(error.errorCase(), storage::StorageErrorCase::invalidOwnedPath);
    }
}

TEST_F(LosslessStorage, VerificationComparesHeaderStreamInfoAndDecodedSamples)
{
    const TestSignal signal = makeSine(440, 0.3, 48000, 2);
    TestSignal other = signal;
    other.channels[1][1000] += 0.25f;
    const fs::path source = writeAudioFile(m_folder.path(), "source", signal, TestAudioFormat::wav24);
    const fs::path good = writeAudioFile(m_folder.path(), "good", signal, TestAudioFormat::flac24);
    const fs::path oneSampleOff = writeAudioFile(m_folder.path(), "off", other, TestAudioFormat::flac24);
    const fs::path shallower = writeAudioFile(m_folder.path(), "shallow", signal, TestAudioFormat::flac16);
    const fs::path notFlac = writeAudioFile(m_folder.path(), "copy", signal, TestAudioFormat::wav24);

    EXPECT_TRUE(storage::outputMatches(source, good));
    EXPECT_FALSE(storage::outputMatches(source, oneSampleOff));
    EXPECT_FALSE(storage::outputMatches(source, shallower));
    EXPECT_FALSE(storage::outputMatches(source, notFlac));
    EXPECT_FALSE(storage::outputMatches(source, m_folder / "missing.flac"));

    // Decoding to integers of the source's depth gives back its data chunk byte for byte.
    EXPECT_EQ(storage::decodedPCMDigest(source, 24), storage::wavPCMDataDigest(source));
    EXPECT_EQ(storage::decodedPCMDigest(good, 24), storage::wavPCMDataDigest(source));
    EXPECT_NE(storage::decodedPCMDigest(good, 16), storage::wavPCMDataDigest(source));
    EXPECT_FALSE(storage::decodedPCMDigest(source, 32));
    EXPECT_FALSE(storage::decodedPCMDigest(m_folder / "missing.wav", 16));

    // A destination that exists already is never replaced.
    writeBytes(m_folder / "taken.flac", "mine");
    EXPECT_THROW(storage::convertWAVToFLAC(source, m_folder / "taken.flac"), storage::StorageError);
    EXPECT_EQ(readBytes(m_folder / "taken.flac"), "mine");
    EXPECT_THROW(storage::convertWAVToFLAC(m_folder / "shallow.flac", m_folder / "x.flac"), storage::StorageError);
    EXPECT_FALSE(fs::exists(m_folder / "x.flac"));
    storage::convertWAVToFLAC(source, m_folder / "made.flac");
    EXPECT_TRUE(storage::outputMatches(source, m_folder / "made.flac"));
    for (const std::string& name : namesIn(m_folder.path()))
        EXPECT_NE(name.rfind(".flac-", 0), 0u) << name;
}

TEST(LosslessFormats, PcmDigestReadsTheFirstDataChunkPastPaddedChunks)
{
    AudioTestFolder folder;
    const std::string riff = "RIFF" + le32(0) + "WAVE";
    // "abc" has a well-known SHA-256; the odd "LIST" chunk before it carries a pad byte.
    const std::string abc = "data" + le32(3) + "abc";
    writeBytes(folder / "padded.wav", riff + "LIST" + le32(3) + "xyz" + "\xff" + abc + "\0data" + le32(1) + "z");
    EXPECT_EQ(storage::wavPCMDataDigest(folder / "padded.wav"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    writeBytes(folder / "no-data.wav", riff + "fmt " + le32(2) + "ab");
    writeBytes(folder / "short.wav", riff + "data" + le32(10) + "abc");
    writeBytes(folder / "not-wave.wav", "RIFF" + le32(0) + "AVI " + abc);
    writeBytes(folder / "cut-header.wav", riff + "dat");
    for (const char* name : {"no-data.wav", "short.wav", "not-wave.wav", "cut-header.wav", "missing.wav"})
        EXPECT_FALSE(storage::wavPCMDataDigest(folder / name)) << name;
}

TEST(LosslessFormats, StreamInfoFieldsAndRules)
{
    AudioTestFolder folder;
    // 44100 Hz, 2 channels, 16 bits, 123456 samples.
    const std::uint64_t word = std::uint64_t(44100) << 44 | std::uint64_t(1) << 41 | std::uint64_t(15) << 36 | 123456;
    const auto header = [&](char type, std::uint32_t length, std::uint64_t w) {
        std::string bytes = "fLaC";
        bytes += type;
        bytes += {char(length >> 16), char(length >> 8), char(length)};
        bytes += std::string(10, '\0');
        for (int shift = 56; shift >= 0; shift -= 8)
            bytes += char((w >> shift) & 0xff);
        return bytes;
    };
    writeBytes(folder / "last.flac", header(char(0x80), 34, word) + "rest");
    EXPECT_EQ(storage::flacStreamInfo(folder / "last.flac"), (storage::FLACStreamInfo{44100, 2, 16, 123456}));

    writeBytes(folder / "padding-first.flac", header(1, 34, word));
    writeBytes(folder / "long-block.flac", header(0, 35, word));
    writeBytes(folder / "no-samples.flac", header(0, 34, word & ~((std::uint64_t(1) << 36) - 1)));
    writeBytes(folder / "cut.flac", header(0, 34, word).substr(0, 25));
    for (const char* name : {"padding-first.flac", "long-block.flac", "no-samples.flac", "cut.flac", "missing.flac"})
        EXPECT_FALSE(storage::flacStreamInfo(folder / name)) << name;

    // A WAV with no frames is never a FLAC candidate; neither are 32-bit or float samples.
    const TestSignal tone = makeSine(440, 0.05);
    EXPECT_TRUE(storage::canRepresentLosslesslyAsFLAC(writeAudioFile(folder.path(), "a", tone, TestAudioFormat::wav16)));
    EXPECT_FALSE(storage::canRepresentLosslesslyAsFLAC(writeAudioFile(folder.path(), "b", tone, TestAudioFormat::wav32)));
    EXPECT_FALSE(storage::canRepresentLosslesslyAsFLAC(writeAudioFile(folder.path(), "c", tone, TestAudioFormat::wavFloat)));
    EXPECT_FALSE(storage::canRepresentLosslesslyAsFLAC(
        writeAudioFile(folder.path(), "d", makeSilenceFrames(0), TestAudioFormat::wav16)));
    EXPECT_FALSE(storage::canRepresentLosslesslyAsFLAC(writeAudioFile(folder.path(), "e", tone, TestAudioFormat::flac16)));
}

TEST(AudioConverter, MonoAndSurroundSongsBecomeTheTwoFloatChannelsThePlayerPlays)
{
    AudioTestFolder folder;
    TestSignal mono = makeSine(300, 0.2, 32000, 1, 0.5);
    mono.channels[0][5] = std::numeric_limits<float>::quiet_NaN();
    const fs::path source = writeAudioFile(folder.path(), "mono", mono, TestAudioFormat::wavFloat);
    ASSERT_TRUE(AudioConverter::convertToStereoFloatWAV(source, folder / "stereo.wav"));
    const AudioFileFormat format = AudioFileReader::formatOf(folder / "stereo.wav");
    EXPECT_EQ(format.channelCount, 2);
    EXPECT_TRUE(format.isFloat);
    EXPECT_EQ(format.sampleRate, 32000);
    const AudioBuffer stereo = AudioFileReader::readWhole(folder / "stereo.wav");
    EXPECT_EQ(stereo.channels[0], stereo.channels[1]);
    EXPECT_EQ(stereo.channels[0][5], 0.0f);
    EXPECT_EQ(stereo.channels[0][100], mono.channels[0][100]);

    // A 5.1 source whose only sound is its centre: both sides carry the centre as the player mixes it.
    TestSignal surround = makeSilence(0.2, 32000, 6);
    surround.channels[2] = mono.channels[0];
    surround.channels[2][5] = 0.25f;
    ASSERT_TRUE(AudioConverter::convertToStereoFloatWAV(
        writeAudioFile(folder.path(), "surround", surround, TestAudioFormat::wavFloat), folder / "downmix.wav"));
    const AudioBuffer downmix = AudioFileReader::readWhole(folder / "downmix.wav");
    ASSERT_EQ(downmix.channels.size(), 2u);
    EXPECT_EQ(downmix.channels[0], downmix.channels[1]);
    EXPECT_NEAR(downmix.channels[0][5], 0.25f * 0.208181813f, 1e-7f);
    EXPECT_NEAR(downmix.channels[0][100], mono.channels[0][100] * 0.208181813f, 1e-7f);

    // A failed conversion leaves nothing under the output's name.
    writeBytes(folder / "text.wav", "no audio");
    EXPECT_FALSE(AudioConverter::convertToStereoFloatWAV(folder / "text.wav", folder / "out.wav"));
    EXPECT_FALSE(AudioConverter::convertToFLAC(folder / "text.wav", folder / "out.flac"));
    EXPECT_FALSE(AudioConverter::convertToFLAC(source, folder / "out.flac"));
    EXPECT_FALSE(fs::exists(folder / "out.wav"));
    EXPECT_FALSE(fs::exists(folder / "out.flac"));
}
