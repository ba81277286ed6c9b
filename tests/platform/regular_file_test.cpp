#include "platform/audio_decoder.h"
#include "platform/audio_file_reader.h"
#include "platform/audio_player.h"
#include "platform/photo_decoder.h"
#include "platform/regular_file.h"
#include "support/fifo.h"
#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

std::string contentsOf(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A FIFO in a photo folder or named by a received project: every reader refuses it at once.
TEST(FilesThatBlock, AFifoIsNoPhoto)
{
    AudioTestFolder folder("fotivela-fifo");
    const fs::path fifo = makeFifo(folder / "IMG_0001.jpg");
    QImage image;
    QSize size(1, 1);
    bool heif = true;
    EXPECT_TRUE(returnsWithin(fifo, [&] {
        image = PhotoDecoder::decode(fifo, 360);
        size = PhotoDecoder::uprightSize(fifo);
        heif = PhotoDecoder::isHeif(fifo);
    }));
    EXPECT_TRUE(image.isNull());
    EXPECT_FALSE(size.isValid());
    EXPECT_FALSE(heif);
}

TEST(FilesThatBlock, AFifoIsNoSong)
{
    AudioTestFolder folder("fotivela-fifo");
    const fs::path fifo = makeFifo(folder / "cancion.mp3");
    std::optional<AudioDecoderError::Kind> refusal;
    bool readerThrew = false;
    std::unique_ptr<AudioPlayer> player;
    EXPECT_TRUE(returnsWithin(fifo, [&] {
        try {
            AudioDecoder decoder(fifo);
        } catch (const AudioDecoderError& error) {
            refusal = error.kind();
        }
        try {
            AudioFileReader::formatOf(fifo);
        } catch (const AudioDecoderError&) {
            readerThrew = true;
        }
        player = AudioPlayer::open(fifo);
    }));
    EXPECT_EQ(refusal, AudioDecoderError::Kind::cannotOpen);
    EXPECT_TRUE(readerThrew);
    EXPECT_EQ(player, nullptr);
}

TEST(FilesThatBlock, OnlyRegularFilesOpenAndTheyStayTheFileThatWasChecked)
{
    AudioTestFolder folder("fotivela-fifo");
    writeTextFile(folder / "a.txt", "primero");
    fs::create_directories(folder / "carpeta");
    makeFifo(folder / "tuberia");

    RegularFile::Refusal refusal = RegularFile::Refusal::other;
    EXPECT_FALSE(RegularFile::open(folder / "carpeta", &refusal));
    EXPECT_EQ(refusal, RegularFile::Refusal::notRegular);
    EXPECT_FALSE(RegularFile::open(folder / "tuberia", &refusal));
    EXPECT_EQ(refusal, RegularFile::Refusal::notRegular);
    EXPECT_FALSE(RegularFile::open(folder / "no-existe", &refusal));
    EXPECT_EQ(refusal, RegularFile::Refusal::missing);
    EXPECT_FALSE(RegularFile::open("/dev/null"));

    std::optional<RegularFile> file = RegularFile::open(folder / "a.txt");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), 7u);
    // A FIFO put in the file's place afterwards changes nothing for whoever reads through it.
    fs::rename(folder / "tuberia", folder / "a.txt");
    EXPECT_EQ(contentsOf(file->reopenPath()), "primero");
    EXPECT_FALSE(file->copyTo(folder / "copia.txt"));
    EXPECT_EQ(contentsOf(folder / "copia.txt"), "primero");
    // A copy never replaces what is already there.
    EXPECT_TRUE(file->copyTo(folder / "copia.txt"));
    EXPECT_EQ(contentsOf(folder / "copia.txt"), "primero");
}

} // namespace
