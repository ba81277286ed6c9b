// The whole export against the same slideshow made by the ffmpeg command line
// (zoompan for Ken Burns, xfade for the dissolves, the same encoder and
// preset, AAC with the fade), each side in its own process, in pairs in the
// same run: wall time, frames per second, CPU cores used and peak memory.
// Then the whole export against our encoder alone fed the same frames (the
// limit), at 1080p and 4K, and the peak memory of a 4K export of 120 photos.
//
// bench_export [pairs] [photos] [parts]
//   pairs of the side-by-side runs (default 3), photos in their slideshow
//   (default 30), and which parts run: s side by side, l the limit, m the
//   memory of 120 photos at 4K (default slm).
// Needs /usr/bin/ffmpeg and /usr/bin/time (Debian packages ffmpeg and time).
// FOTIVELA_BENCH_FOLDER=<folder> makes the photos there once and keeps them.

#include "bench_photos.h"
#include "bench_storage_root.h"
#include "export/video_encoder.h"
#include "export/video_exporter.h"
#include "support/test_audio.h"

#include <QGuiApplication>

#include <sys/resource.h>
#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

using namespace fotivela;
namespace fs = std::filesystem;

namespace {

constexpr int distinctPhotos = 30;
constexpr int fps = 30;
constexpr double dissolve = 0.6;

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

fs::path photoFile(const fs::path& folder, int index)
{
    return folder / ("photo" + std::to_string(index % distinctPhotos) + ".jpg");
}

const char* codecName(ExportCodec codec)
{
    return codec == ExportCodec::h264 ? "H.264" : "HEVC";
}

FotivelaProject benchProject(const fs::path& folder, ExportCodec codec, ExportQuality quality, int slides,
                             double slideSeconds)
{
    FotivelaProject project = FotivelaProject::empty();
    project.name = "Benchmark";
    project.fps = fps;
    project.format = ProjectFormat::youtube;
    project.exportSettings.quality = quality;
    project.exportSettings.codec = codec;
    project.exportSettings.bitrateMbps = quality == ExportQuality::high ? 12 : defaultBitrateMbps(quality);
    for (int i = 0; i < slides; ++i) {
        Slide slide;
        slide.id = Uuid::random();
        slide.imageURL = photoFile(folder, i);
        slide.duration = slideSeconds;
        slide.transition = SlideTransition::dissolve;
        slide.kenBurnsEnabled = true; // every frame differs: the worst case
        if (i % 3 == 0)
            slide.title = "Verano " + std::to_string(2000 + i);
        project.slides.push_back(slide);
    }
    AudioTrack song;
    song.url = folder / "song.wav";
    song.cutToSlideshowDuration = true;
    song.cutFadeOutDuration = 1.0;
    project.audio = song;
    return project;
}

struct Run {
    double wall = 0.0;
    double cpu = 0.0;
    double peakMegabytes = 0.0;
};

// Runs a program under /usr/bin/time, whose own small process is the program's
// parent: a child spawned from this process would count this process's memory
// in its peak, since Linux keeps the peak across exec.
Run runChild(std::vector<std::string> arguments)
{
    const fs::path peakFile = fs::temp_directory_path() / ("fotivela-bench-peak-" + std::to_string(getpid()));
    arguments.insert(arguments.begin(), {"/usr/bin/time", "-f", "%M", "-o", peakFile.string()});
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        std::printf("cannot start %s\n", argv[0]);
        std::exit(1);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Run run;
    run.wall = secondsSince(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::printf("%s failed (status %d)\n", argv[0], status);
        std::exit(1);
    }
    run.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    std::FILE* peak = std::fopen(peakFile.c_str(), "r");
    long kilobytes = 0;
    if (peak == nullptr || std::fscanf(peak, "%ld", &kilobytes) != 1) {
        std::printf("no peak memory from /usr/bin/time\n");
        std::exit(1);
    }
    std::fclose(peak);
    fs::remove(peakFile);
    run.peakMegabytes = static_cast<double>(kilobytes) / 1024.0;
    return run;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The same slideshow through the ffmpeg command line: each photo fitted into
// the frame, zoomed and panned over its slide plus the dissolve into the next,
// chained with xfade, converted with the BT.709 matrix, the song faded out.
std::vector<std::string> ffmpegCommand(const fs::path& folder, ExportCodec codec, int slides, double slideSeconds,
                                       const fs::path& output)
{
    const std::string preset = encoderPreset(codec, ExportQuality::high);
    std::vector<std::string> command = {"/usr/bin/ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"};
    for (int i = 0; i < slides; ++i) {
        command.insert(command.end(), {"-i", photoFile(folder, i).string()});
    }
    command.insert(command.end(), {"-i", (folder / "song.wav").string()});
    std::string graph;
    for (int i = 0; i < slides; ++i) {
        const double seconds = slideSeconds + (i + 1 < slides ? dissolve : 0.0);
        const int frames = static_cast<int>(std::lround(seconds * fps));
        const char* sign = i % 2 == 0 ? "+" : "-";
        graph += "[" + std::to_string(i) + ":v]scale=1920:1080:force_original_aspect_ratio=decrease," +
                 "pad=1920:1080:(ow-iw)/2:(oh-ih)/2,setsar=1," + "zoompan=z='1+0.12*on/" + std::to_string(frames) +
                 "':x='iw/2-iw/zoom/2" + sign + "0.035*0.35*iw*(2*on/" + std::to_string(frames) + "-1)'" +
                 ":y='ih/2-ih/zoom/2" + sign + "0.026*0.35*ih*(2*on/" + std::to_string(frames) + "-1)'" +
                 ":d=" + std::to_string(frames) + ":s=1920x1080:fps=" + std::to_string(fps) + "[v" + std::to_string(i) +
                 "];";
    }
    std::string last = "v0";
    for (int i = 1; i < slides; ++i) {
        const std::string next = "x" + std::to_string(i);
        graph += "[" + last + "][v" + std::to_string(i) + "]xfade=transition=fade:duration=" + std::to_string(dissolve) +
                 ":offset=" + std::to_string(slideSeconds * i) + "[" + next + "];";
        last = next;
    }
    graph += "[" + last + "]scale=out_color_matrix=bt709:out_range=tv,format=yuv420p[out]";
    const double total = slideSeconds * slides;
    command.insert(command.end(),
                   {"-filter_complex", graph, "-map", "[out]", "-map", std::to_string(slides) + ":a", "-t",
                    std::to_string(total), "-af", "afade=t=out:st=" + std::to_string(total - 1.0) + ":d=1", "-c:a", "aac",
                    "-b:a", "192k", "-ar", "44100", "-ac", "2", "-c:v", codec == ExportCodec::h264 ? "libx264" : "libx265",
                    "-preset", preset, "-b:v", "12M", "-g", std::to_string(2 * fps), "-color_primaries", "bt709",
                    "-color_trc", "bt709", "-colorspace", "bt709", "-movflags", "+faststart"});
    if (codec == ExportCodec::h264)
        command.insert(command.end(), {"-profile:v", "high"});
    else
        command.insert(command.end(), {"-profile:v", "main", "-tag:v", "hvc1", "-x265-params", "log-level=error"});
    command.push_back(output.string());
    return command;
}

void sideBySide(const std::string& self, const fs::path& folder, int pairs, int slides)
{
    constexpr double slideSeconds = 2.0;
    const double frames = slides * slideSeconds * fps;
    std::printf("\n== side by side: %d photos 4000x3000, %.0f s slides, Ken Burns, %.1f s dissolves, 1080p30 12 Mb/s, "
                "AAC with fade; %d pairs\n",
                slides, slideSeconds, dissolve, pairs);
    std::printf("| codec, preset | ours s | ffmpeg s | ours / ffmpeg | ours fps | ffmpeg fps | ours cores | ffmpeg cores | "
                "ours peak MB | ffmpeg peak MB |\n|---|---|---|---|---|---|---|---|---|---|\n");
    for (const ExportCodec codec : {ExportCodec::h264, ExportCodec::h265}) {
        std::vector<Run> ours, theirs;
        std::vector<double> ratios;
        for (int pair = 0; pair < pairs; ++pair) {
            ours.push_back(runChild({self, "--ours", folder.string(), codec == ExportCodec::h264 ? "h264" : "h265",
                                     "1080p", std::to_string(slides), std::to_string(slideSeconds)}));
            theirs.push_back(runChild(ffmpegCommand(folder, codec, slides, slideSeconds, folder / "ffmpeg.mp4")));
            ratios.push_back(ours.back().wall / theirs.back().wall);
            std::printf("   pair %d %s: ours %.1f s, ffmpeg %.1f s\n", pair + 1, codecName(codec), ours.back().wall,
                        theirs.back().wall);
            std::fflush(stdout);
        }
        const auto med = [](const std::vector<Run>& runs, auto field) {
            std::vector<double> values;
            for (const Run& run : runs)
                values.push_back(field(run));
            return median(values);
        };
        const auto wall = [](const Run& r) { return r.wall; };
        const auto cores = [](const Run& r) { return r.cpu / r.wall; };
        const auto peak = [](const Run& r) { return r.peakMegabytes; };
        std::printf("| %s %s | %.1f | %.1f | %.2f | %.1f | %.1f | %.1f | %.1f | %.0f | %.0f |\n", codecName(codec),
                    encoderPreset(codec, ExportQuality::high).c_str(), med(ours, wall), med(theirs, wall), median(ratios),
                    frames / med(ours, wall), frames / med(theirs, wall), med(ours, cores), med(theirs, cores),
                    med(ours, peak), med(theirs, peak));
        std::fflush(stdout);
    }
}

// The whole export against the encoder alone fed the same frames, drawn beforehand.
void againstTheEncoderAlone(const fs::path& folder, ExportQuality quality, int slides, double slideSeconds, int rounds)
{
    for (const ExportCodec codec : {ExportCodec::h264, ExportCodec::h265}) {
        const FotivelaProject project = benchProject(folder, codec, quality, slides, slideSeconds);
        const VideoExporter exporter(project, folder / "limit.mp4", {});
        const RenderSize size = VideoExporter::renderSize(project);
        std::map<std::size_t, QImage> images;
        for (std::size_t i = 0; i < project.slides.size(); ++i)
            images.emplace(i, exporter.loadImage(i, VideoExporter::exportImageMaxPixelSize(size, quality)));
        const auto frameCount = static_cast<std::int64_t>(std::ceil(slides * slideSeconds * fps));
        std::vector<FramePtr> frames;
        {
            Bt709FrameConverter converter(size.codedWidth(), size.codedHeight());
            for (std::int64_t i = 0; i < frameCount; ++i) {
                const double t = static_cast<double>(i) / fps;
                const auto slide = std::min(static_cast<std::size_t>(t / slideSeconds), project.slides.size() - 1);
                frames.push_back(converter.convert(
                    exporter.makePixelBuffer(size, slide, t - static_cast<double>(slide) * slideSeconds, images)));
            }
        }
        images.clear();
        VideoEncoderSettings settings = exporter.videoSettings(size, project.exportSettings);
        settings.fastStart = false;

        std::vector<double> alone, whole, aloneCores, wholeCores;
        for (int round = 0; round < rounds; ++round) {
            auto start = std::chrono::steady_clock::now();
            double cpu = cpuSeconds();
            {
                VideoEncoder encoder(folder / "alone.mp4", settings);
                for (std::int64_t i = 0; i < frameCount; ++i)
                    encoder.append(frames[static_cast<std::size_t>(i)].get(), i);
                encoder.finish();
            }
            alone.push_back(secondsSince(start));
            aloneCores.push_back((cpuSeconds() - cpu) / alone.back());
            start = std::chrono::steady_clock::now();
            cpu = cpuSeconds();
            VideoExporter(project, folder / "whole.mp4", {}).exportProject();
            whole.push_back(secondsSince(start));
            wholeCores.push_back((cpuSeconds() - cpu) / whole.back());
        }
        const double frameRate = static_cast<double>(frameCount);
        std::printf("| %s %dx%d %s | %lld | %.2f | %.2f | %.3f | %.1f | %.1f | %.1f | %.1f |\n", toStored(quality).data(),
                    size.codedWidth(), size.codedHeight(), (std::string(codecName(codec)) + " " + settings.preset).c_str(),
                    static_cast<long long>(frameCount), median(whole), median(alone), median(whole) / median(alone),
                    frameRate / median(whole), frameRate / median(alone), median(wholeCores), median(aloneCores));
        std::fflush(stdout);
    }
}

int exportInThisProcess(char** argv)
{
    const fs::path folder = argv[2];
    const ExportCodec codec = std::string(argv[3]) == "h264" ? ExportCodec::h264 : ExportCodec::h265;
    const ExportQuality quality = *fromStored<ExportQuality>(argv[4]);
    const FotivelaProject project = benchProject(folder, codec, quality, std::atoi(argv[5]), std::atof(argv[6]));
    VideoExporter exporter(project, folder / ("ours-" + std::to_string(getpid()) + ".mp4"), {});
    if (const char* workers = std::getenv("FOTIVELA_BENCH_WORKERS"))
        exporter.setFrameWorkers(std::atoi(workers));
    exporter.exportProject();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    if (argc >= 7 && std::string(argv[1]) == "--ours")
        return exportInThisProcess(argv);

    const int pairs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int photos = argc > 2 ? std::clamp(std::atoi(argv[2]), 2, distinctPhotos) : distinctPhotos;
    const std::string parts = argc > 3 ? argv[3] : "slm";
    // FOTIVELA_BENCH_FOLDER keeps the photos between runs (made once, never removed).
    const char* kept = std::getenv("FOTIVELA_BENCH_FOLDER");
    const fs::path folder = kept != nullptr ? fs::path(kept) : bench::storageRoot("export");
    if (kept != nullptr)
        fs::create_directories(folder);
    const std::string self = fs::canonical("/proc/self/exe").string();

    std::printf("preparing %d detailed photos of 4000x3000 and a song...\n", distinctPhotos);
    std::fflush(stdout);
    if (kept == nullptr || !fs::exists(photoFile(folder, distinctPhotos - 1))) {
        std::vector<std::jthread> writers;
        for (int w = 0; w < 4; ++w)
            writers.emplace_back([&, w] {
                for (int i = w; i < distinctPhotos; i += 4)
                    bench::writeDetailedPhoto(photoFile(folder, i), 4000, 3000, i);
            });
    }
    if (kept == nullptr || !fs::exists(folder / "song.wav"))
        test::writeAudioFile(folder / "song.wav", test::makeSine(220, 2 * 30 + 2), test::TestAudioFormat::wav16);

    if (parts.find('s') != std::string::npos)
        sideBySide(self, folder, pairs, photos);

    if (parts.find('l') != std::string::npos) {
        std::printf("\n== whole export against our encoder alone fed the same frames (medians of 3)\n"
                    "| frame, codec, preset | frames | whole s | encoder alone s | whole / alone | whole fps | alone fps | "
                    "whole cores | alone cores |\n|---|---|---|---|---|---|---|---|---|\n");
        againstTheEncoderAlone(folder, ExportQuality::high, 4, 2.0, 3);
        againstTheEncoderAlone(folder, ExportQuality::premium, 2, 2.0, 3);
    }

    if (parts.find('m') != std::string::npos) {
        // Short slides, so that 120 photos are decoded in a run of reasonable length.
        std::printf("\n== 4K, 120 photos (%d distinct files), 0.1 s slides\n", distinctPhotos);
        for (const ExportCodec codec : {ExportCodec::h264, ExportCodec::h265}) {
            const Run big = runChild({self, "--ours", folder.string(), codec == ExportCodec::h264 ? "h264" : "h265",
                                      "4K", "120", "0.1"});
            std::printf("| 4K %s %s, 360 frames | %.1f s | %.1f fps | %.1f cores | peak %.0f MB |\n",
                        codecName(codec), encoderPreset(codec, ExportQuality::premium).c_str(), big.wall,
                        360 / big.wall, big.cpu / big.wall, big.peakMegabytes);
            std::fflush(stdout);
        }
    }

    std::error_code ignored;
    if (kept == nullptr)
        fs::remove_all(folder, ignored);
    return 0;
}
