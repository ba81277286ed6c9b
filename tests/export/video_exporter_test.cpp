// The exporter's object, errors, sizes, settings and manifest, without encoding.

#include "export/song_mux.h"
#include "export/video_exporter.h"

#include "export/small_exports.h"
#include "platform/duskmere_storage.h"
#include "prefs/temporary_folder.h"
#include "support/fifo.h"
#include "support/test_audio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>

namespace fotivela {
namespace {

namespace fs = std::filesystem;

FotivelaProject projectWithOrders(std::initializer_list<std::int64_t> orders)
{
    FotivelaProject project = FotivelaProject::empty();
    for (const std::int64_t order : orders) {
        Slide slide;
        slide.id = Uuid::random();
        slide.order = order;
        slide.duration = 1.5;
        slide.imageURL = "/fotos/foto" + std::to_string(order) + ".jpg";
        project.slides.push_back(slide);
    }
    return project;
}

TEST(VideoExporterError, DescriptionsPutTheDetailFirst)
{
    EXPECT_STREQ(VideoExporterError::failedToFinish("Disco lleno.").what(),
                 "Disco lleno.\nNo se pudo finalizar la exportacion.");
    EXPECT_STREQ(VideoExporterError::failedToFinish().what(), "No se pudo finalizar la exportacion.");
    EXPECT_STREQ(VideoExporterError::cannotLoadImage("/Users/ana/Fotos/foto.jpg").what(),
                 "No se pudo cargar la imagen foto.jpg.");
    EXPECT_STREQ(VideoExporterError::cannotReplaceOutput().what(), "No se pudo sustituir el MP4 anterior.");
    EXPECT_STREQ(VideoExporterError::audioMuxFailed("x").what(), "x\nNo se pudo anadir la musica al MP4.");
    EXPECT_EQ(VideoExporterError::audioMuxFailed("x").kind(), VideoExporterError::Kind::audioMuxFailed);
}

// A received project whose photo is a FIFO: the export stops at once with the photo's name,
// instead of waiting for ever with no progress.
TEST(VideoExporter, APhotoThatIsAFifoDoesNotHoldTheExport)
{
    testing::StorageRoot root;
    FotivelaProject project = test::onePhotoProject(root.path(), 1);
    const fs::path fifo = test::makeFifo(root.path() / "recibido" / "foto.jpg");
    project.slides[0].imageURL = fifo;
    const fs::path output = root.path() / "salida.mp4";
    std::string failure;
    EXPECT_TRUE(test::returnsWithin(fifo, [&] {
        try {
            VideoExporter(project, output, [](const ExportProgress&) {}).exportProject();
        } catch (const std::exception& error) {
            failure = error.what();
        }
    }, std::chrono::seconds(120)));
    EXPECT_EQ(failure, "No se pudo cargar la imagen foto.jpg.");
    EXPECT_FALSE(fs::exists(output));
}

// The song checked at the start of the export is swapped for a FIFO while the frames are
// drawn: the mux, by either of its ways, refuses it at once instead of waiting in open().
TEST(VideoExporter, ASongThatTurnsIntoAFifoDoesNotHoldTheMux)
{
    testing::StorageRoot root;
    FotivelaProject project = test::onePhotoProject(root.path(), 1);
    const fs::path silent = root.path() / "muda.mp4";
    VideoExporter(project, silent, {}).exportProject();
    AudioTrack song;
    song.url = test::writeAudioFile(root.path(), "cancion", test::makeSine(440, 2.0), test::TestAudioFormat::m4a);
    song.cutToSlideshowDuration = false;
    project.audio = song;
    const std::string refused = "No se encontro una pista de audio valida.\nNo se pudo anadir la musica al MP4.";
    const auto swapForFifo = [&] {
        fs::rename(song.url, root.path() / "cancion-antes.m4a");
        test::makeFifo(song.url);
    };

    const fs::path output = root.path() / "salida.mp4";
    std::string failure;
    bool swapped = false;
    EXPECT_TRUE(test::returnsWithin(song.url, [&] {
        try {
            VideoExporter(project, output, [&](const ExportProgress& progress) {
                if (progress.message == "Anadiendo musica" && !swapped) {
                    swapForFifo();
                    swapped = true;
                }
            }).exportProject();
        } catch (const std::exception& error) {
            failure = error.what();
        }
    }, std::chrono::seconds(60)));
    EXPECT_TRUE(swapped);
    EXPECT_EQ(failure, refused);
    EXPECT_FALSE(fs::exists(output));

    // The way that copies the song's own packets opens it the same way.
    MuxSound copied;
    copied.kind = MuxSound::Kind::copied;
    copied.song = song.url;
    failure.clear();
    EXPECT_TRUE(test::returnsWithin(song.url, [&] {
        try {
            writeVideoWithSound(silent, copied, 1.0, root.path() / "copia.mp4", [] {});
        } catch (const std::exception& error) {
            failure = error.what();
        }
    }));
    EXPECT_EQ(failure, refused);
}

TEST(VideoExporter, HoldsItsOwnCopyWithOrdersInListOrder)
{
    const FotivelaProject project = projectWithOrders({3, 0, 7});
    const VideoExporter exporter(project, "/tmp/out.mp4", {});
    ASSERT_EQ(exporter.slides().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(exporter.slides()[i].order, static_cast<std::int64_t>(i));
        EXPECT_EQ(exporter.project().slides[i].order, static_cast<std::int64_t>(i));
    }
    EXPECT_EQ(project.slides[0].order, 3);
    EXPECT_EQ(exporter.cumulativeSlideStartTimes(), (std::vector<double>{0.0, 1.5, 3.0}));
}

TEST(VideoExporter, RenderSizesFollowFormatAndQuality)
{
    const auto size = [](ProjectFormat format, ExportQuality quality) {
        FotivelaProject project = FotivelaProject::empty();
        project.format = format;
        project.exportSettings.quality = quality;
        return VideoExporter::renderSize(project);
    };
    const RenderSize youtube = size(ProjectFormat::youtube, ExportQuality::quick);
    EXPECT_EQ(youtube.pixelWidth(), 1280);
    EXPECT_EQ(youtube.pixelHeight(), 720);
    const RenderSize reels = size(ProjectFormat::reels, ExportQuality::high);
    EXPECT_DOUBLE_EQ(reels.width, 607.5);
    EXPECT_EQ(reels.pixelWidth(), 607);
    EXPECT_EQ(reels.codedWidth(), 606);
    EXPECT_EQ(reels.codedHeight(), 1080);
    const RenderSize photo = size(ProjectFormat::photoLandscape, ExportQuality::quick);
    EXPECT_EQ(photo.pixelHeight(), 853);
    EXPECT_EQ(photo.codedHeight(), 852);
    const RenderSize square = size(ProjectFormat::square, ExportQuality::premium);
    EXPECT_EQ(square, (RenderSize{2160, 2160}));
    const RenderSize landscape = size(ProjectFormat::landscape, ExportQuality::premium);
    EXPECT_EQ(landscape.pixelHeight(), 3072);

    EXPECT_EQ(VideoExporter::exportImageMaxPixelSize(landscape, ExportQuality::premium), 3840);
    EXPECT_EQ(VideoExporter::exportImageMaxPixelSize(reels, ExportQuality::high), 1080);
    EXPECT_EQ(VideoExporter::exportImageMaxPixelSize(photo, ExportQuality::quick), 1280);
}

TEST(VideoExporter, EncoderSettingsRaiseTooLowRatesAndBitRates)
{
    FotivelaProject project = projectWithOrders({0});
    project.fps = 0;
    project.exportSettings.bitrateMbps = 0.5;
    project.exportSettings.codec = ExportCodec::h264;
    const VideoExporter exporter(project, "/tmp/out.mp4", {});
    const VideoEncoderSettings settings =
        exporter.videoSettings(RenderSize{607.5, 1080}, project.exportSettings);
    EXPECT_EQ(settings.framesPerSecond, 1);
    EXPECT_EQ(settings.maxKeyFrameInterval, 1);
    EXPECT_EQ(settings.averageBitRate, 1'000'000);
    EXPECT_EQ(settings.width, 606);
    EXPECT_EQ(settings.codec, ExportCodec::h264);

    project.fps = 30;
    project.exportSettings.bitrateMbps = std::nan("");
    const VideoExporter other(project, "/tmp/out.mp4", {});
    const VideoEncoderSettings raised = other.videoSettings(RenderSize{1280, 720}, project.exportSettings);
    EXPECT_EQ(raised.maxKeyFrameInterval, 60);
    EXPECT_EQ(raised.averageBitRate, 1'000'000);
}

TEST(VideoExporter, ManifestListsTheSlidesAndIsSkippedForDurationsThatAreNoNumber)
{
    testing::StorageRoot root;
    FotivelaProject project = projectWithOrders({4, 2});
    project.name = "Viaje";
    project.slides[1].title = "Fin";
    project.slides[1].isGeneratedTitleSlide = true;
    const fs::path manifestFile = DuskmereStorage::temporaryDirectory() / "fotivela-last-export.json";

    VideoExporter(project, "/videos/viaje.mp4", {}).writeExportDebugManifest("before-render", "/videos/viaje.mp4", "/tmp/t.mp4");
    std::ifstream in(manifestFile);
    const auto manifest = nlohmann::json::parse(in);
    EXPECT_EQ(manifest["stage"], "before-render");
    EXPECT_EQ(manifest["projectName"], "Viaje");
    EXPECT_EQ(manifest["outputPath"], "/videos/viaje.mp4");
    EXPECT_EQ(manifest["temporaryPath"], "/tmp/t.mp4");
    EXPECT_EQ(manifest["duration"], 3.0);
    EXPECT_EQ(manifest["slides"][1], (nlohmann::json{{"index", 1}, {"name", ""}, {"url", "/fotos/foto2.jpg"},
                                                     {"duration", 1.5}, {"title", "Fin"}, {"generatedTitle", true}}));
    EXPECT_TRUE(manifest["date"].get<std::string>().ends_with("Z"));

    project.slides[0].duration = std::nan("");
    VideoExporter(project, "/videos/otro.mp4", {}).writeExportDebugManifest("finished", "/videos/otro.mp4", "/tmp/t.mp4");
    std::ifstream again(manifestFile);
    EXPECT_EQ(nlohmann::json::parse(again)["stage"], "before-render");
}

TEST(AudioFadeMix, RampsToSilenceAtTheCut)
{
    const AudioFadeMix fade = makeAudioFadeMix(10.0, 2.5);
    EXPECT_DOUBLE_EQ(fade.start, 7.5);
    EXPECT_DOUBLE_EQ(fade.length, 2.5);
    EXPECT_DOUBLE_EQ(fade.gain(7.0), 1.0);
    EXPECT_DOUBLE_EQ(fade.gain(8.75), 0.5);
    EXPECT_DOUBLE_EQ(fade.gain(10.0), 0.0);

    const AudioFadeMix shortest = makeAudioFadeMix(10.0, 0.0); // at least 0.2 s
    EXPECT_NEAR(shortest.start, 9.8, 1e-9);
    const AudioFadeMix longerThanSong = makeAudioFadeMix(1.0, 5.0); // from the start
    EXPECT_DOUBLE_EQ(longerThanSong.start, 0.0);
    EXPECT_DOUBLE_EQ(longerThanSong.length, 1.0);
    const AudioFadeMix nothing = makeAudioFadeMix(0.0, 2.0);
    EXPECT_DOUBLE_EQ(nothing.gain(0.0), 1.0);
    EXPECT_DOUBLE_EQ(makeAudioFadeMix(5.0, std::nan("")).start, 4.8);
}

} // namespace
} // namespace fotivela
