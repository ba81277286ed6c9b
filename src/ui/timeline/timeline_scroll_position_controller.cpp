#include "ui/timeline/timeline_scroll_position_controller.h"

#include <QEvent>

#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace fotivela {

namespace TimelinePlayheadFollowRules {

Anchor anchor(double playheadX, double currentOffset, double viewportWidth)
{
    const double screenX = playheadX - currentOffset;
    return Anchor{currentOffset, screenX, std::max(screenX, std::max(viewportWidth, 1.0) * 0.5)};
}

double followOffset(double playheadX, const Anchor& anchor, double viewportWidth, double maxOffset)
{
    const double half = viewportWidth <= 1 ? 0.5 : viewportWidth * 0.5;
    // The view stays put while the playhead, seen from where following began, is left of the middle.
    const double desired = playheadX - anchor.initialOffset < half && anchor.initialScreenX < half
        ? anchor.initialOffset
        : playheadX - anchor.followScreenX;
    return std::min(std::max(desired, 0.0), maxOffset);
}

} // namespace TimelinePlayheadFollowRules

TimelineScrollPositionController::TimelineScrollPositionController(QScrollArea* scrollArea, QObject* parent)
    : QObject(parent)
    , m_scrollArea(scrollArea)
{
    m_displayTimer.setInterval(16);
    m_displayTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_displayTimer, &QTimer::timeout, this, &TimelineScrollPositionController::tick);
    m_playbackClockAnchorDate.start();
    // The timer runs only while the timeline is on screen.
    if (m_scrollArea) {
        m_watchedArea = m_scrollArea.data();
        m_scrollArea->installEventFilter(this);
    }
}

bool TimelineScrollPositionController::eventFilter(QObject* watched, QEvent* event)
{
    // Compared as a plain object: a scroll area being destroyed is hidden one last time.
    if (watched == m_watchedArea) {
        if (event->type() == QEvent::Hide)
            m_displayTimer.stop();
        else if (event->type() == QEvent::Show && m_isPlaying && m_isEnabled && !m_displayTimer.isActive())
            m_displayTimer.start();
    }
    return QObject::eventFilter(watched, event);
}

double TimelineScrollPositionController::offset() const
{
    return m_scrollArea ? m_scrollArea->horizontalScrollBar()->value() : 0;
}

double TimelineScrollPositionController::viewportWidth() const
{
    return m_scrollArea ? m_scrollArea->viewport()->width() : 0;
}

double TimelineScrollPositionController::documentX(double time) const
{
    return m_leadingGutter
        + std::min(std::max(time * m_contentWidth / std::max(m_duration, 0.001), 0.0), m_contentWidth);
}

void TimelineScrollPositionController::scrollTo(double x)
{
    if (!m_scrollArea || std::abs(offset() - x) <= 0.25)
        return;
    m_scrollArea->horizontalScrollBar()->setValue(static_cast<int>(std::lround(x)));
}

void TimelineScrollPositionController::capturePlaybackFollowAnchor(double time)
{
    if (!m_scrollArea)
        return;
    m_playbackFollowAnchor = TimelinePlayheadFollowRules::anchor(documentX(time), offset(), viewportWidth());
}

void TimelineScrollPositionController::update(const Values& values)
{
    const bool started = values.isPlaying && !m_isPlaying;
    const std::int64_t oldRevision = m_playbackClockRevision;
    m_targetOffset = values.targetOffset;
    m_isPlaying = values.isPlaying;
    m_isEnabled = values.isEnabled;
    m_playheadTime = values.playheadTime;
    m_contentWidth = std::max(values.contentWidth, 1.0);
    m_duration = std::max(values.duration, 0.001);
    m_leadingGutter = values.leadingGutter;
    const bool revisionChanged = values.playbackClockRevision != oldRevision;
    if (revisionChanged || !m_isPlaying) {
        m_playbackClockRevision = values.playbackClockRevision;
        m_playbackClockAnchorTime = values.playbackClockAnchorTime;
        m_playbackClockAnchorDate.restart();
        if (!m_isPlaying)
            m_playbackFollowAnchor.reset();
    }
    if (m_isPlaying && (started || revisionChanged))
        capturePlaybackFollowAnchor(m_playheadTime);
    if (values.focusRevision != m_lastFocusRevision) {
        m_lastFocusRevision = values.focusRevision;
        scrollTo(m_targetOffset);
    }
    if (m_isPlaying && m_isEnabled && m_scrollArea && m_scrollArea->isVisible()) {
        if (!m_displayTimer.isActive())
            m_displayTimer.start();
        tick();
    } else {
        m_displayTimer.stop();
    }
}

void TimelineScrollPositionController::tick()
{
    if (!m_isPlaying || !m_isEnabled || !m_scrollArea)
        return;
    const double w = viewportWidth();
    const double elapsed = static_cast<double>(m_playbackClockAnchorDate.nsecsElapsed()) / 1e9;
    const double time = std::min(m_playbackClockAnchorTime + elapsed, m_duration);
    const double playheadX = documentX(time);
    if (!m_playbackFollowAnchor)
        capturePlaybackFollowAnchor(m_playbackClockAnchorTime);
    if (!m_playbackFollowAnchor)
        return;
    const double maxOffset = w > 1 ? std::max(m_leadingGutter + m_contentWidth - w, 0.0)
                                   : std::max(m_leadingGutter + m_contentWidth - 1, 0.0);
    const double target = TimelinePlayheadFollowRules::followOffset(playheadX, *m_playbackFollowAnchor, w, maxOffset);
    if (std::abs(offset() - target) > 0.25)
        scrollTo(target);
}

void TimelineScrollPositionController::stop() { m_displayTimer.stop(); }

} // namespace fotivela
