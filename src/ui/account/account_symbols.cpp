#include "ui/account/account_symbols.h"

#include "ui/shell/fotivela_design_system.h"

#include <QHash>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

namespace fotivela {

QString symbolGlyph(const QString& name)
{
    static const QHash<QString, QString> glyphs = {
        {QStringLiteral("person.crop.circle"), QStringLiteral("\u263A")},
        {QStringLiteral("person.badge.plus"), QStringLiteral("+")},
        {QStringLiteral("envelope"), QStringLiteral("\u2709")},
        {QStringLiteral("globe"), QStringLiteral("\u25CE")},
        {QStringLiteral("sparkles"), QStringLiteral("\u2726")},
        {QStringLiteral("gearshape"), QStringLiteral("\u2699")},
        {QStringLiteral("wallet.pass"), QStringLiteral("\u25A4")},
        {QStringLiteral("wallet.pass.fill"), QStringLiteral("\u25A4")},
        {QStringLiteral("externaldrive"), QStringLiteral("\u25AD")},
        {QStringLiteral("externaldrive.fill"), QStringLiteral("\u25AC")},
        {QStringLiteral("doc.text"), QStringLiteral("\u2263")},
        {QStringLiteral("doc.text.magnifyingglass"), QStringLiteral("\u2315")},
        {QStringLiteral("xmark"), QStringLiteral("\u2715")},
        {QStringLiteral("key"), QStringLiteral("\u26B7")},
        {QStringLiteral("rectangle.portrait.and.arrow.right"), QStringLiteral("\u21E5")},
        {QStringLiteral("creditcard"), QStringLiteral("\u25AD")},
        {QStringLiteral("checkmark.seal"), QStringLiteral("\u2714")},
        {QStringLiteral("arrow.clockwise"), QStringLiteral("\u21BB")},
        {QStringLiteral("arrow.up.right.square"), QStringLiteral("\u2197")},
        {QStringLiteral("checkmark.circle.fill"), QStringLiteral("\u25C9")},
        {QStringLiteral("circle"), QStringLiteral("\u25CB")},
        {QStringLiteral("cloud"), QStringLiteral("\u2601")},
        {QStringLiteral("music.note"), QStringLiteral("\u266A")},
    };
    return glyphs.value(name, QStringLiteral("\u2022"));
}

QIcon accountSymbolIcon(const QString& name, const QColor& color, int size)
{
    // The design system's line icons where it draws the symbol; a glyph otherwise.
    const QByteArray utf8 = name.toUtf8();
    QIcon drawn = symbolIcon(std::string_view(utf8.constData(), std::size_t(utf8.size())), color);
    if (!drawn.isNull())
        return drawn;
    QPixmap pixmap(size * 2, size * 2);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font;
    font.setPixelSize(size);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, symbolGlyph(name));
    painter.end();
    return QIcon(pixmap);
}

QLabel* makeSymbol(const QString& name, int size, const QColor& color, QWidget* parent)
{
    auto* label = new QLabel(symbolGlyph(name), parent);
    QFont font;
    font.setPixelSize(size);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    label->setProperty("symbol", name);
    return label;
}

} // namespace fotivela
