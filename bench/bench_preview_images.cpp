// Preview JPEGs of imported photos.
//   generate: 60 photos of 12 megapixels (4000 x 3000 JPEG) to 1800-pixel previews, one thread,
//             as the background task does it
//   peer: the same photo decoded whole and then scaled, the path the reduced-size decode avoids
#include "model/preview_image_cache.h"
#include "platform/photo_decoder.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <filesystem>
#include <random>

using namespace fotivela;
namespace fs = std::filesystem;

namespace {

constexpr int photoCount = 60;

fs::path benchRoot()
{
    static const fs::path root = [] {
        std::random_device random;
        const fs::path path = fs::temp_directory_path() / ("fotivela-bench-previews-" + std::to_string(random()));
        fs::create_directories(path / "fotos");
        return path;
    }();
    return root;
}

// A photo-like picture: smooth gradients with fine noise, so the JPEG is as large as a camera's.
const fs::path& photo()
{
    static const fs::path file = [] {
        QImage image(4000, 3000, QImage::Format_RGB32);
        std::mt19937 random(3);
        std::uniform_int_distribution<int> noise(-12, 12);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int r = std::clamp(x * 255 / 4000 + noise(random), 0, 255);
                const int g = std::clamp(y * 255 / 3000 + noise(random), 0, 255);
                const int b = std::clamp(128 + noise(random), 0, 255);
                line[x] = qRgb(r, g, b);
            }
        }
        const fs::path path = benchRoot() / "fotos/photo.jpg";
        image.save(QString::fromStdString(path.string()), "JPG", 92);
        return path;
    }();
    return file;
}

std::vector<Slide> slides()
{
    std::vector<Slide> list;
    for (int i = 0; i < photoCount; ++i) {
        const fs::path copy = benchRoot() / "fotos" / ("photo-" + std::to_string(i) + ".jpg");
        if (!fs::exists(copy))
            fs::copy_file(photo(), copy);
        Slide slide;
        slide.id = Uuid::random();
        slide.imageURL = copy;
        list.push_back(slide);
    }
    return list;
}

void BM_GeneratePreviews60Photos12MP(benchmark::State& state)
{
    const std::vector<Slide> list = slides();
    const fs::path project = benchRoot() / "Bench/Bench.fotivela";
    for (auto _ : state) {
        fs::remove_all(project.parent_path() / "Previews");
        PreviewImageCache::generate(list, project);
    }
    state.counters["s_per_photo"] = benchmark::Counter(
        photoCount, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_GeneratePreviews60Photos12MP)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

void BM_ReducedSizeDecodeOnePhoto(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(PhotoDecoder::decode(photo(), PreviewImageCache::maximumPixelSize));
}
BENCHMARK(BM_ReducedSizeDecodeOnePhoto)->Unit(benchmark::kMillisecond);

void BM_PeerFullDecodeThenScaleOnePhoto(benchmark::State& state)
{
    for (auto _ : state) {
        const QImage full(QString::fromStdString(photo().string()));
        benchmark::DoNotOptimize(full.scaled(1800, 1350, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
}
BENCHMARK(BM_PeerFullDecodeThenScaleOnePhoto)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(benchRoot());
    return 0;
}
