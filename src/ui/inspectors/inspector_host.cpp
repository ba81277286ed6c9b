#include "ui/inspectors/inspector_host.h"

#include "ui/inspectors/export_inspector.h"
#include "ui/inspectors/music_control_inspector.h"
#include "ui/inspectors/music_inspector.h"
#include "ui/inspectors/photos_inspector.h"
#include "ui/shell/fotivela_design_system.h"

#include <QScrollArea>
#include <QVBoxLayout>

namespace fotivela {

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
    connect(&storeSignals, &StoreSignals::changed, this, [this](StoreField field) {
        if (field == StoreField::activeTab)
            showActiveTab();
    });
    showActiveTab();
}

void InspectorHost::setAIMusicPaneFactory(std::function<QWidget*(QWidget*)> factory)
{
    m_aiMusicPaneFactory = std::move(factory);
    if (auto* music = dynamic_cast<MusicInspector*>(m_current)) {
        music->aiMusicPaneFactory = m_aiMusicPaneFactory;
        music->refresh();
    }
}

void InspectorHost::setMusicInspectorAppearHandler(std::function<void()> handler)
{
    m_musicAppear = std::move(handler);
    if (auto* music = dynamic_cast<MusicInspector*>(m_current))
        music->onAppear = m_musicAppear;
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
    QWidget* inspector = nullptr;
    switch (tab) {
    case EditorTab::photos:
        inspector = new PhotosInspector(m_store, m_signals, page);
        break;
    case EditorTab::music: {
        auto* music = new MusicInspector(m_store, m_signals, page);
        music->aiMusicPaneFactory = m_aiMusicPaneFactory;
        music->onAppear = m_musicAppear;
        music->refresh();
        inspector = music;
        break;
    }
    case EditorTab::aiMusic:
        inspector = new MusicControlInspector(m_store, m_signals, page);
        break;
    case EditorTab::export_:
        inspector = new ExportInspector(m_store, m_signals, page);
        break;
    case EditorTab::settings:
        // The application settings have no inspector of their own yet.
        break;
    }
    if (inspector)
        pageLayout->addWidget(inspector);
    pageLayout->addStretch();
    m_current = inspector;
    // The old page goes with the scroll area's ownership of it.
    m_scroll->setWidget(page);
    disableScrollElasticity(page);
}

} // namespace fotivela
