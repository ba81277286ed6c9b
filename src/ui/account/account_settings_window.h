#pragma once

#include "account/account_session.h"
#include "model/app_language.h"

#include <QDialog>

#include <array>
#include <functional>
#include <optional>
#include <string_view>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace fotivela {

// The four panels of the account window, in sidebar order.
enum class AccountPanelDestination { account, credits, storage, purchases };

inline constexpr std::array<AccountPanelDestination, 4> allAccountPanelDestinations = {
    AccountPanelDestination::account, AccountPanelDestination::credits, AccountPanelDestination::storage,
    AccountPanelDestination::purchases};
std::string_view rawValue(AccountPanelDestination destination);
std::optional<AccountPanelDestination> accountPanelDestinationFromRawValue(std::string_view text);
// The sidebar's Spanish title and symbol of a destination.
std::string_view sidebarTitle(AccountPanelDestination destination);
std::string_view sidebarSymbol(AccountPanelDestination destination);

// The sheet in which a signed-in user looks after the account: a sidebar of four destinations and
// the panel of the selected one. It holds no account data of its own. Escape closes it.
class AccountSettingsWindow : public QDialog {
    Q_OBJECT

public:
    AccountSettingsWindow(AccountPanelDestination destination, AccountSession& session, AppLanguage language,
                          QWidget* parent = nullptr);

    AccountPanelDestination destination() const { return m_destination; }
    AccountPanelDestination selectedDestination() const { return m_selectedDestination; }
    void setSelectedDestination(AccountPanelDestination destination);
    QWidget* contentPanel() const { return m_content; }

    // Shows the window over parent without blocking (it deletes itself when closed).
    static AccountSettingsWindow* present(QWidget* parent, AccountPanelDestination destination,
                                          AccountSession& session, AppLanguage language);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void fitToScreen();
    void refreshSidebar();
    void refreshHeader();
    void showContent();

    AccountPanelDestination m_destination;
    AccountSession& m_session;
    AppLanguage m_language;
    AccountPanelDestination m_selectedDestination;

    QLabel* m_avatarText = nullptr;
    QLabel* m_nameLabel = nullptr;
    QLabel* m_emailLabel = nullptr;
    std::array<QPushButton*, 4> m_rows{};
    QVBoxLayout* m_backdropLayout = nullptr;
    QVBoxLayout* m_contentHolder = nullptr;
    QWidget* m_content = nullptr;
};

} // namespace fotivela
