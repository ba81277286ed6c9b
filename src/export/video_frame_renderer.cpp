// The exporter's frames: sizes, timing, photos, drawing and the encode loop.

#include "export/title_overlay.h"
#include "export/video_encoder.h"
#include "export/video_exporter.h"

#include "model/lumo_image_framing_policy.h"
#include "model/lumo_project_background_color.h"
#include "platform/hex_color.h"
#include "platform/photo_decoder.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

namespace fotivela {

namespace {

constexpr double transitionLength = 0.6;
constexpr double transitionShare = 0.35;
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

double transitionWindow(double duration)
{
    const double share = transitionShare * duration;
    return share >= transitionLength ? transitionLength : share;
}

struct FrameTiming {
    int fps = 1;
    double total = 0.0;
    std::int64_t frameCount = 1;
};

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
                              double kenBurnsProgress, double opacity) const
{
    const double w = size.width;
    const double h = size.height;
    const double iw = image.width();
    const double ih = image.height();
    const double fit = std::min(w / iw, h / ih);
    const double zoom = slide.kenBurnsEnabled ? 1.0 + kenBurnsProgress * slide.kenBurnsZoomAmount : 1.0;
    const double imageAspect = ih < 2 ? iw : iw / ih;
    const double frameAspect = w / std::max(h, 1.0);
    const auto geometry = LumoImageFramingPolicy::geometry(imageAspect, frameAspect, zoom * slide.imageScale,
                                                           m_project.fillPhotosToScreen.value_or(false));
    const double dw = fit * iw * geometry.scale;
    const double dh = fit * ih * geometry.scale;
    const auto clampOffset = [](double value, double bound) {
        return std::isnan(value) ? 0.0 : std::clamp(value, -bound, bound);
    };
    const double ox = clampOffset(slide.imageOffsetX, geometry.maxOffsetX);
    const double oy = clampOffset(slide.imageOffsetY, geometry.maxOffsetY);
    const double sign = slide.order % 2 == 0 ? 1.0 : -1.0;
    const double movement = slide.kenBurnsEnabled ? slide.kenBurnsMovementAmount : 0.0;
    const double panX = (2 * kenBurnsProgress - 1) * sign * 0.035 * w * movement;
    const double panY = (2 * kenBurnsProgress - 1) * sign * 0.026 * h * movement;
    const QRectF target((w - dw) / 2 + w * ox + panX, (h - dh) / 2 + h * oy - panY, dw, dh);
    if (!target.isValid() || !std::isfinite(target.left()) || !std::isfinite(target.top()))
        return;

    QPainter painter(&frame);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.setOpacity(opacity);
    painter.drawImage(target, image);
}

QImage VideoExporter::makePixelBuffer(RenderSize size, std::size_t slideIndex, double localTime,
                                      const std::map<std::size_t, QImage>& images) const
{
    QImage frame(size.codedWidth(), size.codedHeight(), QImage::Format_RGB32);
    if (frame.isNull() || slideIndex >= m_slides.size())
        throw VideoExporterError::cannotCreatePixelBuffer();
    frame.setDotsPerMeterX(framesDotsPerMeter);
    frame.setDotsPerMeterY(framesDotsPerMeter);
    frame.fill(colorFromHex(LumoProjectBackgroundColor::normalized(m_project.backgroundColorHex)));

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

    const bool dissolves = slide.transition != SlideTransition::cut && slideIndex > 0 && localTime < window;
    if (dissolves) {
        drawSlide(frame, size, m_slides[slideIndex - 1], imageOf(slideIndex - 1), 1.0, 1.0);
        drawSlide(frame, size, slide, imageOf(slideIndex), kenBurns, opacity);
    } else {
        drawSlide(frame, size, slide, imageOf(slideIndex), kenBurns, 1.0);
    }

    QPainter painter(&frame);
    drawTitleOverlay(slide, painter, QSizeF(size.width, size.height));
    return frame;
}

void VideoExporter::encodeVideo(const std::filesystem::path& destination) const
{
    const RenderSize size = renderSize(m_project);
    const FrameTiming timing = frameTiming(m_project, m_slides);
    VideoEncoder encoder(destination, videoSettings(size, m_project.exportSettings));
    // Photos are decoded as their slide comes up; reading every header first
    // names a missing or unreadable photo before minutes of encoding.
    for (const Slide& slide : m_slides)
        if (!PhotoDecoder::uprightSize(slide.imageURL).isValid())
            throw VideoExporterError::cannotLoadImage(slide.imageURL);

    // Frames are drawn and converted on a second thread while this one encodes
    // the ones before, so that only the encoder's time counts.
    FrameQueue queue;
    std::jthread drawing([&](std::stop_token stop) {
        try {
            renderFrames(size, timing.fps, timing.total, timing.frameCount, queue, stop);
        } catch (...) {
            queue.fail(std::current_exception());
        }
    });
    try {
        for (std::int64_t i = 0; i < timing.frameCount; ++i) {
            throwIfCancelled();
            encoder.append(queue.pop().get(), i);
            if (i % progressEveryFrames == 0)
                report(std::min(encodingProgressShare * static_cast<double>(i + 1) / static_cast<double>(timing.frameCount),
                                encodingProgressShare),
                       "Codificando video");
        }
    } catch (...) {
        drawing.request_stop();
        queue.close();
        throw;
    }
    throwIfCancelled();
    encoder.finish();
}

void VideoExporter::renderFrames(RenderSize size, int fps, double total, std::int64_t frameCount, FrameQueue& queue,
                                 std::stop_token stop) const
{
    const std::vector<double> starts = cumulativeSlideStartTimes();
    const int maxPixelSize = exportImageMaxPixelSize(size, m_project.exportSettings.quality);
    // Only the slide on screen and the one it dissolves from are kept decoded,
    // so that a long slideshow does not hold every photo in memory at once.
    std::map<std::size_t, QImage> images;
    const auto ensureLoaded = [&](std::size_t index) {
        if (!images.contains(index))
            images.emplace(index, loadImage(index, maxPixelSize));
    };

    Bt709FrameConverter converter(size.codedWidth(), size.codedHeight());
    std::size_t cursor = 0;
    FramePtr stillFrame;
    std::size_t stillFrameSlide = std::numeric_limits<std::size_t>::max();
    for (std::int64_t i = 0; i < frameCount && !stop.stop_requested(); ++i) {
        const double t = std::min(static_cast<double>(i) / fps, std::max(total - 0.000001, 0.0));
        while (cursor + 1 < m_slides.size() && starts[cursor + 1] <= t)
            ++cursor;
        const double local = std::max(t - starts[cursor], 0.0);
        const Slide& slide = m_slides[cursor];

        for (auto it = images.begin(); it != images.end();)
            it = it->first + 1 < cursor ? images.erase(it) : std::next(it);
        ensureLoaded(cursor);
        const bool dissolves =
            slide.transition != SlideTransition::cut && cursor > 0 && local < transitionWindow(slide.duration);
        if (dissolves)
            ensureLoaded(cursor - 1);

        // Without motion or a dissolve every frame of the slide is the same
        // picture: it is drawn once and its conversion is reused.
        const bool still = !slide.kenBurnsEnabled && !dissolves;
        if (!still || stillFrameSlide != cursor) {
            stillFrame = converter.convert(makePixelBuffer(size, cursor, local, images));
            stillFrameSlide = still ? cursor : std::numeric_limits<std::size_t>::max();
        }
        FramePtr frame(av_frame_clone(stillFrame.get()));
        if (!frame)
            throw VideoExporterError::cannotCreatePixelBuffer();
        if (!queue.push(std::move(frame)))
            return;
    }
}

void FrameQueue::fail(std::exception_ptr error)
{
    const std::lock_guard lock(m_mutex);
    m_error = std::move(error);
    m_changed.notify_all();
}

void FrameQueue::close()
{
    const std::lock_guard lock(m_mutex);
    m_closed = true;
    m_changed.notify_all();
}

bool FrameQueue::push(FramePtr frame)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_closed || m_frames.size() < capacity; });
    if (m_closed)
        return false;
    m_frames.push_back(std::move(frame));
    m_changed.notify_all();
    return true;
}

FramePtr FrameQueue::pop()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return !m_frames.empty() || m_error; });
    if (m_frames.empty())
        std::rethrow_exception(m_error);
    FramePtr frame = std::move(m_frames.front());
    m_frames.pop_front();
    m_changed.notify_all();
    return frame;
}

} // namespace fotivela
