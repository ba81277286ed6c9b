#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <cstdint>
#include <optional>

class QScrollArea;

namespace fotivela {

// Where the viewport should be while it follows the playhead.
namespace TimelinePlayheadFollowRules {

struct Anchor {
    double initialOffset = 0;
    double initialScreenX = 0;
    double followScreenX = 0;

    bool operator==(const Anchor&) const = default;
};

Anchor anchor(double playheadX, double currentOffset, double viewportWidth);
double followOffset(double playheadX, const Anchor& anchor, double viewportWidth, double maxOffset);

} // namespace TimelinePlayheadFollowRules

// Moves the timeline's scroll area without the user: one jump to the target offset after every
// zoom change, and during playback a follow of the playhead at the display rate, on a clock of
// its own started from the store's playback anchor.
class TimelineScrollPositionController : public QObject {

public:
    struct Values {
        double targetOffset = 0;
        std::int64_t focusRevision = 0;
        bool isPlaying = false;
        bool isEnabled = false;
        double contentWidth = 1;
        double playheadTime = 0;
        std::int64_t playbackClockRevision = 0;
        double playbackClockAnchorTime = 0;
        double duration = 1;
        double leadingGutter = 0;
    };

    explicit TimelineScrollPositionController(QScrollArea* scrollArea, QObject* parent = nullptr);

    void update(const Values& values);
    void tick();
    void stop();

    bool isTimerRunning() const { return m_displayTimer.isActive(); }
    const std::optional<TimelinePlayheadFollowRules::Anchor>& playbackFollowAnchor() const
    {
        return m_playbackFollowAnchor;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    double offset() const;
    double viewportWidth() const;
    double documentX(double time) const;
    void scrollTo(double x);
    void capturePlaybackFollowAnchor(double time);

    QPointer<QScrollArea> m_scrollArea;
    const QObject* m_watchedArea = nullptr;
    QTimer m_displayTimer;
    double m_targetOffset = 0;
    std::int64_t m_lastFocusRevision = 0;
    bool m_isPlaying = false;
    bool m_isEnabled = false;
    double m_contentWidth = 1;
    double m_playheadTime = 0;
    std::int64_t m_playbackClockRevision = -1;
    double m_playbackClockAnchorTime = 0;
    QElapsedTimer m_playbackClockAnchorDate;
    double m_duration = 1;
    double m_leadingGutter = 0;
    std::optional<TimelinePlayheadFollowRules::Anchor> m_playbackFollowAnchor;
};

} // namespace fotivela
