// What the bit rate ceiling costs: a slideshow of detailed photographs of
// mixed shapes (Ken Burns, dissolves) is encoded at the quality's default bit rate with the
// average as a plain target and with the average as a ceiling, for each codec
// and for a short and a long film. Each row gives the video stream's average
// bit rate against the setting, and the picture against the frames it was
// made from (PSNR over Y, Cb and Cr, SSIM over Y in 8 x 8 windows).
// Arguments: the film lengths in seconds (default 10 40); "720p" or "4K" first
// for another quality than 1080p.

#include "bench_photos.h"
#include "bench_picture_quality.h"
#include "bench_storage_root.h"
#include "export/video_encoder.h"
#include "export/video_exporter.h"

#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

using namespace fotivela;
namespace fs = std::filesystem;

namespace {

constexpr int photoCount = 4;
constexpr double slideSeconds = 3.5;

// Draws frame i of the slideshow as the export does, converted as it is for the encoder.
class ReferenceFrames {
public:
    ReferenceFrames(const VideoExporter& exporter, RenderSize size)
        : m_exporter(exporter), m_size(size), m_starts(exporter.cumulativeSlideStartTimes()),
          m_converter(size.codedWidth(), size.codedHeight())
    {
        const int maxPixelSize = VideoExporter::exportImageMaxPixelSize(size, exporter.project().exportSettings.quality);
        for (std::size_t i = 0; i < std::min<std::size_t>(photoCount, exporter.slides().size()); ++i)
            m_photos.push_back(exporter.loadImage(i, maxPixelSize));
    }

    FramePtr frame(int index)
    {
        const double t = static_cast<double>(index) / m_exporter.project().fps;
        std::size_t slide = 0;
        while (slide + 1 < m_starts.size() && m_starts[slide + 1] <= t)
            ++slide;
        std::map<std::size_t, QImage> images{{slide, m_photos[slide % m_photos.size()]}};
        if (slide > 0)
            images.emplace(slide - 1, m_photos[(slide - 1) % m_photos.size()]);
        return m_converter.convert(m_exporter.makePixelBuffer(m_size, slide, t - m_starts[slide], images));
    }

private:
    const VideoExporter& m_exporter;
    RenderSize m_size;
    std::vector<double> m_starts;
    std::vector<QImage> m_photos;
    Bt709FrameConverter m_converter;
};

using bench::lumaSsim;
using bench::planeSquaredError;

struct Measure {
    double bitRate = 0.0;
    double psnr = 0.0;
    double ssim = 0.0;
};

// Decodes the file frame by frame against the frames drawn again: a long
// film at 1080p would not fit in memory twice.
Measure measure(const fs::path& file, ReferenceFrames& reference, int frameCount, int width, int height)
{
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, file.c_str(), nullptr, nullptr) < 0)
        std::abort();
    const InputFormatContextPtr input(opened);
    avformat_find_stream_info(opened, nullptr);
    const int index = av_find_best_stream(opened, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVStream* stream = opened->streams[index];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    const CodecContextPtr decoder(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    decoder->thread_count = 0;
    avcodec_open2(decoder.get(), codec, nullptr);

    double bytes = 0.0;
    double squared = 0.0;
    double ssim = 0.0;
    int decoded = 0;
    const PacketPtr packet(av_packet_alloc());
    const FramePtr frame(av_frame_alloc());
    const auto receive = [&] {
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            const FramePtr drawn = reference.frame(decoded++);
            squared += planeSquaredError(*drawn, *frame, 0, width, height);
            squared += planeSquaredError(*drawn, *frame, 1, width / 2, height / 2);
            squared += planeSquaredError(*drawn, *frame, 2, width / 2, height / 2);
            ssim += lumaSsim(*drawn, *frame, width, height);
        }
    };
    while (av_read_frame(opened, packet.get()) >= 0) {
        if (packet->stream_index == index) {
            bytes += packet->size;
            avcodec_send_packet(decoder.get(), packet.get());
        }
        av_packet_unref(packet.get());
        receive();
    }
    avcodec_send_packet(decoder.get(), nullptr);
    receive();
    if (decoded != frameCount) {
        std::printf("frame count differs: %d against %d\n", decoded, frameCount);
        std::exit(1);
    }
    const double samples = 1.5 * width * height * frameCount;
    const double seconds = static_cast<double>(frameCount) / stream->avg_frame_rate.num * stream->avg_frame_rate.den;
    return {bytes * 8 / seconds, 10 * std::log10(255.0 * 255.0 / (squared / samples)), ssim / frameCount};
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    const fs::path folder = bench::storageRoot("export-bitrate");
    av_log_set_level(AV_LOG_ERROR);

    ExportQuality quality = ExportQuality::high;
    int first = 1;
    if (argc > 1 && std::string(argv[1]) == "720p")
        quality = ExportQuality::quick, first = 2;
    else if (argc > 1 && std::string(argv[1]) == "4K")
        quality = ExportQuality::premium, first = 2;
    std::vector<double> lengths;
    for (int i = first; i < argc; ++i)
        lengths.push_back(std::atof(argv[i]));
    if (lengths.empty())
        lengths = {10.0, 40.0};

    // Shapes as a phone's photos come: landscape, portrait, panorama, square.
    const int shapes[photoCount][2] = {{4000, 3000}, {3000, 4000}, {4000, 2250}, {3000, 3000}};
    std::printf("preparing %d detailed photos of mixed shapes...\n", photoCount);
    std::vector<fs::path> photos;
    for (int i = 0; i < photoCount; ++i) {
        photos.push_back(folder / ("photo" + std::to_string(i) + ".jpg"));
        bench::writeDetailedPhoto(photos.back(), shapes[i][0], shapes[i][1], i);
    }

    std::printf("\n| film | codec | preset | ceiling | stream Mb/s | / setting | PSNR dB | dPSNR | SSIM | dSSIM |\n"
                "|---|---|---|---|---|---|---|---|---|---|\n");
    for (const double length : lengths) {
        FotivelaProject project = FotivelaProject::empty();
        project.fps = 30;
        project.format = ProjectFormat::youtube;
        project.exportSettings.quality = quality;
        project.exportSettings.bitrateMbps = defaultBitrateMbps(quality);
        const int slides = static_cast<int>(std::ceil(length / slideSeconds));
        for (int i = 0; i < slides; ++i) {
            Slide slide;
            slide.id = Uuid::random();
            slide.imageURL = photos[static_cast<std::size_t>(i % photoCount)];
            slide.duration = std::min(slideSeconds, length - slideSeconds * i);
            slide.transition = SlideTransition::dissolve;
            slide.kenBurnsEnabled = true;
            project.slides.push_back(slide);
        }
        const int frameCount = static_cast<int>(std::ceil(length * project.fps));
        for (const ExportCodec codec : {ExportCodec::h264, ExportCodec::h265}) {
            project.exportSettings.codec = codec;
            const VideoExporter exporter(project, folder / "unused.mp4", {});
            const RenderSize size = VideoExporter::renderSize(project);
            ReferenceFrames reference(exporter, size);
            VideoEncoderSettings settings = exporter.videoSettings(size, project.exportSettings);
            Measure plain;
            for (const bool ceiling : {false, true}) {
                settings.averageIsCeiling = ceiling;
                const fs::path file = folder / "film.mp4";
                {
                    VideoEncoder encoder(file, settings);
                    for (int i = 0; i < frameCount; ++i) {
                        FramePtr frame = reference.frame(i);
                        encoder.append(frame.get(), i);
                    }
                    encoder.finish();
                }
                const Measure m = measure(file, reference, frameCount, settings.width, settings.height);
                if (!ceiling)
                    plain = m;
                std::printf("| %.0f s %dx%d | %s | %s | %s | %.2f | %+.1f %% | %.2f | %+.2f | %.4f | %+.4f |\n", length,
                            settings.width, settings.height, codec == ExportCodec::h264 ? "H.264" : "HEVC",
                            settings.preset.c_str(), ceiling ? "yes" : "no", m.bitRate / 1e6,
                            100.0 * (m.bitRate / static_cast<double>(settings.averageBitRate) - 1.0), m.psnr,
                            m.psnr - plain.psnr, m.ssim, m.ssim - plain.ssim);
                std::fflush(stdout);
            }
        }
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
