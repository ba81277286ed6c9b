#pragma once

#include "model/app_language.h"
#include "model/stem_waveform_overlay.h"

#include <QAbstractButton>
#include <QWidget>

#include <functional>
#include <optional>
#include <set>
#include <vector>

namespace fotivela {

// One 22 × 20 button of the column: a speaker glyph or the letter S on a rounded tile.
class TimelineAudioButton : public QAbstractButton {

public:
    enum class Glyph { speaker, speakerSlash, solo };

    explicit TimelineAudioButton(QWidget* parent = nullptr);

    void setLook(Glyph glyph, QColor foreground, QColor background);
    Glyph glyph() const { return m_glyph; }
    QColor background() const { return m_background; }
    QSize sizeHint() const override { return QSize(22, 20); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Glyph m_glyph = Glyph::speaker;
    QColor m_foreground;
    QColor m_background;
};

// The column fixed left of the scrolling lanes: listen and solo for each stem row and for the
// song, level with the rows of the music lane. It only reports; the store decides what plays.
class TimelineFixedAudioControls : public QWidget {

public:
    struct Values {
        std::vector<StemWaveformOverlay> stemWaveforms;
        std::set<AutoBeatInstrument> audibleInstruments;
        std::optional<AutoBeatInstrument> soloInstrument;
        bool isMainAudioMuted = false;
        bool isMainAudioSoloed = false;
        bool hasMainAudio = false;
        AppLanguage language = AppLanguage::spanish;
    };

    explicit TimelineFixedAudioControls(QWidget* parent = nullptr);

    void setValues(Values values);

    std::function<void(AutoBeatInstrument)> onToggleInstrumentAudio;
    std::function<void(AutoBeatInstrument)> onSoloInstrumentAudio;
    std::function<void()> onToggleMainAudioMute;
    std::function<void()> onSoloMainAudio;

    // The column's height: ruler and music lane together.
    double columnHeight() const;
    TimelineAudioButton* mainMuteButton() const { return m_mainMute; }
    TimelineAudioButton* mainSoloButton() const { return m_mainSolo; }
    // Listen and solo of stem row i, if it is shown.
    std::pair<TimelineAudioButton*, TimelineAudioButton*> stemButtons(std::size_t row) const;

    static QString instrumentLabel(AutoBeatInstrument instrument);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutPairs();
    void placePair(TimelineAudioButton* left, TimelineAudioButton* right, double y);

    Values m_values;
    TimelineAudioButton* m_mainMute = nullptr;
    TimelineAudioButton* m_mainSolo = nullptr;
    std::vector<std::pair<TimelineAudioButton*, TimelineAudioButton*>> m_stemPairs;
};

} // namespace fotivela
