#pragma once

#include "model/app_language.h"
#include "model/audio_track.h"
#include "model/beat_marker.h"

#include <QColor>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QToolButton;

namespace fotivela {

// The colours of the music lane explained: song waveform, attack markers, instruments, manual.
class TimelineLegend : public QWidget {

public:
    struct Item {
        QColor color;
        QString label;
        bool operator==(const Item&) const = default;
    };

    explicit TimelineLegend(QWidget* parent = nullptr);

    void setValues(bool hasAudio, std::optional<SyncMode> syncMode, bool isAttackWaveformEnabled,
                   const std::vector<AutoBeatInstrument>& instruments, bool hasManualMarkers, AppLanguage language);
    const std::vector<Item>& items() const { return m_items; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return QSize(0, 14); }

    // Short names shared by the legend and the marker pill.
    static QString shortInstrumentName(AutoBeatInstrument instrument);
    static QColor songColor();
    static QColor manualColor();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont labelFont() const;

    std::vector<Item> m_items;
};

// Which marker is selected (its source and its time), with one button that disables it.
class TimelineMarkerSelectionPill : public QWidget {

public:
    explicit TimelineMarkerSelectionPill(QWidget* parent = nullptr);

    void setValues(const BeatMarker& marker, AppLanguage language);
    std::function<void()> onDelete;

    QString text() const { return m_text; }
    QColor markerColor() const { return m_color; }
    QToolButton* deleteButton() const { return m_delete; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QFont textFont() const;

    QString m_text;
    QColor m_color = Qt::white;
    QToolButton* m_delete = nullptr;
};

} // namespace fotivela
