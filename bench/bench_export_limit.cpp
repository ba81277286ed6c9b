// How close the whole export comes to its limit, the encoder alone: the same
// slideshow exported whole (photos decoded, frames drawn and converted, the
// song added) and encoded by the same encoder with the same settings from
// frames drawn beforehand, in turns (alone, whole, alone, whole, ...), for
// H.264 and HEVC, first on the machine as it is, then with a second
// CPU-heavy job beside it (busy threads for half the cores, in a process of
// its own, like a build beside the export). The
// ratio of each pair is taken in the same moment, so that the machine's own
// load weighs on both sides alike. Then the picture of both files against a
// lossless rendering of the same frames: PSNR and SSIM.
//
// bench_export_limit [rounds] [slides] [busy threads]
//   rounds of alone + whole for each codec and load (default 3), slides of 2 s
//   in the slideshow (default 4: 240 frames at 1080p30, photos of both shapes),
//   threads of the busy job (default half the cores).
// FOTIVELA_BENCH_FOLDER=<folder> makes the photos there once and keeps them.

#include "bench_photos.h"
#include "bench_storage_root.h"
#include "export/video_encoder.h"
#include "export/video_exporter.h"
#include "support/test_audio.h"

#include <QGuiApplication>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

extern char** environ;

using namespace fotivela;
namespace fs = std::filesystem;

namespace {

constexpr int fps = 30;
constexpr double slideSeconds = 2.0;

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    double one = 0, five = 0;
    file >> one >> five;
    char text[64];
    std::snprintf(text, sizeof text, "%.1f (1 min), %.1f (5 min)", one, five);
    return text;
}

const char* codecName(ExportCodec codec)
{
    return codec == ExportCodec::h264 ? "H.264" : "HEVC";
}

// Photos of both shapes, so that dissolves cross between a full frame and one with bars.
fs::path photoFile(const fs::path& folder, int index)
{
    return folder / ("limit-photo" + std::to_string(index % 4) + ".jpg");
}

FotivelaProject limitProject(const fs::path& folder, ExportCodec codec, int slides)
{
    FotivelaProject project = FotivelaProject::empty();
    project.name = "Limite";
    project.fps = fps;
    project.format = ProjectFormat::youtube;
    project.exportSettings.quality = ExportQuality::high;
    project.exportSettings.codec = codec;
    project.exportSettings.bitrateMbps = 12;
    for (int i = 0; i < slides; ++i) {
        Slide slide;
        slide.id = Uuid::random();
        slide.imageURL = photoFile(folder, i);
        slide.duration = slideSeconds;
        slide.transition = SlideTransition::dissolve;
        slide.kenBurnsEnabled = true; // every frame differs: the worst case
        if (i % 2 == 0)
            slide.title = "Verano " + std::to_string(2000 + i);
        project.slides.push_back(slide);
    }
    AudioTrack song;
    song.url = folder / "limit-song.wav";
    song.cutToSlideshowDuration = true;
    song.cutFadeOutDuration = 1.0;
    project.audio = song;
    return project;
}

// The lossless rendering's conversion: the BT.709 matrix in floating point,
// video range, each chroma sample the mean of its 2 × 2 pixels.
FramePtr exactYuv(const QImage& image, int width, int height)
{
    FramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    frame->color_primaries = AVCOL_PRI_BT709;
    frame->color_trc = AVCOL_TRC_BT709;
    frame->colorspace = AVCOL_SPC_BT709;
    frame->color_range = AVCOL_RANGE_MPEG;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        std::abort();
    const auto luma = [](double r, double g, double b) { return 0.2126 * r + 0.7152 * g + 0.0722 * b; };
    const auto byte = [](double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); };
    for (int y = 0; y < height; y += 2) {
        for (int x = 0; x < width; x += 2) {
            double r = 0, g = 0, b = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    const QRgb pixel = reinterpret_cast<const QRgb*>(image.constScanLine(y + dy))[x + dx];
                    const double pr = qRed(pixel) / 255.0, pg = qGreen(pixel) / 255.0, pb = qBlue(pixel) / 255.0;
                    frame->data[0][(y + dy) * frame->linesize[0] + x + dx] = byte(16 + 219 * luma(pr, pg, pb));
                    r += pr / 4;
                    g += pg / 4;
                    b += pb / 4;
                }
            const double yy = luma(r, g, b);
            frame->data[1][(y / 2) * frame->linesize[1] + x / 2] = byte(128 + 224 * (b - yy) / 1.8556);
            frame->data[2][(y / 2) * frame->linesize[2] + x / 2] = byte(128 + 224 * (r - yy) / 1.5748);
        }
    }
    return frame;
}

// Squared errors and the SSIM of luma (8 × 8 windows every 4 pixels) of a decoded frame against its reference.
struct Picture {
    double lumaSquares = 0.0;
    double chromaSquares = 0.0;
    double lumaSamples = 0.0;
    double chromaSamples = 0.0;
    double ssimSum = 0.0;
    int frames = 0;

    double psnr(double squares, double samples) const { return 10 * std::log10(255.0 * 255.0 / (squares / samples)); }
    double lumaPsnr() const { return psnr(lumaSquares, lumaSamples); }
    double chromaPsnr() const { return psnr(chromaSquares, chromaSamples); }
    double ssim() const { return ssimSum / frames; }
};

double planeSsim(const std::uint8_t* a, int strideA, const std::uint8_t* b, int strideB, int width, int height)
{
    constexpr double c1 = (0.01 * 255) * (0.01 * 255);
    constexpr double c2 = (0.03 * 255) * (0.03 * 255);
    double sum = 0;
    int windows = 0;
    for (int y = 0; y + 8 <= height; y += 4)
        for (int x = 0; x + 8 <= width; x += 4) {
            double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
            for (int j = 0; j < 8; ++j)
                for (int i = 0; i < 8; ++i) {
                    const double va = a[(y + j) * strideA + x + i];
                    const double vb = b[(y + j) * strideB + x + i];
                    sa += va;
                    sb += vb;
                    saa += va * va;
                    sbb += vb * vb;
                    sab += va * vb;
                }
            const double n = 64;
            const double ma = sa / n, mb = sb / n;
            const double va = saa / n - ma * ma, vb = sbb / n - mb * mb, cov = sab / n - ma * mb;
            sum += ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
            ++windows;
        }
    return sum / std::max(windows, 1);
}

void compare(const AVFrame& decoded, const AVFrame& reference, Picture& picture)
{
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane == 0 ? reference.width : reference.width / 2;
        const int h = plane == 0 ? reference.height : reference.height / 2;
        double squares = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double d = decoded.data[plane][y * decoded.linesize[plane] + x] -
                                 reference.data[plane][y * reference.linesize[plane] + x];
                squares += d * d;
            }
        (plane == 0 ? picture.lumaSquares : picture.chromaSquares) += squares;
        (plane == 0 ? picture.lumaSamples : picture.chromaSamples) += w * h;
    }
    picture.ssimSum += planeSsim(decoded.data[0], decoded.linesize[0], reference.data[0], reference.linesize[0],
                                 reference.width, reference.height);
    ++picture.frames;
}

// Decodes the file's video and compares each frame with the reference of the same index.
Picture pictureOf(const fs::path& file, const std::vector<FramePtr>& reference)
{
    Picture picture;
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, file.c_str(), nullptr, nullptr) < 0 || avformat_find_stream_info(input, nullptr) < 0)
        std::abort();
    const int stream = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec* codec = avcodec_find_decoder(input->streams[stream]->codecpar->codec_id);
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, input->streams[stream]->codecpar);
    decoder->thread_count = 0;
    if (avcodec_open2(decoder, codec, nullptr) < 0)
        std::abort();
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::size_t index = 0;
    const auto receive = [&] {
        while (avcodec_receive_frame(decoder, frame) == 0) {
            if (index < reference.size())
                compare(*frame, *reference[index], picture);
            ++index;
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(input, packet) >= 0) {
        if (packet->stream_index == stream)
            avcodec_send_packet(decoder, packet);
        av_packet_unref(packet);
        receive();
    }
    avcodec_send_packet(decoder, nullptr);
    receive();
    if (index != reference.size())
        std::printf("   %s: %zu frames decoded, %zu drawn\n", file.filename().c_str(), index, reference.size());
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&input);
    return picture;
}

// A second job that wants every core: one busy thread a core, in a process of its own.
[[noreturn]] void busyLoad(int count)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    std::vector<std::jthread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([] {
            volatile double sink = 1.0;
            for (;;)
                for (int k = 0; k < 1000000; ++k)
                    sink = std::sqrt(sink * 1.0000001 + 1.0);
        });
    for (;;)
        pause();
}

pid_t startLoad(const std::string& self, int threads)
{
    std::string program = self;
    std::string flag = "--load";
    std::string count = std::to_string(threads);
    char* argv[] = {program.data(), flag.data(), count.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) {
        std::printf("cannot start the load\n");
        std::exit(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // its threads up and running
    return pid;
}

void stopLoad(pid_t pid)
{
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
}

struct Prepared {
    FotivelaProject project;
    VideoEncoderSettings settings;
};

// The lossless rendering, which is also what the encoder alone is fed; the
// frames do not depend on the codec.
std::vector<FramePtr> drawFrames(const FotivelaProject& project, int slides)
{
    std::vector<FramePtr> frames;
    const VideoExporter exporter(project, "/nonexistent/limit.mp4", {});
    const RenderSize size = VideoExporter::renderSize(project);
    std::map<std::size_t, QImage> images;
    for (std::size_t i = 0; i < project.slides.size(); ++i)
        images.emplace(i, exporter.loadImage(i, VideoExporter::exportImageMaxPixelSize(size, ExportQuality::high)));
    const auto frameCount = static_cast<std::int64_t>(std::ceil(slides * slideSeconds * fps));
    Bt709FrameConverter converter(size.codedWidth(), size.codedHeight());
    FrameCanvas canvas;
    double drawing = 0, converting = 0;
    for (std::int64_t i = 0; i < frameCount; ++i) {
        const double t = static_cast<double>(i) / fps;
        const auto slide = std::min(static_cast<std::size_t>(t / slideSeconds), project.slides.size() - 1);
        double start = threadCpuSeconds();
        exporter.drawFrame(canvas, size, slide, t - static_cast<double>(slide) * slideSeconds, images);
        drawing += threadCpuSeconds() - start;
        start = threadCpuSeconds();
        const FramePtr converted = converter.convert(canvas.frame);
        converting += threadCpuSeconds() - start;
        frames.push_back(exactYuv(canvas.frame, size.codedWidth(), size.codedHeight()));
    }
    std::printf("CPU a frame on one thread, the same frames as the export draws: drawing %.2f ms, conversion "
                    "%.2f ms\n",
                    drawing * 1000 / static_cast<double>(frameCount), converting * 1000 / static_cast<double>(frameCount));
    return frames;
}

Prepared prepare(const fs::path& folder, ExportCodec codec, int slides)
{
    Prepared prepared;
    prepared.project = limitProject(folder, codec, slides);
    const VideoExporter exporter(prepared.project, "/nonexistent/limit.mp4", {});
    prepared.settings = exporter.videoSettings(VideoExporter::renderSize(prepared.project), prepared.project.exportSettings);
    prepared.settings.fastStart = false; // the song mux writes the index in front
    return prepared;
}

// Wall and CPU seconds of one run.
struct Run {
    double wall = 0.0;
    double cpu = 0.0;
};

template <typename Work>
Run timed(Work work)
{
    const auto start = std::chrono::steady_clock::now();
    const double cpu = processCpuSeconds();
    work();
    return {secondsSince(start), processCpuSeconds() - cpu};
}

void encodeAlone(const Prepared& prepared, const std::vector<FramePtr>& frames, const fs::path& output)
{
    VideoEncoder encoder(output, prepared.settings);
    for (std::size_t i = 0; i < frames.size(); ++i)
        encoder.append(frames[i].get(), static_cast<std::int64_t>(i));
    encoder.finish();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::string(argv[1]) == "--load")
        busyLoad(std::max(std::atoi(argv[2]), 1));
    // Each line as it is printed, also into a pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int slides = argc > 2 ? std::clamp(std::atoi(argv[2]), 2, 60) : 4;
    const int busyThreads =
        argc > 3 ? std::max(std::atoi(argv[3]), 1) : std::max(static_cast<int>(std::thread::hardware_concurrency()) / 2, 1);
    const char* kept = std::getenv("FOTIVELA_BENCH_FOLDER");
    const fs::path folder = kept != nullptr ? fs::path(kept) : bench::storageRoot("export-limit");
    fs::create_directories(folder);
    const std::string self = fs::canonical("/proc/self/exe").string();

    std::printf("preparing 2 landscape and 2 portrait photos of 12 megapixels and a song...\n");
    std::fflush(stdout);
    for (int i = 0; i < 4; ++i)
        if (!fs::exists(photoFile(folder, i)))
            bench::writeDetailedPhoto(photoFile(folder, i), i % 2 == 0 ? 4000 : 3000, i % 2 == 0 ? 3000 : 4000, 40 + i);
    if (!fs::exists(folder / "limit-song.wav"))
        test::writeAudioFile(folder / "limit-song.wav", test::makeSine(220, 60 * slideSeconds + 2),
                             test::TestAudioFormat::wav16);

    std::vector<Prepared> prepared;
    for (const ExportCodec codec : {ExportCodec::h264, ExportCodec::h265})
        prepared.push_back(prepare(folder, codec, slides));
    const std::vector<FramePtr> frames = drawFrames(prepared.front().project, slides);
    std::printf("\n== whole export against the encoder alone fed the same frames: 1080p30, %zu frames, %d slides of "
                "%.0f s with Ken Burns, dissolves and titles, the song added; %d rounds, %u cores\n",
                frames.size(), slides, slideSeconds, rounds, std::thread::hardware_concurrency());
    std::printf("| load | codec, preset | whole s | alone s | whole / alone, wall (median of pairs) | pairs | "
                "whole / alone, CPU | whole cores | alone cores |\n|---|---|---|---|---|---|---|---|---|\n");
    std::fflush(stdout);
    for (const bool loaded : {false, true}) {
        const std::string before = loadAverage();
        const pid_t load = loaded ? startLoad(self, busyThreads) : 0;
        std::vector<std::vector<Run>> whole(2), alone(2);
        std::vector<std::vector<double>> ratios(2), cpuRatios(2);
        for (int round = 0; round < rounds; ++round)
            for (std::size_t c = 0; c < prepared.size(); ++c) {
                const fs::path aloneFile = folder / ("alone-" + std::to_string(c) + ".mp4");
                const fs::path wholeFile = folder / ("whole-" + std::to_string(c) + ".mp4");
                alone[c].push_back(timed([&] { encodeAlone(prepared[c], frames, aloneFile); }));
                whole[c].push_back(timed([&] { VideoExporter(prepared[c].project, wholeFile, {}).exportProject(); }));
                ratios[c].push_back(whole[c].back().wall / alone[c].back().wall);
                cpuRatios[c].push_back(whole[c].back().cpu / alone[c].back().cpu);
            }
        if (loaded)
            stopLoad(load);
        for (std::size_t c = 0; c < prepared.size(); ++c) {
            std::string pairs;
            for (const double ratio : ratios[c])
                pairs += (pairs.empty() ? "" : " ") + std::to_string(ratio).substr(0, 5);
            const auto med = [](const std::vector<Run>& runs, double (*field)(const Run&)) {
                std::vector<double> values;
                for (const Run& run : runs)
                    values.push_back(field(run));
                return median(values);
            };
            const auto wall = [](const Run& run) { return run.wall; };
            const auto cores = [](const Run& run) { return run.cpu / run.wall; };
            std::printf("| %s | %s %s | %.2f | %.2f | %.3f | %s | %.3f | %.1f | %.1f |\n",
                        loaded ? ("busy job of " + std::to_string(busyThreads) + " threads beside").c_str() : "as it is",
                        codecName(prepared[c].settings.codec),
                        prepared[c].settings.preset.c_str(), med(whole[c], wall), med(alone[c], wall),
                        median(ratios[c]), pairs.c_str(), median(cpuRatios[c]), med(whole[c], cores),
                        med(alone[c], cores));
        }
        std::printf("   load average before: %s; after: %s\n", before.c_str(), loadAverage().c_str());
        std::fflush(stdout);
    }

    std::printf("\n== picture against the lossless rendering (the frames drawn, BT.709 in floating point)\n"
                "| codec | file | PSNR Y dB | PSNR Cb Cr dB | SSIM Y |\n|---|---|---|---|---|\n");
    for (std::size_t c = 0; c < prepared.size(); ++c)
        for (const char* side : {"whole", "alone"}) {
            const Picture picture = pictureOf(folder / (std::string(side) + "-" + std::to_string(c) + ".mp4"),
                                              frames);
            std::printf("| %s | %s | %.3f | %.3f | %.5f |\n", codecName(prepared[c].settings.codec), side,
                        picture.lumaPsnr(), picture.chromaPsnr(), picture.ssim());
        }

    if (kept == nullptr) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    return 0;
}
