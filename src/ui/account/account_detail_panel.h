#pragma once

#include "account/account_session.h"
#include "model/app_language.h"

#include <QWidget>

#include <functional>

class QLineEdit;
class QLabel;
class QPushButton;

namespace fotivela {

namespace AccountDetailRules {
// Whether "Actualizar contraseña" may be pressed: not busy, at least 8 user-perceived characters,
// and a repetition that is canonically the same text. The current password is not checked here.
bool canUpdatePassword(bool isWorking, const QString& newPassword, const QString& confirmNewPassword);
int userPerceivedLength(const QString& text);
} // namespace AccountDetailRules

// The account window's panel for the signed-in account: the name, the password and signing out.
class AccountDetailPanel : public QWidget {
    Q_OBJECT

public:
    AccountDetailPanel(AccountSession& session, AppLanguage language, std::function<void()> dismiss,
                       QWidget* parent = nullptr);

    QLineEdit* fullNameField() const { return m_fullName; }
    QLineEdit* currentPasswordField() const { return m_currentPassword; }
    QLineEdit* newPasswordField() const { return m_newPassword; }
    QLineEdit* confirmNewPasswordField() const { return m_confirmNewPassword; }
    QPushButton* saveNameButton() const { return m_saveName; }
    QPushButton* updatePasswordButton() const { return m_updatePassword; }
    QPushButton* signOutButton() const { return m_signOut; }

private:
    void refresh();
    void changePassword();
    void signOut();

    AccountSession& m_session;
    AppLanguage m_language;
    std::function<void()> m_dismiss;
    QLabel* m_email = nullptr;
    QLineEdit* m_fullName = nullptr;
    QLineEdit* m_currentPassword = nullptr;
    QLineEdit* m_newPassword = nullptr;
    QLineEdit* m_confirmNewPassword = nullptr;
    QPushButton* m_saveName = nullptr;
    QPushButton* m_updatePassword = nullptr;
    QPushButton* m_signOut = nullptr;
};

} // namespace fotivela
