#pragma once

#include "account/account_session.h"
#include "model/app_language.h"
#include "ui/account/account_settings_window.h"

#include <QPushButton>
#include <QWidget>

#include <functional>

namespace fotivela {

// Up to two letters for the user's avatar: the first letters of the first two words of the name
// (split at spaces only), or the first two characters of a one-word name; "US" when there is none.
QString accountInitials(const QString& displayName);

// The signed-in user's corner of the top bar: the credit balance chip and the initials avatar. Each
// asks the top bar to open the account window at one of its panels. The two buttons lie side by
// side in this widget, without margins.
class UserAccountButton : public QWidget {
    Q_OBJECT

public:
    using OpenPanel = std::function<void(AccountPanelDestination)>;
    UserAccountButton(AccountSession& session, AppLanguage language, OpenPanel openPanel, QWidget* parent = nullptr);

    void setLanguage(AppLanguage language);
    QPushButton* chip() const { return m_chip; }
    QPushButton* avatar() const { return m_avatar; }
    QString chipText() const;
    QString initials() const;

private:
    void refresh();

    AccountSession& m_session;
    AppLanguage m_language;
    OpenPanel m_openPanel;
    QPushButton* m_chip = nullptr;
    QPushButton* m_avatar = nullptr;
};

} // namespace fotivela
