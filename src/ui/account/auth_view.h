#pragma once

#include "account/account_session.h"
#include "model/app_language.h"

#include <QWidget>

#include <array>
#include <optional>
#include <string_view>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;

namespace fotivela {

// The three things the sign-in form can do, in segment order.
enum class AuthMode { login, registerAccount, recover };

inline constexpr std::array<AuthMode, 3> allAuthModes = {AuthMode::login, AuthMode::registerAccount, AuthMode::recover};
std::string_view rawValue(AuthMode mode);
std::optional<AuthMode> authModeFromRawValue(std::string_view text);

// The dark gradient behind the sign-in form, the connecting screen and the account window.
class OrvelantBackground : public QWidget {
    Q_OBJECT

public:
    explicit OrvelantBackground(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The sign-in form: e-mail and password, account creation, a reset link and the browser sign-in.
// It keeps only what the user types and the chosen mode; all account work is the session's.
class AuthView : public OrvelantBackground {
    Q_OBJECT

public:
    AuthView(AccountSession& session, AppLanguage language, QWidget* parent = nullptr);

    void setLanguage(AppLanguage language);
    AuthMode mode() const { return m_mode; }
    void setMode(AuthMode mode);
    bool showsRecoverOption() const { return m_showsRecoverOption; }
    bool isPrimaryEnabled() const;
    void submitPrimaryAction();

private:
    void refresh();

    AccountSession& m_session;
    AppLanguage m_language;
    AuthMode m_mode = AuthMode::login;
    bool m_showsRecoverOption = false;

    QButtonGroup* m_modeGroup = nullptr;
    QLineEdit* m_email = nullptr;
    QLineEdit* m_password = nullptr;
    QPushButton* m_primary = nullptr;
    QPushButton* m_google = nullptr;
    QPushButton* m_recoverLink = nullptr;
    QLabel* m_recoverHint = nullptr;
    QLabel* m_status = nullptr;
};

} // namespace fotivela
