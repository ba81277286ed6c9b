// Songs whose headers misstate their length, and headers that are hostile: the
// decoder goes by the samples, to the real end.
#include "platform/audio_decoder.h"
#include "support/child_process.h"
#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace fotivela;
using namespace fotivela::test;
namespace fs = std::filesystem;

namespace {

// Quiet at first, then loud and dense: a VBR encoder spends few bits on the opening
// frames, so a length guessed from the first frame's rate comes out far too long.
TestSignal quietThenBusy(double seconds)
{
    TestSignal signal = makeSilence(seconds, 44100, 2);
    addNoise(signal, 0.5, 3, 3.0);
    addClicks(signal, {4.0, 8.0, 12.0, 16.0});
    return signal;
}

void appendFile(const fs::path& target, const fs::path& source)
{
    std::ofstream out(target, std::ios::binary | std::ios::app);
    std::ifstream in(source, std::ios::binary);
    out << in.rdbuf();
}

double decodedSeconds(const fs::path& file)
{
    const std::optional<std::int64_t> frames = decodedFrameCount(file);
    return frames ? static_cast<double>(*frames) / AudioDecoder(file).info().sampleRate : -1.0;
}

TEST(AudioLength, Mp3sAreDecodedToTheirLastSampleWhateverTheirHeadersSay)
{
    AudioTestFolder folder("fotivela-mp3-length");
    const TestSignal signal = quietThenBusy(20.0);

    // Two songs joined end to end: the first one's LAME frame counts only its own half.
    writeMp3(folder / "half.mp3", signal, {});
    appendFile(folder / "joined.mp3", folder / "half.mp3");
    appendFile(folder / "joined.mp3", folder / "half.mp3");
    EXPECT_NEAR(decodedSeconds(folder / "joined.mp3"), 40.0, 0.1);
    AudioDecoder joined(folder / "joined.mp3");
    EXPECT_NEAR(static_cast<double>(joined.readAll()[0].size()) / 44100, 40.0, 0.1);
    EXPECT_NEAR(joined.info().durationSeconds, 40.0, 0.1) << "corrected once the end was reached";

    // Variable bit rate with no Xing frame: only decoding tells the length.
    writeMp3(folder / "vbr.mp3", signal, {.variableBitRate = true, .xingFrame = false});
    const double estimate = AudioDecoder(folder / "vbr.mp3").info().durationSeconds;
    EXPECT_GT(std::abs(estimate - 20.0), 1.0) << "the estimate is off";
    std::printf("VBR without Xing: header estimate %.2f s, decoded %.2f s\n", estimate, decodedSeconds(folder / "vbr.mp3"));
    EXPECT_NEAR(decodedSeconds(folder / "vbr.mp3"), 20.0, 0.1);

    // A download cut short: the LAME frame still promises the whole song.
    writeMp3(folder / "cut.mp3", signal, {});
    truncateFile(folder / "cut.mp3", fs::file_size(folder / "cut.mp3") * 9 / 10);
    EXPECT_NEAR(AudioDecoder(folder / "cut.mp3").info().durationSeconds, 20.0, 0.1);
    EXPECT_NEAR(decodedSeconds(folder / "cut.mp3"), 18.0, 0.5);
}

TEST(AudioLength, AStopRequestEndsTheLengthDecode)
{
    AudioTestFolder folder("fotivela-mp3-stop");
    writeMp3(folder / "song.mp3", quietThenBusy(5.0), {});
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(decodedFrameCount(folder / "song.mp3", stop.get_token()), std::nullopt);
}

// Header values that would overflow the frame arithmetic are refused, in a child so
// that a crash is seen as one.
TEST(AudioLength, AbsurdSampleRatesAreRefusedWithoutACrash)
{
    AudioTestFolder folder("fotivela-wav-rate");
    const fs::path wav = writeAudioFile(folder.path(), "rate", makeSine(440, 0.5, 44100, 2), TestAudioFormat::wav16);
    for (const std::uint32_t rate : {214748365u, 2147483647u, 4000000u}) {
        {
            std::fstream io(wav, std::ios::in | std::ios::out | std::ios::binary);
            const char bytes[4] = {static_cast<char>(rate & 0xff), static_cast<char>((rate >> 8) & 0xff),
                static_cast<char>((rate >> 16) & 0xff), static_cast<char>((rate >> 24) & 0xff)};
            io.seekp(24); // the "fmt " chunk's sample rate
            io.write(bytes, 4);
        }
        const ChildRun run = runInChild([&] {
            try {
                AudioDecoder decoder(wav);
                decoder.readAll();
                return 1;
            } catch (const AudioDecoderError& error) {
                return error.kind() == AudioDecoderError::Kind::unsupportedCodec ? 0 : 2;
            }
        });
        EXPECT_TRUE(run.exited) << rate;
        EXPECT_EQ(run.exitCode, 0) << rate;
    }
}

} // namespace
