#pragma once

#include "model/editor_tab.h"
#include "ui/shell/fotivela_design_system.h"

#include <QPushButton>
#include <QWidget>

#include <array>
#include <cstddef>
#include <functional>

class QScrollArea;
class QVBoxLayout;

namespace fotivela {

class AccountSession;
class ProjectStore;
class StoreSignals;

// How the editor shares its height between preview and timeline.
struct EditorLayout {
    bool compact = false;
    double baseTimelineHeight = 0;
    double timelineHeight = 0;
    double minimumPreviewHeight = 0;
    double previewMaximumHeight = 0;

    // For an editor area `height` points high with `stemWaveformCount` instrument rows.
    static EditorLayout compute(double height, std::size_t stemWaveformCount);
};

// One cell of the tab strip: symbol over label, accent when it is the active tab.
class SidebarTabButton : public QPushButton {
    Q_OBJECT

public:
    SidebarTabButton(EditorTab tab, QWidget* parent = nullptr);
    EditorTab tab() const { return m_tab; }
    void setActive(bool active);
    bool isActive() const { return m_active; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    EditorTab m_tab;
    bool m_active = false;
};

// The strip of the four sidebar tabs.
class SidebarTabs : public QWidget {
    Q_OBJECT

public:
    SidebarTabs(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent = nullptr);
    SidebarTabButton* button(EditorTab tab) const;
    void refresh();

private:
    ProjectStore& m_store;
    std::array<SidebarTabButton*, 4> m_buttons{};
};

// The inspector column: the tab strip above the active tab's inspector, in a scroll area.
// Only the active tab's inspector exists; switching tabs replaces it.
class InspectorPanel : public FotivelaGlassPanel {
    Q_OBJECT

public:
    // Makes the inspector of a tab; none leaves the column empty below the strip.
    using InspectorFactory = std::function<QWidget*(EditorTab tab, QWidget* parent)>;

    InspectorPanel(ProjectStore& store, StoreSignals& storeSignals, InspectorFactory factory, QWidget* parent = nullptr);

    // Room between the inspector's controls and the scroll bar while the bar shows.
    static constexpr int scrollBarGap = 6;

    SidebarTabs* tabs() const { return m_tabs; }
    QWidget* inspector() const { return m_inspector; }
    QScrollArea* scrollArea() const { return m_scroll; }
    EditorTab shownTab() const { return m_shownTab; }
    void refresh();

private:
    ProjectStore& m_store;
    InspectorFactory m_factory;
    SidebarTabs* m_tabs = nullptr;
    QScrollArea* m_scroll = nullptr;
    QVBoxLayout* m_stack = nullptr;
    QWidget* m_inspector = nullptr;
    EditorTab m_shownTab = EditorTab::photos;
    bool m_built = false;
};

// The editor: inspector column beside the preview over the timeline.
class EditorView : public QWidget {
    Q_OBJECT

public:
    EditorView(ProjectStore& store, StoreSignals& storeSignals, AccountSession* session, QWidget* parent = nullptr);
    ~EditorView() override;

    InspectorPanel* inspectorPanel() const { return m_inspector; }
    QWidget* previewArea() const { return m_preview; }
    QWidget* timelineArea() const { return m_timeline; }
    const EditorLayout& currentLayout() const { return m_layout; }

    // The inspector of each tab, made by the editor's owners of those panes.
    static QWidget* makeInspector(ProjectStore& store, StoreSignals& storeSignals, AccountSession* session, EditorTab tab,
                                  QWidget* parent);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void applyLayout();

    ProjectStore& m_store;
    InspectorPanel* m_inspector = nullptr;
    QWidget* m_preview = nullptr;
    QWidget* m_timeline = nullptr;
    EditorLayout m_layout;
    QMetaObject::Connection m_layoutConnection;
};

} // namespace fotivela
