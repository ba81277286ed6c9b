#include "ui/shell/content_view.h"

#include "store/project_store.h"
#include "ui/common/store_signals.h"
#include "ui/common/window_fit.h"
#include "ui/shell/editor_view.h"
#include "ui/shell/export_progress_overlay.h"
#include "ui/shell/fotivela_design_system.h"
#include "ui/shell/home_view.h"
#include "ui/shell/keyboard_shortcut_catcher.h"
#include "ui/shell/project_dialogs.h"
#include "ui/shell/top_bar.h"

#include <QPainter>
#include <QVBoxLayout>

namespace fotivela {

ContentView::ContentView(ProjectStore& store, StoreSignals& storeSignals, AccountSession* session, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_signals(storeSignals)
    , m_session(session)
{
    m_column = new QVBoxLayout(this);
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(0);
    m_topBar = new TopBar(store, storeSignals, session, this);
    m_column->addWidget(m_topBar);
    m_home = new HomeView(store, storeSignals, this);
    m_column->addWidget(m_home, 1);

    connect(&storeSignals, &StoreSignals::changed, this, [this](StoreField field) {
        switch (field) {
        case StoreField::route:
            showRoute();
            break;
        case StoreField::isExporting:
            showOverlay();
            break;
        case StoreField::isNewProjectDialogPresented:
        case StoreField::recentProjectPendingDeletion:
        case StoreField::manualBeatMarkerDeletionCount:
            presentDialogs();
            break;
        default:
            break;
        }
    });
    showRoute();
    showOverlay();
}

ContentView::~ContentView() = default;

QSize ContentView::minimumSizeHint() const
{
    return WindowFit::contentMinimumSizeHint(*this, QSize(minimumWidth, minimumHeight), QWidget::minimumSizeHint());
}

void ContentView::installShortcuts()
{
    if (m_catcher || !window())
        return;
    m_catcher = new KeyboardShortcutCatcher(window(), this);
    m_catcher->onSpace = [this] {
        whenNotExporting([this] {
            if (m_store.isPlaying())
                m_store.stopPreview();
            else
                m_store.startPreview();
        });
    };
    m_catcher->onSelectAll = [this] { whenNotExporting([this] { m_store.selectAllTimelineSlides(); }); };
    m_catcher->onAddMarker = [this] { whenNotExporting([this] { addMarkerAtPlayhead(); }); };
    m_catcher->onDeleteMarker = [this] { whenNotExporting([this] { m_store.deleteActiveTimelineSelection(); }); };
    m_catcher->onUndo = [this] { whenNotExporting([this] { m_store.undoLastStep(); }); };
    m_catcher->onZoomIn = [this] { whenNotExporting([this] { m_store.setTimelineZoom(m_store.timelineZoom() * 1.18); }); };
    m_catcher->onZoomOut = [this] { whenNotExporting([this] { m_store.setTimelineZoom(m_store.timelineZoom() / 1.18); }); };
    m_catcher->onPreviousSlide = [this] { whenNotExporting([this] { m_store.stepSelectedSlide(-1); }); };
    m_catcher->onNextSlide = [this] { whenNotExporting([this] { m_store.stepSelectedSlide(1); }); };
}

template <class Action>
void ContentView::whenNotExporting(Action action)
{
    if (!m_store.isExporting())
        action();
}

void ContentView::addMarkerAtPlayhead()
{
    // While playing, the clock runs ahead of the last published time.
    const double t = m_store.currentPlaybackClockTime();
    if (m_store.previewTime() != t)
        m_store.setPreviewTime(t);
    m_store.resetPlaybackClock(t);
    m_store.addManualBeatMarker(t);
}

void ContentView::showRoute()
{
    const bool editor = m_store.route() == AppRoute::editor;
    if (editor && !m_editor) {
        m_editor = new EditorView(m_store, m_signals, m_session, this);
        m_column->addWidget(m_editor, 1);
    } else if (!editor && m_editor) {
        m_column->removeWidget(m_editor);
        m_editor->deleteLater();
        m_editor = nullptr;
    }
    m_home->setVisible(!editor);
    if (m_overlay)
        m_overlay->raise();
}

void ContentView::showOverlay()
{
    const bool exporting = m_store.isExporting();
    if (exporting && !m_overlay) {
        m_overlay = new ExportProgressOverlay(m_store, m_signals, this);
        m_overlay->setGeometry(rect());
        m_overlay->show();
        m_overlay->raise();
    } else if (!exporting && m_overlay) {
        m_overlay->deleteLater();
        m_overlay = nullptr;
    }
}

void ContentView::presentDialogs()
{
    // New project: open while the flag is up; any way out puts the flag down.
    if (m_store.isNewProjectDialogPresented() && !m_newProjectDialog) {
        m_newProjectDialog = new NewProjectDialog(m_store, this);
        connect(m_newProjectDialog, &QDialog::finished, this, [this] {
            m_store.setIsNewProjectDialogPresented(false);
            if (m_newProjectDialog)
                m_newProjectDialog->deleteLater();
        });
        m_newProjectDialog->open();
    } else if (!m_store.isNewProjectDialogPresented() && m_newProjectDialog && m_newProjectDialog->isVisible()) {
        m_newProjectDialog->done(QDialog::Rejected);
    }

    const auto& pending = m_store.recentProjectPendingDeletion();
    if (pending && (!m_recentDialog || m_recentDialog->recent() != *pending)) {
        if (m_recentDialog) {
            m_recentDialog->disconnect(this);
            m_recentDialog->done(QDialog::Rejected);
            m_recentDialog->deleteLater();
        }
        m_recentDialog = new DeleteRecentProjectDialog(m_store, *pending, this);
        connect(m_recentDialog, &QDialog::finished, this, [this] {
            m_store.setRecentProjectPendingDeletion(std::nullopt);
            if (m_recentDialog)
                m_recentDialog->deleteLater();
        });
        m_recentDialog->open();
    } else if (!pending && m_recentDialog && m_recentDialog->isVisible()) {
        m_recentDialog->done(QDialog::Rejected);
    }

    const bool markers = m_store.manualBeatMarkerDeletionCount().has_value();
    if (markers && !m_markersDialog) {
        m_markersDialog = new DeleteManualBeatMarkersDialog(m_store, this);
        connect(m_markersDialog, &QDialog::finished, this, [this] {
            m_store.setManualBeatMarkerDeletionCount(std::nullopt);
            if (m_markersDialog)
                m_markersDialog->deleteLater();
        });
        m_markersDialog->open();
    } else if (!markers && m_markersDialog && m_markersDialog->isVisible()) {
        m_markersDialog->done(QDialog::Rejected);
    }
}

void ContentView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintWindowBackdrop(painter, rect());
}

void ContentView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_overlay)
        m_overlay->setGeometry(rect());
}

void ContentView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    installShortcuts();
    // A flag raised before the window showed (the menu's new project before sign-in) opens now.
    presentDialogs();
}

} // namespace fotivela
