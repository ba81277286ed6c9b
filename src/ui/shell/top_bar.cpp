#include "ui/shell/top_bar.h"

#include "account/account_session.h"
#include "model/app_text.h"
#include "store/project_store.h"
#include "ui/account/account_settings_window.h"
#include "ui/account/user_account_button.h"
#include "ui/common/store_signals.h"
#include "ui/shell/app_settings_window.h"
#include "ui/shell/app_version.h"
#include "ui/shell/fotivela_design_system.h"
#include "ui/shell/fotivela_logo.h"
#include "ui/shell/update_controller.h"

#include <QHBoxLayout>
#include <QLabel>

namespace fotivela {

namespace {

QString translated(std::string_view text, AppLanguage language)
{
    return QString::fromStdString(AppText::translate(text, language));
}

} // namespace

ToolbarButton::ToolbarButton(const QString& title, const char* systemImage, bool prominent, QWidget* parent)
    : QPushButton(title, parent)
{
    setIcon(symbolIcon(systemImage, prominent ? QColor(Qt::black) : QColor(255, 255, 255, 230)));
    setIconSize(QSize(14, 14));
    if (prominent)
        styleProminentButton(this);
    else
        styleBorderedButton(this);
}

TopBar::TopBar(ProjectStore& store, StoreSignals& storeSignals, AccountSession* session, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_session(session)
{
    m_row = new QHBoxLayout(this);
    m_row->setContentsMargins(18, 4, 18, 4);
    m_row->setSpacing(14);

    auto* brand = new QWidget(this);
    brand->setFixedWidth(330);
    auto* brandRow = new QHBoxLayout(brand);
    brandRow->setContentsMargins(0, 0, 0, 0);
    brandRow->setSpacing(10);
    brandRow->addWidget(new FotivelaLogo(QSize(190, 58), brand));
    m_version = new QLabel(QStringLiteral("v") + QString::fromStdString(AppVersion::current()), brand);
    m_version->setFont(systemFont(TextStyle::caption, QFont::Bold));
    m_version->setStyleSheet(QStringLiteral("QLabel { color: rgba(255,255,255,150); background: rgba(255,255,255,18);"
                                            " border-radius: 9px; padding: 4px 8px; }"));
    brandRow->addWidget(m_version, 0, Qt::AlignVCenter);
    brandRow->addStretch(1);
    m_row->addWidget(brand);
    m_row->addStretch(1);

    m_update = new QPushButton(this);
    m_update->setIcon(symbolIcon("arrow.down.circle.fill", Qt::black));
    styleProminentButton(m_update);
    m_row->addWidget(m_update);
    connect(m_update, &QPushButton::clicked, this, [this] {
        UpdateController& updates = m_updates ? *m_updates : UpdateController::shared();
        updates.checkForUpdates(latestMacVersion(), m_store.appLanguage());
    });

    m_backToProject = new ToolbarButton(QString(), "macwindow", true, this);
    connect(m_backToProject, &QPushButton::clicked, this, [this] { m_store.setRoute(AppRoute::editor); });
    m_home = new ToolbarButton(QString(), "house", false, this);
    connect(m_home, &QPushButton::clicked, this, [this] {
        m_store.saveCurrentProjectImmediatelyIfPossible();
        m_store.stopPreview();
        m_store.setRoute(AppRoute::home);
    });
    m_package = new ToolbarButton(QString(), "shippingbox", false, this);
    connect(m_package, &QPushButton::clicked, this, [this] { m_store.packageProject(); });
    m_export = new ToolbarButton(QString(), "square.and.arrow.up", true, this);
    connect(m_export, &QPushButton::clicked, this, [this] {
        m_store.setActiveTab(EditorTab::export_);
        m_store.setRoute(AppRoute::editor);
    });
    for (QPushButton* button : {m_backToProject, m_home, m_package, m_export})
        m_row->addWidget(button);

    m_settings = new QPushButton(this);
    m_settings->setFixedSize(38, 38);
    m_settings->setIcon(symbolIcon("gearshape.fill"));
    m_settings->setIconSize(QSize(16, 16));
    m_settings->setCursor(Qt::PointingHandCursor);
    m_settings->setStyleSheet(QStringLiteral("QPushButton { background: rgba(255,255,255,20); border: 1px solid rgba(255,255,255,31);"
                                             " border-radius: 19px; }"
                                             "QPushButton:hover { background: rgba(255,255,255,36); }"));
    openAppSettings = [this, &storeSignals](const std::optional<std::string>& latest) {
        if (m_appSettings)
            return;
        auto* sheet = new AppSettingsWindow(m_store, storeSignals, latest, window());
        connect(sheet, &QDialog::finished, sheet, &QObject::deleteLater);
        m_appSettings = sheet;
        sheet->open();
    };
    connect(m_settings, &QPushButton::clicked, this, [this] {
        if (openAppSettings)
            openAppSettings(latestMacVersion());
    });
    m_row->addWidget(m_settings);

    connect(&storeSignals, &StoreSignals::changed, this, [this](StoreField field) {
        if (field == StoreField::route || field == StoreField::appLanguage || field == StoreField::project
            || field == StoreField::currentProjectURL)
            refresh();
    });
    if (m_session) {
        connect(m_session, &AccountSession::changed, this, [this](AccountSessionField field) {
            if (field != AccountSessionField::cloudAIConfig)
                return;
            const CloudAIConfig& config = m_session->cloudAIConfig();
            if (m_updates)
                m_updates->setPublishedRelease({config.latestMacVersion, config.macDownloadURL});
            else
                UpdateController::shared().setPublishedRelease({config.latestMacVersion, config.macDownloadURL});
            refresh();
        });
        m_session->refreshCloudAIConfigSilently();
        auto* account = new UserAccountButton(*m_session, m_store.appLanguage(), [this](AccountPanelDestination destination) {
            m_accountPanel = AccountSettingsWindow::present(window(), destination, *m_session, m_store.appLanguage());
        });
        setAccountButton(account);
    }
    refresh();
}

void TopBar::setAccountButton(QWidget* button)
{
    if (m_accountButton)
        m_accountButton->deleteLater();
    m_accountButton = button;
    if (button) {
        button->setParent(this);
        m_row->addWidget(button);
    }
}

std::optional<std::string> TopBar::latestMacVersion() const
{
    if (!m_session)
        return std::nullopt;
    return m_session->cloudAIConfig().latestMacVersion;
}

void TopBar::refresh()
{
    const AppLanguage language = m_store.appLanguage();
    const auto latest = latestMacVersion();
    m_update->setVisible(AppVersion::isServerVersionNewer(latest));
    m_update->setText(translated("Nueva", language) + QStringLiteral(" v") + QString::fromStdString(latest.value_or("")));
    m_update->setToolTip(translated("Buscar e instalar la actualización", language));

    const bool editor = m_store.route() == AppRoute::editor;
    m_backToProject->setVisible(!editor && m_store.hasOpenProject());
    m_home->setVisible(editor);
    m_package->setVisible(editor);
    m_export->setVisible(editor);
    m_backToProject->setText(translated("Volver al proyecto", language));
    m_home->setText(translated("Inicio", language));
    m_package->setText(translated("Empaquetar", language));
    m_export->setText(translated("Exportar", language));
    m_settings->setToolTip(translated("Ajustes de la aplicación", language));
    if (auto* account = qobject_cast<UserAccountButton*>(m_accountButton))
        account->setLanguage(language);
}

} // namespace fotivela
