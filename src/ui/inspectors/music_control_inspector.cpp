#include "ui/inspectors/music_control_inspector.h"

#include "ui/common/view_helpers.h"
#include "ui/inspectors/ken_burns_controls.h"
#include "ui/shell/fotivela_design_system.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace fotivela {

namespace {

int position(double value, int steps, const QSlider* slider)
{
    if (!std::isfinite(value))
        return slider->minimum();
    return static_cast<int>(
        std::lround(std::clamp(value * steps, double(slider->minimum()), double(slider->maximum()))));
}

void setPosition(QSlider* slider, int value)
{
    // The user's drag wins over an echo of the store.
    if (slider->isSliderDown())
        return;
    const QSignalBlocker blocker(slider);
    slider->setValue(value);
}

QSlider* makeSlider(QWidget* parent, int minimum, int maximum)
{
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(minimum, maximum);
    slider->setPageStep(1);
    return slider;
}

} // namespace

MusicControlInspector::MusicControlInspector(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent)
    : InspectorView(store, storeSignals, parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    m_noSong = new QLabel(this);
    applySecondaryStyle(m_noSong);
    layout->addWidget(m_noSong);

    m_content = new QWidget(this);
    auto* content = new QVBoxLayout(m_content);
    content->setContentsMargins(0, 0, 0, 0);
    content->setSpacing(12);
    layout->addWidget(m_content);
    layout->addStretch();

    auto* modeRow = new QHBoxLayout;
    m_heading = new QLabel(m_content);
    m_syncMode = new QComboBox(m_content);
    m_syncMode->addItem(QString(), static_cast<int>(SyncMode::manual));
    m_syncMode->addItem(QString(), static_cast<int>(SyncMode::autoBeatV2));
    modeRow->addWidget(m_heading);
    modeRow->addWidget(m_syncMode, 1);
    content->addLayout(modeRow);
    connect(m_syncMode, &QComboBox::activated, this, [this](int index) {
        this->store().setSyncMode(static_cast<SyncMode>(m_syncMode->itemData(index).toInt()));
    });

    m_status = new QLabel(m_content);
    m_status->setWordWrap(true);
    applyCaptionFont(m_status);
    applySecondaryStyle(m_status);
    content->addWidget(m_status);

    // Automatic mode
    m_automatic = makeInspectorCard(m_content, 12, 0.045, 0.12);
    auto* automatic = new QVBoxLayout(m_automatic);
    automatic->setContentsMargins(10, 10, 10, 10);
    automatic->setSpacing(8);
    m_sourceCaption = new QLabel(m_automatic);
    applyCaptionFont(m_sourceCaption, true);
    automatic->addWidget(m_sourceCaption);
    m_attacks = new QCheckBox(m_automatic);
    automatic->addWidget(m_attacks);
    connect(m_attacks, &QCheckBox::toggled, this, [this](bool on) {
        this->store().setAttackWaveformEnabled(on);
        // The store may keep attacks on when nothing else gives markers.
        refresh();
    });
    m_instruments = new QCheckBox(m_automatic);
    automatic->addWidget(m_instruments);
    connect(m_instruments, &QCheckBox::toggled, this,
            [this](bool on) {
                this->store().setAutoBeatInstrumentsEnabled(on);
                refresh();
            });
    m_instrumentList = new QWidget(m_automatic);
    auto* instrumentList = new QVBoxLayout(m_instrumentList);
    instrumentList->setContentsMargins(16, 0, 0, 0);
    instrumentList->setSpacing(6);
    for (const AutoBeatInstrument instrument : {AutoBeatInstrument::drums, AutoBeatInstrument::bass,
                                                AutoBeatInstrument::vocals, AutoBeatInstrument::other}) {
        auto* toggle = new QCheckBox(m_instrumentList);
        QPixmap dot(10, 10);
        dot.fill(instrumentColor(instrument));
        toggle->setIcon(QIcon(dot));
        instrumentList->addWidget(toggle);
        m_instrumentToggles[instrument] = toggle;
        connect(toggle, &QCheckBox::toggled, this,
                [this, instrument](bool on) {
                    this->store().setAutoBeatInstrument(instrument, on);
                    refresh();
                });
    }
    automatic->addWidget(m_instrumentList);

    auto addValueRow = [](QWidget* parent, QVBoxLayout* into, QLabel*& caption, QLabel*& value) {
        auto* row = new QHBoxLayout;
        caption = new QLabel(parent);
        applyCaptionFont(caption);
        value = new QLabel(parent);
        applyCaptionFont(value);
        applySecondaryStyle(value);
        row->addWidget(caption);
        row->addStretch();
        row->addWidget(value);
        into->addLayout(row);
    };
    addValueRow(m_automatic, automatic, m_sensitivityCaption, m_sensitivityValue);
    m_sensitivity = makeSlider(m_automatic, -30, 30);
    automatic->addWidget(m_sensitivity);
    // Live values while dragging redraw the markers; the release records the change.
    connect(m_sensitivity, &QSlider::valueChanged, this, [this](int value) {
        const double sensitivity = double(value) / sensitivitySteps;
        if (m_sensitivity->isSliderDown())
            this->store().previewBeatSensitivity(sensitivity);
        else
            this->store().setBeatSensitivity(sensitivity);
    });
    connect(m_sensitivity, &QSlider::sliderReleased, this, [this] {
        this->store().setBeatSensitivity(double(m_sensitivity->value()) / sensitivitySteps);
    });

    addValueRow(m_automatic, automatic, m_spacingCaption, m_spacingValue);
    m_spacing = makeSlider(m_automatic, 8, 200);
    automatic->addWidget(m_spacing);
    // Each spacing runs the marker filter again: applied when the drag ends.
    connect(m_spacing, &QSlider::valueChanged, this, [this](int value) {
        m_spacingValue->setText(QString::asprintf("%.2f s", double(value) / spacingSteps));
        if (!m_spacing->isSliderDown())
            this->store().setAutoBeatMinimumMarkerSpacing(double(value) / spacingSteps);
    });
    connect(m_spacing, &QSlider::sliderReleased, this, [this] {
        this->store().setAutoBeatMinimumMarkerSpacing(double(m_spacing->value()) / spacingSteps);
    });

    m_photoCounts = new QLabel(m_automatic);
    m_photoCounts->setWordWrap(true);
    applyCaptionFont(m_photoCounts);
    automatic->addWidget(m_photoCounts);

    m_cutCaption = new QLabel(m_automatic);
    m_cutCaption->setWordWrap(true);
    applyCaptionFont(m_cutCaption, true);
    automatic->addWidget(m_cutCaption);
    m_cut = new QCheckBox(m_automatic);
    automatic->addWidget(m_cut);
    connect(m_cut, &QCheckBox::toggled, this, [this](bool on) { this->store().setCutAudioToSlideshowDuration(on); });
    m_cutUnavailable = new QLabel(m_automatic);
    applyCaptionFont(m_cutUnavailable);
    applySecondaryStyle(m_cutUnavailable);
    automatic->addWidget(m_cutUnavailable);
    m_fadeRow = new QWidget(m_automatic);
    auto* fadeLayout = new QVBoxLayout(m_fadeRow);
    fadeLayout->setContentsMargins(0, 0, 0, 0);
    addValueRow(m_fadeRow, fadeLayout, m_fadeCaption, m_fadeValue);
    m_fade = makeSlider(m_fadeRow, 2, 120);
    fadeLayout->addWidget(m_fade);
    automatic->addWidget(m_fadeRow);
    connect(m_fade, &QSlider::valueChanged, this,
            [this](int value) { this->store().setCutAudioFadeOutDuration(double(value) / fadeSteps); });

    m_restore = new QPushButton(m_automatic);
    styleBorderedButton(m_restore);
    automatic->addWidget(m_restore);
    connect(m_restore, &QPushButton::clicked, this, [this] { this->store().restoreAttackBeatMarkers(); });
    content->addWidget(m_automatic);

    // Manual mode
    m_manual = new QWidget(m_content);
    auto* manual = new QVBoxLayout(m_manual);
    manual->setContentsMargins(0, 0, 0, 0);
    manual->setSpacing(10);
    m_duration = new SlideDurationControls(store, storeSignals, false, m_manual);
    manual->addWidget(m_duration);
    m_place = new QPushButton(m_manual);
    applyProminentStyle(m_place);
    manual->addWidget(m_place);
    connect(m_place, &QPushButton::clicked, this, [this] { this->store().placeSlidesOnManualBeatMarkers(); });
    content->addWidget(m_manual);

    m_deleteManual = new QPushButton(m_content);
    styleBorderedButton(m_deleteManual);
    m_deleteManual->setIcon(symbolIcon("trash"));
    content->addWidget(m_deleteManual);
    // The confirmation dialog opens on this count and clears it on every way out.
    connect(m_deleteManual, &QPushButton::clicked, this, [this] {
        const std::int64_t count = this->store().manualBeatMarkerCount();
        if (count >= 1)
            this->store().setManualBeatMarkerDeletionCount(count);
    });

    fotivelaCheckbox(this);
    refresh();
}

void MusicControlInspector::showEvent(QShowEvent* event)
{
    InspectorView::showEvent(event);
    store().normalizeCutAudioToSlideshowDurationIfNeeded();
}

void MusicControlInspector::refresh()
{
    ProjectStore& s = store();
    const auto& audio = s.project().audio;
    m_noSong->setText(text("Sin música"));
    m_noSong->setVisible(!audio);
    m_content->setVisible(audio.has_value());
    if (!audio)
        return;

    const bool automaticMode = audio->syncMode == SyncMode::autoBeatV2;
    m_heading->setText(text("Marcas"));
    m_syncMode->setItemText(0, text("Manual"));
    m_syncMode->setItemText(1, text("Automático"));
    {
        const QSignalBlocker blocker(m_syncMode);
        m_syncMode->setCurrentIndex(automaticMode ? 1 : 0);
    }

    const bool busy = s.isAnalyzingAudio();
    const std::string& status = s.audioAnalysisStatusMessage();
    m_status->setVisible(busy || !status.empty());
    m_status->setText(status.empty() ? text("Analizando musica...") : text(status));

    m_automatic->setVisible(automaticMode);
    m_manual->setVisible(!automaticMode);

    m_sourceCaption->setText(text("Fuente de sincronizacion"));
    const bool instrumentsOn = !audio->autoBeatInstruments.empty();
    {
        const QSignalBlocker attacks(m_attacks);
        const QSignalBlocker instruments(m_instruments);
        m_attacks->setText(text("Ataques"));
        m_attacks->setChecked(s.isAttackWaveformEnabled());
        m_instruments->setText(text("Instrumentos"));
        m_instruments->setChecked(instrumentsOn);
    }
    m_instrumentList->setVisible(instrumentsOn);
    for (const auto& [instrument, toggle] : m_instrumentToggles) {
        const QSignalBlocker blocker(toggle);
        toggle->setText(text(toStored(instrument)));
        toggle->setChecked(audio->autoBeatInstruments.count(instrument) > 0);
    }

    m_sensitivityCaption->setText(text("Sensibilidad"));
    m_sensitivityValue->setText(QString::asprintf("%+.2f", std::isfinite(audio->beatSensitivity) ? audio->beatSensitivity : 0.0));
    setPosition(m_sensitivity, position(audio->beatSensitivity, sensitivitySteps, m_sensitivity));
    m_spacingCaption->setText(text("Intervalo minimo entre marcas"));
    m_spacingCaption->setWordWrap(true);
    m_spacingValue->setText(QString::asprintf("%.2f s", std::isfinite(audio->autoBeatMinimumMarkerSpacing)
                                                            ? audio->autoBeatMinimumMarkerSpacing : 0.0));
    setPosition(m_spacing, position(audio->autoBeatMinimumMarkerSpacing, spacingSteps, m_spacing));

    const std::int64_t needed = s.autoBeatRequiredPhotoCount();
    const auto have = static_cast<std::int64_t>(s.project().slides.size());
    QString counts = text("Fotos según marcadores") + "\n" + text("Necesitas") + ": " + QString::number(needed) + "   "
        + text("Tienes") + ": " + QString::number(have);
    if (needed > have)
        counts += "   " + text("Faltan") + ": " + QString::number(needed - have);
    else if (have > needed)
        counts += "   " + text("Sobran") + ": " + QString::number(have - needed);
    m_photoCounts->setText(counts);

    const bool surplus = s.hasSurplusPhotosForAudioCut();
    {
        const QSignalBlocker blocker(m_cut);
        m_cut->setText(text("Cortar cancion"));
        m_cut->setChecked(audio->cutToSlideshowDuration);
    }
    m_cut->setEnabled(!surplus);
    m_cutCaption->setText(text("Cortar canción al final del slideshow"));
    m_cutUnavailable->setText(text("No disponible si sobran fotos"));
    m_cutUnavailable->setVisible(surplus);
    m_fadeRow->setVisible(audio->cutToSlideshowDuration);
    m_fadeCaption->setText(text("Fade out"));
    m_fadeCaption->setToolTip(text("Fade out al final del slideshow"));
    m_fadeValue->setText(durationText(audio->cutFadeOutDuration));
    setPosition(m_fade, position(audio->cutFadeOutDuration, fadeSteps, m_fade));
    m_restore->setText(text("Restaurar ataques"));

    m_place->setText(text("Colocar imagenes en marcadores"));
    m_deleteManual->setText(text("Borrar manuales"));
    m_deleteManual->setEnabled(s.manualBeatMarkerCount() >= 1);
}

} // namespace fotivela
