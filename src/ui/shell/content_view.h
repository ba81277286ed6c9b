#pragma once

#include "ui/shell/project_dialogs.h"

#include <QPointer>
#include <QWidget>

class QVBoxLayout;

namespace fotivela {

class AccountSession;
class DeleteManualBeatMarkersDialog;
class DeleteRecentProjectDialog;
class EditorView;
class ExportProgressOverlay;
class HomeView;
class KeyboardShortcutCatcher;
class NewProjectDialog;
class ProjectStore;
class StoreSignals;
class TopBar;

// The signed-in window: the top bar over home or editor, the export overlay, the window's
// shortcuts and the three dialogs the store asks for. Every switch follows a store property.
class ContentView : public QWidget {
    Q_OBJECT

public:
    static constexpr int minimumWidth = 1180;
    static constexpr int minimumHeight = 820;

    // `session` may be absent (tests, a build without the account view).
    ContentView(ProjectStore& store, StoreSignals& storeSignals, AccountSession* session, QWidget* parent = nullptr);
    ~ContentView() override;

    TopBar* topBar() const { return m_topBar; }
    HomeView* homeView() const { return m_home; }
    EditorView* editorView() const { return m_editor; }
    ExportProgressOverlay* exportOverlay() const { return m_overlay; }
    KeyboardShortcutCatcher* shortcuts() const { return m_catcher; }
    NewProjectDialog* newProjectDialog() const { return m_newProjectDialog; }
    DeleteRecentProjectDialog* deleteRecentProjectDialog() const { return m_recentDialog; }
    DeleteManualBeatMarkersDialog* deleteManualBeatMarkersDialog() const { return m_markersDialog; }

    // The shortcuts act on the window this view is in; call once it is placed in one.
    void installShortcuts();

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void showRoute();
    void showOverlay();
    void presentDialogs();
    // The key actions do nothing while an export runs.
    template <class Action> void whenNotExporting(Action action);
    void addMarkerAtPlayhead();

    ProjectStore& m_store;
    StoreSignals& m_signals;
    AccountSession* m_session;
    QVBoxLayout* m_column = nullptr;
    TopBar* m_topBar = nullptr;
    HomeView* m_home = nullptr;
    EditorView* m_editor = nullptr;
    ExportProgressOverlay* m_overlay = nullptr;
    KeyboardShortcutCatcher* m_catcher = nullptr;
    QPointer<NewProjectDialog> m_newProjectDialog;
    QPointer<DeleteRecentProjectDialog> m_recentDialog;
    QPointer<DeleteManualBeatMarkersDialog> m_markersDialog;
};

} // namespace fotivela
