// Which encoder preset an export should use: for each quality at its default
// bit rate and each codec, every preset from "ultrafast" to "medium" encodes
// the same frames drawn from detailed photographs (Ken Burns and a dissolve);
// the file is decoded and compared with the frames it was made from (PSNR over
// Y, Cb and Cr, SSIM over Y in 8 x 8 windows), and the encode is timed. The
// chosen preset is the fastest whose picture stays within 0.3 dB PSNR and
// 0.002 SSIM of "medium".
// `bench_export_presets memory` compares instead, at 4K and the preset in use,
// the encoders' low-memory settings with their usual ones.

#include "bench_photos.h"
#include "bench_picture_quality.h"
#include "bench_storage_root.h"
#include "export/video_encoder.h"
#include "export/video_exporter.h"

#include <QGuiApplication>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

using namespace fotivela;
namespace fs = std::filesystem;

namespace {

const char* const presets[] = {"ultrafast", "superfast", "veryfast", "faster", "fast", "medium"};

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<FramePtr> decodeAll(const fs::path& file)
{
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, file.c_str(), nullptr, nullptr) < 0)
        std::abort();
    const InputFormatContextPtr input(opened);
    avformat_find_stream_info(opened, nullptr);
    const int index = av_find_best_stream(opened, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec* codec = avcodec_find_decoder(opened->streams[index]->codecpar->codec_id);
    const CodecContextPtr decoder(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder.get(), opened->streams[index]->codecpar);
    decoder->thread_count = 0;
    avcodec_open2(decoder.get(), codec, nullptr);
    std::vector<FramePtr> frames;
    const PacketPtr packet(av_packet_alloc());
    const auto receive = [&] {
        for (;;) {
            FramePtr frame(av_frame_alloc());
            if (avcodec_receive_frame(decoder.get(), frame.get()) < 0)
                return;
            frames.push_back(std::move(frame));
        }
    };
    while (av_read_frame(opened, packet.get()) >= 0) {
        if (packet->stream_index == index)
            avcodec_send_packet(decoder.get(), packet.get());
        av_packet_unref(packet.get());
        receive();
    }
    avcodec_send_packet(decoder.get(), nullptr);
    receive();
    return frames;
}

struct Quality {
    double psnr = 0.0;
    double ssim = 0.0;
};

using bench::lumaSsim;
using bench::planeSquaredError;

Quality compare(const std::vector<FramePtr>& reference, const std::vector<FramePtr>& decoded, int width, int height)
{
    if (decoded.size() != reference.size()) {
        std::printf("frame count differs: %zu against %zu\n", decoded.size(), reference.size());
        std::exit(1);
    }
    double squared = 0.0;
    double samples = 0.0;
    double ssim = 0.0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        squared += planeSquaredError(*reference[i], *decoded[i], 0, width, height);
        squared += planeSquaredError(*reference[i], *decoded[i], 1, width / 2, height / 2);
        squared += planeSquaredError(*reference[i], *decoded[i], 2, width / 2, height / 2);
        samples += 1.5 * width * height;
        ssim += lumaSsim(*reference[i], *decoded[i], width, height);
    }
    return {10 * std::log10(255.0 * 255.0 / (squared / samples)), ssim / static_cast<double>(reference.size())};
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    const fs::path folder = bench::storageRoot("export-presets");
    av_log_set_level(AV_LOG_ERROR);

    std::printf("preparing 3 detailed photos of 4000x3000...\n");
    FotivelaProject project = FotivelaProject::empty();
    project.fps = 30;
    project.format = ProjectFormat::youtube;
    for (int i = 0; i < 3; ++i) {
        const fs::path photo = folder / ("photo" + std::to_string(i) + ".jpg");
        bench::writeDetailedPhoto(photo, 4000, 3000, i);
        Slide slide;
        slide.id = Uuid::random();
        slide.imageURL = photo;
        slide.duration = 1.0;
        slide.transition = SlideTransition::dissolve;
        slide.kenBurnsEnabled = true;
        project.slides.push_back(slide);
    }

    const bool memoryOnly = argc > 1 && std::string(argv[1]) == "memory";
    if (memoryOnly)
        std::printf("\n| codec | preset | low memory | encode s | time / usual | PSNR dB | dPSNR | SSIM | dSSIM |\n"
                    "|---|---|---|---|---|---|---|---|---|\n");
    else
        std::printf("\n| quality | codec | preset | encode s | time / medium | PSNR dB | dPSNR | SSIM | dSSIM | |\n"
                "|---|---|---|---|---|---|---|---|---|---|\n");
    for (const ExportQuality quality : {ExportQuality::quick, ExportQuality::high, ExportQuality::premium}) {
        if (memoryOnly && quality != ExportQuality::premium)
            continue;
        project.exportSettings.quality = quality;
        project.exportSettings.bitrateMbps = defaultBitrateMbps(quality);
        const VideoExporter exporter(project, folder / "unused.mp4", {});
        const RenderSize size = VideoExporter::renderSize(project);
        const int width = size.codedWidth();
        const int height = size.codedHeight();
        const int frameCount = quality == ExportQuality::premium ? 45 : 60;
        std::map<std::size_t, QImage> images;
        for (std::size_t i = 0; i < project.slides.size(); ++i)
            images.emplace(i, exporter.loadImage(i, VideoExporter::exportImageMaxPixelSize(size, quality)));
        std::vector<FramePtr> reference;
        Bt709FrameConverter converter(width, height);
        for (int i = 0; i < frameCount; ++i) {
            const double t = static_cast<double>(i) / project.fps;
            const auto slide = static_cast<std::size_t>(t);
            reference.push_back(converter.convert(exporter.makePixelBuffer(size, slide, t - static_cast<double>(slide), images)));
        }

        for (const ExportCodec codec : {ExportCodec::h264, ExportCodec::h265}) {
            project.exportSettings.codec = codec;
            VideoEncoderSettings settings = exporter.videoSettings(size, project.exportSettings);
            settings.codec = codec;
            struct Row {
                double seconds;
                Quality quality;
            };
            const auto encode = [&](const VideoEncoderSettings& chosen) {
                const fs::path file = folder / "preset.mp4";
                const auto start = std::chrono::steady_clock::now();
                {
                    VideoEncoder encoder(file, chosen);
                    for (int i = 0; i < frameCount; ++i)
                        encoder.append(reference[static_cast<std::size_t>(i)].get(), i);
                    encoder.finish();
                }
                const double seconds = secondsSince(start);
                return Row{seconds, compare(reference, decodeAll(file), width, height)};
            };
            if (memoryOnly) {
                settings.preset = encoderPreset(codec, quality);
                settings.lowMemory = false;
                const Row usual = encode(settings);
                settings.lowMemory = true;
                const Row low = encode(settings);
                for (const bool lowMemory : {false, true}) {
                    const Row& row = lowMemory ? low : usual;
                    std::printf("| %s | %s | %s | %.2f | %.2f | %.2f | %+.2f | %.4f | %+.4f |\n",
                                codec == ExportCodec::h264 ? "H.264" : "HEVC", settings.preset.c_str(),
                                lowMemory ? "yes" : "no", row.seconds, row.seconds / usual.seconds, row.quality.psnr,
                                row.quality.psnr - usual.quality.psnr, row.quality.ssim,
                                row.quality.ssim - usual.quality.ssim);
                }
                std::fflush(stdout);
                continue;
            }
            std::map<std::string, Row> rows;
            for (const char* preset : presets) {
                settings.preset = preset;
                rows[preset] = encode(settings);
            }
            const Row medium = rows["medium"];
            std::string chosen = "medium";
            for (const char* preset : presets) {
                const Row& row = rows[preset];
                if (row.quality.psnr >= medium.quality.psnr - 0.3 && row.quality.ssim >= medium.quality.ssim - 0.002) {
                    chosen = preset;
                    break;
                }
            }
            for (const char* preset : presets) {
                const Row& row = rows[preset];
                std::printf("| %s %dx%d %.0f Mb/s | %s | %s | %.2f | %.2f | %.2f | %+.2f | %.4f | %+.4f | %s%s |\n",
                            toStored(quality).data(), width, height, project.exportSettings.bitrateMbps,
                            codec == ExportCodec::h264 ? "H.264" : "HEVC", preset, row.seconds, row.seconds / medium.seconds,
                            row.quality.psnr, row.quality.psnr - medium.quality.psnr, row.quality.ssim,
                            row.quality.ssim - medium.quality.ssim, preset == chosen ? "chosen" : "",
                            preset == encoderPreset(codec, quality) ? " (in use)" : "");
                std::fflush(stdout);
            }
        }
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
