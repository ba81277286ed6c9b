#pragma once

#include "model/export_settings.h"
#include "model/project_format.h"
#include "ui/inspectors/inspector_view.h"

#include <QLabel>

#include <optional>
#include <string>

class QCheckBox;
class QComboBox;

class QPushButton;
class QSlider;

namespace fotivela {

// The frame size, frame rate and container of the video an export would write, by the
// rule of the export pane (truncated sides, always MP4).
std::string exportSummary(ExportQuality quality, ProjectFormat format, std::int64_t fps);

// One status line under the export controls, red when it reports an error.
class ExportStatusText : public QLabel {
public:
    explicit ExportStatusText(QWidget* parent = nullptr);
    void setStatus(const QString& text, bool isError);
    bool isError() const { return m_isError; }

private:
    bool m_isError = false;
};

// The export settings of the open project, its summary and the export button.
class ExportInspector : public InspectorView {
public:
    ExportInspector(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent = nullptr);
    void refresh() override;

    QComboBox* qualityPicker() const { return m_quality; }
    QComboBox* codecPicker() const { return m_codec; }
    QSlider* bitrateSlider() const { return m_bitrate; }
    QLabel* bitrateValue() const { return m_bitrateValue; }
    QPushButton* recommendedButton() const { return m_recommended; }
    QCheckBox* includeAudioToggle() const { return m_includeAudio; }
    QLabel* summary() const { return m_summary; }
    ExportStatusText* messageLine() const { return m_message; }
    QPushButton* exportButton() const { return m_exportButton; }
    ExportStatusText* reasonLine() const { return m_reason; }

private:
    std::optional<std::string> exportDisabledReason() const;
    template <class Change> void writeSetting(Change&& change);

    QLabel* m_qualityCaption = nullptr;
    QComboBox* m_quality = nullptr;
    QLabel* m_codecCaption = nullptr;
    QComboBox* m_codec = nullptr;
    QLabel* m_bitrateCaption = nullptr;
    QLabel* m_bitrateValue = nullptr;
    QSlider* m_bitrate = nullptr;
    QPushButton* m_recommended = nullptr;
    QCheckBox* m_includeAudio = nullptr;
    QLabel* m_summary = nullptr;
    ExportStatusText* m_message = nullptr;
    QPushButton* m_exportButton = nullptr;
    ExportStatusText* m_reason = nullptr;
};

} // namespace fotivela
