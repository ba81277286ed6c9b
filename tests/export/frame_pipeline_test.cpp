// Frames drawn on several workers reach the encoder in order, with failures
// and cancellation passed on; a threaded export gives the same pictures as
// one drawn on a single worker.

#include "export/frame_pipeline.h"
#include "export/mp4_probe.h"
#include "export/video_exporter.h"

#include "prefs/temporary_folder.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <atomic>
#include <chrono>
#include <thread>

namespace fotivela {
namespace {

namespace fs = std::filesystem;
using testing::StorageRoot;

// A tiny grey frame whose first sample names the frame it was drawn for.
FramePtr labelledFrame(int label)
{
    FramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_GRAY8;
    frame->width = 2;
    frame->height = 2;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        throw std::bad_alloc();
    frame->data[0][0] = static_cast<std::uint8_t>(label);
    return frame;
}

FramePipeline::Planner plansUpTo(int count, int& planned, int repeatEvery = 0)
{
    return [count, &planned, repeatEvery]() -> std::optional<FramePlan> {
        if (planned == count)
            return std::nullopt;
        FramePlan plan;
        plan.localTime = planned;
        plan.repeatsPrevious = repeatEvery > 0 && planned % repeatEvery == repeatEvery - 1;
        ++planned;
        return plan;
    };
}

TEST(FramePipeline, HandsOutFramesInOrderWhateverOrderTheWorkersFinishIn)
{
    constexpr int count = 60;
    int planned = 0;
    // Every third frame is slow, so later frames finish first on the other workers.
    FramePipeline pipeline(4, 8, 16, 16, plansUpTo(count, planned, 5), [](const FramePlan& plan, Bt709FrameConverter&, FrameCanvas&) {
        const int index = static_cast<int>(plan.localTime);
        if (index % 3 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(6));
        return labelledFrame(index);
    });
    int expected = 0;
    for (int i = 0; i < count; ++i) {
        // A repeated frame is the picture before it, handed out again.
        if (i % 5 != 4)
            expected = i;
        EXPECT_EQ(pipeline.next({})->data[0][0], expected) << "frame " << i;
    }
}

TEST(FramePipeline, PassesOnTheFirstFailureAndHearsACancelWhileItWaits)
{
    int planned = 0;
    FramePipeline failing(3, 6, 16, 16, plansUpTo(30, planned), [](const FramePlan& plan, Bt709FrameConverter&, FrameCanvas&) {
        if (plan.localTime == 7)
            throw VideoExporterError::cannotLoadImage("/fotos/rota.jpg");
        return labelledFrame(static_cast<int>(plan.localTime));
    });
    try {
        for (int i = 0; i < 30; ++i)
            failing.next({});
        ADD_FAILURE() << "the failure was lost";
    } catch (const VideoExporterError& error) {
        EXPECT_STREQ(error.what(), "No se pudo cargar la imagen rota.jpg.");
    }

    int plannedSlowly = 0;
    std::stop_source stop;
    const auto started = std::chrono::steady_clock::now();
    {
        FramePipeline slow(2, 4, 16, 16, plansUpTo(1000, plannedSlowly), [](const FramePlan& plan, Bt709FrameConverter&, FrameCanvas&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            return labelledFrame(static_cast<int>(plan.localTime));
        });
        std::jthread cancel([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            stop.request_stop();
        });
        EXPECT_THROW(
            for (;;) slow.next(stop.get_token()), ExportCancelledError);
    }
    // Ended and joined soon after the cancel (room for sanitizers on a loaded machine);
    // a pipeline deaf to it would plan and draw for many seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1500));
    EXPECT_LT(plannedSlowly, 20) << "planning ran far ahead of the encoder";
}

TEST(FramePipeline, KeepsItsCanvasesAndFramesWithinTheByteBudget)
{
    constexpr std::size_t budget = std::size_t{128} << 20;
    // 1080p keeps every worker and its frames ahead.
    const FramePipelineDepth hd = FramePipeline::depthWithin(4, 1920, 1080, budget);
    EXPECT_EQ(hd.workers, 4);
    EXPECT_EQ(hd.ahead, 8u);
    // 4K gives up workers and frames to stay within the budget, and still keeps every worker busy.
    for (int wanted = 1; wanted <= 8; ++wanted) {
        const FramePipelineDepth uhd = FramePipeline::depthWithin(wanted, 3840, 2160, budget);
        const std::size_t pixels = std::size_t{3840} * 2160;
        EXPECT_LE(static_cast<std::size_t>(uhd.workers) * pixels * 4 + uhd.ahead * pixels * 3 / 2, budget) << wanted;
        EXPECT_GE(uhd.workers, 1);
        EXPECT_LE(uhd.workers, wanted);
        EXPECT_GT(uhd.ahead, static_cast<std::size_t>(uhd.workers)) << wanted;
    }

    // A running pipeline never plans more than its depth past the encoder.
    constexpr std::size_t ahead = 3;
    std::atomic<int> handedOut = 0;
    int planned = 0;
    int mostAhead = 0;
    {
        FramePipeline pipeline(
            2, ahead, 16, 16,
            [&]() -> std::optional<FramePlan> {
                if (planned == 40)
                    return std::nullopt;
                // Counted as asked for, so that it is never behind the pipeline's own count.
                mostAhead = std::max(mostAhead, planned + 1 - handedOut.load());
                FramePlan plan;
                plan.localTime = planned++;
                return plan;
            },
            [](const FramePlan& plan, Bt709FrameConverter&, FrameCanvas&) { return labelledFrame(static_cast<int>(plan.localTime)); });
        for (int i = 0; i < 40; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++handedOut;
            pipeline.next({});
        }
    } // joined
    EXPECT_LE(mostAhead, static_cast<int>(ahead));
}

// Photos with gradients and edges, so that any moved or misdrawn pixel shows.
fs::path texturedPhoto(const fs::path& folder, const std::string& name, int hue)
{
    QImage image(320, 240, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 320, 240);
    gradient.setColorAt(0, QColor::fromHsv(hue, 200, 240));
    gradient.setColorAt(1, QColor::fromHsv((hue + 150) % 360, 220, 60));
    painter.fillRect(image.rect(), gradient);
    painter.setPen(Qt::white);
    for (int x = 0; x < 320; x += 16)
        painter.drawLine(x, 0, 320 - x, 240);
    painter.end();
    const fs::path file = folder / (name + ".png");
    test::writeImage(file, image, "PNG");
    return file;
}

// The frames do not depend on the codec; H.264 is the quicker of the two to run.
TEST(ThreadedExport, GivesTheSameFramesAsOneWorkerInTheSameOrder)
{
    StorageRoot root;
    FotivelaProject project = FotivelaProject::empty();
    project.fps = 10;
    project.format = ProjectFormat::square;
    project.exportSettings.quality = ExportQuality::quick;
    project.exportSettings.codec = ExportCodec::h264;
    project.exportSettings.bitrateMbps = 2;
    project.exportSettings.includeAudio = false;
    const auto slide = [&](const std::string& name, int hue, double duration, SlideTransition transition, bool kenBurns) {
        Slide s;
        s.id = Uuid::random();
        s.imageURL = texturedPhoto(root.path(), name, hue);
        s.duration = duration;
        s.transition = transition;
        s.kenBurnsEnabled = kenBurns;
        return s;
    };
    project.slides = {slide("a", 0, 0.8, SlideTransition::cut, true), slide("b", 120, 0.8, SlideTransition::dissolve, true),
                      slide("c", 240, 0.4, SlideTransition::cut, false), slide("d", 60, 0.4, SlideTransition::fade, false)};
    project.slides[2].title = "Hola";

    const auto exportWith = [&](int workers, const char* name) {
        VideoExporter exporter(project, root.path() / name, {});
        exporter.setFrameWorkers(workers);
        ::testing::internal::CaptureStderr();
        exporter.exportProject();
        const std::string printed = ::testing::internal::GetCapturedStderr();
        // The encoders' statistics stay off the terminal; only our own lines are printed.
        EXPECT_EQ(printed.find("[info]"), std::string::npos) << printed;
        EXPECT_EQ(printed.find("encoded"), std::string::npos) << printed;
        return test::frameLumas(root.path() / name);
    };
    const auto single = exportWith(1, "single.mp4");
    const auto threaded = exportWith(4, "threaded.mp4");
    ASSERT_EQ(single.size(), 24u);
    ASSERT_EQ(threaded.size(), single.size());
    // The encoder's rate ceiling spends its bits a little differently from
    // one run to the next, so the same frame decodes nearly, not exactly, the
    // same. Ken Burns moves every frame of the first slides: each frame is far
    // closer to its own counterpart than to its neighbours, so a swap shows.
    for (std::size_t i = 0; i < single.size(); ++i) {
        const double own = test::meanLumaDifference(threaded[i], single[i]);
        EXPECT_LT(own, 3.0) << "frame " << i;
        if (i > 0 && i < 16) {
            EXPECT_LT(own * 2, test::meanLumaDifference(threaded[i], single[i - 1])) << "frame " << i;
            EXPECT_LT(own * 2, test::meanLumaDifference(threaded[i - 1], single[i])) << "frame " << i;
        }
    }
    EXPECT_TRUE(test::indexAtFront(root.path() / "threaded.mp4"));
}

} // namespace
} // namespace fotivela

namespace fotivela {
namespace {

TEST(Bt709FrameConverter, ReusesOnlyPicturesNobodyHoldsAnyMore)
{
    Bt709FrameConverter converter(32, 16);
    QImage red(32, 16, QImage::Format_RGB32);
    red.fill(Qt::red);
    QImage blue(32, 16, QImage::Format_RGB32);
    blue.fill(Qt::blue);

    FramePtr first = converter.convert(red);
    const std::uint8_t redLuma = first->data[0][0];
    FramePtr second = converter.convert(blue);
    // The encoder may still hold the first picture: it keeps its pixels.
    EXPECT_NE(second->data[0], first->data[0]);
    EXPECT_EQ(first->data[0][0], redLuma);
    EXPECT_NE(second->data[0][0], redLuma);

    const std::uint8_t* released = first->data[0];
    first.reset();
    FramePtr third = converter.convert(red);
    EXPECT_EQ(third->data[0], released) << "a picture nobody holds is written again";
    EXPECT_EQ(third->data[0][0], redLuma);
    EXPECT_EQ(third->colorspace, AVCOL_SPC_BT709);
    EXPECT_EQ(third->color_range, AVCOL_RANGE_MPEG);
}

} // namespace
} // namespace fotivela
