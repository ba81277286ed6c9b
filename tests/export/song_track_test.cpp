// The song's track is encoded while the frames are and then only copied into
// the final file: the same sound as a track encoded during the mux, and a
// thread that stops as soon as the export ends.

#include "export/mp4_probe.h"
#include "export/small_exports.h"
#include "export/song_mux.h"
#include "export/video_exporter.h"

#include "prefs/temporary_folder.h"
#include "support/test_audio.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <chrono>

namespace fotivela {
namespace {

namespace fs = std::filesystem;
using testing::StorageRoot;

FotivelaProject projectWithSong(const fs::path& folder, double songSeconds)
{
    FotivelaProject project = test::onePhotoProject(folder, 2.5);
    AudioTrack song;
    // A chord, so that a shifted or wrongly faded sample shows.
    test::TestSignal signal = test::makeSine(440, songSeconds, 48000, 2, 0.3);
    test::addSine(signal, 660, 0.2);
    song.url = test::writeAudioFile(folder, "song", signal, test::TestAudioFormat::wav16);
    song.cutToSlideshowDuration = true;
    song.cutFadeOutDuration = 1.0;
    project.audio = song;
    return project;
}

TEST(SongTrack, EncodedAheadGivesTheSameSoundAsEncodedInTheMux)
{
    StorageRoot root;
    const FotivelaProject project = projectWithSong(root.path(), 4.0);
    FotivelaProject silent = project;
    silent.audio.reset();
    const fs::path video = root.path() / "silent.mp4";
    VideoExporter(silent, video, {}).exportProject();

    const VideoExporter exporter(project, root.path() / "unused.mp4", {});
    const double end = onMediaGrid(exporter.slideshowSeconds());
    const fs::path inMux = root.path() / "in-mux.mp4";
    exporter.muxOriginalAudio(video, project.audio->url, inMux);

    EncodedSongTrack ahead = encodeSongTrack(project.audio->url, exporter.songFade(end), end, {});
    EXPECT_FALSE(ahead.packets.empty());
    const fs::path copied = root.path() / "copied.mp4";
    exporter.muxOriginalAudio(video, project.audio->url, copied, &ahead);

    // A track made for another cut is not used: the song is encoded in the mux instead.
    EncodedSongTrack otherCut = encodeSongTrack(project.audio->url, exporter.songFade(end + 0.5), end + 0.5, {});
    const fs::path refused = root.path() / "refused.mp4";
    exporter.muxOriginalAudio(video, project.audio->url, refused, &otherCut);

    int rate = 0;
    const std::vector<float> expected = test::decodedAudio(inMux, rate);
    ASSERT_NEAR(static_cast<double>(expected.size()) / rate, 2.5, 0.03);
    EXPECT_EQ(test::decodedAudio(copied, rate), expected);
    EXPECT_EQ(test::decodedAudio(refused, rate), expected);
    EXPECT_EQ(test::frameChecksums(copied), test::frameChecksums(video));
    EXPECT_TRUE(test::indexAtFront(copied));
}

TEST(SongTrack, TheThreadStopsAtOnceWhenTheExportEndsOrIsCancelled)
{
    StorageRoot root;
    const FotivelaProject project = projectWithSong(root.path(), 240.0);
    {
        const auto started = std::chrono::steady_clock::now();
        {
            SongTrackEncoding encoding(project.audio->url, AudioFadeMix{}, 240.0);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        // Encoding four minutes takes seconds; stopping, a second of sound at most.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1000));
    }
    SongTrackEncoding encoding(project.audio->url, AudioFadeMix{}, 240.0);
    std::stop_source cancel;
    cancel.request_stop();
    EXPECT_THROW(encoding.take(cancel.get_token()), ExportCancelledError);
}

TEST(SongTrack, ASongThatStoppedDecodingFailsAsTheMuxWould)
{
    StorageRoot root;
    const fs::path notAudio = root.path() / "song.wav";
    test::writeImage(notAudio, test::makeTwoToneImage(8, 8, Qt::red, Qt::red), "PNG");
    SongTrackEncoding encoding(notAudio, AudioFadeMix{}, 2.0);
    try {
        encoding.take({});
        FAIL() << "a picture was taken for a song";
    } catch (const VideoExporterError& error) {
        EXPECT_EQ(error.kind(), VideoExporterError::Kind::audioMuxFailed);
        EXPECT_EQ(error.detail(), "No se encontro una pista de audio valida.");
    }
}

} // namespace
} // namespace fotivela
