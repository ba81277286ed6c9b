#pragma once

#include <QWidget>

#include <string>

class QLabel;
class QProgressBar;

namespace fotivela {

class ProjectStore;
class StoreSignals;

// The full-window layer over everything while an export runs: a dimmed window and a card with
// the percentage, a bar and the export's message. It reads the store only and takes every click.
class ExportProgressOverlay : public QWidget {
    Q_OBJECT

public:
    ExportProgressOverlay(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent = nullptr);

    // The percentage text: the progress times 100 rounded half away from zero, then "%".
    static QString percentText(double progress);
    // The line under the bar, translated.
    QString message() const;

    void refresh();
    QProgressBar* progressBar() const { return m_bar; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ProjectStore& m_store;
    QLabel* m_title = nullptr;
    QLabel* m_subtitle = nullptr;
    QLabel* m_percent = nullptr;
    QProgressBar* m_bar = nullptr;
    QLabel* m_message = nullptr;
};

} // namespace fotivela
