#include "ui/shell/fotivela_logo.h"

#include "ui/shell/fotivela_design_system.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

namespace fotivela {

FotivelaLogo::FotivelaLogo(QSize size, QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(size);
    setAccessibleName(QStringLiteral("Fotivela"));
}

void FotivelaLogo::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 190 x 58 design, scaled to fit and kept at the leading edge.
    const double scale = std::min(width() / 190.0, height() / 58.0);
    painter.translate(0, (height() - 58 * scale) / 2);
    painter.scale(scale, scale);

    QPainterPath frame;
    frame.addRoundedRect(QRectF(4, 11, 36, 36), 9, 9);
    painter.fillPath(frame, AppTheme::accent());
    QPainterPath play;
    play.moveTo(17, 20);
    play.lineTo(31, 29);
    play.lineTo(17, 38);
    play.closeSubpath();
    painter.fillPath(play, QColor(20, 20, 22));

    painter.setPen(QColor(245, 245, 247));
    // The wordmark shrinks until it fits beside the mark.
    QFont wordmark = systemFont(24, QFont::Bold);
    while (wordmark.pixelSize() > 10 && QFontMetricsF(wordmark).horizontalAdvance(QStringLiteral("Fotivela")) > 136)
        wordmark.setPixelSize(wordmark.pixelSize() - 1);
    painter.setFont(wordmark);
    painter.drawText(QRectF(50, 0, 140, 58), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Fotivela"));
}

} // namespace fotivela
