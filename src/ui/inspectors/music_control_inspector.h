#pragma once

#include "model/auto_beat_instrument.h"
#include "ui/inspectors/inspector_view.h"

#include <map>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

namespace fotivela {

class SlideDurationControls;

// The markers pane: how slides follow the song (manual or automatic), where the
// automatic markers come from, their sensitivity and spacing, the song's cut and fade,
// and the marker commands.
class MusicControlInspector : public InspectorView {
public:
    MusicControlInspector(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent = nullptr);
    void refresh() override;

    // Slider positions: sensitivity and fade in twentieths and tenths, spacing in hundredths.
    static constexpr int sensitivitySteps = 20;
    static constexpr int spacingSteps = 100;
    static constexpr int fadeSteps = 10;

    QLabel* noSongMessage() const { return m_noSong; }
    QWidget* content() const { return m_content; }
    QComboBox* syncModePicker() const { return m_syncMode; }
    QWidget* automaticBlock() const { return m_automatic; }
    QWidget* manualBlock() const { return m_manual; }
    QCheckBox* attacksToggle() const { return m_attacks; }
    QCheckBox* instrumentsToggle() const { return m_instruments; }
    QCheckBox* instrumentToggle(AutoBeatInstrument instrument) const { return m_instrumentToggles.at(instrument); }
    QSlider* sensitivitySlider() const { return m_sensitivity; }
    QSlider* spacingSlider() const { return m_spacing; }
    QCheckBox* cutToggle() const { return m_cut; }
    QSlider* fadeSlider() const { return m_fade; }
    QLabel* photoCounts() const { return m_photoCounts; }
    QLabel* statusLine() const { return m_status; }
    QPushButton* placeButton() const { return m_place; }
    QPushButton* restoreButton() const { return m_restore; }
    QPushButton* deleteManualButton() const { return m_deleteManual; }
    SlideDurationControls* durationControls() const { return m_duration; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* m_noSong = nullptr;
    QWidget* m_content = nullptr;
    QLabel* m_heading = nullptr;
    QComboBox* m_syncMode = nullptr;
    QLabel* m_status = nullptr;

    QWidget* m_automatic = nullptr;
    QLabel* m_sourceCaption = nullptr;
    QCheckBox* m_attacks = nullptr;
    QCheckBox* m_instruments = nullptr;
    QWidget* m_instrumentList = nullptr;
    std::map<AutoBeatInstrument, QCheckBox*> m_instrumentToggles;
    QLabel* m_sensitivityCaption = nullptr;
    QLabel* m_sensitivityValue = nullptr;
    QSlider* m_sensitivity = nullptr;
    QLabel* m_spacingCaption = nullptr;
    QLabel* m_spacingValue = nullptr;
    QSlider* m_spacing = nullptr;
    QLabel* m_photoCounts = nullptr;
    QLabel* m_cutCaption = nullptr;
    QCheckBox* m_cut = nullptr;
    QLabel* m_cutUnavailable = nullptr;
    QWidget* m_fadeRow = nullptr;
    QLabel* m_fadeCaption = nullptr;
    QLabel* m_fadeValue = nullptr;
    QSlider* m_fade = nullptr;
    QPushButton* m_restore = nullptr;

    QWidget* m_manual = nullptr;
    SlideDurationControls* m_duration = nullptr;
    QPushButton* m_place = nullptr;

    QPushButton* m_deleteManual = nullptr;
};

} // namespace fotivela
