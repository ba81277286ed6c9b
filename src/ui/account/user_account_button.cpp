#include "ui/account/user_account_button.h"

#include "ui/account/account_symbols.h"
#include "ui/account/account_view_support.h"

#include <QHBoxLayout>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextBoundaryFinder>

namespace fotivela {

namespace {

// The first n user-perceived characters of a text.
QString leadingCharacters(const QString& text, int n)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int end = 0;
    for (int taken = 0; taken < n; ++taken) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            break;
        end = int(next);
    }
    return text.left(end);
}

class BalanceChip : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
        painter.fillPath(shape, QColor::fromRgbF(0.11f, 0.09f, 0.04f, 0.92f));
        painter.setPen(QPen(QColor::fromRgbF(1, 1, 0, 0.26f), 1));
        painter.drawPath(shape);
        painter.setPen(QColor(255, 214, 10));
        QFont symbolFont;
        symbolFont.setPixelSize(14);
        painter.setFont(symbolFont);
        const QRect symbolRect(12, 0, 16, height());
        painter.drawText(symbolRect, Qt::AlignCenter, symbolGlyph(QStringLiteral("sparkles")));
        painter.setFont(textFont(TextRole::callout, QFont::DemiBold));
        painter.setPen(Qt::white);
        painter.drawText(QRect(symbolRect.right() + 7, 0, width() - symbolRect.right() - 19, height()),
                         Qt::AlignVCenter | Qt::AlignLeft, text());
    }
    QSize sizeHint() const override
    {
        const int textWidth = QFontMetrics(textFont(TextRole::callout, QFont::DemiBold)).horizontalAdvance(text());
        return {12 + 16 + 7 + textWidth + 12, 38};
    }
};

class InitialsAvatar : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF circle(2, 0, 44, 44);
        // A soft drop shadow under the ring.
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.16f));
        painter.drawEllipse(circle.translated(0, 3).adjusted(-1, -1, 1, 1));
        QLinearGradient ring(circle.topLeft(), circle.bottomRight());
        ring.setColorAt(0, QColor(255, 214, 10));
        ring.setColorAt(0.5, QColor::fromRgbF(1, 1, 1, 0.88f));
        ring.setColorAt(1, QColor::fromRgbF(0.63f, 0.47f, 0.12f));
        painter.setBrush(ring);
        painter.drawEllipse(circle);
        painter.setBrush(QColor::fromRgbF(0.08f, 0.08f, 0.08f));
        painter.drawEllipse(circle.adjusted(2, 2, -2, -2));
        QFont font;
        font.setPixelSize(13);
        font.setWeight(QFont::Black);
        painter.setFont(font);
        painter.setPen(QColor(255, 214, 10));
        painter.drawText(circle, Qt::AlignCenter, text());
    }
    QSize sizeHint() const override { return {48, 48}; }
};

} // namespace

QString accountInitials(const QString& displayName)
{
    const QString trimmed = displayName.trimmed();
    if (trimmed.isEmpty())
        return QStringLiteral("US");
    const QStringList pieces = trimmed.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QString initials = pieces.size() < 2 ? leadingCharacters(trimmed, 2)
                                         : leadingCharacters(pieces[0], 1) + leadingCharacters(pieces[1], 1);
    return initials.toUpper();
}

UserAccountButton::UserAccountButton(AccountSession& session, AppLanguage language, OpenPanel openPanel, QWidget* parent)
    : QWidget(parent), m_session(session), m_language(language), m_openPanel(std::move(openPanel))
{
    setObjectName(QStringLiteral("userAccountButton"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    m_chip = new BalanceChip(this);
    m_chip->setObjectName(QStringLiteral("balanceChip"));
    m_chip->setFixedHeight(38);
    m_chip->setCursor(Qt::PointingHandCursor);
    m_avatar = new InitialsAvatar(this);
    m_avatar->setObjectName(QStringLiteral("initialsAvatar"));
    m_avatar->setFixedSize(48, 48);
    m_avatar->setCursor(Qt::PointingHandCursor);
    row->addWidget(m_chip);
    row->addWidget(m_avatar);
    connect(m_chip, &QPushButton::clicked, this, [this] {
        if (m_openPanel)
            m_openPanel(AccountPanelDestination::credits);
    });
    connect(m_avatar, &QPushButton::clicked, this, [this] {
        if (m_openPanel)
            m_openPanel(AccountPanelDestination::account);
    });
    connect(&m_session, &AccountSession::changed, this, [this](AccountSessionField field) {
        if (field == AccountSessionField::account)
            refresh();
    });
    refresh();
}

void UserAccountButton::setLanguage(AppLanguage language)
{
    m_language = language;
    refresh();
}

QString UserAccountButton::chipText() const
{
    return m_chip->text();
}

QString UserAccountButton::initials() const
{
    return m_avatar->text();
}

void UserAccountButton::refresh()
{
    m_chip->setText(groupedInteger(m_session.account().balance) + QLatin1Char(' ') + translated("creditos", m_language));
    m_chip->setFixedWidth(m_chip->sizeHint().width());
    m_avatar->setText(accountInitials(QString::fromStdString(m_session.displayName())));
    m_avatar->setToolTip(QString::fromStdString(m_session.displayName()));
}

} // namespace fotivela
