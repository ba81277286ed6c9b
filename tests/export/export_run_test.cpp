// Real exports of small projects, read back with FFmpeg.

#include "export/mp4_probe.h"
#include "export/small_exports.h"
#include "export/video_encoder.h"
#include "export/video_exporter.h"

#include "platform/duskmere_storage.h"
#include "prefs/temporary_folder.h"
#include "support/test_audio.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

namespace fotivela {
namespace {

namespace fs = std::filesystem;
using testing::StorageRoot;

Slide photoSlide(const fs::path& photo, double duration, SlideTransition transition = SlideTransition::cut)
{
    Slide slide;
    slide.id = Uuid::random();
    slide.imageURL = photo;
    slide.name = photo.filename().string();
    slide.duration = duration;
    slide.transition = transition;
    return slide;
}

// Small frames and few of them: the whole suite also runs under AddressSanitizer.
FotivelaProject smallProject(const fs::path& folder, ExportCodec codec)
{
    const fs::path red = folder / "red.png";
    const fs::path blue = folder / "blue.png";
    test::writeImage(red, test::makeTwoToneImage(64, 64, Qt::red, Qt::red), "PNG");
    test::writeImage(blue, test::makeTwoToneImage(64, 48, Qt::blue, Qt::blue), "PNG");

    FotivelaProject project = FotivelaProject::empty();
    project.name = "Prueba";
    project.fps = 10;
    project.format = ProjectFormat::reels; // 405 × 720: an odd width
    project.fillPhotosToScreen = true;
    project.exportSettings.quality = ExportQuality::quick;
    project.exportSettings.codec = codec;
    project.exportSettings.bitrateMbps = 2;
    project.slides = {photoSlide(red, 1.0), photoSlide(blue, 1.0, SlideTransition::dissolve)};
    project.slides[0].order = 5; // stored orders need not be in sequence
    project.slides[1].title = "  Hola  ";
    return project;
}

void addSong(FotivelaProject& project, const fs::path& folder, double seconds = 3.0)
{
    AudioTrack song;
    song.url = test::writeAudioFile(folder, "song", test::makeSine(440, seconds, 48000, 1, 0.5), test::TestAudioFormat::wav16);
    song.cutToSlideshowDuration = true;
    song.cutFadeOutDuration = 1.0;
    project.audio = song;
}

std::vector<fs::path> temporaryVideos()
{
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(DuskmereStorage::temporaryDirectory()))
        if (entry.path().extension() == ".mp4")
            found.push_back(entry.path());
    return found;
}

class ExportRunTest : public ::testing::TestWithParam<ExportCodec> {};

TEST_P(ExportRunTest, WritesTheSlideshowWithTheFadedSong)
{
    StorageRoot root;
    FotivelaProject project = smallProject(root.path(), GetParam());
    addSong(project, root.path());
    const fs::path output = root.path() / "video.mp4";
    std::vector<ExportProgress> reports;
    VideoExporter(project, output, [&](const ExportProgress& p) { reports.push_back(p); }).exportProject();

    const test::Mp4Info info = test::probeMp4(output);
    EXPECT_EQ(info.videoCodec, GetParam() == ExportCodec::h264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_HEVC);
    if (GetParam() == ExportCodec::h265) {
        EXPECT_EQ(info.videoTag, MKTAG('h', 'v', 'c', '1'));
    }
    EXPECT_EQ(info.width, 404); // the largest even size not above 405
    EXPECT_EQ(info.height, 720);
    EXPECT_NEAR(info.videoDuration, 2.0, 0.11);
    EXPECT_EQ(info.primaries, AVCOL_PRI_BT709);
    EXPECT_EQ(info.transfer, AVCOL_TRC_BT709);
    EXPECT_EQ(info.matrix, AVCOL_SPC_BT709);
    EXPECT_TRUE(test::indexAtFront(output));
    ASSERT_TRUE(info.hasAudio);
    EXPECT_EQ(info.audioCodec, AV_CODEC_ID_AAC);
    EXPECT_EQ(info.sampleRate, 44100);
    EXPECT_EQ(info.channels, 2);

    // Pure red through the BT.709 matrix: Y 63, Cb 102, Cr 240 (BT.601 would give Y 81, Cb 90).
    const test::YCbCr red = test::decodedPixel(output, 0.5, 200, 100);
    EXPECT_NEAR(red.y, 63, 3);
    EXPECT_NEAR(red.cb, 102, 4);
    EXPECT_NEAR(red.cr, 240, 4);
    // After the dissolve the second slide is pure blue: Y 32, Cb 240, Cr 118.
    const test::YCbCr blue = test::decodedPixel(output, 1.8, 200, 100);
    EXPECT_NEAR(blue.y, 32, 3);
    EXPECT_NEAR(blue.cb, 240, 4);
    EXPECT_NEAR(blue.cr, 118, 4);

    // The last second fades out: 1.0 s of fade before the 2 s cut.
    int rate = 0;
    const std::vector<float> audio = test::decodedAudio(output, rate);
    // The 3 s song is cut at the slideshow's end.
    EXPECT_NEAR(static_cast<double>(audio.size()) / rate, 2.0, 0.03);
    EXPECT_NEAR(info.audioDuration, 2.0, 0.05);
    const double full = test::rms(audio, rate, 0.2, 0.8);
    EXPECT_NEAR(full, 0.5 / std::sqrt(2.0), 0.03);
    EXPECT_NEAR(test::rms(audio, rate, 1.45, 1.55), full * 0.5, 0.05);
    EXPECT_LT(test::rms(audio, rate, 1.9, 2.0), full * 0.12);

    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(reports.front(), (ExportProgress{0.0, "Preparando codificador"}));
    EXPECT_EQ(reports[1].message, "Codificando video");
    EXPECT_EQ(reports[reports.size() - 2], (ExportProgress{0.94, "Anadiendo musica"}));
    EXPECT_EQ(reports.back(), (ExportProgress{1.0, "Exportacion terminada"}));
    EXPECT_TRUE(temporaryVideos().empty());

    std::ifstream manifestFile(DuskmereStorage::temporaryDirectory() / "fotivela-last-export.json");
    const auto manifest = nlohmann::json::parse(manifestFile);
    EXPECT_EQ(manifest["stage"], "finished");
    EXPECT_EQ(manifest["slideCount"], 2);
    EXPECT_EQ(manifest["slides"][0]["index"], 0);
    EXPECT_EQ(manifest["slides"][1]["title"], "  Hola  ");
    EXPECT_EQ(manifest.size(), 8u);
}

INSTANTIATE_TEST_SUITE_P(Codecs, ExportRunTest, ::testing::Values(ExportCodec::h264, ExportCodec::h265));

// Y, Cb, Cr of an RGB colour (0...1) through the BT.709 matrix in video range.
test::YCbCr bt709(double r, double g, double b)
{
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    return {static_cast<int>(std::lround(16 + 219 * y)), static_cast<int>(std::lround(128 + 224 * (b - y) / 1.8556)),
            static_cast<int>(std::lround(128 + 224 * (r - y) / 1.5748))};
}

void expectNear(const test::YCbCr& actual, const test::YCbCr& expected, const char* where)
{
    EXPECT_NEAR(actual.y, expected.y, 4) << where;
    EXPECT_NEAR(actual.cb, expected.cb, 5) << where;
    EXPECT_NEAR(actual.cr, expected.cr, 5) << where;
}

TEST(ExportRun, TheDissolveFadesTheOutgoingPhotoBesideAnIncomingPhotoOfAnotherShape)
{
    StorageRoot root;
    const fs::path wide = root.path() / "wide.png";
    const fs::path tall = root.path() / "tall.png";
    test::writeImage(wide, test::makeTwoToneImage(64, 36, Qt::red, Qt::red), "PNG");
    test::writeImage(tall, test::makeTwoToneImage(36, 64, Qt::blue, Qt::blue), "PNG");
    FotivelaProject project = FotivelaProject::empty();
    project.fps = 10;
    project.format = ProjectFormat::youtube; // 1280 × 720; the tall photo leaves bars of black beside it
    project.exportSettings.quality = ExportQuality::quick;
    project.exportSettings.codec = ExportCodec::h264;
    project.exportSettings.bitrateMbps = 2;
    project.slides = {photoSlide(wide, 2.0), photoSlide(tall, 2.0, SlideTransition::dissolve)};
    const fs::path output = root.path() / "video.mp4";
    VideoExporter(project, output, {}).exportProject();

    // In a bar beside the tall photo: red before the dissolve, half way through
    // it (0.3 s of 0.6 s) half red, half the black background, then black.
    expectNear(test::decodedPixel(output, 1.85, 200, 360), bt709(1, 0, 0), "before");
    expectNear(test::decodedPixel(output, 2.25, 200, 360), bt709(0.5, 0, 0), "half way");
    expectNear(test::decodedPixel(output, 2.95, 200, 360), bt709(0, 0, 0), "after");
    // Under the tall photo the two photos mix.
    expectNear(test::decodedPixel(output, 2.25, 640, 360), bt709(0.5, 0, 0.5), "under the photo");
}

TEST(ExportRun, ASongShorterThanTheSlideshowEndsEarlyAtFullVolumeWithoutTheCut)
{
    StorageRoot root;
    FotivelaProject project = smallProject(root.path(), ExportCodec::h264);
    AudioTrack song;
    song.url = test::writeAudioFile(root.path(), "short", test::makeSine(330, 1.5, 44100, 2, 0.4), test::TestAudioFormat::mp3);
    song.cutToSlideshowDuration = false;
    project.audio = song;
    const fs::path output = root.path() / "video.mp4";
    VideoExporter(project, output, {}).exportProject();

    EXPECT_NEAR(test::probeMp4(output).videoDuration, 2.0, 0.11);
    int rate = 0;
    const std::vector<float> audio = test::decodedAudio(output, rate);
    EXPECT_NEAR(static_cast<double>(audio.size()) / rate, 1.5, 0.06);
    EXPECT_NEAR(test::rms(audio, rate, 1.2, 1.4), test::rms(audio, rate, 0.2, 0.4), 0.03);
}

TEST(ExportRun, NonFiniteSamplesOfAFloatSongExportAsSilence)
{
    StorageRoot root;
    FotivelaProject project = smallProject(root.path(), ExportCodec::h264);
    test::TestSignal signal = test::makeSine(440, 2.0, 44100, 2, 0.5);
    for (std::size_t i = 20000; i < 20100; ++i) {
        signal.channels[0][i] = std::numeric_limits<float>::quiet_NaN();
        signal.channels[1][i] = i % 2 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    }
    signal.channels[0][30000] = 1e38f;
    AudioTrack song;
    song.url = root.path() / "damaged.wav";
    test::writeAudioFile(song.url, signal, test::TestAudioFormat::wavFloat);
    project.audio = song;
    const fs::path output = root.path() / "video.mp4";
    VideoExporter(project, output, {}).exportProject();

    int rate = 0;
    const std::vector<float> audio = test::decodedAudio(output, rate);
    EXPECT_NEAR(static_cast<double>(audio.size()) / rate, 2.0, 0.06);
    EXPECT_NEAR(test::rms(audio, rate, 1.2, 1.6), 0.35, 0.05) << "the song plays on after the damage";
}

TEST(ExportRun, WithoutASongTheVideoIsMovedIntoPlaceAndReplacesAnEarlierFile)
{
    StorageRoot root;
    FotivelaProject project = smallProject(root.path(), ExportCodec::h264);
    project.exportSettings.includeAudio = true; // asked for, but there is no song
    const fs::path output = root.path() / "video.mp4";
    testing::writeText(output, "old video");
    std::vector<ExportProgress> reports;
    VideoExporter(project, output, [&](const ExportProgress& p) { reports.push_back(p); }).exportProject();

    const test::Mp4Info info = test::probeMp4(output);
    EXPECT_TRUE(info.hasVideo);
    EXPECT_FALSE(info.hasAudio);
    for (const ExportProgress& report : reports)
        EXPECT_NE(report.message, "Anadiendo musica");
    EXPECT_EQ(reports.back(), (ExportProgress{1.0, "Exportacion terminada"}));
    EXPECT_TRUE(temporaryVideos().empty());
}

TEST(ExportRun, FailuresLeaveTheDestinationAsItWasAndNoTemporaryFile)
{
    StorageRoot root;
    const fs::path output = root.path() / "video.mp4";
    double furthest = 0.0;
    const auto failure = [&](FotivelaProject project) -> std::string {
        testing::writeText(output, "old video");
        furthest = 0.0;
        try {
            VideoExporter(std::move(project), output, [&](const ExportProgress& p) {
                furthest = std::max(furthest, p.progress);
            }).exportProject();
        } catch (const VideoExporterError& error) {
            EXPECT_EQ(testing::readBytes(output).size(), 9u) << "the old file was touched";
            EXPECT_TRUE(temporaryVideos().empty());
            return error.what();
        }
        ADD_FAILURE() << "no failure";
        return {};
    };

    FotivelaProject unreadablePhoto = smallProject(root.path(), ExportCodec::h264);
    testing::writeText(root.path() / "rota.jpg", "not a picture");
    unreadablePhoto.slides[1].imageURL = root.path() / "rota.jpg";
    EXPECT_EQ(failure(unreadablePhoto), "No se pudo cargar la imagen rota.jpg.");

    FotivelaProject unreadableSong = smallProject(root.path(), ExportCodec::h264);
    addSong(unreadableSong, root.path());
    testing::writeText(unreadableSong.audio->url, "not a song");
    EXPECT_EQ(failure(unreadableSong), "No se encontro una pista de audio valida.\nNo se pudo anadir la musica al MP4.");
    EXPECT_EQ(furthest, 0.0) << "a song that cannot be read is found out before any frame is encoded";

    FotivelaProject missingSong = smallProject(root.path(), ExportCodec::h264);
    addSong(missingSong, root.path());
    missingSong.audio->url = root.path() / "missing.wav";
    EXPECT_EQ(failure(missingSong), "No se encuentra el archivo de musica del proyecto.\nNo se pudo anadir la musica al MP4.");

    FotivelaProject endless = smallProject(root.path(), ExportCodec::h264);
    endless.slides[0].duration = std::numeric_limits<double>::infinity();
    EXPECT_EQ(failure(endless), "La duracion de las diapositivas no es valida.\nNo se pudo finalizar la exportacion.");

    EXPECT_EQ(failure(FotivelaProject::empty()), "No hay fotos para exportar.");

    try {
        VideoExporter(smallProject(root.path(), ExportCodec::h264), root.path() / "gone" / "video.mp4", {}).exportProject();
        ADD_FAILURE() << "no failure";
    } catch (const VideoExporterError& error) {
        EXPECT_STREQ(error.what(), "La carpeta de destino no existe.\nNo se pudo finalizar la exportacion.");
    }
}

TEST(ExportRun, CancellingStopsTheExportWithoutAFile)
{
    StorageRoot root;
    FotivelaProject project = smallProject(root.path(), ExportCodec::h264);
    const fs::path output = root.path() / "video.mp4";
    std::stop_source stop;
    VideoExporter exporter(project, output, [&](const ExportProgress& p) {
        if (p.message == "Codificando video")
            stop.request_stop();
    }, stop.get_token());
    EXPECT_THROW(exporter.exportProject(), ExportCancelledError);
    EXPECT_FALSE(fs::exists(output));
    EXPECT_TRUE(temporaryVideos().empty());
}

TEST(ExportRun, ACancelInTheMiddleOfAnExportEndsItWithinHalfASecond)
{
    StorageRoot root;
    FotivelaProject project = smallProject(root.path(), ExportCodec::h265);
    project.format = ProjectFormat::youtube; // 1280 x 720
    for (Slide& slide : project.slides) {
        slide.duration = 30; // far longer than the test lets it run
        slide.kenBurnsEnabled = true;
    }
    const fs::path output = root.path() / "video.mp4";
    std::stop_source stop;
    std::atomic<std::int64_t> stoppedAt{0};
    std::jthread canceller;
    VideoExporter exporter(project, output, [&](const ExportProgress& p) {
        if (p.message == "Codificando video" && !canceller.joinable())
            canceller = std::jthread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                stoppedAt = std::chrono::steady_clock::now().time_since_epoch().count();
                stop.request_stop();
            });
    }, stop.get_token());
    EXPECT_THROW(exporter.exportProject(), ExportCancelledError);
    const auto ended = std::chrono::steady_clock::now().time_since_epoch().count();
    canceller.join();
    // Half a second in a plain build; the sanitizers and a loaded two-core machine get slack.
    // A run that ignored the stop would go on for a minute of video.
    EXPECT_LT(std::chrono::steady_clock::duration(ended - stoppedAt.load()), std::chrono::milliseconds(2500));
    EXPECT_FALSE(fs::exists(output));
    EXPECT_TRUE(temporaryVideos().empty());
}

} // namespace
} // namespace fotivela

namespace fotivela {
namespace {

TEST(ExportRun, AFullDiskIsNamedInTheError)
{
    const VideoEncoderSettings settings = test::squareH264Settings(64, 1'000'000, 20);
    try {
        VideoEncoder encoder("/dev/full", settings);
        Bt709FrameConverter converter(64, 64);
        QImage picture(64, 64, QImage::Format_RGB32);
        for (int i = 0; i < 30; ++i) {
            picture.fill(QColor::fromHsv(i * 10, 200, 200));
            encoder.append(converter.convert(picture).get(), i);
        }
        encoder.finish();
        ADD_FAILURE() << "a full disk went unnoticed";
    } catch (const VideoExporterError& error) {
        EXPECT_STREQ(error.what(), "No queda espacio libre en el disco.\nNo se pudo finalizar la exportacion.");
    }
}

} // namespace
} // namespace fotivela
