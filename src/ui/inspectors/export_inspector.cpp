#include "ui/inspectors/export_inspector.h"

#include "ui/shell/fotivela_design_system.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
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

struct BaseFrame {
    double width;
    double height;
};

BaseFrame baseFrame(ExportQuality quality)
{
    switch (quality) {
    case ExportQuality::quick:
        return {1280, 720};
    case ExportQuality::high:
        return {1920, 1080};
    case ExportQuality::premium:
        return {3840, 2160};
    }
    return {1920, 1080};
}

template <class E> QString label(E value)
{
    const std::string_view stored = toStored(value);
    return QString::fromUtf8(stored.data(), static_cast<int>(stored.size()));
}

template <class E> void fillPicker(QComboBox* picker)
{
    for (const auto& [value, name] : StoredEnum<E>::table)
        picker->addItem(QString::fromUtf8(name.data(), static_cast<int>(name.size())), static_cast<int>(value));
}

template <class E> void selectIn(QComboBox* picker, E value)
{
    const QSignalBlocker blocker(picker);
    picker->setCurrentIndex(picker->findData(static_cast<int>(value)));
}

} // namespace

std::string exportSummary(ExportQuality quality, ProjectFormat format, std::int64_t fps)
{
    const BaseFrame base = baseFrame(quality);
    double width = base.width;
    double height = base.height;
    switch (format) {
    case ProjectFormat::youtube:
        height = width / 1.7777777777777777;
        break;
    case ProjectFormat::reels:
        width = height * 0.5625;
        break;
    case ProjectFormat::classicLandscape:
        height = width / 1.3333333333333333;
        break;
    case ProjectFormat::classicPortrait:
        width = height * 0.75;
        break;
    case ProjectFormat::square:
        width = height;
        break;
    case ProjectFormat::portrait:
        width = height * 0.8;
        break;
    case ProjectFormat::landscape:
        height = width / 1.25;
        break;
    case ProjectFormat::photoLandscape:
        height = width / 1.5;
        break;
    case ProjectFormat::photoPortrait:
        width = height * 0.6666666666666666;
        break;
    }
    return std::to_string(static_cast<long long>(width)) + "x" + std::to_string(static_cast<long long>(height)) + " - "
        + std::to_string(fps) + " fps - MP4";
}

ExportStatusText::ExportStatusText(QWidget* parent)
    : QLabel(parent)
{
    setWordWrap(true);
    setObjectName("exportStatus");
    QFont semibold = QLabel::font();
    semibold.setWeight(QFont::DemiBold);
    setFont(semibold);
    setStatus({}, false);
}

void ExportStatusText::setStatus(const QString& text, bool isError)
{
    m_isError = isError;
    setText(text);
    setStyleSheet(QString("QLabel#exportStatus { color: %1; background: rgba(0,0,0,0.14); border-radius: 10px; "
                          "padding: 7px 10px; }")
                      .arg(isError ? "rgba(255,59,48,0.92)" : "rgba(255,255,255,0.55)"));
}

ExportInspector::ExportInspector(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent)
    : InspectorView(store, storeSignals, parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    // A shared grid lines the two fields up whatever their captions' widths.
    auto* pickers = new QGridLayout;
    pickers->setHorizontalSpacing(8);
    pickers->setVerticalSpacing(layout->spacing());
    pickers->setColumnStretch(1, 1);
    int rows = 0;
    auto addPicker = [this, pickers, &rows](QLabel*& caption, QComboBox*& picker) {
        const int row = rows++;
        caption = new QLabel(this);
        picker = new QComboBox(this);
        pickers->addWidget(caption, row, 0);
        pickers->addWidget(picker, row, 1);
    };
    addPicker(m_qualityCaption, m_quality);
    fillPicker<ExportQuality>(m_quality);
    addPicker(m_codecCaption, m_codec);
    fillPicker<ExportCodec>(m_codec);
    layout->addLayout(pickers);
    connect(m_quality, &QComboBox::activated, this, [this](int index) {
        const auto quality = static_cast<ExportQuality>(m_quality->itemData(index).toInt());
        writeSetting([quality](ExportSettings& settings) { settings.quality = quality; });
    });
    connect(m_codec, &QComboBox::activated, this, [this](int index) {
        const auto codec = static_cast<ExportCodec>(m_codec->itemData(index).toInt());
        writeSetting([codec](ExportSettings& settings) { settings.codec = codec; });
    });

    auto* bitrateBlock = new QVBoxLayout;
    bitrateBlock->setSpacing(6);
    auto* bitrateRow = new QHBoxLayout;
    m_bitrateCaption = new QLabel(this);
    m_bitrateValue = new QLabel(this);
    applySecondaryStyle(m_bitrateValue);
    bitrateRow->addWidget(m_bitrateCaption);
    bitrateRow->addStretch();
    bitrateRow->addWidget(m_bitrateValue);
    bitrateBlock->addLayout(bitrateRow);
    m_bitrate = new QSlider(Qt::Horizontal, this);
    m_bitrate->setRange(2, 80);
    m_bitrate->setPageStep(1);
    bitrateBlock->addWidget(m_bitrate);
    m_recommended = new QPushButton(this);
    styleBorderedButton(m_recommended);
    bitrateBlock->addWidget(m_recommended, 0, Qt::AlignLeft);
    layout->addLayout(bitrateBlock);
    connect(m_bitrate, &QSlider::valueChanged, this, [this](int value) {
        writeSetting([value](ExportSettings& settings) { settings.bitrateMbps = value; });
    });
    connect(m_recommended, &QPushButton::clicked, this, [this] {
        writeSetting([](ExportSettings& settings) { settings.bitrateMbps = defaultBitrateMbps(settings.quality); });
    });

    m_includeAudio = new QCheckBox(this);

    fotivelaCheckbox(m_includeAudio);
    layout->addWidget(m_includeAudio);
    connect(m_includeAudio, &QCheckBox::toggled, this, [this](bool on) {
        writeSetting([on](ExportSettings& settings) { settings.includeAudio = on; });
    });

    m_summary = new QLabel(this);
    applyCaptionFont(m_summary);
    applySecondaryStyle(m_summary);
    layout->addWidget(m_summary);

    m_message = new ExportStatusText(this);
    layout->addWidget(m_message);

    m_exportButton = new QPushButton(this);
    m_exportButton->setIcon(symbolIcon("film", Qt::black));
    applyProminentStyle(m_exportButton);
    layout->addWidget(m_exportButton);
    connect(m_exportButton, &QPushButton::clicked, this, [this] {
        ProjectStore& s = this->store();
        if (s.isExporting())
            return;
        const auto url = s.exportDestinationURL();
        if (!url) {
            s.setExportMessage("Exportacion cancelada");
            return;
        }
        s.exportVideo(*url);
    });

    m_reason = new ExportStatusText(this);
    layout->addWidget(m_reason);
    layout->addStretch();
    refresh();
}

template <class Change> void ExportInspector::writeSetting(Change&& change)
{
    // Export settings take no undo step.
    store().modifyProject([&](FotivelaProject& project) {
        change(project.exportSettings);
        project.updatedAt = ProjectStore::Clock::now();
    });
    store().setHasUnsavedChanges(true);
    store().saveCurrentProjectSilentlyIfPossible();
}

std::optional<std::string> ExportInspector::exportDisabledReason() const
{
    if (store().project().slides.empty())
        return std::string("Añade fotos al timeline antes de exportar.");
    return std::nullopt;
}

void ExportInspector::refresh()
{
    const ProjectStore& s = store();
    const FotivelaProject& project = s.project();
    const ExportSettings& settings = project.exportSettings;

    m_qualityCaption->setText(text("Calidad"));
    m_codecCaption->setText(text("Codec"));
    selectIn(m_quality, settings.quality);
    selectIn(m_codec, settings.codec);

    m_bitrateCaption->setText(text("Bitrate"));
    m_bitrateValue->setText(QString::asprintf("%.0f", std::isfinite(settings.bitrateMbps) ? settings.bitrateMbps : 0.0)
                            + " Mbps");
    {
        const QSignalBlocker blocker(m_bitrate);
        const double shown = std::isfinite(settings.bitrateMbps) ? settings.bitrateMbps : 2.0;
        m_bitrate->setValue(static_cast<int>(std::lround(std::clamp(shown, 2.0, 80.0))));
    }
    m_recommended->setText(text("Usar bitrate recomendado"));

    m_includeAudio->setText(text("Incluir musica"));
    {
        const QSignalBlocker blocker(m_includeAudio);
        m_includeAudio->setChecked(settings.includeAudio);
    }
    m_includeAudio->setEnabled(project.audio.has_value());

    m_summary->setText(QString::fromStdString(exportSummary(settings.quality, project.format, project.fps)));

    const bool exporting = s.isExporting();
    const std::string& message = s.exportMessage();
    m_message->setVisible(!exporting && !message.empty());
    if (!exporting && !message.empty())
        m_message->setStatus(text(message), QString::fromStdString(message).contains("error", Qt::CaseInsensitive));

    const auto reason = exportDisabledReason();
    m_exportButton->setText(text(exporting ? "Exportando..." : "Exportar video"));
    m_exportButton->setEnabled(!exporting && !reason);
    m_reason->setVisible(reason.has_value());
    if (reason)
        m_reason->setStatus(text(*reason), false);
}

} // namespace fotivela
