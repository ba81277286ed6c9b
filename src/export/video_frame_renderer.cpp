// The exporter's frames: sizes, timing, photos, drawing and the encode loop.

#include "export/frame_pipeline.h"
#include "export/frame_planner.h"
#include "export/title_overlay.h"
#include "export/video_encoder.h"
#include "export/video_exporter.h"

#include "model/lumo_image_framing_policy.h"
#include "model/lumo_project_background_color.h"
#include "platform/hex_color.h"
#include "platform/large_allocations.h"
#include "platform/photo_decoder.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <future>
#include <limits>
#include <optional>

namespace fotivela {

namespace {

constexpr int progressEveryFrames = 12;
constexpr double encodingProgressShare = 0.92;
// Frames are drawn at 72 dots per inch, so that a title's points are pixels.
constexpr int framesDotsPerMeter = 2835;

struct BaseSize {
    double width;
    double height;
};

BaseSize baseSize(ExportQuality quality)
{
    switch (quality) {
    case ExportQuality::quick:
        return {1280, 720};
    case ExportQuality::high:
        return {1920, 1080};
    case ExportQuality::premium:
        return {3840, 2160};
    }
    return {1920, 1080};
}

int truncatedPixels(double value)
{
    if (!(value > 0))
        return 0;
    return value >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(value);
}

// Durations or a frame rate no video can hold end the export with a clear
// error instead of an integer overflow.
FrameTiming frameTiming(const FotivelaProject& project, const std::vector<Slide>& slides)
{
    FrameTiming timing;
    if (project.fps > std::numeric_limits<int>::max())
        throw VideoExporterError::failedToFinish("La velocidad de fotogramas del proyecto no es valida.");
    timing.fps = static_cast<int>(std::max<std::int64_t>(project.fps, 1));
    for (const Slide& slide : slides)
        timing.total += slide.duration;
    const double frames = std::ceil(timing.total * timing.fps);
    if (!std::isfinite(timing.total) || frames > static_cast<double>(std::numeric_limits<int>::max()))
        throw VideoExporterError::failedToFinish("La duracion de las diapositivas no es valida.");
    timing.frameCount = frames < 1 ? 1 : static_cast<std::int64_t>(frames);
    return timing;
}

} // namespace

int RenderSize::pixelWidth() const
{
    return truncatedPixels(width);
}

int RenderSize::pixelHeight() const
{
    return truncatedPixels(height);
}

RenderSize VideoExporter::renderSize(const FotivelaProject& project)
{
    const BaseSize base = baseSize(project.exportSettings.quality);
    if (project.format == ProjectFormat::square)
        return {base.height, base.height};
    const double ratio = aspectRatio(project.format);
    if (ratio >= 1.0)
        return {base.width, base.width / ratio};
    return {base.height * ratio, base.height};
}

VideoEncoderSettings VideoExporter::videoSettings(RenderSize size, const ExportSettings& settings) const
{
    const int fps = frameTiming(m_project, m_slides).fps;
    VideoEncoderSettings result;
    result.codec = settings.codec;
    result.width = size.codedWidth();
    result.height = size.codedHeight();
    const double megabits = std::isnan(settings.bitrateMbps) ? 1.0 : std::clamp(settings.bitrateMbps, 1.0, 1000.0);
    result.averageBitRate = static_cast<std::int64_t>(megabits * 1'000'000);
    // From the project's own rate: a stored 0 gives a key frame on every frame.
    result.maxKeyFrameInterval =
        static_cast<int>(std::clamp<std::int64_t>(2 * std::min<std::int64_t>(m_project.fps, fps), 1, 1 << 20));
    result.framesPerSecond = fps;
    result.allowFrameReordering = true;
    result.preset = encoderPreset(settings.codec, settings.quality);
    // 4K: a frame the encoder holds is 12 MB of pictures plus its analysis.
    result.lowMemory = static_cast<std::int64_t>(result.width) * result.height > std::int64_t{2} * 1920 * 1080;
    return result;
}

int VideoExporter::exportImageMaxPixelSize(RenderSize size, ExportQuality quality)
{
    const double longest = std::ceil(std::max(size.width, size.height));
    const int l = longest >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                             : static_cast<int>(std::max(longest, 0.0));
    if (quality == ExportQuality::premium)
        return l <= 3840 ? 3840 : l;
    return std::max(l, 1);
}

std::vector<double> VideoExporter::cumulativeSlideStartTimes() const
{
    std::vector<double> starts;
    starts.reserve(m_slides.size());
    double start = 0.0;
    for (const Slide& slide : m_slides) {
        starts.push_back(start);
        start += slide.duration;
    }
    return starts;
}

QImage VideoExporter::loadImage(std::size_t slideIndex, int maxPixelSize) const
{
    const Slide& slide = m_slides.at(slideIndex);
    QImage image = PhotoDecoder::decode(slide.imageURL, std::max(maxPixelSize, 1));
    if (image.isNull() || image.width() < 1 || image.height() < 1)
        throw VideoExporterError::cannotLoadImage(slide.imageURL);
    // Premultiplied pixels are what QPainter draws fastest.
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
}

void VideoExporter::drawSlide(QImage& frame, RenderSize size, const Slide& slide, const QImage& image,
                              double kenBurnsProgress) const
{
    const QColor background = colorFromHex(LumoProjectBackgroundColor::normalized(m_project.backgroundColorHex));
    const double w = size.width;
    const double h = size.height;
    const double iw = image.width();
    const double ih = image.height();
    const double fit = std::min(w / iw, h / ih);
    const double zoom = slide.kenBurnsEnabled ? 1.0 + kenBurnsProgress * slide.kenBurnsZoomAmount : 1.0;
    const double imageAspect = ih < 2 ? iw : iw / ih;
    const double frameAspect = w / std::max(h, 1.0);
    const bool fills = m_project.fillPhotosToScreen.value_or(false);
    const auto geometry = LumoImageFramingPolicy::geometry(imageAspect, frameAspect, zoom * slide.imageScale, fills);
    const double dw = fit * iw * geometry.scale;
    const double dh = fit * ih * geometry.scale;
    const auto clampOffset = [](double value, double bound) {
        return std::isnan(value) ? 0.0 : std::clamp(value, -bound, bound);
    };
    const double ox = clampOffset(slide.imageOffsetX, geometry.maxOffsetX);
    const double oy = clampOffset(slide.imageOffsetY, geometry.maxOffsetY);
    const double sign = slide.order % 2 == 0 ? 1.0 : -1.0;
    const double movement = slide.kenBurnsEnabled ? slide.kenBurnsMovementAmount : 0.0;
    double panX = (2 * kenBurnsProgress - 1) * sign * 0.035 * w * movement;
    double panDown = -(2 * kenBurnsProgress - 1) * sign * 0.026 * h * movement;
    const double left = (w - dw) / 2 + w * ox;
    const double top = (h - dh) / 2 + h * oy;
    // A photo that covers the frame unmoved keeps covering it while it moves.
    const double unmoved = LumoImageFramingPolicy::geometry(imageAspect, frameAspect, slide.imageScale, fills).scale;
    if (LumoImageFramingPolicy::coversFrame(fit * iw * unmoved, fit * ih * unmoved, w, h)) {
        panX = LumoImageFramingPolicy::panWithinOverhang(panX, left, dw, w);
        panDown = LumoImageFramingPolicy::panWithinOverhang(panDown, top, dh, h);
    }
    const QRectF target(left + panX, top + panDown, dw, dh);
    if (!target.isValid() || !std::isfinite(target.left()) || !std::isfinite(target.top())) {
        frame.fill(background);
        return;
    }

    QPainter painter(&frame);
    // The background only where an opaque photo leaves it showing: a pixel
    // inside the photo's rectangle, one pixel away from its edges, is drawn over
    // whole. That spares most of a full-frame pass on every frame.
    const QRect frameRect = frame.rect();
    const QRect covered = image.hasAlphaChannel()
        ? QRect()
        : QRect(QPoint(static_cast<int>(std::ceil(std::max(target.left(), -1.0))) + 1,
                       static_cast<int>(std::ceil(std::max(target.top(), -1.0))) + 1),
                QPoint(static_cast<int>(std::floor(std::min(target.right(), w + 1))) - 2,
                       static_cast<int>(std::floor(std::min(target.bottom(), h + 1))) - 2))
              .intersected(frameRect);
    if (covered.isEmpty()) {
        frame.fill(background);
    } else {
        painter.fillRect(QRect(frameRect.topLeft(), QPoint(frameRect.right(), covered.top() - 1)), background);
        painter.fillRect(QRect(QPoint(frameRect.left(), covered.bottom() + 1), frameRect.bottomRight()), background);
        painter.fillRect(QRect(QPoint(frameRect.left(), covered.top()), QPoint(covered.left() - 1, covered.bottom())),
                         background);
        painter.fillRect(QRect(QPoint(covered.right() + 1, covered.top()), QPoint(frameRect.right(), covered.bottom())),
                         background);
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(target, image);
}

QImage VideoExporter::makePixelBuffer(RenderSize size, std::size_t slideIndex, double localTime,
                                      const std::map<std::size_t, QImage>& images) const
{
    FrameCanvas canvas;
    drawFrame(canvas, size, slideIndex, localTime, images);
    return canvas.frame;
}

namespace {

void makeFrame(QImage& frame, RenderSize size)
{
    if (frame.width() != size.codedWidth() || frame.height() != size.codedHeight() ||
        frame.format() != QImage::Format_RGB32)
        frame = QImage(size.codedWidth(), size.codedHeight(), QImage::Format_RGB32);
    if (frame.isNull())
        throw VideoExporterError::cannotCreatePixelBuffer();
    frame.setDotsPerMeterX(framesDotsPerMeter);
    frame.setDotsPerMeterY(framesDotsPerMeter);
}

} // namespace

void VideoExporter::drawFrame(FrameCanvas& canvas, RenderSize size, std::size_t slideIndex, double localTime,
                              const std::map<std::size_t, QImage>& images) const
{
    QImage& frame = canvas.frame;
    makeFrame(frame, size);
    if (slideIndex >= m_slides.size())
        throw VideoExporterError::cannotCreatePixelBuffer();

    const Slide& slide = m_slides[slideIndex];
    const auto imageOf = [&](std::size_t index) -> const QImage& {
        const auto found = images.find(index);
        if (found == images.end() || found->second.isNull())
            throw VideoExporterError::cannotLoadImage(m_slides[index].imageURL);
        return found->second;
    };

    const double d = slide.duration;
    const double window = transitionWindow(d);
    const double opacity = window > 0 ? std::clamp(localTime / window, 0.0, 1.0) : 1.0;
    double kenBurns = 0.0;
    if (slide.kenBurnsEnabled) {
        const double q = d > 0.001 ? localTime / d : localTime / 0.001;
        kenBurns = q <= 0 ? 0.0 : std::min(q, 1.0);
    }

    drawSlide(frame, size, slide, imageOf(slideIndex), kenBurns);
    const bool dissolves = slide.transition != SlideTransition::cut && slideIndex > 0 && localTime < window;
    if (dissolves) {
        // A cross-dissolve fades the whole picture: where the slide before
        // shows past the edges of this one's photo, it fades out as well. Its
        // end state is the same for every frame of the dissolve.
        const std::size_t previous = slideIndex - 1;
        if (canvas.outgoing.isNull() || canvas.outgoingSlide != previous || canvas.outgoingSize != size) {
            makeFrame(canvas.outgoing, size);
            drawSlide(canvas.outgoing, size, m_slides[previous], imageOf(previous), 1.0);
            canvas.outgoingSlide = previous;
            canvas.outgoingSize = size;
        }
        QPainter painter(&frame);
        painter.setOpacity(1.0 - opacity);
        painter.drawImage(0, 0, canvas.outgoing);
    } else {
        // Held only through a dissolve: at 4K it is 33 MB.
        canvas.outgoing = QImage();
    }

    QPainter painter(&frame);
    drawTitleOverlay(slide, painter, QSizeF(size.width, size.height));
}

void VideoExporter::encodeVideo(const std::filesystem::path& destination) const
{
    const RenderSize size = renderSize(m_project);
    const FrameTiming timing = frameTiming(m_project, m_slides);
    VideoEncoderSettings settings = videoSettings(size, m_project.exportSettings);
    // The song mux writes the final file with its index at the front; the
    // silent video needs it only when it is moved into place as it is.
    settings.fastStart = !usesSong();
    // Photos are decoded as their slide comes up; reading every header first
    // names a missing or unreadable photo before minutes of encoding.
    for (const Slide& slide : m_slides)
        if (!PhotoDecoder::uprightSize(slide.imageURL).isValid())
            throw VideoExporterError::cannotLoadImage(slide.imageURL);

    // Frames are drawn and converted on worker threads while this one
    // encodes the ones before, so that only the encoder's time counts.
    // At 4K the canvases and frames in flight are bounded by bytes (one
    // worker, two frames ahead: the encoder is far slower than the drawing),
    // leaving the memory to the encoder.
    constexpr std::size_t frameBytes = std::size_t{64} << 20;
    mapLargeAllocationsSeparately();
    const FramePipelineDepth depth = FramePipeline::depthWithin(
        m_frameWorkers > 0 ? m_frameWorkers : FramePipeline::defaultWorkerCount(), size.codedWidth(),
        size.codedHeight(), frameBytes);
    FramePlanner planner(m_slides, cumulativeSlideStartTimes(), timing,
                         exportImageMaxPixelSize(size, m_project.exportSettings.quality),
                         [this](std::size_t index, int maxPixelSize) { return loadImage(index, maxPixelSize); });
    FramePipeline pipeline(
        depth.workers, depth.ahead, size.codedWidth(), size.codedHeight(),
        [&planner] { return planner.next(); },
        [this, size](const FramePlan& plan, Bt709FrameConverter& converter, FrameCanvas& canvas) {
            drawFrame(canvas, size, plan.slideIndex, plan.localTime, plan.images);
            return converter.convert(canvas.frame);
        });
    // Made after the pipeline, so that the first photos decode while the encoder sets itself up.
    VideoEncoder encoder(destination, settings);
    for (std::int64_t i = 0; i < timing.frameCount; ++i) {
        encoder.append(pipeline.next(m_cancellation).get(), i);
        if (i % progressEveryFrames == 0)
            report(std::min(encodingProgressShare * static_cast<double>(i + 1) / static_cast<double>(timing.frameCount),
                            encodingProgressShare),
                   "Codificando video");
    }
    throwIfCancelled();
    encoder.finish(m_cancellation);
}

} // namespace fotivela
