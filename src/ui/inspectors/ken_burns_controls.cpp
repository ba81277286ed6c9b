#include "ui/inspectors/ken_burns_controls.h"

#include "ui/shell/fotivela_design_system.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace fotivela {

namespace {

constexpr double defaultZoom = 0.12;
constexpr double defaultMovement = 0.35;
constexpr double defaultDuration = 4.0;

// Slider positions in hundredths (zoom) and twentieths (movement).
constexpr int zoomScale = 100;
constexpr int movementScale = 20;

int sliderPosition(double value, double scale, int minimum, int maximum)
{
    if (!std::isfinite(value))
        return minimum;
    return static_cast<int>(std::lround(std::clamp(value * scale, double(minimum), double(maximum))));
}

} // namespace

QString percentText(double amount)
{
    // std::round takes halves away from zero; the guard keeps a wild stored value printable.
    return QString::number(displayInteger(std::round(amount * 100))) + "%";
}

QString durationText(double seconds)
{
    return QString::asprintf("%.1f s", std::isfinite(seconds) ? seconds : 0.0);
}

KenBurnsControls::KenBurnsControls(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent)
    : InspectorView(store, storeSignals, parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    m_toggle = new QCheckBox(this);
    fotivelaCheckbox(m_toggle);
    layout->addWidget(m_toggle);
    connect(m_toggle, &QCheckBox::toggled, this, [this](bool on) {
        this->store().setKenBurnsEnabled(on);
        // Without slides the store keeps the effect off and says nothing.
        refresh();
    });

    m_card = makeInspectorCard(this, 10, 0.045, 0.1);
    auto* cardLayout = new QVBoxLayout(m_card);
    cardLayout->setContentsMargins(10, 10, 10, 10);
    cardLayout->setSpacing(8);
    auto addRow = [this, cardLayout](QLabel*& caption, QLabel*& value) {
        auto* row = new QHBoxLayout;
        caption = new QLabel(m_card);
        applyCaptionFont(caption);
        value = new QLabel(m_card);
        applyCaptionFont(value);
        applySecondaryStyle(value);
        row->addWidget(caption);
        row->addStretch();
        row->addWidget(value);
        cardLayout->addLayout(row);
    };
    addRow(m_zoomCaption, m_zoomValue);
    m_zoomSlider = new QSlider(Qt::Horizontal, m_card);
    m_zoomSlider->setRange(2, 35);
    m_zoomSlider->setPageStep(1);
    cardLayout->addWidget(m_zoomSlider);
    addRow(m_movementCaption, m_movementValue);
    m_movementSlider = new QSlider(Qt::Horizontal, m_card);
    m_movementSlider->setRange(0, movementScale);
    m_movementSlider->setPageStep(1);
    cardLayout->addWidget(m_movementSlider);
    layout->addWidget(m_card);

    connect(m_zoomSlider, &QSlider::valueChanged, this,
            [this](int value) { this->store().setKenBurnsZoomAmount(double(value) / zoomScale); });
    connect(m_movementSlider, &QSlider::valueChanged, this,
            [this](int value) { this->store().setKenBurnsMovementAmount(double(value) / movementScale); });
    refresh();
}

void KenBurnsControls::refresh()
{
    const auto& slides = store().project().slides;
    const bool enabled = !slides.empty() && slides.front().kenBurnsEnabled;
    const double zoom = slides.empty() ? defaultZoom : slides.front().kenBurnsZoomAmount;
    const double movement = slides.empty() ? defaultMovement : slides.front().kenBurnsMovementAmount;

    m_toggle->setText(text("Efecto Ken Burns"));
    {
        const QSignalBlocker blocker(m_toggle);
        m_toggle->setChecked(enabled);
    }
    m_card->setVisible(enabled);
    m_zoomCaption->setText(text("Zoom"));
    m_movementCaption->setText(text("Movimiento"));
    m_zoomValue->setText(percentText(zoom));
    m_movementValue->setText(percentText(movement));
    {
        const QSignalBlocker blocker(m_zoomSlider);
        m_zoomSlider->setValue(sliderPosition(zoom, zoomScale, 2, 35));
    }
    {
        const QSignalBlocker blocker(m_movementSlider);
        m_movementSlider->setValue(sliderPosition(movement, movementScale, 0, movementScale));
    }
}

SlideDurationControls::SlideDurationControls(ProjectStore& store, StoreSignals& storeSignals, bool showsHeader,
                                             QWidget* parent)
    : InspectorView(store, storeSignals, parent)
    , m_showsHeader(showsHeader)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* row = new QHBoxLayout;
    m_value = new QLabel(this);
    applySecondaryStyle(m_value);
    if (m_showsHeader) {
        m_header = new QLabel(this);
        row->addWidget(m_header);
    } else {
        applyCaptionFont(m_value, true);
    }
    row->addStretch();
    row->addWidget(m_value);
    layout->addLayout(row);

    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setRange(1 * stepsPerSecond, 12 * stepsPerSecond);
    m_slider->setPageStep(1);
    layout->addWidget(m_slider);
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
        this->store().applyDurationToEditableSlides(double(value) / stepsPerSecond);
        // The store refuses silently in the automatic mode: show what it holds.
        refresh();
    });

    m_note = new QLabel(this);
    m_note->setWordWrap(true);
    applyCaptionFont(m_note);
    applySecondaryStyle(m_note);
    layout->addWidget(m_note);
    refresh();
}

void SlideDurationControls::refresh()
{
    const auto editable = store().editableSlides();
    const double duration = editable.empty() ? defaultDuration : editable.front().duration;
    if (m_header)
        m_header->setText(text("Duracion"));
    m_value->setText(durationText(duration));
    {
        const QSignalBlocker blocker(m_slider);
        m_slider->setValue(sliderPosition(duration, stepsPerSecond, m_slider->minimum(), m_slider->maximum()));
    }
    m_note->setText(
        text("Modo manual. Se aplica a la seleccion del timeline. Si no hay seleccion multiple, se aplica a la foto activa."));
}

} // namespace fotivela
