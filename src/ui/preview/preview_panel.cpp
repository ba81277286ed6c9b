#include "ui/preview/preview_panel.h"

#include "model/app_text.h"
#include "store/project_store.h"
#include "ui/common/store_signals.h"
#include "ui/preview/format_menu.h"
#include "ui/preview/playback_controls.h"
#include "ui/preview/preview_geometry.h"
#include "ui/preview/preview_monitor.h"
#include "ui/shell/fotivela_design_system.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace fotivela {

namespace {

constexpr double panelCornerRadius = 16;

} // namespace

PreviewPanel::PreviewPanel(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
{
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(16, 16, 16, 16);
    stack->setSpacing(12);

    auto* header = new QHBoxLayout;
    m_title = new QLabel(this);
    m_title->setFont(systemFont(TextStyle::headline, QFont::DemiBold));
    header->addWidget(m_title, 0, Qt::AlignLeft | Qt::AlignVCenter);
    header->addStretch(1);
    m_formatMenu = new FormatMenu(this);
    m_formatMenu->onChoose = [this](ProjectFormat format) { chooseFormat(format); };
    header->addWidget(m_formatMenu, 0, Qt::AlignVCenter);
    stack->addLayout(header);

    m_monitor = new PreviewMonitor(store, storeSignals, this);
    stack->addWidget(m_monitor, 1);

    m_controls = new PlaybackControls(store, storeSignals, this);
    stack->addWidget(m_controls);

    connect(&storeSignals, &StoreSignals::changed, this, &PreviewPanel::storeChanged);
    storeChanged(StoreField::appLanguage);
    storeChanged(StoreField::project);
}

QSizeF PreviewPanel::previewSize(QSizeF offered) const
{
    return PreviewGeometry::previewSize(offered, m_store.project().format);
}

void PreviewPanel::storeChanged(StoreField field)
{
    if (field == StoreField::appLanguage) {
        const AppLanguage language = m_store.appLanguage();
        m_title->setText(QString::fromStdString(AppText::translate("Preview", language)));
        m_formatMenu->setLanguage(language);
    } else if (field == StoreField::project) {
        m_formatMenu->setFormat(m_store.project().format);
    }
}

void PreviewPanel::chooseFormat(ProjectFormat chosen)
{
    m_store.modifyProject([&](FotivelaProject& project) {
        project.format = chosen;
        project.updatedAt = std::chrono::system_clock::now();
    });
    m_store.setHasUnsavedChanges(true);
    // Nothing is saved at quit: the autosave is what keeps the new format.
    m_store.saveCurrentProjectSilentlyIfPossible();
}

void PreviewPanel::paintEvent(QPaintEvent*)
{
    // Painted here rather than through a shadow effect: an effect on the panel would
    // re-render the whole monitor off screen on every frame of playback.
    QPainter painter(this);
    paintFotivelaGlass(painter, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), panelCornerRadius);
}

} // namespace fotivela
