// The cloud contact sheet of a 60-photo slideshow (36 sampled cells) from 12-megapixel JPEGs, with
// no cached previews: decoding at reduced size dominates.
#include "account/ai_contact_sheet_builder.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <filesystem>

using namespace fotivela;

namespace {

std::vector<Slide> photoSlides(const std::filesystem::path& folder, int count)
{
    std::filesystem::create_directories(folder);
    std::vector<Slide> slides;
    for (int i = 0; i < count; ++i) {
        const auto file = folder / ("photo-" + std::to_string(i) + ".jpg");
        if (!std::filesystem::exists(file)) {
            QImage image(4000, 3000, QImage::Format_RGB32);
            image.fill(QColor::fromHsv((i * 37) % 360, 180, 220));
            QPainter painter(&image);
            painter.setPen(QPen(Qt::white, 40));
            painter.drawLine(0, 0, 4000, 3000);
            painter.end();
            image.save(QString::fromStdString(file.string()), "JPG", 90);
        }
        Slide slide;
        slide.id = Uuid::random();
        slide.imageURL = file;
        slide.name = "Foto " + std::to_string(i + 1);
        slides.push_back(slide);
    }
    return slides;
}

void BM_CloudContactSheet60Photos(benchmark::State& state)
{
    const auto folder = std::filesystem::temp_directory_path() / "fotivela-bench-contact-sheet";
    const auto slides = AIContactSheetBuilder::sampleSlidesForCloudContactSheet(photoSlides(folder / "photos", 60));
    for (auto _ : state) {
        AIContactSheetBuilder::makeContactSheet(
            slides, [](const Slide&) { return std::filesystem::path(); }, folder / "sheet.jpg", AIContactSheetStyle::cloud);
    }
}
BENCHMARK(BM_CloudContactSheet60Photos)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
