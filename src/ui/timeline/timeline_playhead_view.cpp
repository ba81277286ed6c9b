#include "ui/timeline/timeline_playhead_view.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace fotivela {

TimelinePlayheadView::TimelinePlayheadView(QWidget* parent)
    : QWidget(parent)
{
    // Clicks fall through to the scrub surface below.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    m_displayTimer.setInterval(16);
    m_displayTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_displayTimer, &QTimer::timeout, this, &TimelinePlayheadView::tick);
    m_anchorDate.start();
}

void TimelinePlayheadView::update(double playhead, bool isPlaying, std::int64_t playbackClockRevision,
                                  double playbackClockAnchorTime, double duration, double width)
{
    m_duration = std::max(duration, 0.001);
    m_timelineWidth = std::max(width, 1.0);
    m_isPlaying = isPlaying;
    if (playbackClockRevision != m_revision || !isPlaying) {
        m_revision = playbackClockRevision;
        m_anchorDate.restart();
        m_anchorTime = playbackClockAnchorTime;
        m_currentTime = playhead;
        if (!isPlaying) {
            m_displayTimer.stop();
            updateFrame();
            return;
        }
    }
    if (!m_displayTimer.isActive())
        m_displayTimer.start();
    updateFrame();
}

void TimelinePlayheadView::tick()
{
    if (!m_isPlaying) {
        m_displayTimer.stop();
        return;
    }
    const double elapsed = static_cast<double>(m_anchorDate.nsecsElapsed()) / 1e9;
    m_currentTime = std::min(m_anchorTime + elapsed, m_duration);
    updateFrame();
}

double TimelinePlayheadView::lineX() const
{
    const double x = m_currentTime / std::max(m_duration, 0.001) * m_timelineWidth;
    if (!std::isfinite(x))
        return 0;
    return std::clamp(x, 0.0, m_timelineWidth);
}

void TimelinePlayheadView::updateFrame()
{
    const int x = static_cast<int>(std::lround(lineX()));
    if (x == m_paintedX)
        return;
    // Only the strips of the old and the new line are repainted.
    QWidget::update(QRect(m_paintedX - 2, 0, 4, height()));
    m_paintedX = x;
    QWidget::update(QRect(m_paintedX - 2, 0, 4, height()));
}

void TimelinePlayheadView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(QRectF(lineX() - 1, 0, 2, height()), QColor(10, 132, 255));
}

void TimelinePlayheadView::hideEvent(QHideEvent* event)
{
    m_displayTimer.stop();
    QWidget::hideEvent(event);
}

} // namespace fotivela
