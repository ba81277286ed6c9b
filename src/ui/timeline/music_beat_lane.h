#pragma once

#include "model/app_language.h"
#include "model/stem_waveform_overlay.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fotivela {

class TimelinePlayheadView;
class WaveformScrubView;

// The song's lane: one thin waveform row per separated instrument above the mix's waveform,
// the song cut with its fade-out, the scrub surface, the playhead and the analysis status.
class MusicBeatLane : public QWidget {

public:
    struct Values {
        std::vector<double> samples;
        std::vector<StemWaveformOverlay> stemWaveforms;
        bool hasMainAudio = false;
        std::optional<double> cutTime;
        double cutFadeOutDuration = 2.5;
        bool isAnalyzing = false;
        std::string statusMessage;
        AppLanguage language = AppLanguage::spanish;
        double duration = 1;
        // The song's own length; 0 where it is not known, and the waveform then spans the lane.
        double songDuration = 0;
        double width = 320;
        double playhead = 0;
        bool isPlaying = false;
        std::int64_t playbackClockRevision = 0;
        double playbackClockAnchorTime = 0;
    };

    explicit MusicBeatLane(QWidget* parent = nullptr);

    void setValues(Values values);
    const Values& values() const { return m_values; }

    std::function<void(double)> onScrub;
    std::function<void(bool)> onMarkerEditingChanged;

    static double laneHeight(std::size_t stemCount);
    // Columns of the waveform: about one per 1.35 points, never fewer than 180.
    static int columnCount(double width);
    // The drawn height fraction of a sample value.
    static double level(double value);

    // Whether the analysis spinner is turning.
    bool isSpinning() const { return m_spinTimer.isActive(); }

    TimelinePlayheadView* playhead() const { return m_playhead; }
    WaveformScrubView* scrubView() const { return m_scrub; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Where the song ends on the lane: its waveform covers x from 0 to here.
    double songWidth() const;
    void drawStemRows(QPainter& painter, const QRectF& visible, int n) const;
    void drawMainWaveform(QPainter& painter, const QRectF& visible, int n, double top) const;
    void drawCut(QPainter& painter, double top) const;
    void drawStatus(QPainter& painter) const;

    Values m_values;
    QTimer m_spinTimer;
    QElapsedTimer m_spinClock;
    mutable QRectF m_spinnerRect;
    TimelinePlayheadView* m_playhead = nullptr;
    WaveformScrubView* m_scrub = nullptr;
};

} // namespace fotivela
