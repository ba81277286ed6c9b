#include "ui/account/account_view_support.h"

#include "model/app_text.h"
#include "ui/shell/fotivela_design_system.h"

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

QFont textFont(TextRole style, QFont::Weight weight)
{
    double size = TextStyle::body;
    QFont::Weight styleWeight = QFont::Normal;
    switch (style) {
    case TextRole::largeTitle: size = 26; break;
    case TextRole::title: size = 28; styleWeight = QFont::Bold; break;
    case TextRole::title3: size = TextStyle::title3; break;
    case TextRole::headline: size = TextStyle::headline; styleWeight = QFont::Bold; break;
    case TextRole::body: size = TextStyle::body; break;
    case TextRole::callout: size = TextStyle::callout; break;
    case TextRole::caption: size = TextStyle::caption; break;
    case TextRole::footnote: size = TextStyle::caption; break;
    }
    return systemFont(size, weight == QFont::Normal ? styleWeight : weight);
}

QColor accentColor()
{
    return AppTheme::accent();
}

QColor secondaryTextColor()
{
    return whiteAt(0.55);
}

QLabel* makeLabel(const QString& text, TextRole style, QFont::Weight weight, const QColor& color, bool wraps,
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

QString roundedFieldSheet()
{
    return QStringLiteral("QLineEdit{background:rgba(0,0,0,0.25);color:white;border:1px solid rgba(255,255,255,0.22);"
                          "border-radius:6px;padding:6px 8px;}QLineEdit:focus{border-color:%1;}")
        .arg(AppTheme::accent().name());
}

void applyButtonLook(QPushButton* button, ButtonLook look, bool large)
{
    const QString padding = large ? QStringLiteral("9px 14px") : QStringLiteral("6px 12px");
    QString sheet;
    switch (look) {
    case ButtonLook::prominent:
        sheet = QStringLiteral("QPushButton{background:%2;color:black;border:none;border-radius:7px;"
                               "padding:%1;font-weight:600;}"
                               "QPushButton:hover{background:%3;}"
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
    if (look == ButtonLook::prominent)
        sheet = sheet.arg(padding, AppTheme::accent().name(), AppTheme::accent().lighter(112).name());
    else
        sheet = sheet.arg(padding);
    button->setStyleSheet(sheet);
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
