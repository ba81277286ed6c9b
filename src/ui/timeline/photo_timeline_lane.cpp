#include "ui/timeline/photo_timeline_lane.h"

#include "model/app_text.h"
#include "platform/atomic_file.h"
#include "platform/duskmere_storage.h"
#include "platform/iso8601_date.h"
#include "platform/json_encoder.h"
#include "store/project_store.h"
#include "ui/timeline/photo_timeline_lane_interaction_view.h"
#include "ui/timeline/timeline_metrics.h"
#include "ui/timeline/timeline_thumbnail.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace fotivela {

using namespace TimelineMetrics;

namespace {

// Shortest decimal form that reads back to the same value, always with a fraction ("2.0").
std::string shortestDecimal(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    if (text.find_first_of(".eEn") == std::string::npos)
        text += ".0";
    return text;
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

} // namespace

PhotoTimelineLane::PhotoTimelineLane(ProjectStore& store, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_interaction(new PhotoTimelineLaneInteractionView(this))
{
    connectInteraction();
}

bool PhotoTimelineLane::allowResize() const
{
    const auto& audio = m_store.project().audio;
    return !audio || audio->syncMode == SyncMode::manual;
}

double PhotoTimelineLane::laneHeight() const { return std::max(m_height, minimumPhotoLaneHeight); }

double PhotoTimelineLane::tileWidth(const Slide& slide) const
{
    return std::max(m_pixelsPerSecond * slide.duration, 0.05);
}

void PhotoTimelineLane::setLayoutValues(double pixelsPerSecond, double width, double height)
{
    m_pixelsPerSecond = pixelsPerSecond;
    m_width = width;
    m_height = height;
    rebuild();
}

void PhotoTimelineLane::rebuild()
{
    std::vector<PositionedTimelineSlide> slides;
    const auto& projectSlides = m_store.project().slides;
    slides.reserve(projectSlides.size());
    double start = 0;
    for (const Slide& slide : projectSlides) {
        slides.push_back({slide, start});
        start += slide.duration;
    }
    m_slides = std::move(slides);
    std::erase_if(m_thumbnails, [this](const auto& entry) {
        return std::none_of(m_slides.begin(), m_slides.end(),
                            [&](const PositionedTimelineSlide& p) { return p.slide.id == entry.first; });
    });

    const std::string signature = visibleTimelineSignature(m_slides);
    if (!m_hasWrittenManifest || signature != m_writtenSignature) {
        m_hasWrittenManifest = true;
        m_writtenSignature = signature;
        writeVisibleTimelineDebugManifest(m_slides);
    }

    std::vector<PhotoTimelineLaneInteractionView::HitSlide> boxes;
    boxes.reserve(m_slides.size());
    for (const PositionedTimelineSlide& positioned : m_slides) {
        const double startX = positioned.startTime * m_pixelsPerSecond;
        boxes.push_back({positioned.slide.id, startX, std::min(m_width, startX + tileWidth(positioned.slide))});
    }
    m_interaction->hitSlides = std::move(boxes);
    m_interaction->selectedSlideIDs = m_store.timelineSelection();
    m_interaction->secondsPerPoint = 1.0 / m_pixelsPerSecond;
    m_interaction->allowResize = allowResize();
    m_interaction->deleteTitle = qtext(AppText::translate("Eliminar", m_store.appLanguage()));
    update();
}

void PhotoTimelineLane::resizeEvent(QResizeEvent*) { m_interaction->setGeometry(rect()); }

PhotoTimelineLane::InsertionPoint PhotoTimelineLane::insertionPoint(double x) const
{
    if (m_slides.empty())
        return {0, 0};
    const double cx = std::min(std::max(x, 0.0), m_width);
    for (std::size_t i = 0; i < m_slides.size(); ++i) {
        const double start = m_slides[i].startTime * m_pixelsPerSecond;
        if (cx < start + tileWidth(m_slides[i].slide) * 0.5)
            return {static_cast<std::int64_t>(i), start};
    }
    const PositionedTimelineSlide& last = m_slides.back();
    const double end = last.startTime * m_pixelsPerSecond + tileWidth(last.slide);
    return {static_cast<std::int64_t>(m_slides.size()), std::min(end, m_width)};
}

std::optional<PhotoTimelineLane::DragPreview> PhotoTimelineLane::preview(const Uuid& id, double centerX) const
{
    const auto found = std::find_if(m_slides.begin(), m_slides.end(),
                                    [&](const PositionedTimelineSlide& p) { return p.slide.id == id; });
    if (found == m_slides.end())
        return std::nullopt;
    const std::set<Uuid>& selection = m_store.timelineSelection();
    double seconds = 0;
    if (selection.contains(id)) {
        for (const PositionedTimelineSlide& positioned : m_slides)
            if (selection.contains(positioned.slide.id))
                seconds += positioned.slide.duration;
    } else {
        seconds = found->slide.duration;
    }
    return DragPreview{std::max(seconds * m_pixelsPerSecond, 0.05), centerX};
}

std::string PhotoTimelineLane::visibleTimelineSignature(const std::vector<PositionedTimelineSlide>& slides)
{
    std::string signature;
    for (std::size_t i = 0; i < slides.size(); ++i) {
        if (i > 0)
            signature += '|';
        const Slide& slide = slides[i].slide;
        signature += upper(slide.id.toString()) + ':' + slide.name + ':' + shortestDecimal(slides[i].startTime) + ':'
            + shortestDecimal(slide.duration);
    }
    return signature;
}

void PhotoTimelineLane::writeVisibleTimelineDebugManifest(const std::vector<PositionedTimelineSlide>& slides)
{
    // Best effort: a diagnostic that cannot be written is simply left out.
    try {
        nlohmann::json list = nlohmann::json::array();
        for (std::size_t i = 0; i < slides.size(); ++i) {
            const Slide& slide = slides[i].slide;
            list.push_back({{"index", static_cast<std::int64_t>(i)},
                            {"name", slide.name},
                            {"url", slide.imageURL.string()},
                            {"duration", slide.duration},
                            {"startTime", slides[i].startTime},
                            {"title", slide.title},
                            {"generatedTitle", slide.isGeneratedTitleSlide}});
        }
        const nlohmann::json manifest = {{"stage", "visible-timeline"},
                                         {"date", formatIso8601Date(std::chrono::system_clock::now())},
                                         {"slideCount", static_cast<std::int64_t>(slides.size())},
                                         {"slides", std::move(list)}};
        atomicWriteFile(DuskmereStorage::temporaryDirectory() / "fotivela-visible-timeline.json",
                        encodeFotivelaJson(manifest));
    } catch (const std::exception&) {
    }
}

const QImage* PhotoTimelineLane::thumbnail(const Slide& slide)
{
    const std::int64_t revision = m_store.previewCacheRevision();
    Thumbnail& entry = m_thumbnails[slide.id];
    if (entry.requestedRevision != revision) {
        entry.requestedRevision = revision;
        QPointer<PhotoTimelineLane> self(this);
        const Uuid id = slide.id;
        m_store.previewImage(slide, [self, id, revision](std::optional<QImage> image) {
            if (!self)
                return;
            Thumbnail& loaded = self->m_thumbnails[id];
            if (loaded.requestedRevision != revision)
                return;
            // Stored even when empty: a slide without a preview shows the dark placeholder.
            loaded.image = image.value_or(QImage());
            self->update();
        });
    }
    return entry.image.isNull() ? nullptr : &entry.image;
}

void PhotoTimelineLane::clearDrag()
{
    m_draggedSlideID.reset();
    m_dropIndicatorX.reset();
    m_dragPreview.reset();
    update();
}

void PhotoTimelineLane::resizeStep(const Uuid& id, ResizeEdge edge, double delta)
{
    const std::vector<Slide>& slides = m_store.project().slides;
    double start = 0;
    std::optional<double> edgeTime;
    for (const Slide& slide : slides) {
        if (slide.id == id) {
            edgeTime = edge == ResizeEdge::left ? start : start + slide.duration;
            break;
        }
        start += slide.duration;
    }
    if (!edgeTime)
        return;
    if (!m_resizeGesture || m_resizeGesture->id != id || m_resizeGesture->edge != edge)
        m_resizeGesture = ResizeGesture{id, edge, *edgeTime};
    m_resizeGesture->target += delta;
    // Where the edge should be, from where it stands now: a snapped or refused step is not lost.
    m_store.resizeSlideDuration(id, edge, m_resizeGesture->target - *edgeTime);
}

void PhotoTimelineLane::connectInteraction()
{
    m_interaction->onHover = [this](std::optional<Uuid> id, TimelinePointerRegion region) {
        if (id == m_hoverSlideID && region == m_hoverRegion)
            return;
        m_hoverSlideID = id;
        m_hoverRegion = region;
        update();
    };
    m_interaction->onClick = [this](Uuid id, Qt::KeyboardModifiers modifiers) { m_store.selectTimelineSlide(id, modifiers); };
    m_interaction->onDelete = [this](Uuid id) {
        m_store.selectOnlyTimelineSlide(id);
        m_store.deleteSelectedSlide();
    };
    m_interaction->onResize = [this](Uuid id, ResizeEdge edge, double delta) { resizeStep(id, edge, delta); };
    m_interaction->onResizeEnded = [this] {
        m_resizeGesture.reset();
        m_store.setSnappedBeatTime(std::nullopt);
        m_store.setPendingTimelineResizeUndo(false);
    };
    m_interaction->onDragChanged = [this](Uuid id, double x) {
        m_draggedSlideID = id;
        m_dropIndicatorX = insertionPoint(x).x;
        m_dragPreview = preview(id, x);
        update();
    };
    m_interaction->onDragEnded = [this](Uuid id, double x) {
        const std::int64_t index = insertionPoint(x).index;
        clearDrag();
        m_store.moveSlide(id, index);
    };
    m_interaction->onDragCancelled = [this] { clearDrag(); };
}

void PhotoTimelineLane::paintNarrowTile(QPainter& painter, const QRectF& tile, const Slide& slide,
                                        const TimelineThumbnail::Look& look)
{
    // A zoomed-out lane shows hundreds of such tiles, most of them alike: each look is drawn
    // once into a picture (the tile is whole pixels, so the copy is exact) and copied.
    const double ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    if (ratio != m_tileSpriteRatio || m_tileSprites.size() > 2048) {
        m_tileSprites.clear();
        m_tileSpriteRatio = ratio;
    }
    const int w = static_cast<int>(tile.width());
    const int h = static_cast<int>(tile.height());
    QString key = QStringLiteral("%1|%2|%3|%4").arg(w).arg(h)
                      .arg(static_cast<int>(look.selected) * 4 + static_cast<int>(look.active) * 2
                           + static_cast<int>(look.allowResize))
                      .arg(static_cast<int>(look.hoverRegion));
    if (w >= 38)
        key += TimelineThumbnail::durationLabel(slide.duration);
    auto found = m_tileSprites.find(key);
    if (found == m_tileSprites.end()) {
        QImage sprite(QSize(w, h) * ratio, QImage::Format_ARGB32_Premultiplied);
        sprite.setDevicePixelRatio(ratio);
        sprite.fill(Qt::transparent);
        QPainter spritePainter(&sprite);
        spritePainter.setRenderHint(QPainter::Antialiasing);
        TimelineThumbnail::paint(spritePainter, QRectF(0, 0, w, h), slide, look, nullptr);
        spritePainter.end();
        found = m_tileSprites.emplace(key, std::move(sprite)).first;
    }
    painter.drawImage(tile.topLeft(), found->second);
}

void PhotoTimelineLane::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF visible = event->rect();
    const double h = laneHeight();
    const std::set<Uuid>& selection = m_store.timelineSelection();
    const std::optional<Uuid>& current = m_store.selectedSlideID();
    const bool resize = allowResize();

    // Slides are in time order: skip to the first that reaches the exposed area.
    const auto first = std::lower_bound(m_slides.begin(), m_slides.end(), visible.left(),
                                        [this](const PositionedTimelineSlide& p, double left) {
                                            return (p.startTime * m_pixelsPerSecond) + tileWidth(p.slide) < left;
                                        });
    for (auto it = first; it != m_slides.end(); ++it) {
        const double startX = it->startTime * m_pixelsPerSecond;
        if (startX > visible.right())
            break;
        // Whole pixels keep fills on the painter's fast path and tile edges crisp.
        const double left = std::round(startX);
        const double right = std::max(std::round(startX + tileWidth(it->slide)), left + 1);
        const QRectF tile(left, 0, right - left, std::round(h));
        TimelineThumbnail::Look look;
        look.selected = selection.contains(it->slide.id);
        look.active = current == it->slide.id;
        look.hoverRegion = m_hoverSlideID == it->slide.id ? m_hoverRegion : TimelinePointerRegion::none;
        look.allowResize = resize;
        if (tile.width() >= TimelineThumbnail::pictureMinimumWidth)
            TimelineThumbnail::paint(painter, tile, it->slide, look, thumbnail(it->slide));
        else
            paintNarrowTile(painter, tile, it->slide, look);
    }

    painter.setRenderHint(QPainter::Antialiasing);
    if (m_dragPreview) {
        const double w = std::max(m_dragPreview->width, 24.0);
        const double cx = std::min(std::max(m_dragPreview->centerX, m_dragPreview->width * 0.5),
                                   m_width - m_dragPreview->width * 0.5);
        QPainterPath ghost;
        ghost.addRoundedRect(QRectF(cx - w / 2, 0, w, h), 7, 7);
        const QColor blue(10, 132, 255);
        painter.fillPath(ghost, withOpacity(blue, 0.24));
        painter.strokePath(ghost, QPen(withOpacity(blue, 0.78), 2));
    }
    if (m_dropIndicatorX) {
        const double x = std::min(std::max(*m_dropIndicatorX, 2.0), std::max(m_width - 2, 2.0));
        const QColor accent = accentColor();
        painter.fillRect(QRectF(x - 4.5, 0, 9, h), withOpacity(accent, 0.18));
        QPainterPath bar;
        bar.addRoundedRect(QRectF(x - 1.5, 0, 3, h), 1.5, 1.5);
        painter.fillPath(bar, accent);
    }
}

} // namespace fotivela
