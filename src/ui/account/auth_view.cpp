#include "ui/account/auth_view.h"

#include "ui/account/account_symbols.h"
#include "ui/account/account_view_support.h"
#include "ui/shell/fotivela_design_system.h"
#include "ui/shell/fotivela_logo.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace fotivela {

namespace {

struct ModeLook {
    std::string_view rawValue;
    std::string_view primaryLabel;
    const char* icon;
};

ModeLook look(AuthMode mode)
{
    switch (mode) {
    case AuthMode::login: return {"Acceder", "Entrar", "person.crop.circle"};
    case AuthMode::registerAccount: return {"Crear cuenta", "Crear cuenta", "person.badge.plus"};
    case AuthMode::recover: return {"Recuperar", "Enviar enlace de recuperación", "envelope"};
    }
    return {"Acceder", "Entrar", "person.crop.circle"};
}

} // namespace

std::string_view rawValue(AuthMode mode)
{
    return look(mode).rawValue;
}

std::optional<AuthMode> authModeFromRawValue(std::string_view text)
{
    for (AuthMode mode : allAuthModes)
        if (rawValue(mode) == text)
            return mode;
    return std::nullopt;
}

OrvelantBackground::OrvelantBackground(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(false);
}

void OrvelantBackground::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QLinearGradient gradient(rect().topLeft(), rect().bottomRight());
    gradient.setColorAt(0.0, QColor::fromRgbF(0.05f, 0.05f, 0.06f));
    gradient.setColorAt(0.5, QColor::fromRgbF(0.12f, 0.13f, 0.14f));
    gradient.setColorAt(1.0, QColor::fromRgbF(0.05f, 0.08f, 0.08f));
    painter.fillRect(rect(), gradient);
}

AuthView::AuthView(AccountSession& session, AppLanguage language, QWidget* parent)
    : OrvelantBackground(parent), m_session(session), m_language(language)
{
    setObjectName(QStringLiteral("authView"));
    auto* outer = new QVBoxLayout(this);
    outer->setSpacing(0);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addStretch(1);
    outer->addSpacing(40);

    auto* card = new FotivelaGlassPanel(18, this);
    card->setObjectName(QStringLiteral("authCard"));
    card->setFixedWidth(420);
    outer->addWidget(card, 0, Qt::AlignHCenter);
    outer->addSpacing(40);
    outer->addStretch(1);

    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(18);

    auto* logo = new FotivelaLogo(QSize(235, 72), card);
    logo->setObjectName(QStringLiteral("FotivelaLogoHorizontal"));
    logo->setAccessibleName(QStringLiteral("Fotivela"));
    column->addWidget(logo, 0, Qt::AlignHCenter);

    auto* segments = new QHBoxLayout;
    segments->setSpacing(0);
    m_modeGroup = new QButtonGroup(this);
    m_modeGroup->setExclusive(true);
    for (AuthMode mode : allAuthModes) {
        auto* segment = new QPushButton(card);
        segment->setCheckable(true);
        segment->setProperty("rawValue", QString::fromUtf8(rawValue(mode).data(), qsizetype(rawValue(mode).size())));
        segment->setStyleSheet(QStringLiteral(
            "QPushButton{background:rgba(255,255,255,0.08);color:white;border:1px solid rgba(255,255,255,0.14);padding:5px;}"
            "QPushButton:checked{background:rgba(255,255,255,0.26);font-weight:600;}"));
        segments->addWidget(segment, 1);
        m_modeGroup->addButton(segment, static_cast<int>(mode));
    }
    connect(m_modeGroup, &QButtonGroup::idClicked, this, [this](int id) { setMode(static_cast<AuthMode>(id)); });
    column->addLayout(segments);

    m_email = new QLineEdit(card);
    m_email->setObjectName(QStringLiteral("emailField"));
    m_email->setPlaceholderText(QStringLiteral("Email"));
    m_email->setStyleSheet(roundedFieldSheet());
    m_email->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase);
    column->addWidget(m_email);

    m_password = new QLineEdit(card);
    m_password->setObjectName(QStringLiteral("passwordField"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setStyleSheet(roundedFieldSheet());
    column->addWidget(m_password);
    connect(m_email, &QLineEdit::textChanged, this, [this] { refresh(); });
    connect(m_password, &QLineEdit::textChanged, this, [this] { refresh(); });
    // Enter in either field sends the form, as the main button does.
    connect(m_email, &QLineEdit::returnPressed, this, [this] { submitPrimaryAction(); });
    connect(m_password, &QLineEdit::returnPressed, this, [this] { submitPrimaryAction(); });

    m_primary = new QPushButton(card);
    m_primary->setObjectName(QStringLiteral("primaryButton"));
    applyButtonLook(m_primary, ButtonLook::prominent);
    m_primary->setAutoDefault(false);
    connect(m_primary, &QPushButton::clicked, this, [this] { submitPrimaryAction(); });
    column->addWidget(m_primary);

    m_google = new QPushButton(card);
    m_google->setObjectName(QStringLiteral("googleButton"));
    m_google->setIcon(accountSymbolIcon(QStringLiteral("globe"), Qt::white));
    applyButtonLook(m_google, ButtonLook::bordered);
    m_google->setAutoDefault(false);
    connect(m_google, &QPushButton::clicked, this, [this] { m_session.openGoogleLogin(); });
    column->addWidget(m_google);

    m_recoverLink = new QPushButton(card);
    m_recoverLink->setObjectName(QStringLiteral("recoverLink"));
    applyButtonLook(m_recoverLink, ButtonLook::plain);
    m_recoverLink->setStyleSheet(m_recoverLink->styleSheet() +
                                 QStringLiteral("QPushButton{color:%1;}QPushButton:disabled{color:rgba(255,255,255,0.3);}")
                                     .arg(accentColor().name()));
    m_recoverLink->setAutoDefault(false);
    connect(m_recoverLink, &QPushButton::clicked, this, [this] { setMode(AuthMode::recover); });
    column->addWidget(m_recoverLink);

    m_recoverHint = makeLabel({}, TextRole::caption, QFont::Normal, secondaryTextColor(), true, card);
    m_recoverHint->setObjectName(QStringLiteral("recoverHint"));
    column->addWidget(m_recoverHint);

    m_status = makeLabel({}, TextRole::caption, QFont::Normal, secondaryTextColor(), true, card);
    m_status->setObjectName(QStringLiteral("statusLine"));
    column->addWidget(m_status);

    connect(&m_session, &AccountSession::changed, this, [this](AccountSessionField field) {
        if (field == AccountSessionField::isWorking || field == AccountSessionField::message)
            refresh();
    });
    refresh();
}

void AuthView::setLanguage(AppLanguage language)
{
    m_language = language;
    refresh();
}

void AuthView::setMode(AuthMode mode)
{
    if (mode == m_mode)
        return refresh();
    m_mode = mode;
    if (mode != AuthMode::login)
        m_showsRecoverOption = false;
    refresh();
}

bool AuthView::isPrimaryEnabled() const
{
    if (m_session.isWorking() || m_email->text().isEmpty())
        return false;
    if (m_mode == AuthMode::recover)
        return true;
    return !m_password->text().isEmpty();
}

void AuthView::submitPrimaryAction()
{
    if (!isPrimaryEnabled())
        return;
    const std::string email = m_email->text().toStdString();
    const std::string password = m_password->text().toStdString();
    switch (m_mode) {
    case AuthMode::login:
        m_showsRecoverOption = false;
        refresh();
        m_session.login(email, password);
        afterSessionWork(m_session, this, [this] {
            m_showsRecoverOption = !m_session.isAuthenticated();
            refresh();
        });
        break;
    case AuthMode::registerAccount:
        m_showsRecoverOption = false;
        refresh();
        m_session.registerAccount(email, password);
        break;
    case AuthMode::recover:
        m_session.requestPasswordReset(email);
        break;
    }
}

void AuthView::refresh()
{
    const ModeLook current = look(m_mode);
    for (AuthMode mode : allAuthModes) {
        QAbstractButton* segment = m_modeGroup->button(static_cast<int>(mode));
        segment->setText(translated(rawValue(mode), m_language));
        segment->setChecked(mode == m_mode);
    }
    m_password->setVisible(m_mode != AuthMode::recover);
    m_password->setPlaceholderText(translated("Contraseña", m_language));

    m_primary->setText(translated(current.primaryLabel, m_language));
    m_primary->setIcon(accountSymbolIcon(QString::fromLatin1(current.icon), Qt::black));
    m_primary->setProperty("symbol", QString::fromLatin1(current.icon));
    m_primary->setEnabled(isPrimaryEnabled());

    m_google->setText(translated("Continuar con Google", m_language));
    m_google->setEnabled(!m_session.isWorking());

    m_recoverLink->setText(translated("Recuperar contraseña", m_language));
    m_recoverLink->setVisible(m_mode == AuthMode::login && m_showsRecoverOption);
    m_recoverLink->setEnabled(!m_session.isWorking() && !m_email->text().isEmpty());

    m_recoverHint->setText(translated("Te enviaremos un enlace para crear una nueva contraseña. También sirve si tu cuenta "
                                      "nació con Google y quieres entrar con email y contraseña.",
                                      m_language));
    m_recoverHint->setVisible(m_mode == AuthMode::recover);

    const QString message = QString::fromStdString(m_session.message());
    m_status->setText(message);
    m_status->setVisible(!message.isEmpty());
}

} // namespace fotivela
