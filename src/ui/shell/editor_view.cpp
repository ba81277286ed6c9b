#include "ui/shell/editor_view.h"

#include "model/app_text.h"
#include "account/account_session.h"
#include "store/project_store.h"
#include "ui/account/ai_music_inspector.h"
#include "ui/account/ai_music_inspector.h"
#include "ui/inspectors/inspector_host.h"
#include "ui/shell/app_settings_window.h"
#include "ui/preview/preview_panel.h"
#include "ui/timeline/timeline_panel.h"
#include "ui/common/store_signals.h"
#include "ui/common/wheel_guard.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace fotivela {

EditorLayout EditorLayout::compute(double height, std::size_t stemWaveformCount)
{
    EditorLayout layout;
    layout.compact = height < 820;
    layout.baseTimelineHeight = layout.compact ? 232 : 246;
    const double wanted = layout.baseTimelineHeight + 22.0 * static_cast<double>(std::min<std::size_t>(stemWaveformCount, 7));
    const double available = std::max(height - 32, 0.0) - 14;
    layout.minimumPreviewHeight = layout.compact ? 175 : 230;
    layout.timelineHeight = std::min(wanted, std::max(available - layout.minimumPreviewHeight, layout.baseTimelineHeight));
    layout.previewMaximumHeight = std::max(available - layout.timelineHeight, layout.minimumPreviewHeight);
    return layout;
}

// MARK: tabs

namespace {

const char* tabSymbol(EditorTab tab)
{
    switch (tab) {
    case EditorTab::photos:
        return "photo.on.rectangle.angled";
    case EditorTab::music:
        return "waveform";
    case EditorTab::aiMusic:
        return "slider.horizontal.3";
    case EditorTab::export_:
        return "square.and.arrow.up";
    case EditorTab::settings:
        return "gearshape.fill";
    }
    return "photo";
}

} // namespace

SidebarTabButton::SidebarTabButton(EditorTab tab, QWidget* parent)
    : QPushButton(parent)
    , m_tab(tab)
{
    setFixedHeight(38);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setMinimumWidth(40);
    setCursor(Qt::PointingHandCursor);
    setFlat(true);
}

QSize SidebarTabButton::sizeHint() const
{
    // The label at its full size; minimumSizeHint is the smallest it shrinks to.
    QFont label = systemFont(9, QFont::DemiBold);
    return {std::max(40, QFontMetrics(label).horizontalAdvance(text()) + 6), 38};
}

QSize SidebarTabButton::minimumSizeHint() const
{
    QFont label = systemFont(7, QFont::DemiBold);
    return {std::max(40, QFontMetrics(label).horizontalAdvance(text()) + 6), 38};
}

void SidebarTabButton::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    update();
}

void SidebarTabButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF cell = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(cell, 7, 7);
    painter.fillPath(shape, m_active ? AppTheme::accent() : QColor(255, 255, 255, qRound(0.06 * 255)));
    painter.setPen(QPen(QColor(255, 255, 255, qRound((m_active ? 0.18 : 0.08) * 255)), 1));
    painter.drawPath(shape);

    const QColor ink = m_active ? QColor(Qt::black) : QColor(242, 242, 244);
    symbolIcon(tabSymbol(m_tab), ink).paint(&painter, QRect(width() / 2 - 7, 5, 14, 14));
    // One line, shrinking to three quarters before eliding.
    QFont label = systemFont(9, QFont::DemiBold);
    const int room = width() - 6;
    for (int size = 9; size >= 7; --size) {
        label.setPixelSize(size);
        if (QFontMetrics(label).horizontalAdvance(text()) <= room)
            break;
    }
    painter.setFont(label);
    painter.setPen(ink);
    painter.drawText(QRect(3, 21, room, 14), Qt::AlignHCenter | Qt::AlignVCenter,
                     QFontMetrics(label).elidedText(text(), Qt::ElideRight, room));
}

SidebarTabs::SidebarTabs(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    for (std::size_t i = 0; i < sidebarTabs.size(); ++i) {
        auto* button = new SidebarTabButton(sidebarTabs[i], this);
        m_buttons[i] = button;
        row->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, button] {
            if (m_store.activeTab() != button->tab())
                m_store.setActiveTab(button->tab());
        });
    }
    connect(&storeSignals, &StoreSignals::changed, this, [this](StoreField field) {
        if (field == StoreField::activeTab || field == StoreField::appLanguage)
            refresh();
    });
    refresh();
}

SidebarTabButton* SidebarTabs::button(EditorTab tab) const
{
    for (SidebarTabButton* button : m_buttons)
        if (button->tab() == tab)
            return button;
    return nullptr;
}

void SidebarTabs::refresh()
{
    const EditorTab active = m_store.activeTab();
    for (SidebarTabButton* button : m_buttons) {
        button->setText(QString::fromStdString(AppText::translate(toStored(button->tab()), m_store.appLanguage())));
        button->setActive(button->tab() == active);
        button->update();
    }
}

// MARK: inspector column

InspectorPanel::InspectorPanel(ProjectStore& store, StoreSignals& storeSignals, InspectorFactory factory, QWidget* parent)
    : FotivelaGlassPanel(16, parent)
    , m_store(store)
    , m_factory(std::move(factory))
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(16);
    m_tabs = new SidebarTabs(store, storeSignals, this);
    column->addWidget(m_tabs);

    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    m_scroll->viewport()->setAutoFillBackground(false);
    auto* content = new QWidget;
    content->setAutoFillBackground(false);
    m_stack = new QVBoxLayout(content);
    m_stack->setContentsMargins(0, 2, 12, 10);
    m_stack->setSpacing(16);
    m_stack->addStretch(1);
    m_scroll->setWidget(content);
    content->setAutoFillBackground(false); // the glass shows through
    disableScrollElasticity(content);
    column->addWidget(m_scroll, 1);
    new WheelGuard(m_scroll);
    // The gap on the right keeps content clear of where the scroll bar shows; while the bar is
    // there it takes most of that room itself, and a narrow gap keeps the controls off it.
    connect(m_scroll->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int maximum) {
        m_stack->setContentsMargins(0, 2, maximum > 0 ? scrollBarGap : 12, 10);
    });

    connect(&storeSignals, &StoreSignals::changed, this, [this](StoreField field) {
        if (field == StoreField::activeTab)
            refresh();
    });
    refresh();
}

void InspectorPanel::refresh()
{
    const EditorTab tab = m_store.activeTab();
    if (m_built && tab == m_shownTab)
        return;
    m_built = true;
    m_shownTab = tab;
    if (m_inspector) {
        m_stack->removeWidget(m_inspector);
        // Out of sight at once: deletion waits for the event loop.
        m_inspector->hide();
        m_inspector->deleteLater();
        m_inspector = nullptr;
    }
    if (m_factory)
        m_inspector = m_factory(tab, m_scroll->widget());
    if (m_inspector)
        m_stack->insertWidget(0, m_inspector);
}

// MARK: editor

QWidget* EditorView::makeInspector(ProjectStore& store, StoreSignals& storeSignals, AccountSession* session, EditorTab tab,
                                   QWidget* parent)
{
    if (tab == EditorTab::settings)
        return new SettingsInspector(store, storeSignals, parent);
    InspectorHooks hooks;
    if (session) {
        hooks.musicInspectorAppeared = [session] { session->refreshCloudAIConfigSilently(); };
        hooks.aiMusicPane = [&store, &storeSignals, session](QWidget* parent) -> QWidget* {
            return new AIMusicInspector(store, storeSignals, *session, parent);
        };
    }
    return makeTabInspector(store, storeSignals, tab, parent, hooks);
}

EditorView::EditorView(ProjectStore& store, StoreSignals& storeSignals, AccountSession* session, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 16, 16, 16);
    row->setSpacing(14);
    m_inspector = new InspectorPanel(
        store, storeSignals,
        [&store, &storeSignals, session](EditorTab tab, QWidget* host) {
            return makeInspector(store, storeSignals, session, tab, host);
        },
        this);
    m_inspector->setFixedWidth(330);
    row->addWidget(m_inspector);

    auto* column = new QVBoxLayout;
    column->setSpacing(14);
    m_preview = new PreviewPanel(store, storeSignals, this);
    m_timeline = new TimelinePanel(store, storeSignals, this);
    // The preview takes whatever height the timeline leaves, within its bounds.
    m_preview->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    column->addWidget(m_preview, 1);
    column->addWidget(m_timeline, 0);
    row->addLayout(column, 1);

    m_layoutConnection = connect(&storeSignals, &StoreSignals::changed, this, [this](StoreField field) {
        if (field == StoreField::project || field == StoreField::visibleStemWaveformInstruments
            || field == StoreField::audioWaveform)
            applyLayout();
    });
    applyLayout();
}

EditorView::~EditorView()
{
    // The inspectors that go with the children may still change the project (an open AI pane
    // puts the earlier settings back): no layout pass on a view half taken down.
    disconnect(m_layoutConnection);
}

void EditorView::applyLayout()
{
    m_layout = EditorLayout::compute(height(), m_store.timelineDerivedData().stemWaveforms.size());
    m_timeline->setFixedHeight(qRound(m_layout.timelineHeight));
    // Never less than the preview's own controls need: a window on a small screen scrolls
    // instead of laying the picture over the play controls.
    const int floor = std::max(qRound(m_layout.minimumPreviewHeight), m_preview->layout()->totalMinimumSize().height());
    m_preview->setMinimumHeight(floor);
    m_preview->setMaximumHeight(std::max(qRound(m_layout.previewMaximumHeight), floor));
}

void EditorView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    applyLayout();
}

} // namespace fotivela
