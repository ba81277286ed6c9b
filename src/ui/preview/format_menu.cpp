#include "ui/preview/format_menu.h"

#include "model/app_text.h"
#include "ui/shell/fotivela_design_system.h"

#include <QMenu>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>

namespace fotivela {

namespace {

constexpr std::array allFormats{
    ProjectFormat::youtube,   ProjectFormat::reels,     ProjectFormat::classicLandscape,
    ProjectFormat::classicPortrait, ProjectFormat::square, ProjectFormat::portrait,
    ProjectFormat::landscape, ProjectFormat::photoLandscape, ProjectFormat::photoPortrait,
};

enum class FormatGlyph { landscape, portrait, square, photo };

FormatGlyph glyphOf(ProjectFormat format)
{
    switch (format) {
    case ProjectFormat::reels:
    case ProjectFormat::classicPortrait:
    case ProjectFormat::portrait:
        return FormatGlyph::portrait;
    case ProjectFormat::square:
        return FormatGlyph::square;
    case ProjectFormat::photoLandscape:
    case ProjectFormat::photoPortrait:
        return FormatGlyph::photo;
    case ProjectFormat::youtube:
    case ProjectFormat::classicLandscape:
    case ProjectFormat::landscape:
        break;
    }
    return FormatGlyph::landscape;
}

constexpr int horizontalPadding = 10;
constexpr int spacing = 8;
constexpr int iconSide = 14;
constexpr int chevronWidth = 8;

} // namespace

FormatMenu::FormatMenu(QWidget* parent)
    : QToolButton(parent)
    , m_menu(new QMenu(this))
{
    // The menu is placed by popUpMenu, inside the window rather than only inside the screen.
    connect(this, &QToolButton::clicked, this, &FormatMenu::popUpMenu);
    setAutoRaise(true);
    setCursor(Qt::PointingHandCursor);
    setFixedHeight(34);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFont(systemFont(TextStyle::caption, QFont::DemiBold));
    rebuild();
}

QPoint FormatMenu::menuPosition(const QRect& button, QSize menu, const QRect& bounds)
{
    // Below the button, left edges aligned; shifted left and, without room below, flipped
    // above, so that the menu stays within the bounds wherever it fits in them.
    int x = std::min(button.left(), bounds.right() + 1 - menu.width());
    x = std::max(x, bounds.left());
    int y = button.bottom() + 1 + 4;
    if (y + menu.height() > bounds.bottom() + 1 && button.top() - 4 - menu.height() >= bounds.top())
        y = button.top() - 4 - menu.height();
    else if (y + menu.height() > bounds.bottom() + 1)
        y = std::max(bounds.top(), bounds.bottom() + 1 - menu.height());
    return {x, y};
}

void FormatMenu::popUpMenu()
{
    const QRect button(mapToGlobal(QPoint(0, 0)), size());
    const QWidget* top = window();
    const QRect bounds(top->mapToGlobal(QPoint(0, 0)), top->size());
    m_menu->popup(menuPosition(button, m_menu->sizeHint(), bounds));
}

QIcon FormatMenu::formatIcon(ProjectFormat format, QColor colour)
{
    QPixmap pixmap(QSize(iconSide, iconSide) * 2);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(colour, 1.4));
    painter.setBrush(Qt::NoBrush);
    switch (glyphOf(format)) {
    case FormatGlyph::landscape:
        painter.drawRoundedRect(QRectF(1.5, 3.5, 11, 7), 1.5, 1.5);
        break;
    case FormatGlyph::portrait:
        painter.drawRoundedRect(QRectF(3.5, 1.5, 7, 11), 1.5, 1.5);
        break;
    case FormatGlyph::square:
        painter.drawRoundedRect(QRectF(2, 2, 10, 10), 1.5, 1.5);
        break;
    case FormatGlyph::photo: {
        painter.drawRoundedRect(QRectF(1.5, 2.5, 11, 9), 1.5, 1.5);
        QPainterPath hill;
        hill.moveTo(3, 10.5);
        hill.lineTo(6, 7);
        hill.lineTo(8, 9);
        hill.lineTo(9.5, 7.5);
        hill.lineTo(11.5, 10.5);
        painter.drawPath(hill);
        break;
    }
    }
    return QIcon(pixmap);
}

QString FormatMenu::title(ProjectFormat format) const
{
    const AppLanguage language = m_language;
    return QString::fromStdString(
        displayTitle(format, [language](std::string_view spanish) { return AppText::translate(spanish, language); }));
}

void FormatMenu::setFormat(ProjectFormat format)
{
    if (format == m_format)
        return;
    m_format = format;
    rebuild();
}

void FormatMenu::setLanguage(AppLanguage language)
{
    if (language == m_language)
        return;
    m_language = language;
    rebuild();
}

void FormatMenu::rebuild()
{
    m_menu->clear();
    const QColor iconColour = palette().color(QPalette::Text);
    for (const ProjectFormat format : allFormats) {
        QAction* action = m_menu->addAction(formatIcon(format, iconColour), title(format));
        connect(action, &QAction::triggered, this, [this, format] {
            if (onChoose)
                onChoose(format);
        });
    }
    const AppLanguage language = m_language;
    setToolTip(QString::fromStdString(
        description(m_format, [language](std::string_view spanish) { return AppText::translate(spanish, language); })));
    setText(title(m_format));
    updateGeometry();
    update();
}

QSize FormatMenu::sizeHint() const
{
    const int textWidth = fontMetrics().horizontalAdvance(text());
    return {2 * horizontalPadding + iconSide + spacing + textWidth + spacing + chevronWidth, 34};
}

void FormatMenu::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double hover = underMouse() || isDown() ? 0.05 : 0.0;
    painter.setBrush(QColor::fromRgbF(1, 1, 1, static_cast<float>(0.065 + hover)));
    painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.16f), 1));
    painter.drawRoundedRect(frame, 8, 8);

    const QColor textColour = palette().color(QPalette::ButtonText);
    double x = horizontalPadding;
    const double midY = height() / 2.0;
    formatIcon(m_format, textColour).paint(&painter, QRect(qRound(x), qRound(midY - iconSide / 2.0), iconSide, iconSide));
    x += iconSide + spacing;
    painter.setPen(textColour);
    const int textWidth = fontMetrics().horizontalAdvance(text());
    painter.drawText(QRectF(x, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    x += textWidth + spacing;

    QColor secondary = textColour;
    secondary.setAlphaF(0.6f);
    QPen chevron(secondary, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(chevron);
    QPainterPath path;
    path.moveTo(x, midY - 2);
    path.lineTo(x + chevronWidth / 2.0, midY + 2);
    path.lineTo(x + chevronWidth, midY - 2);
    painter.drawPath(path);
}

} // namespace fotivela
