#pragma once

#include "model/editor_tab.h"
#include "store/project_store.h"
#include "ui/common/store_signals.h"

#include <QWidget>

#include <functional>

class QScrollArea;

namespace fotivela {

// What the inspectors take from outside the editor store: the AI music pane, built
// with the account session, and the work to run when the music inspector comes on screen
// (the refresh of the cloud configuration).
struct InspectorHooks {
    std::function<QWidget*(QWidget* parent)> aiMusicPane;
    std::function<void()> musicInspectorAppeared;
};

// The inspector of one tab; none for a tab without one.
QWidget* makeTabInspector(ProjectStore& store, StoreSignals& storeSignals, EditorTab tab, QWidget* parent,
                          const InspectorHooks& hooks = {});

// Shows the inspector of the store's active tab in a vertical scroll area. Only that
// one is built: a tab switch replaces it.
class InspectorHost : public QWidget {
public:
    InspectorHost(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent = nullptr);

    // Handed to each music inspector it builds: the AI music pane and the work to run
    // when that inspector comes on screen.
    void setHooks(InspectorHooks hooks);

    QWidget* currentInspector() const { return m_current; }
    EditorTab shownTab() const { return m_shownTab; }
    QScrollArea* scrollArea() const { return m_scroll; }

private:
    void showActiveTab();

    ProjectStore& m_store;
    StoreSignals& m_signals;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_current = nullptr;
    EditorTab m_shownTab = EditorTab::photos;
    bool m_hasShown = false;
    InspectorHooks m_hooks;
};

} // namespace fotivela
