#include "ui/account/account_detail_panel.h"

#include "ui/account/account_panel_scaffolding.h"
#include "ui/account/account_symbols.h"
#include "ui/account/account_view_support.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>

namespace fotivela {

namespace {

QLineEdit* makeField(const QString& placeholder, bool secure, QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setPlaceholderText(placeholder);
    field->setStyleSheet(roundedFieldSheet());
    if (secure)
        field->setEchoMode(QLineEdit::Password);
    return field;
}

} // namespace

int AccountDetailRules::userPerceivedLength(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

bool AccountDetailRules::canUpdatePassword(bool isWorking, const QString& newPassword, const QString& confirmNewPassword)
{
    if (isWorking)
        return false;
    if (userPerceivedLength(newPassword) < 8)
        return false;
    return newPassword.normalized(QString::NormalizationForm_C) ==
           confirmNewPassword.normalized(QString::NormalizationForm_C);
}

AccountDetailPanel::AccountDetailPanel(AccountSession& session, AppLanguage language, std::function<void()> dismiss,
                                       QWidget* parent)
    : QWidget(parent), m_session(session), m_language(language), m_dismiss(std::move(dismiss))
{
    setObjectName(QStringLiteral("accountDetailPanel"));
    auto* frame = new SettingsContent(translated("Cuenta", language), translated("Gestiona tus datos de acceso.", language), this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);

    auto* sessionBox = new RoundedPanel(whiteAt(0.05), whiteAt(0.1), 8);
    auto* sessionColumn = new QVBoxLayout(sessionBox);
    sessionColumn->setContentsMargins(14, 14, 14, 14);
    sessionColumn->setSpacing(12);
    sessionColumn->addWidget(makeLabel(translated("Sesión actual", language), TextRole::caption, QFont::Bold, secondaryTextColor()));
    m_email = makeLabel({}, TextRole::headline, QFont::Bold, Qt::white);
    m_email->setObjectName(QStringLiteral("signedInEmail"));
    sessionColumn->addWidget(m_email);
    m_fullName = makeField(translated("Nombre", language), false, sessionBox);
    m_fullName->setObjectName(QStringLiteral("fullNameField"));
    sessionColumn->addWidget(m_fullName);
    m_saveName = new QPushButton(translated("Guardar nombre", language), sessionBox);
    m_saveName->setObjectName(QStringLiteral("saveNameButton"));
    applyButtonLook(m_saveName, ButtonLook::prominent);
    sessionColumn->addWidget(m_saveName, 0, Qt::AlignLeft);
    frame->addItem(sessionBox);

    auto* passwordBox = new RoundedPanel(whiteAt(0.05), whiteAt(0.1), 8);
    auto* passwordColumn = new QVBoxLayout(passwordBox);
    passwordColumn->setContentsMargins(14, 14, 14, 14);
    passwordColumn->setSpacing(12);
    auto* passwordTitle = new QHBoxLayout;
    passwordTitle->setSpacing(6);
    passwordTitle->addWidget(makeSymbol(QStringLiteral("key"), 14, Qt::white, passwordBox));
    passwordTitle->addWidget(makeLabel(translated("Cambiar contraseña", language), TextRole::headline, QFont::Bold, Qt::white));
    passwordTitle->addStretch(1);
    passwordColumn->addLayout(passwordTitle);
    m_currentPassword = makeField(translated("Contraseña actual", language), true, passwordBox);
    m_currentPassword->setObjectName(QStringLiteral("currentPasswordField"));
    m_newPassword = makeField(translated("Nueva contraseña", language), true, passwordBox);
    m_newPassword->setObjectName(QStringLiteral("newPasswordField"));
    m_confirmNewPassword = makeField(translated("Repetir nueva contraseña", language), true, passwordBox);
    m_confirmNewPassword->setObjectName(QStringLiteral("confirmNewPasswordField"));
    passwordColumn->addWidget(m_currentPassword);
    passwordColumn->addWidget(m_newPassword);
    passwordColumn->addWidget(m_confirmNewPassword);
    m_updatePassword = new QPushButton(translated("Actualizar contraseña", language), passwordBox);
    m_updatePassword->setObjectName(QStringLiteral("updatePasswordButton"));
    applyButtonLook(m_updatePassword, ButtonLook::prominent);
    passwordColumn->addWidget(m_updatePassword, 0, Qt::AlignLeft);
    frame->addItem(passwordBox);

    m_signOut = new QPushButton(translated("Cerrar sesión", language));
    m_signOut->setObjectName(QStringLiteral("signOutButton"));
    m_signOut->setIcon(accountSymbolIcon(QStringLiteral("rectangle.portrait.and.arrow.right"), QColor(255, 105, 97)));
    applyButtonLook(m_signOut, ButtonLook::destructive);
    frame->addItem(m_signOut);
    frame->column()->setAlignment(m_signOut, Qt::AlignLeft);
    frame->addItem(new StatusMessage(session));

    for (QPushButton* button : {m_saveName, m_updatePassword, m_signOut})
        button->setAutoDefault(false);
    for (QLineEdit* field : {m_currentPassword, m_newPassword, m_confirmNewPassword})
        connect(field, &QLineEdit::textChanged, this, [this] { refresh(); });
    connect(m_saveName, &QPushButton::clicked, this, [this] { m_session.updateProfile(m_fullName->text().toStdString()); });
    connect(m_updatePassword, &QPushButton::clicked, this, [this] { changePassword(); });
    connect(m_signOut, &QPushButton::clicked, this, [this] { signOut(); });
    connect(&m_session, &AccountSession::changed, this, [this](AccountSessionField field) {
        if (field == AccountSessionField::isWorking || field == AccountSessionField::account)
            refresh();
    });

    // The name is filled once, when the panel comes on screen; the window builds a new panel each time.
    const auto& profile = m_session.account().profile;
    m_fullName->setText(profile && profile->fullName ? QString::fromStdString(*profile->fullName) : QString());
    refresh();
}

void AccountDetailPanel::refresh()
{
    const auto& profile = m_session.account().profile;
    m_email->setText(profile && profile->email ? QString::fromStdString(*profile->email) : QString());
    m_saveName->setEnabled(!m_session.isWorking());
    m_updatePassword->setEnabled(AccountDetailRules::canUpdatePassword(m_session.isWorking(), m_newPassword->text(),
                                                                       m_confirmNewPassword->text()));
}

void AccountDetailPanel::changePassword()
{
    m_session.changePassword(m_currentPassword->text().toStdString(), m_newPassword->text().toStdString(),
                             m_confirmNewPassword->text().toStdString());
    afterSessionWork(m_session, this, [this] {
        m_currentPassword->clear();
        m_newPassword->clear();
        m_confirmNewPassword->clear();
    });
}

void AccountDetailPanel::signOut()
{
    m_session.logout();
    // Closed only once signed out: a refused sign-out stays readable in the status line.
    afterSessionWork(m_session, this, [this] {
        if (!m_session.isAuthenticated() && m_dismiss)
            m_dismiss();
    });
}

} // namespace fotivela
