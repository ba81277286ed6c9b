#pragma once

#include "ui/inspectors/inspector_view.h"

class QCheckBox;
class QFrame;
class QLabel;
class QSlider;

namespace fotivela {

// Percentage text of an amount: times 100, halves away from zero.
QString percentText(double amount);
// A duration as one decimal and " s".
QString durationText(double seconds);

// The project-wide Ken Burns motion, shown from the first slide and written to all.
class KenBurnsControls : public InspectorView {
public:
    KenBurnsControls(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent = nullptr);
    void refresh() override;

    QCheckBox* toggle() const { return m_toggle; }
    QFrame* card() const { return m_card; }
    QSlider* zoomSlider() const { return m_zoomSlider; }
    QSlider* movementSlider() const { return m_movementSlider; }
    QLabel* zoomValue() const { return m_zoomValue; }
    QLabel* movementValue() const { return m_movementValue; }

private:
    QCheckBox* m_toggle = nullptr;
    QFrame* m_card = nullptr;
    QLabel* m_zoomCaption = nullptr;
    QLabel* m_zoomValue = nullptr;
    QSlider* m_zoomSlider = nullptr;
    QLabel* m_movementCaption = nullptr;
    QLabel* m_movementValue = nullptr;
    QSlider* m_movementSlider = nullptr;
};

// The duration of the slides being edited (the timeline selection, else the active one).
class SlideDurationControls : public InspectorView {
public:
    SlideDurationControls(ProjectStore& store, StoreSignals& storeSignals, bool showsHeader, QWidget* parent = nullptr);
    void refresh() override;

    QSlider* slider() const { return m_slider; }
    QLabel* valueLabel() const { return m_value; }
    // Slider positions are half seconds.
    static constexpr int stepsPerSecond = 2;

private:
    bool m_showsHeader;
    QLabel* m_header = nullptr;
    QLabel* m_value = nullptr;
    QSlider* m_slider = nullptr;
    QLabel* m_note = nullptr;
};

} // namespace fotivela
