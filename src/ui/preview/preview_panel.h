#pragma once

#include "model/project_format.h"
#include "store/store_field.h"

#include <QWidget>

class QLabel;

namespace fotivela {

class ProjectStore;
class StoreSignals;
class FormatMenu;
class PlaybackControls;
class PreviewMonitor;

// The editor's picture of the slideshow as it will be exported: a header with the format
// menu, the monitor and the playback controls.
class PreviewPanel : public QWidget {
    Q_OBJECT

public:
    PreviewPanel(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent = nullptr);

    // The monitor size for the space the monitor area offers.
    QSizeF previewSize(QSizeF offered) const;

    FormatMenu* formatMenu() const { return m_formatMenu; }
    PreviewMonitor* monitor() const { return m_monitor; }
    PlaybackControls* playbackControls() const { return m_controls; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void storeChanged(StoreField field);
    void chooseFormat(ProjectFormat format);

    ProjectStore& m_store;
    QLabel* m_title = nullptr;
    FormatMenu* m_formatMenu = nullptr;
    PreviewMonitor* m_monitor = nullptr;
    PlaybackControls* m_controls = nullptr;
};

} // namespace fotivela
