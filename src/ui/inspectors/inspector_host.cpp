#include "ui/inspectors/inspector_host.h"

#include "ui/inspectors/export_inspector.h"
#include "ui/inspectors/music_control_inspector.h"
#include "ui/inspectors/music_inspector.h"
#include "ui/inspectors/photos_inspector.h"
#include "ui/common/wheel_guard.h"
#include "ui/shell/fotivela_design_system.h"

#include <QScrollArea>
#include <QVBoxLayout>

namespace fotivela {

QWidget* makeTabInspector(ProjectStore& store, StoreSignals& storeSignals, EditorTab tab, QWidget* parent,
                          const InspectorHooks& hooks)
{
    switch (tab) {
    case EditorTab::photos:
        return new PhotosInspector(store, storeSignals, parent);
    case EditorTab::music: {
        auto* music = new MusicInspector(store, storeSignals, parent);
        music->aiMusicPaneFactory = hooks.aiMusicPane;
        music->onAppear = hooks.musicInspectorAppeared;
        music->refresh();
        return music;
    }
    case EditorTab::aiMusic:
        return new MusicControlInspector(store, storeSignals, parent);
    case EditorTab::export_:
        return new ExportInspector(store, storeSignals, parent);
    case EditorTab::settings:
        // The application settings have no inspector of their own.
        return nullptr;
    }
    return nullptr;
}

InspectorHost::InspectorHost(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_signals(storeSignals)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setStyleSheet("QScrollArea { background: transparent; } QScrollArea > QWidget > QWidget { background: transparent; }");
    layout->addWidget(m_scroll);
    new WheelGuard(m_scroll);
    connect(&storeSignals, &StoreSignals::changed, this, [this](StoreField field) {
        if (field == StoreField::activeTab)
            showActiveTab();
    });
    showActiveTab();
}

void InspectorHost::setHooks(InspectorHooks hooks)
{
    m_hooks = std::move(hooks);
    if (auto* music = dynamic_cast<MusicInspector*>(m_current)) {
        music->aiMusicPaneFactory = m_hooks.aiMusicPane;
        music->onAppear = m_hooks.musicInspectorAppeared;
        music->refresh();
    }
}

void InspectorHost::showActiveTab()
{
    const EditorTab tab = m_store.activeTab();
    if (m_hasShown && tab == m_shownTab)
        return;
    m_hasShown = true;
    m_shownTab = tab;

    auto* page = new QWidget;
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 2, 12, 10);
    pageLayout->setSpacing(16);
    QWidget* inspector = makeTabInspector(m_store, m_signals, tab, page, m_hooks);
    if (inspector)
        pageLayout->addWidget(inspector);
    pageLayout->addStretch();
    m_current = inspector;
    // The old page goes with the scroll area's ownership of it.
    m_scroll->setWidget(page);
    disableScrollElasticity(page);
}

} // namespace fotivela
