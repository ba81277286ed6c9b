// One paint of the whole timeline panel into an image, offscreen: 500 slides, 5,000 markers and
// the waveform of a four-minute song, at several zoom levels, scrolled to the middle.
#include "store/project_store.h"
#include "ui/common/store_signals.h"
#include "ui/timeline/timeline_panel.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include "ui/timeline/music_beat_lane.h"
#include "ui/timeline/photo_timeline_lane.h"
#include "ui/timeline/timeline_ruler.h"
#include <QImage>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;
using namespace fotivela;

namespace {

fs::path benchRoot()
{
    static const fs::path root = fs::temp_directory_path() / ("fotivela-bench-timeline-" + std::to_string(::getpid()));
    return root;
}

void fill(ProjectStore& store)
{
    constexpr double songLength = 240;
    std::vector<BeatMarker> markers;
    for (int i = 0; i < 5000; ++i) {
        BeatMarker marker;
        marker.id = Uuid::random();
        marker.time = 0.04 + i * (songLength - 0.1) / 5000;
        marker.isManual = true;
        marker.isEnabled = i % 7 != 0;
        markers.push_back(marker);
    }
    store.modifyProject([&](FotivelaProject& project) {
        AudioTrack track;
        track.url = "/musica/cancion.mp3";
        track.name = "cancion";
        track.syncMode = SyncMode::manual;
        track.beatMarkers = markers;
        project.audio = track;
        for (int i = 0; i < 500; ++i) {
            Slide slide;
            slide.id = Uuid::random();
            slide.name = "foto-" + std::to_string(i) + ".jpg";
            slide.imageURL = "/fotos/" + slide.name;
            slide.duration = 0.48;
            slide.order = i;
            project.slides.push_back(slide);
        }
    });
    store.setAudioBeatMarkers(markers);
    store.setAudioDuration(songLength);
    store.recalculateTotalDuration();
    std::vector<double> waveform(12000);
    for (std::size_t i = 0; i < waveform.size(); ++i)
        waveform[i] = std::abs(std::sin(i * 0.031) * std::sin(i * 0.0047));
    store.setAudioWaveform(std::move(waveform));
    store.selectBeatMarker(markers[2500].id);
}

void BM_PaintTimeline(benchmark::State& state)
{
    ProjectStore store;
    StoreSignals storeSignals(store);
    fill(store);
    store.setTimelineZoom(static_cast<double>(state.range(0)) / 100);
    TimelinePanel panel(store, storeSignals);
    panel.resize(1400, 330);
    panel.show();
    QApplication::processEvents();
    QScrollBar* scroll = panel.scrollArea()->horizontalScrollBar();
    scroll->setValue(scroll->maximum() / 2);
    QApplication::processEvents();
    QImage image(panel.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        image.fill(Qt::black);
        panel.render(&image);
        benchmark::DoNotOptimize(image.bits());
    }
    state.counters["contentWidth"] = panel.contentWidth();
    if (std::getenv("FOTIVELA_BENCH_PARTS")) {
        const QRect visible(scroll->value(), 0, panel.scrollArea()->viewport()->width(), 400);
        for (QWidget* part : {static_cast<QWidget*>(panel.ruler()), static_cast<QWidget*>(panel.musicLane()),
                              static_cast<QWidget*>(panel.photoLane())}) {
            QImage partImage(visible.size(), QImage::Format_ARGB32_Premultiplied);
            // Processor time of this thread: the machine may be busy with other work.
            const auto cpu = [] {
                timespec now{};
                clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
                return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
            };
            const double start = cpu();
            for (int i = 0; i < 10; ++i)
                part->render(&partImage, QPoint(), QRegion(visible.intersected(part->rect())));
            const double whole = (cpu() - start) / 10;
            const double alone = cpu();
            for (int i = 0; i < 10; ++i)
                part->render(&partImage, QPoint(), QRegion(visible.intersected(part->rect())), QWidget::DrawWindowBackground);
            std::fprintf(stderr, "%s %.2f ms (%.2f ms without its children)\n", part->metaObject()->className(), whole,
                         (cpu() - alone) / 10);
        }
    }
}
BENCHMARK(BM_PaintTimeline)->Arg(5)->Arg(30)->Arg(100)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    fs::create_directories(benchRoot());
    setenv("DUSKMERE_TEST_ROOT", benchRoot().c_str(), 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(benchRoot());
    return 0;
}
