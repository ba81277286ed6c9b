#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <cstdint>

namespace fotivela {

// The playhead line over the music lane. Between the store's few published preview times it
// runs its own clock from the store's playback anchor, so the line moves at the display rate
// without the lanes being redrawn.
class TimelinePlayheadView : public QWidget {

public:
    explicit TimelinePlayheadView(QWidget* parent = nullptr);

    void update(double playhead, bool isPlaying, std::int64_t playbackClockRevision, double playbackClockAnchorTime,
                double duration, double width);

    double currentTime() const { return m_currentTime; }
    bool isTimerRunning() const { return m_displayTimer.isActive(); }
    // x of the line's centre in this view.
    double lineX() const;
    void tick();

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateFrame();

    QTimer m_displayTimer;
    QElapsedTimer m_anchorDate;
    double m_anchorTime = 0;
    double m_currentTime = 0;
    double m_duration = 1;
    double m_timelineWidth = 1;
    bool m_isPlaying = false;
    std::int64_t m_revision = -1;
    int m_paintedX = -1000;
};

} // namespace fotivela
