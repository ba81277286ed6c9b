#include "ui/account/account_panel_scaffolding.h"

#include "ui/account/account_symbols.h"
#include "ui/account/account_view_support.h"

#include <QLabel>
#include <QVBoxLayout>

namespace fotivela {

SettingsContent::SettingsContent(const QString& title, const QString& subtitle, QWidget* parent) : QScrollArea(parent)
{
    setObjectName(QStringLiteral("settingsContent"));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The window's backdrop shows through the frame, as it does through the sidebar.
    setStyleSheet(QStringLiteral("QScrollArea{background:transparent;border:none;}"
                                 "QWidget#qt_scrollarea_viewport{background:transparent;}"
                                 "QWidget#settingsBody{background:transparent;}"));
    viewport()->setAutoFillBackground(false);

    auto* body = new QWidget;
    body->setObjectName(QStringLiteral("settingsBody"));
    body->setAutoFillBackground(false);
    m_column = new QVBoxLayout(body);
    m_column->setContentsMargins(24, 24, 24, 24);
    m_column->setSpacing(18);

    auto* heading = new QVBoxLayout;
    heading->setSpacing(4);
    auto* titleLabel = makeLabel(title, TextRole::title, QFont::Bold, Qt::white, true);
    titleLabel->setObjectName(QStringLiteral("settingsTitle"));
    auto* subtitleLabel = makeLabel(subtitle, TextRole::body, QFont::Normal, secondaryTextColor(), true);
    subtitleLabel->setObjectName(QStringLiteral("settingsSubtitle"));
    heading->addWidget(titleLabel);
    heading->addWidget(subtitleLabel);
    m_column->addLayout(heading);
    m_column->addStretch(1);
    setWidget(body);
}

void SettingsContent::addItem(QWidget* item)
{
    // Before the closing stretch, which keeps the items at the top.
    m_column->insertWidget(m_column->count() - 1, item);
}

EmptySettingsState::EmptySettingsState(const QString& icon, const QString& title, const QString& text, QWidget* parent)
    : QWidget(parent), m_icon(icon)
{
    setObjectName(QStringLiteral("emptySettingsState"));
    auto* card = new RoundedPanel(whiteAt(0.07), Qt::transparent, 12, this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(card);
    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(10);
    column->addWidget(makeSymbol(icon, 30, QColor(255, 214, 10), card), 0, Qt::AlignLeft);
    column->addWidget(makeLabel(title, TextRole::headline, QFont::Bold, Qt::white, true, card));
    column->addWidget(makeLabel(text, TextRole::body, QFont::Normal, secondaryTextColor(), true, card));
}

StatusMessage::StatusMessage(AccountSession& session, QWidget* parent) : QWidget(parent), m_session(session)
{
    setObjectName(QStringLiteral("statusMessage"));
    auto* card = new RoundedPanel(blackAt(0.22), Qt::transparent, 10, this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(card);
    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(10, 10, 10, 10);
    m_label = makeLabel({}, TextRole::footnote, QFont::Normal, secondaryTextColor(), true, card);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(m_label);
    connect(&m_session, &AccountSession::changed, this, [this](AccountSessionField field) {
        if (field == AccountSessionField::message)
            refresh();
    });
    refresh();
}

QString StatusMessage::text() const
{
    return m_label->text();
}

void StatusMessage::refresh()
{
    const QString message = QString::fromStdString(m_session.message());
    m_label->setText(message);
    setVisible(!message.isEmpty());
}

} // namespace fotivela
