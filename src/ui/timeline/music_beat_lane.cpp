#include "ui/timeline/music_beat_lane.h"

#include "model/app_text.h"
#include "ui/common/view_helpers.h"
#include "ui/timeline/timeline_metrics.h"
#include "ui/timeline/timeline_playhead_view.h"
#include "ui/timeline/waveform_scrub_view.h"

#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace fotivela {

using namespace TimelineMetrics;

namespace {

// Sample of column j out of n; a list not analysed yet is drawn as a regular wave.
double columnValue(const std::vector<double>& values, int j, int n)
{
    if (values.empty())
        return std::abs(std::sin(0.72 * j)) * 0.62 + 0.18;
    const double c = static_cast<double>(values.size());
    const auto index = static_cast<std::size_t>(std::max(0.0, static_cast<double>(j) / (n - 1) * (c - 1)));
    return values[std::min(index, values.size() - 1)];
}

// The visible columns, one more on each side so that outlines run off the edge.
std::pair<int, int> visibleColumns(const QRectF& visible, double width, int n)
{
    const double step = width / (n - 1);
    const int first = std::max(static_cast<int>(std::floor(visible.left() / step)) - 1, 0);
    const int last = std::min(static_cast<int>(std::ceil(visible.right() / step)) + 1, n - 1);
    return {first, last};
}

} // namespace

MusicBeatLane::MusicBeatLane(QWidget* parent)
    : QWidget(parent)
    , m_playhead(new TimelinePlayheadView(this))
    , m_scrub(new WaveformScrubView(this))
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    m_spinTimer.setInterval(33);
    connect(&m_spinTimer, &QTimer::timeout, this, [this] {
        if (isVisible() && !m_spinnerRect.isEmpty())
            update(m_spinnerRect.toAlignedRect().adjusted(-2, -2, 2, 2));
    });
    m_scrub->onScrub = [this](double time) {
        if (onScrub)
            onScrub(time);
    };
    m_scrub->onEditingChanged = [this](bool editing) {
        if (onMarkerEditingChanged)
            onMarkerEditingChanged(editing);
    };
    m_scrub->hide();
    m_playhead->raise();
}

double MusicBeatLane::laneHeight(std::size_t stemCount) { return musicLaneHeight(stemCount); }

int MusicBeatLane::columnCount(double width) { return std::max(static_cast<int>(width / 1.35), 180); }

double MusicBeatLane::level(double value)
{
    const double a = std::pow(std::max(value, 0.012), 0.58);
    return a <= 0.03 ? 0.03 : std::min(a, 1.0);
}

void MusicBeatLane::setValues(Values values)
{
    const bool changedDrawing = values.samples != m_values.samples || values.stemWaveforms != m_values.stemWaveforms
        || values.hasMainAudio != m_values.hasMainAudio || values.cutTime != m_values.cutTime
        || values.cutFadeOutDuration != m_values.cutFadeOutDuration || values.isAnalyzing != m_values.isAnalyzing
        || values.statusMessage != m_values.statusMessage || values.language != m_values.language
        || values.duration != m_values.duration || values.songDuration != m_values.songDuration
        || values.width != m_values.width;
    m_values = std::move(values);
    if (m_values.isAnalyzing && !m_spinTimer.isActive()) {
        m_spinClock.start();
        m_spinTimer.start();
    } else if (!m_values.isAnalyzing) {
        m_spinTimer.stop();
    }
    m_scrub->duration = m_values.duration;
    m_scrub->setVisible(m_values.hasMainAudio);
    m_playhead->update(m_values.playhead, m_values.isPlaying, m_values.playbackClockRevision,
                       m_values.playbackClockAnchorTime, m_values.duration, m_values.width);
    if (changedDrawing)
        update();
}

void MusicBeatLane::resizeEvent(QResizeEvent*)
{
    m_scrub->setGeometry(rect());
    m_playhead->setGeometry(rect());
}

void MusicBeatLane::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF visible = event->rect();
    const double w = width();
    const double h = height();

    // Only the exposed stretch of the long lane is filled; its own rounded ends fall outside
    // the clip when they are not exposed.
    painter.setClipRect(event->rect());
    const double left = std::max(visible.left() - 8, 0.0);
    const double right = std::min(visible.right() + 9, w);
    QPainterPath background;
    background.addRoundedRect(QRectF(left, 0, right - left, h), 7, 7);
    painter.fillPath(background, musicLaneColor());

    const double guides[3][2] = {{0.2, 0.08}, {0.5, 0.16}, {0.8, 0.08}};
    for (const auto& guide : guides) {
        painter.setPen(QPen(withOpacity(Qt::white, guide[1]), 0.8));
        painter.drawLine(QPointF(visible.left(), h * guide[0]), QPointF(visible.right() + 1, h * guide[0]));
    }

    const int n = columnCount(songWidth());
    const std::size_t rows = visibleStemRows(m_values.stemWaveforms.size());
    const double stemArea = rows == 0 ? 0 : stemRowHeight * static_cast<double>(rows) + 4;
    if (rows > 0)
        drawStemRows(painter, visible, n);
    if (m_values.hasMainAudio) {
        drawMainWaveform(painter, visible, n, stemArea);
        drawCut(painter, stemArea);
    } else {
        QFont font = painter.font();
        font.setPixelSize(14);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(withOpacity(Qt::white, 0.62));
        painter.drawText(QRectF(0, 0, w, h), Qt::AlignCenter,
                         qtext(AppText::translate("Sin música", m_values.language)));
    }
    if (m_values.isAnalyzing)
        drawStatus(painter);
}

double MusicBeatLane::songWidth() const
{
    const double w = width();
    const double song = m_values.songDuration;
    if (!(song > 0) || !std::isfinite(song))
        return w;
    // At least a pixel, so that a very short song still has columns to place.
    return std::clamp(w * song / std::max(m_values.duration, 0.001), std::min(1.0, w), w);
}

void MusicBeatLane::drawStemRows(QPainter& painter, const QRectF& visible, int n) const
{
    const double w = songWidth();
    const auto [first, last] = visibleColumns(visible, w, n);
    const std::size_t rows = visibleStemRows(m_values.stemWaveforms.size());
    for (std::size_t i = 0; i < rows; ++i) {
        const StemWaveformOverlay& stem = m_values.stemWaveforms[i];
        const double centre = stemRowHeight * static_cast<double>(i) + 11.88;
        QPainterPath outline;
        for (int j = first; j <= last; ++j) {
            const QPointF point(w * j / (n - 1), centre - 7.48 * level(columnValue(stem.samples, j, n)));
            j == first ? outline.moveTo(point) : outline.lineTo(point);
        }
        for (int j = last; j >= first; --j)
            outline.lineTo(w * j / (n - 1), centre + 7.48 * level(columnValue(stem.samples, j, n)) * 0.82);
        outline.closeSubpath();
        const QColor colour = instrumentColor(stem.instrument);
        painter.fillPath(outline, withOpacity(colour, 0.22));
        painter.strokePath(outline, QPen(withOpacity(colour, 0.65), 0.9));
        const double separator = stemRowHeight * static_cast<double>(i) + 22;
        painter.setPen(QPen(withOpacity(Qt::white, 0.12), 1));
        painter.drawLine(QPointF(visible.left(), separator), QPointF(visible.right() + 1, separator));
    }
    const double bottom = stemRowHeight * static_cast<double>(rows) + 2;
    painter.setPen(QPen(withOpacity(Qt::white, 0.18), 1));
    painter.drawLine(QPointF(visible.left(), bottom), QPointF(visible.right() + 1, bottom));
}

void MusicBeatLane::drawMainWaveform(QPainter& painter, const QRectF& visible, int n, double top) const
{
    const double w = songWidth();
    const double m = std::max(height() - top, 1.0);
    const double centre = top + 0.54 * m;
    const double scale = 0.38 * m;
    const auto [first, last] = visibleColumns(visible, w, n);
    const auto& samples = m_values.samples;
    const auto x = [&](int j) { return w * j / (n - 1); };

    std::vector<double> levels;
    levels.reserve(static_cast<std::size_t>(last - first + 1));
    for (int j = first; j <= last; ++j)
        levels.push_back(level(columnValue(samples, j, n)));
    const auto levelAt = [&](int j) { return levels[static_cast<std::size_t>(j - first)]; };

    QPainterPath envelope;
    envelope.moveTo(x(first), centre);
    for (int j = first; j <= last; ++j)
        envelope.lineTo(x(j), centre - scale * levelAt(j));
    for (int j = last; j >= first; --j)
        envelope.lineTo(x(j), centre + scale * levelAt(j) * 0.82);
    envelope.closeSubpath();
    painter.fillPath(envelope, rgba(0.03, 0.35, 0.38, 0.44));

    const double bar = std::clamp(w / n * 0.48, 0.65, 2.2);
    const QColor highlight = rgba(0.88, 1.0, 1.0, 0.86);
    const QColor normal = rgba(0.7, 0.98, 1.0, 0.7);
    // Bars are at most 2.2 points wide: their rounded ends are below what a pixel shows.
    std::vector<QRectF> highlighted;
    std::vector<QRectF> plain;
    for (int j = first; j <= last; ++j) {
        const double cur = columnValue(samples, j, n);
        const double prev = columnValue(samples, std::max(j - 1, 0), n);
        const double next = columnValue(samples, std::min(j + 1, n - 1), n);
        const bool isHighlight = cur - prev > 0.16 || (prev <= cur && next <= cur && cur > 0.58);
        const double topY = centre - scale * levelAt(j);
        const double bottomY = centre + scale * levelAt(j) * 0.88;
        (isHighlight ? highlighted : plain).emplace_back(x(j) - bar / 2, topY, bar, std::max(bottomY - topY, 2.0));
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(normal);
    painter.drawRects(plain.data(), static_cast<int>(plain.size()));
    painter.setBrush(highlight);
    painter.drawRects(highlighted.data(), static_cast<int>(highlighted.size()));
    painter.setBrush(Qt::NoBrush);

    QPainterPath tops;
    QPainterPath bottoms;
    for (int j = first; j <= last; ++j) {
        const QPointF t(x(j), centre - scale * levelAt(j));
        const QPointF b(x(j), centre + scale * levelAt(j) * 0.88);
        j == first ? tops.moveTo(t) : tops.lineTo(t);
        j == first ? bottoms.moveTo(b) : bottoms.lineTo(b);
    }
    painter.strokePath(tops, QPen(rgba(0.96, 1.0, 1.0, 0.82), 1.35));
    painter.strokePath(bottoms, QPen(rgba(0.38, 0.78, 0.86, 0.34), 0.9));
}

void MusicBeatLane::drawCut(QPainter& painter, double top) const
{
    if (!m_values.cutTime)
        return;
    const double cut = *m_values.cutTime;
    if (!(cut > 0 && cut < m_values.duration))
        return;
    const double w = width();
    const double h = height();
    const double m = std::max(h - top, 1.0);
    const double d = std::max(m_values.duration, 0.001);
    const double cutX = std::clamp(w * cut / d, 0.0, w);
    const double fadeStart = std::max(cut - std::max(m_values.cutFadeOutDuration, 0.2), 0.0);
    const double fadeX = std::min(std::max(w * fadeStart / d, 0.0), cutX);
    const double fadeWidth = std::max(cutX - fadeX, 1.0);
    const QColor accent = accentColor();

    QLinearGradient gradient(QPointF(fadeX, top + m / 2), QPointF(fadeX + fadeWidth, top + m / 2));
    gradient.setColorAt(0, withOpacity(accent, 0.04));
    gradient.setColorAt(1, withOpacity(accent, 0.32));
    painter.fillRect(QRectF(fadeX, top, fadeWidth, m), gradient);
    if (w - cutX > 0)
        painter.fillRect(QRectF(cutX, 0, w - cutX, h), withOpacity(Qt::black, 0.48));
    painter.setPen(QPen(withOpacity(accent, 0.95), 2));
    painter.drawLine(QPointF(cutX, top + 2), QPointF(cutX, top + m - 2));
    painter.setPen(QPen(withOpacity(accent, 0.88), 1.6));
    painter.drawLine(QPointF(fadeX, top + 4), QPointF(cutX, top + m - 4));
}

void MusicBeatLane::drawStatus(QPainter& painter) const
{
    const QRectF area(0, 0, width(), height());
    QPainterPath shape;
    shape.addRoundedRect(area, 7, 7);
    const QColor green = rgba(0.2, 0.78, 0.35);
    painter.fillPath(shape, withOpacity(green, 0.2));

    // The status text is the store's own Spanish text, shown as it stands.
    const QString text = m_values.statusMessage.empty() ? QStringLiteral("Analizando musica")
                                                        : QString::fromStdString(m_values.statusMessage);
    QFont font = painter.font();
    font.setPixelSize(10);
    font.setWeight(QFont::DemiBold);
    painter.setFont(font);
    const double textWidth = painter.fontMetrics().horizontalAdvance(text);
    const double spinner = 13;
    const double rowWidth = spinner + 8 + textWidth;
    const double left = (area.width() - rowWidth) / 2;
    const double centreY = area.height() / 2;
    painter.setPen(QPen(withOpacity(green, 0.95), 2, Qt::SolidLine, Qt::RoundCap));
    // One turn a second, clockwise.
    const int turned = m_spinClock.isValid() ? static_cast<int>(m_spinClock.elapsed() % 1000) * 360 / 1000 : 0;
    m_spinnerRect = QRectF(left, centreY - spinner / 2, spinner, spinner);
    painter.drawArc(m_spinnerRect, (90 - turned) * 16, -270 * 16);
    painter.drawText(QRectF(left + spinner + 8, 0, textWidth + 2, area.height()), Qt::AlignVCenter | Qt::AlignLeft,
                     text);
}

} // namespace fotivela
