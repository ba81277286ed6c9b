#pragma once

#include "model/editor_tab.h"
#include "store/project_store.h"
#include "ui/common/store_signals.h"

#include <QWidget>

#include <functional>

class QScrollArea;

namespace fotivela {

// Shows the inspector of the store's active tab in a vertical scroll area. Only that
// one is built: a tab switch replaces it.
class InspectorHost : public QWidget {
public:
    InspectorHost(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent = nullptr);

    // Handed to each music inspector it builds: the AI music pane and the work to run
    // when that inspector comes on screen.
    void setAIMusicPaneFactory(std::function<QWidget*(QWidget* parent)> factory);
    void setMusicInspectorAppearHandler(std::function<void()> handler);

    QWidget* currentInspector() const { return m_current; }
    EditorTab shownTab() const { return m_shownTab; }

private:
    void showActiveTab();

    ProjectStore& m_store;
    StoreSignals& m_signals;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_current = nullptr;
    EditorTab m_shownTab = EditorTab::photos;
    bool m_hasShown = false;
    std::function<QWidget*(QWidget*)> m_aiMusicPaneFactory;
    std::function<void()> m_musicAppear;
};

} // namespace fotivela
