#include "ui/timeline/timeline_ruler.h"

#include "ui/common/view_helpers.h"
#include "ui/timeline/beat_marker_interaction_view.h"
#include "ui/timeline/timeline_metrics.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace fotivela {

using namespace TimelineMetrics;

namespace {

struct MarkerLook {
    QColor colour;
    double stemOpacity;
    double stemWidth;
    QList<qreal> dash;
    QSizeF head;
    double headOpacity;
    double stemTop;
    double haloOpacity;
};

const QColor neutralGrey = rgba(0.5, 0.54, 0.58);

} // namespace

TimelineRuler::TimelineRuler(QWidget* parent)
    : QWidget(parent)
    , m_interaction(new BeatMarkerInteractionView(this))
{
}

void TimelineRuler::setValues(double duration, std::vector<BeatMarker> beatMarkers, std::set<Uuid> activeMarkerIDs,
                              std::optional<Uuid> selectedMarkerID, double snapTolerance)
{
    const bool changed = duration != m_duration || beatMarkers != m_markers || activeMarkerIDs != m_activeMarkerIDs
        || selectedMarkerID != m_selectedMarkerID;
    m_duration = duration;
    m_markers = std::move(beatMarkers);
    m_activeMarkerIDs = std::move(activeMarkerIDs);
    m_selectedMarkerID = selectedMarkerID;
    m_interaction->markers = m_markers;
    m_interaction->duration = duration;
    m_interaction->horizontalInset = 0;
    m_interaction->snapTolerance = snapTolerance;
    if (changed)
        update();
}

double TimelineRuler::labelStep(double pointsPerSecond)
{
    if (pointsPerSecond >= 18)
        return 5;
    if (pointsPerSecond >= 9)
        return 10;
    if (pointsPerSecond >= 4.5)
        return 30;
    if (pointsPerSecond >= 2)
        return 60;
    return 120;
}

void TimelineRuler::resizeEvent(QResizeEvent*) { m_interaction->setGeometry(rect()); }

void TimelineRuler::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF visible = event->rect();
    drawScale(painter, visible);

    const double w = width();
    const double span = std::max(m_duration, 1.0);
    // A pin reaches 12 points either side of its x (the halo); draw only those that show.
    const double firstTime = (visible.left() - 14) / w * span;
    const double lastTime = (visible.right() + 14) / w * span;
    for (std::size_t i = 0; i < m_markers.size(); ++i) {
        const BeatMarker& marker = m_markers[i];
        const bool pinnedLeft = marker.time <= 0 && visible.left() <= 14;
        const bool pinnedRight = marker.time >= span && visible.right() >= w - 14;
        if (!((marker.time >= firstTime && marker.time <= lastTime) || pinnedLeft || pinnedRight))
            continue;
        // Zoomed far out many pins share a pixel: one that a later pin of the same look covers
        // is skipped.
        bool covered = false;
        for (std::size_t j = i + 1; j < m_markers.size() && !covered && samePixel(marker, m_markers[j]); ++j)
            covered = coveredBy(marker, m_markers[j]);
        if (covered)
            continue;
        drawMarker(painter, marker);
    }
}

int TimelineRuler::markerState(const BeatMarker& marker) const
{
    if (m_selectedMarkerID && *m_selectedMarkerID == marker.id)
        return marker.isEnabled ? 0 : 1;
    if (marker.isEnabled && m_activeMarkerIDs.contains(marker.id))
        return 2;
    return marker.isEnabled ? 3 : 4;
}

bool TimelineRuler::samePixel(const BeatMarker& marker, const BeatMarker& other) const
{
    const double scale = width() / std::max(m_duration, 1.0);
    return std::lround(std::clamp(marker.time * scale, 0.0, static_cast<double>(width())))
        == std::lround(std::clamp(other.time * scale, 0.0, static_cast<double>(width())));
}

bool TimelineRuler::coveredBy(const BeatMarker& marker, const BeatMarker& later) const
{
    const int state = markerState(marker);
    if (state != markerState(later))
        return false;
    // Active pins are coloured by their source.
    return state != 2
        || (marker.isManual == later.isManual && (marker.isManual || marker.sourceInstrument == later.sourceInstrument));
}

void TimelineRuler::drawScale(QPainter& painter, const QRectF& visible) const
{
    const double w = width();
    const double h = height();
    const double baseline = h - 3;
    const int wholeSeconds = std::max(static_cast<int>(m_duration), 1);
    const double span = std::max(m_duration, 1.0);
    const double pointsPerSecond = w / span;
    const auto step = static_cast<int>(labelStep(pointsPerSecond));
    // The timeline is dark: the scale keeps its opacities in white ink so that it reads.
    const QColor scaleInk(Qt::white);

    QFont minuteFont = painter.font();
    minuteFont.setPixelSize(10);
    minuteFont.setWeight(QFont::DemiBold);
    QFont otherFont = painter.font();
    otherFont.setPixelSize(9);
    otherFont.setWeight(QFont::Medium);

    // Labels reach about 40 points right of their tick.
    const int first = std::max(static_cast<int>(std::floor((visible.left() - 48) / pointsPerSecond / 5)) * 5, 0);
    const int last = std::min(static_cast<int>(std::ceil((visible.right() + 2) / pointsPerSecond)), wholeSeconds);
    for (int s = first; s <= last; s += 5) {
        const double x = w * s / span;
        const bool minute = s % 60 == 0;
        const bool half = !minute && s % 30 == 0;
        const double length = minute ? 13 : half ? 9 : 5;
        const double opacity = minute ? 0.84 : half ? 0.55 : 0.28;
        painter.setPen(QPen(withOpacity(scaleInk, opacity), minute ? 1.2 : 0.8));
        painter.drawLine(QPointF(x, baseline - length), QPointF(x, baseline));
        if (s % step == 0) {
            painter.setFont(minute ? minuteFont : otherFont);
            painter.setPen(withOpacity(scaleInk, minute ? 0.86 : 0.68));
            painter.drawText(QRectF(x + 3, 0, 80, 10), Qt::AlignLeft | Qt::AlignVCenter, formatDuration(s));
        }
    }
    painter.setPen(QPen(withOpacity(scaleInk, 0.15), 1));
    painter.drawLine(QPointF(visible.left(), baseline), QPointF(visible.right() + 1, baseline));
}

namespace {

// The stem and the head of a pin at `x`, `height` tall.
void drawPin(QPainter& painter, const MarkerLook& look, double x, double height)
{
    QPen stem(withOpacity(look.colour, look.stemOpacity), look.stemWidth, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
    if (!look.dash.isEmpty()) {
        // Qt counts dashes in line widths; the rule gives points.
        QList<qreal> pattern;
        for (qreal length : look.dash)
            pattern.append(length / look.stemWidth);
        stem.setDashPattern(pattern);
    }
    painter.setPen(stem);
    painter.drawLine(QPointF(x, look.stemTop), QPointF(x, height));

    const QColor head = withOpacity(look.colour, look.headOpacity);
    const QRectF headRect(x - look.head.width() / 2, 15, look.head.width(), look.head.height());
    // Winding fill joins head and pointer without doubling the overlap and without a path union.
    QPainterPath shape;
    shape.setFillRule(Qt::WindingFill);
    shape.addRoundedRect(headRect, 2.5, 2.5);
    shape.addPolygon(QPolygonF({QPointF(x - 4.8, headRect.bottom() - 0.5), QPointF(x + 4.8, headRect.bottom() - 0.5),
                                QPointF(x, look.stemTop)}));
    painter.setPen(Qt::NoPen);
    painter.fillPath(shape, head);
}

// Pins are drawn from pictures made once per look and quarter-pixel phase: thousands of
// antialiased dashed stems and rounded heads cost far more than copying small images.
constexpr int spriteHalfWidth = 9;
constexpr int spritePhases = 4;

} // namespace

void TimelineRuler::drawMarker(QPainter& painter, const BeatMarker& marker) const
{
    const double w = width();
    const double h = height();
    const double x = std::clamp(w * marker.time / std::max(m_duration, 1.0), 0.0, w);
    const bool selected = m_selectedMarkerID && *m_selectedMarkerID == marker.id;

    MarkerLook look;
    if (selected && marker.isEnabled) {
        look = {rgba(0.1, 0.48, 1.0), 0.95, 2.2, {}, QSizeF(16, 11), 0.98, 31, 0.16};
    } else if (selected) {
        look = {rgba(0.36, 0.39, 0.43), 0.42, 1.6, {3, 2}, QSizeF(16, 11), 0.78, 31, 0.18};
    } else if (marker.isEnabled && m_activeMarkerIDs.contains(marker.id)) {
        QColor colour = Qt::white;
        if (marker.isManual)
            colour = rgba(1.0, 0.78, 0.12);
        else if (marker.sourceInstrument)
            colour = instrumentColor(*marker.sourceInstrument);
        look = {colour, 0.64, 1.35, {}, QSizeF(14, 10), 0.78, 30, 0};
    } else if (marker.isEnabled) {
        look = {neutralGrey, 0.2, 1.0, {2, 2}, QSizeF(14, 10), 0.34 * 0.78, 30, 0};
    } else {
        look = {neutralGrey, 0.14, 1.0, {2, 2}, QSizeF(14, 10), 0.22 * 0.78, 30, 0};
    }

    if (selected) {
        // The one selected pin is drawn directly, with its halo.
        QPainterPath halo;
        halo.addRoundedRect(QRectF(x - 12, 0, 24, h), 4, 4);
        painter.fillPath(halo, withOpacity(look.colour, look.haloOpacity));
        drawPin(painter, look, x, h);
        return;
    }

    const double ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    if (m_spriteHeight != height() || m_spriteRatio != ratio) {
        m_pinSprites.clear();
        m_spriteHeight = height();
        m_spriteRatio = ratio;
    }
    double whole = std::floor(x);
    int phase = static_cast<int>(std::lround((x - whole) * spritePhases));
    if (phase == spritePhases) {
        whole += 1;
        phase = 0;
    }
    const std::uint64_t key = (static_cast<std::uint64_t>(look.colour.rgba()) << 16)
        ^ (static_cast<std::uint64_t>(std::lround(look.stemOpacity * 100)) << 8)
        ^ (static_cast<std::uint64_t>(look.dash.isEmpty() ? 0 : 1) << 4) ^ static_cast<std::uint64_t>(phase);
    auto found = m_pinSprites.find(key);
    if (found == m_pinSprites.end()) {
        QImage sprite(QSize(2 * spriteHalfWidth + 1, m_spriteHeight) * ratio, QImage::Format_ARGB32_Premultiplied);
        sprite.setDevicePixelRatio(ratio);
        sprite.fill(Qt::transparent);
        QPainter spritePainter(&sprite);
        spritePainter.setRenderHint(QPainter::Antialiasing);
        drawPin(spritePainter, look, spriteHalfWidth + static_cast<double>(phase) / spritePhases, h);
        spritePainter.end();
        found = m_pinSprites.emplace(key, std::move(sprite)).first;
    }
    painter.drawImage(QPointF(whole - spriteHalfWidth, 0), found->second);
}

} // namespace fotivela
