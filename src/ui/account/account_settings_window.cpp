#include "ui/account/account_settings_window.h"

#include "ui/account/account_detail_panel.h"
#include "ui/account/account_symbols.h"
#include "ui/account/account_view_support.h"
#include "ui/account/auth_view.h"
#include "ui/account/credits_detail_panel.h"
#include "ui/account/purchases_detail_panel.h"
#include "ui/common/window_fit.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace fotivela {

namespace {

constexpr QSize panelSize(820, 560);
constexpr int backdropPadding = 18;

} // namespace

std::string_view rawValue(AccountPanelDestination destination)
{
    switch (destination) {
    case AccountPanelDestination::account: return "account";
    case AccountPanelDestination::credits: return "credits";
    case AccountPanelDestination::storage: return "storage";
    case AccountPanelDestination::purchases: return "purchases";
    }
    return "account";
}

std::optional<AccountPanelDestination> accountPanelDestinationFromRawValue(std::string_view text)
{
    for (AccountPanelDestination destination : allAccountPanelDestinations)
        if (rawValue(destination) == text)
            return destination;
    return std::nullopt;
}

std::string_view sidebarTitle(AccountPanelDestination destination)
{
    switch (destination) {
    case AccountPanelDestination::account: return "Cuenta";
    case AccountPanelDestination::credits: return "Créditos";
    case AccountPanelDestination::storage: return "Almacenamiento";
    case AccountPanelDestination::purchases: return "Historial de compras";
    }
    return "Cuenta";
}

std::string_view sidebarSymbol(AccountPanelDestination destination)
{
    switch (destination) {
    case AccountPanelDestination::account: return "gearshape";
    case AccountPanelDestination::credits: return "wallet.pass";
    case AccountPanelDestination::storage: return "externaldrive";
    case AccountPanelDestination::purchases: return "doc.text";
    }
    return "gearshape";
}

AccountSettingsWindow::AccountSettingsWindow(AccountPanelDestination destination, AccountSession& session,
                                             AppLanguage language, QWidget* parent)
    : QDialog(parent), m_destination(destination), m_session(session), m_language(language),
      m_selectedDestination(destination)
{
    setObjectName(QStringLiteral("accountSettingsWindow"));
    setWindowTitle(translated("Ajustes", language));
    setFixedSize(panelSize.grownBy(QMargins(backdropPadding, backdropPadding, backdropPadding, backdropPadding)));

    auto* backdrop = new OrvelantBackground(this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(backdrop);
    m_backdropLayout = new QVBoxLayout(backdrop);
    m_backdropLayout->setContentsMargins(backdropPadding, backdropPadding, backdropPadding, backdropPadding);
    auto* panel = new RoundedPanel(whiteAt(0.06), whiteAt(0.14), 24, backdrop);
    panel->setFixedSize(panelSize);
    m_backdropLayout->addWidget(panel);

    auto* panelColumn = new QVBoxLayout(panel);
    panelColumn->setContentsMargins(0, 0, 0, 0);
    panelColumn->setSpacing(0);

    // Title bar.
    auto* titleBar = new QHBoxLayout;
    titleBar->setContentsMargins(18, 14, 18, 8);
    titleBar->addWidget(makeLabel(translated("Ajustes", language), TextRole::headline, QFont::Bold, secondaryTextColor()));
    titleBar->addStretch(1);
    auto* close = new QPushButton(symbolGlyph(QStringLiteral("xmark")), panel);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setFixedSize(30, 30);
    close->setStyleSheet(QStringLiteral("QPushButton{background:rgba(255,255,255,0.1);color:white;border:none;"
                                        "border-radius:15px;font-weight:bold;font-size:13px;}"));
    close->setAutoDefault(false);
    close->setCursor(Qt::PointingHandCursor);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    titleBar->addWidget(close);
    panelColumn->addLayout(titleBar);

    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    panelColumn->addLayout(row, 1);

    // Sidebar.
    auto* sidebar = new QWidget(panel);
    sidebar->setFixedWidth(250);
    auto* sidebarColumn = new QVBoxLayout(sidebar);
    sidebarColumn->setContentsMargins(20, 20, 20, 20);
    sidebarColumn->setSpacing(14);
    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    header->setContentsMargins(0, 0, 0, 8);
    auto* avatar = new RoundedPanel(QColor::fromRgbF(1, 0.84f, 0.04f, 0.95f), Qt::transparent, 24, sidebar);
    avatar->setFixedSize(48, 48);
    auto* avatarLayout = new QVBoxLayout(avatar);
    avatarLayout->setContentsMargins(0, 0, 0, 0);
    m_avatarText = makeLabel({}, TextRole::headline, QFont::Black, Qt::black, false, avatar);
    m_avatarText->setObjectName(QStringLiteral("sidebarAvatar"));
    m_avatarText->setAlignment(Qt::AlignCenter);
    avatarLayout->addWidget(m_avatarText);
    header->addWidget(avatar);
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    m_nameLabel = makeLabel({}, TextRole::headline, QFont::Bold, Qt::white, false, sidebar);
    m_nameLabel->setObjectName(QStringLiteral("sidebarName"));
    m_emailLabel = makeLabel({}, TextRole::caption, QFont::Normal, secondaryTextColor(), false, sidebar);
    m_emailLabel->setObjectName(QStringLiteral("sidebarEmail"));
    names->addStretch(1);
    names->addWidget(m_nameLabel);
    names->addWidget(m_emailLabel);
    names->addStretch(1);
    header->addLayout(names, 1);
    sidebarColumn->addLayout(header);
    for (AccountPanelDestination destination : allAccountPanelDestinations) {
        auto* button = new QPushButton(translated(sidebarTitle(destination), language), sidebar);
        button->setObjectName(QStringLiteral("sidebar-") + QString::fromLatin1(rawValue(destination).data()));
        button->setFixedHeight(42);
        button->setAutoDefault(false);
        button->setCursor(Qt::PointingHandCursor);
        connect(button, &QPushButton::clicked, this, [this, destination] { setSelectedDestination(destination); });
        m_rows[static_cast<std::size_t>(destination)] = button;
        sidebarColumn->addWidget(button);
    }
    sidebarColumn->addStretch(1);
    row->addWidget(sidebar);

    auto* divider = new QFrame(panel);
    divider->setFixedWidth(1);
    divider->setStyleSheet(QStringLiteral("background: rgba(255,255,255,0.12);"));
    row->addWidget(divider);

    auto* contentArea = new QWidget(panel);
    m_contentHolder = new QVBoxLayout(contentArea);
    m_contentHolder->setContentsMargins(0, 0, 0, 0);
    row->addWidget(contentArea, 1);

    // A session that ends while the window is open (a 401 from any request, not only the
    // sign-out button) leaves nothing to look after: the sign-in form shows behind it.
    connect(&m_session, &AccountSession::changed, this, [this, wasSignedIn = m_session.isAuthenticated()](AccountSessionField field) mutable {
        if (field != AccountSessionField::account)
            return;
        const bool signedIn = m_session.isAuthenticated();
        if (wasSignedIn && !signedIn) {
            wasSignedIn = false;
            reject();
            return;
        }
        wasSignedIn = signedIn;
        refreshHeader();
    });
    refreshHeader();
    refreshSidebar();
    showContent();
}

void AccountSettingsWindow::setSelectedDestination(AccountPanelDestination destination)
{
    if (destination == m_selectedDestination)
        return;
    m_selectedDestination = destination;
    refreshSidebar();
    showContent();
}

AccountSettingsWindow* AccountSettingsWindow::present(QWidget* parent, AccountPanelDestination destination,
                                                      AccountSession& session, AppLanguage language)
{
    auto* window = new AccountSettingsWindow(destination, session, language, parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowModality(Qt::WindowModal);
    window->open();
    return window;
}

void AccountSettingsWindow::showEvent(QShowEvent* event)
{
    fitToScreen();
    QDialog::showEvent(event);
    WindowFit::keepDialogOnScreen(*this);
}

void AccountSettingsWindow::fitToScreen()
{
    // On a netbook's screen the backdrop's padding gives way; the panel keeps its size.
    const QSize room = WindowFit::dialogRoom(*this);
    const int across = std::clamp((room.width() - panelSize.width()) / 2, 0, backdropPadding);
    const int down = std::clamp((room.height() - panelSize.height()) / 2, 0, backdropPadding);
    m_backdropLayout->setContentsMargins(across, down, across, down);
    setFixedSize(panelSize.grownBy(QMargins(across, down, across, down)));
}

void AccountSettingsWindow::refreshHeader()
{
    const QString name = QString::fromStdString(m_session.displayName());
    // The first two characters of the name, not the top bar's initials.
    m_avatarText->setText(name.left(2).toUpper());
    // The header column is narrow: long names and addresses end in an ellipsis, whole in the tooltip.
    const int width = 250 - 40 - 48 - 12;
    m_nameLabel->setText(m_nameLabel->fontMetrics().elidedText(name, Qt::ElideRight, width));
    m_nameLabel->setToolTip(name);
    const auto& profile = m_session.account().profile;
    const QString email = profile && profile->email ? QString::fromStdString(*profile->email) : QString();
    m_emailLabel->setText(m_emailLabel->fontMetrics().elidedText(email, Qt::ElideRight, width));
    m_emailLabel->setToolTip(email);
}

void AccountSettingsWindow::refreshSidebar()
{
    for (AccountPanelDestination destination : allAccountPanelDestinations) {
        QPushButton* button = m_rows[static_cast<std::size_t>(destination)];
        const bool selected = destination == m_selectedDestination;
        button->setProperty("selected", selected);
        button->setIcon(accountSymbolIcon(QString::fromLatin1(sidebarSymbol(destination).data()),
                                   selected ? Qt::white : secondaryTextColor()));
        button->setStyleSheet(QStringLiteral("QPushButton{text-align:left;padding:0 10px;border:none;border-radius:10px;"
                                             "font-size:11px;background:%1;color:%2;font-weight:%3;}")
                                  .arg(selected ? QStringLiteral("rgba(255,255,255,0.12)") : QStringLiteral("transparent"),
                                       selected ? QStringLiteral("white") : QStringLiteral("rgba(255,255,255,0.55)"),
                                       selected ? QStringLiteral("bold") : QStringLiteral("600")));
    }
}

void AccountSettingsWindow::showContent()
{
    // Each visit starts the panel afresh: what was typed on the panel left behind is dropped.
    if (m_content) {
        m_contentHolder->removeWidget(m_content);
        m_content->hide();
        m_content->deleteLater();
    }
    switch (m_selectedDestination) {
    case AccountPanelDestination::account:
        m_content = new AccountDetailPanel(m_session, m_language, [this] { reject(); });
        break;
    case AccountPanelDestination::credits:
        m_content = new CreditsDetailPanel(m_session, m_language);
        break;
    case AccountPanelDestination::storage:
        m_content = new StorageDetailPanel(m_session, m_language);
        break;
    case AccountPanelDestination::purchases:
        m_content = new PurchasesDetailPanel(m_session, m_language);
        break;
    }
    m_contentHolder->addWidget(m_content);
}

} // namespace fotivela
