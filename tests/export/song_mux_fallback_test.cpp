// When copying the encoded video beside the song fails, the mux writes the
// same film a second way: the presets tried in order, one line kept for each
// that failed.

#include "export/mp4_probe.h"
#include "export/mux_presets.h"
#include "export/small_exports.h"
#include "export/song_mux.h"
#include "export/video_exporter.h"

#include "platform/duskmere_storage.h"
#include "prefs/temporary_folder.h"
#include "support/test_audio.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <cmath>

namespace fotivela {
namespace {

namespace fs = std::filesystem;
using testing::StorageRoot;

std::vector<std::string> names(const std::vector<MuxPreset>& presets)
{
    std::vector<std::string> result;
    for (const MuxPreset& preset : presets)
        result.push_back(preset.name);
    return result;
}

TEST(MuxPresets, CandidatesComeInOrderAndPassThroughOnlyWithoutAFade)
{
    using List = std::vector<std::string>;
    EXPECT_EQ(names(MuxPresets::candidates(ExportCodec::h265, true)),
              (List{"HEVCHighestQuality", "HEVC3840x2160", "HEVC1920x1080", "HighestQuality", "1920x1080"}));
    EXPECT_EQ(names(MuxPresets::candidates(ExportCodec::h265, false)),
              (List{"Passthrough", "HEVCHighestQuality", "HEVC3840x2160", "HEVC1920x1080", "HighestQuality", "1920x1080"}));
    EXPECT_EQ(names(MuxPresets::candidates(ExportCodec::h264, true)), (List{"HighestQuality", "1920x1080"}));
    EXPECT_EQ(names(MuxPresets::candidates(ExportCodec::h264, false)), (List{"Passthrough", "HighestQuality", "1920x1080"}));
    EXPECT_EQ(MuxPresets::candidates(ExportCodec::h265, true)[3].codec, ExportCodec::h264);

    // The boxes fit either orientation and never enlarge; sizes stay even.
    const MuxPreset fullHd = MuxPresets::candidates(ExportCodec::h264, true)[1];
    EXPECT_EQ(MuxPresets::fittedSize(fullHd, 3840, 2160), std::make_pair(1920, 1080));
    EXPECT_EQ(MuxPresets::fittedSize(fullHd, 1214, 2160), std::make_pair(1078, 1920));
    EXPECT_EQ(MuxPresets::fittedSize(fullHd, 404, 720), std::make_pair(404, 720));
    const MuxPreset highest = MuxPresets::candidates(ExportCodec::h264, true)[0];
    EXPECT_EQ(MuxPresets::fittedSize(highest, 3840, 3072), std::make_pair(3840, 3072));
}

TEST(MuxPresets, TriesTheCompatibleOnesInOrderAndKeepsALineForEachFailure)
{
    const std::vector<MuxPreset> candidates = MuxPresets::candidates(ExportCodec::h265, true);
    std::vector<std::string> tried;
    const auto failing = [&](const MuxPreset& preset) {
        tried.push_back(preset.name);
        if (preset.name == "HEVC1920x1080")
            throw std::runtime_error("disco lleno");
        throw VideoExporterError::audioMuxFailed("No se pudo preparar la sesion de exportacion de audio.");
    };
    const auto onlyHevc = [](const MuxPreset& preset) { return preset.codec == ExportCodec::h265 && preset.longSide != 3840; };
    try {
        MuxPresets::runInOrder(candidates, onlyHevc, failing);
        FAIL() << "every preset failed";
    } catch (const VideoExporterError& error) {
        EXPECT_EQ(error.kind(), VideoExporterError::Kind::audioMuxFailed);
        EXPECT_EQ(error.detail(), "HEVCHighestQuality: No se pudo preparar la sesion de exportacion de audio.\n"
                                  "HEVC1920x1080: disco lleno");
    }
    EXPECT_EQ(tried, (std::vector<std::string>{"HEVCHighestQuality", "HEVC1920x1080"}));

    // The first that works ends the tries, and nothing is reported.
    tried.clear();
    MuxPresets::runInOrder(candidates, [](const MuxPreset&) { return true; }, [&](const MuxPreset& preset) {
        tried.push_back(preset.name);
        if (preset.name != "HEVC3840x2160")
            throw std::runtime_error("no");
    });
    EXPECT_EQ(tried, (std::vector<std::string>{"HEVCHighestQuality", "HEVC3840x2160"}));

    try {
        MuxPresets::runInOrder(candidates, [](const MuxPreset&) { return false; }, [](const MuxPreset&) {});
        FAIL() << "no preset was compatible";
    } catch (const VideoExporterError& error) {
        EXPECT_EQ(error.detail(), "No hay preset compatible para mezclar audio.");
    }
    // A cancel is no failure of the preset: it ends the mux.
    tried.clear();
    EXPECT_THROW(MuxPresets::runInOrder(candidates, [](const MuxPreset&) { return true; },
                                        [&](const MuxPreset& preset) {
                                            tried.push_back(preset.name);
                                            throw ExportCancelledError();
                                        }),
                 ExportCancelledError);
    EXPECT_EQ(tried.size(), 1u);
}

std::vector<fs::path> temporaryVideos()
{
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(DuskmereStorage::temporaryDirectory()))
        if (entry.path().extension() == ".mp4")
            found.push_back(entry.path());
    return found;
}

void runBackwards(EncodedSongTrack& track)
{
    std::int64_t time = 0;
    for (auto packet = track.packets.rbegin(); packet != track.packets.rend(); ++packet, time += 1024)
        (*packet)->pts = (*packet)->dts = time;
}

struct SecondWayMux {
    fs::path silentVideo;
    std::size_t songPackets = 0;
};

// Exports the project's picture alone, then muxes its song into `output` from an
// encoded track whose packets run backwards: the copy cannot write it.
SecondWayMux muxWithABrokenCopy(const FotivelaProject& project, const fs::path& folder, const fs::path& output)
{
    FotivelaProject silent = project;
    silent.audio.reset();
    SecondWayMux mux;
    mux.silentVideo = folder / "silent.mp4";
    VideoExporter(silent, mux.silentVideo, {}).exportProject();

    const VideoExporter exporter(project, folder / "unused.mp4", {});
    const double end = onMediaGrid(exporter.slideshowSeconds());
    EncodedSongTrack broken = encodeSongTrack(project.audio->url, exporter.songFade(end), end, {});
    mux.songPackets = broken.packets.size();
    runBackwards(broken);
    exporter.muxOriginalAudio(mux.silentVideo, project.audio->url, output, &broken);
    return mux;
}

class SongMuxFallbackTest : public ::testing::TestWithParam<ExportCodec> {};

// A song track encoded ahead whose packets run backwards in time: the copy
// cannot write it, and the second way encodes the song again.
TEST_P(SongMuxFallbackTest, AFailedCopyStillGivesTheFilmWithItsFadedSong)
{
    StorageRoot root;
    FotivelaProject project = test::onePhotoProject(root.path(), 2.0);
    project.format = ProjectFormat::reels;
    project.exportSettings.codec = GetParam();
    project.exportSettings.bitrateMbps = 2;
    AudioTrack song;
    song.url = test::writeAudioFile(root.path(), "song", test::makeSine(440, 3.0, 48000, 1, 0.5),
                                    test::TestAudioFormat::wav16);
    song.cutToSlideshowDuration = true;
    song.cutFadeOutDuration = 1.0;
    project.audio = song;
    const fs::path output = root.path() / "film.mp4";
    const SecondWayMux mux = muxWithABrokenCopy(project, root.path(), output);
    ASSERT_GT(mux.songPackets, 2u);
    const fs::path& video = mux.silentVideo;

    const test::Mp4Info info = test::probeMp4(output);
    EXPECT_EQ(info.videoCodec, GetParam() == ExportCodec::h264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_HEVC);
    EXPECT_EQ(info.width, 404);
    EXPECT_EQ(info.height, 720);
    EXPECT_NEAR(info.videoDuration, 2.0, 0.11);
    EXPECT_EQ(info.primaries, AVCOL_PRI_BT709);
    EXPECT_TRUE(test::indexAtFront(output));
    // The photo's red top and blue bottom, through the BT.709 matrix.
    const test::YCbCr red = test::decodedPixel(output, 1.0, 202, 280);
    EXPECT_NEAR(red.y, 63, 4);
    EXPECT_NEAR(red.cr, 240, 5);
    const test::YCbCr blue = test::decodedPixel(output, 1.0, 202, 440);
    EXPECT_NEAR(blue.y, 32, 4);
    EXPECT_NEAR(blue.cb, 240, 5);
    EXPECT_EQ(test::frameChecksums(output).size(), test::frameChecksums(video).size());

    ASSERT_TRUE(info.hasAudio);
    EXPECT_EQ(info.audioCodec, AV_CODEC_ID_AAC);
    int rate = 0;
    const std::vector<float> audio = test::decodedAudio(output, rate);
    EXPECT_NEAR(static_cast<double>(audio.size()) / rate, 2.0, 0.03);
    const double full = test::rms(audio, rate, 0.2, 0.8);
    EXPECT_NEAR(full, 0.5 / std::sqrt(2.0), 0.03);
    EXPECT_NEAR(test::rms(audio, rate, 1.45, 1.55), full * 0.5, 0.05);
    EXPECT_LT(test::rms(audio, rate, 1.9, 2.0), full * 0.12);
    EXPECT_TRUE(temporaryVideos().empty());
}

INSTANTIATE_TEST_SUITE_P(Codecs, SongMuxFallbackTest, ::testing::Values(ExportCodec::h264, ExportCodec::h265));

// Without the fade the song's own AAC packets are copied as they are.
TEST(SongMuxFallback, WithoutAFadeTheSongPassesThroughAsItIs)
{
    StorageRoot root;
    FotivelaProject project = test::onePhotoProject(root.path(), 2.0);
    // Detail that a second encoding could not give back bit for bit.
    QImage grain(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < grain.height(); ++y)
        for (int x = 0; x < grain.width(); ++x)
            grain.setPixel(x, y, qRgb((x * 37 + y * 91) % 256, (x * x + y * 13) % 256, (x * y * 7) % 256));
    test::writeImage(project.slides[0].imageURL, grain, "PNG");
    AudioTrack song;
    song.url = test::writeAudioFile(root.path(), "song", test::makeSine(440, 3.0, 44100, 2, 0.5),
                                    test::TestAudioFormat::m4a);
    song.cutToSlideshowDuration = false;
    project.audio = song;
    const fs::path output = root.path() / "film.mp4";
    const fs::path video = muxWithABrokenCopy(project, root.path(), output).silentVideo;

    // The picture is the one encoded, not encoded again.
    EXPECT_EQ(test::frameChecksums(output), test::frameChecksums(video));
    int rate = 0;
    const std::vector<float> audio = test::decodedAudio(output, rate);
    // Whole packets of the song up to the cut, at full volume to the end.
    EXPECT_NEAR(static_cast<double>(audio.size()) / rate, 2.0, 0.05);
    EXPECT_NEAR(test::rms(audio, rate, 1.8, 1.95), 0.5 / std::sqrt(2.0), 0.03);
}

} // namespace
} // namespace fotivela
