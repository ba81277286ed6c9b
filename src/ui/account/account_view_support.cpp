#include "ui/account/account_view_support.h"

#include "model/app_text.h"

#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

#include <memory>

namespace fotivela {

QString translated(std::string_view spanish, AppLanguage language)
{
    return QString::fromStdString(AppText::translate(spanish, language));
}

QString groupedInteger(std::int64_t value)
{
    return QLocale::system().toString(static_cast<qlonglong>(value));
}

QString euroAmount(double euros)
{
    return QLocale::system().toCurrencyString(euros, QStringLiteral("€"));
}

QFont textFont(TextStyle style, QFont::Weight weight)
{
    QFont font;
    double size = 13;
    QFont::Weight styleWeight = QFont::Normal;
    switch (style) {
    case TextStyle::largeTitle: size = 26; break;
    case TextStyle::title: size = 28; styleWeight = QFont::Bold; break;
    case TextStyle::title3: size = 15; break;
    case TextStyle::headline: size = 13; styleWeight = QFont::Bold; break;
    case TextStyle::body: size = 13; break;
    case TextStyle::callout: size = 12; break;
    case TextStyle::caption: size = 10; break;
    case TextStyle::footnote: size = 10; break;
    }
    font.setPointSizeF(size);
    font.setWeight(weight == QFont::Normal ? styleWeight : weight);
    return font;
}

QColor secondaryTextColor()
{
    return whiteAt(0.55);
}

QLabel* makeLabel(const QString& text, TextStyle style, QFont::Weight weight, const QColor& color, bool wraps,
                  QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(textFont(style, weight));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    label->setWordWrap(wraps);
    label->setTextFormat(Qt::PlainText);
    return label;
}

RoundedPanel::RoundedPanel(QColor fill, QColor outline, double radius, QWidget* parent)
    : QWidget(parent), m_fill(fill), m_outline(outline), m_radius(radius)
{
    setAttribute(Qt::WA_StyledBackground, false);
}

void RoundedPanel::setColors(QColor fill, QColor outline)
{
    m_fill = fill;
    m_outline = outline;
    update();
}

void RoundedPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(frame, m_radius, m_radius);
    painter.fillPath(shape, m_fill);
    if (m_outline.alpha() > 0) {
        painter.setPen(QPen(m_outline, 1));
        painter.drawPath(shape);
    }
}

void applyButtonLook(QPushButton* button, ButtonLook look, bool large)
{
    const QString padding = large ? QStringLiteral("9px 14px") : QStringLiteral("6px 12px");
    QString sheet;
    switch (look) {
    case ButtonLook::prominent:
        sheet = QStringLiteral("QPushButton{background:rgb(255,199,46);color:black;border:none;border-radius:7px;"
                               "padding:%1;font-weight:600;}"
                               "QPushButton:hover{background:rgb(255,211,90);}"
                               "QPushButton:disabled{background:rgba(255,255,255,0.12);color:rgba(255,255,255,0.35);}");
        break;
    case ButtonLook::bordered:
        sheet = QStringLiteral("QPushButton{background:rgba(255,255,255,0.1);color:white;border:1px solid rgba(255,255,255,0.16);"
                               "border-radius:7px;padding:%1;}"
                               "QPushButton:hover{background:rgba(255,255,255,0.16);}"
                               "QPushButton:disabled{color:rgba(255,255,255,0.35);}");
        break;
    case ButtonLook::destructive:
        sheet = QStringLiteral("QPushButton{background:rgba(255,255,255,0.1);color:rgb(255,105,97);"
                               "border:1px solid rgba(255,255,255,0.16);border-radius:7px;padding:%1;}"
                               "QPushButton:hover{background:rgba(255,255,255,0.16);}"
                               "QPushButton:disabled{color:rgba(255,255,255,0.35);}");
        break;
    case ButtonLook::plain:
        sheet = QStringLiteral("QPushButton{background:transparent;border:none;padding:%1;}");
        break;
    }
    button->setStyleSheet(sheet.arg(padding));
    button->setCursor(Qt::PointingHandCursor);
}

void afterSessionWork(AccountSession& session, QObject* context, std::function<void()> then)
{
    if (!session.isWorking()) {
        then();
        return;
    }
    QPointer<QObject> guard(context);
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(&session, &AccountSession::changed, context,
                                   [&session, connection, guard, then = std::move(then)](AccountSessionField field) {
                                       if (field != AccountSessionField::isWorking || session.isWorking())
                                           return;
                                       QObject::disconnect(*connection);
                                       if (guard)
                                           then();
                                   });
}

} // namespace fotivela
