// One paint of the preview monitor at 1080p monitor size in the middle of a dissolve:
// the outgoing slide under the incoming one at half opacity, both with Ken Burns motion,
// 1800-pixel preview images (the size the store's previews have) and a title with its box.
#include "ui/preview/preview_geometry.h"
#include "ui/preview/preview_slide_painter.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>

using namespace fotivela;

namespace {

QImage photo(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgb((x * 255 / width + seed) & 255, (y * 255 / height) & 255, ((x ^ y) + seed * 7) & 255);
    }
    return image;
}

PreviewSlideScene scene(const QImage& image, std::int64_t order, double progress, QSizeF monitor)
{
    PreviewSlideScene scene;
    scene.slide.id = Uuid::random();
    scene.slide.order = order;
    scene.slide.kenBurnsEnabled = true;
    scene.slide.kenBurnsZoomAmount = 0.12;
    scene.slide.kenBurnsMovementAmount = 0.35;
    scene.slide.imageScale = 1.2;
    scene.slide.imageOffsetX = 0.05;
    scene.image = image;
    scene.background = QColor(0, 0, 0);
    scene.motion = PreviewGeometry::kenBurnsMotion(scene.slide, progress, monitor);
    return scene;
}

void BM_PreviewPaintDuringDissolve(benchmark::State& state)
{
    const QSizeF monitor(1920, 1080);
    QImage target(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    const QImage outgoingImage = photo(1800, 1200, 3);
    const QImage incomingImage = photo(1800, 1350, 90);
    PreviewSlideScene outgoing = scene(outgoingImage, 0, 0.98, monitor);
    PreviewSlideScene incoming = scene(incomingImage, 1, 0.02, monitor);
    incoming.slide.title = "Vacaciones de verano";
    incoming.slide.titleFontSize = 56;
    incoming.slide.titlePositionY = 0.8;

    for (auto _ : state) {
        QPainter painter(&target);
        painter.fillRect(QRectF(QPointF(0, 0), monitor), Qt::black);
        paintPreviewSlide(painter, outgoing, monitor, nullptr);
        painter.setOpacity(0.5);
        paintPreviewSlide(painter, incoming, monitor, nullptr);
        painter.end();
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_PreviewPaintDuringDissolve)->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
