#include "ui/timeline/timeline_tool_button.h"

#include "ui/timeline/timeline_metrics.h"

#include <QEnterEvent>
#include <QPainter>
#include <QPainterPath>

namespace fotivela {

using namespace TimelineMetrics;

TimelineTooltip::TimelineTooltip(const QString& text, QWidget* parent)
    : QWidget(parent)
    , m_text(text)
{
    // Never steals the pointer from the button under it.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    resize(sizeHint());
    m_transition.setDuration(120);
    m_transition.setEasingCurve(QEasingCurve::OutCubic);
    m_transition.setStartValue(0.0);
    m_transition.setEndValue(1.0);
    connect(&m_transition, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_presence = value.toDouble();
        update();
    });
    m_transition.start();
}

void TimelineTooltip::dismiss()
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_transition.stop();
    m_transition.setStartValue(m_presence);
    m_transition.setEndValue(0.0);
    connect(&m_transition, &QVariantAnimation::finished, this, &QObject::deleteLater);
    m_transition.start();
}

QFont TimelineTooltip::textFont() const
{
    QFont font = this->font();
    font.setPixelSize(9);
    font.setWeight(QFont::DemiBold);
    return font;
}

QSize TimelineTooltip::sizeHint() const
{
    const QFontMetrics metrics(textFont());
    // Room below the bubble for its pointer and around it for the shadow.
    return QSize(metrics.horizontalAdvance(m_text) + 18 + 8, metrics.height() + 12 + 10);
}

void TimelineTooltip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(m_presence);
    const double scale = 0.98 + 0.02 * m_presence;
    painter.translate(width() / 2.0, height() / 2.0);
    painter.scale(scale, scale);
    painter.translate(-width() / 2.0, -height() / 2.0);
    const QRectF bubble(4, 2, width() - 8, height() - 12);
    QPainterPath shape;
    shape.addRoundedRect(bubble, 6, 6);
    const double cx = bubble.center().x();
    shape.addPolygon(QPolygonF({QPointF(cx - 4, bubble.bottom() - 0.5), QPointF(cx + 4, bubble.bottom() - 0.5),
                                QPointF(cx, bubble.bottom() + 5)}));
    shape.setFillRule(Qt::WindingFill);
    painter.fillPath(shape.translated(0, 2), withOpacity(Qt::black, 0.28 * 0.5));
    painter.fillPath(shape, withOpacity(Qt::black, 0.86));
    painter.setFont(textFont());
    painter.setPen(Qt::white);
    painter.drawText(bubble, Qt::AlignCenter, m_text);
}

TimelineToolButton::TimelineToolButton(Icon icon, QWidget* parent)
    : QAbstractButton(parent)
    , m_icon(icon)
{
    setFixedSize(24, 22);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
}

void TimelineToolButton::setHelp(const QString& help, bool showHelp)
{
    m_help = help;
    m_showHelp = showHelp;
    // The platform's own help tag follows the same setting.
    setToolTip(showHelp ? help : QString());
    updateTooltip();
}

void TimelineToolButton::setDisabledLook(bool disabled)
{
    setEnabled(!disabled);
    update();
}

void TimelineToolButton::enterEvent(QEnterEvent* event)
{
    m_isHovering = true;
    updateTooltip();
    QAbstractButton::enterEvent(event);
}

void TimelineToolButton::leaveEvent(QEvent* event)
{
    m_isHovering = false;
    updateTooltip();
    QAbstractButton::leaveEvent(event);
}

void TimelineToolButton::hideEvent(QHideEvent* event)
{
    m_isHovering = false;
    updateTooltip();
    QAbstractButton::hideEvent(event);
}

bool TimelineToolButton::event(QEvent* event)
{
    // The platform's help tag stays set but never shows over our own bubble.
    if (event->type() == QEvent::ToolTip && m_tooltip)
        return true;
    return QAbstractButton::event(event);
}

void TimelineToolButton::updateTooltip()
{
    const bool shown = m_showHelp && m_isHovering && !m_help.isEmpty();
    if (!shown) {
        if (m_tooltip)
            m_tooltip->dismiss();
        m_tooltip.clear();
        return;
    }
    QWidget* host = window();
    if (!m_tooltip || m_tooltip->text() != m_help) {
        if (m_tooltip)
            m_tooltip->dismiss();
        m_tooltip = new TimelineTooltip(m_help, host);
    }
    // Centred over the tile, floating 34 points above it, drawn over the neighbouring items.
    const QPoint centre = mapTo(host, QPoint(width() / 2, 0));
    m_tooltip->move(centre.x() - m_tooltip->width() / 2, centre.y() - 34 + 11 - m_tooltip->height() / 2);
    m_tooltip->show();
    m_tooltip->raise();
}

void TimelineToolButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : 0.45);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(0.5, 0.5, width() - 1, height() - 1), 6, 6);
    painter.fillPath(tile, withOpacity(Qt::white, 0.08));
    painter.strokePath(tile, QPen(withOpacity(Qt::white, 0.12), 1));
    drawIcon(painter);
}

void TimelineToolButton::drawIcon(QPainter& painter) const
{
    const QPointF c(width() / 2.0, height() / 2.0);
    painter.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    switch (m_icon) {
    case Icon::minus:
        painter.drawLine(QPointF(c.x() - 4.5, c.y()), QPointF(c.x() + 4.5, c.y()));
        break;
    case Icon::plus:
        painter.drawLine(QPointF(c.x() - 4.5, c.y()), QPointF(c.x() + 4.5, c.y()));
        painter.drawLine(QPointF(c.x(), c.y() - 4.5), QPointF(c.x(), c.y() + 4.5));
        break;
    case Icon::waveform: {
        const double heights[] = {3, 7, 11, 6, 9, 4};
        for (int i = 0; i < 6; ++i) {
            const double x = c.x() - 6.25 + i * 2.5;
            painter.drawLine(QPointF(x, c.y() - heights[i] / 2), QPointF(x, c.y() + heights[i] / 2));
        }
        break;
    }
    case Icon::photos:
        painter.setPen(QPen(Qt::white, 1.2));
        painter.save();
        painter.translate(c);
        painter.rotate(-10);
        painter.drawRoundedRect(QRectF(-5, -5.5, 10, 8), 1.5, 1.5);
        painter.restore();
        painter.setBrush(QColor(40, 40, 40));
        painter.drawRoundedRect(QRectF(c.x() - 4, c.y() - 2.5, 10, 8), 1.5, 1.5);
        painter.drawLine(QPointF(c.x() - 3, c.y() + 4), QPointF(c.x() + 1, c.y() + 0.5));
        painter.drawLine(QPointF(c.x() + 1, c.y() + 0.5), QPointF(c.x() + 5, c.y() + 4));
        break;
    case Icon::addMarker: {
        // The marker pin with its plus badge.
        const QColor accent = accentColor();
        const QRectF head(c.x() - 6, c.y() - 8, 12, 10);
        QPainterPath pin;
        pin.setFillRule(Qt::WindingFill);
        pin.addRoundedRect(head, 2.5, 2.5);
        pin.addPolygon(QPolygonF({QPointF(c.x() - 4, head.bottom()), QPointF(c.x() + 4, head.bottom()),
                                  QPointF(c.x(), head.bottom() + 6)}));
        painter.fillPath(pin, accent);
        painter.setPen(QPen(withOpacity(Qt::black, 0.18), 0.8));
        painter.drawRoundedRect(head, 2.5, 2.5);
        const QPointF badge(c.x() + 4, c.y() - 4 - 3);
        painter.setPen(Qt::NoPen);
        painter.setBrush(accent);
        painter.drawEllipse(badge, 4, 4);
        painter.setPen(QPen(Qt::white, 1.2, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(badge + QPointF(-2, 0), badge + QPointF(2, 0));
        painter.drawLine(badge + QPointF(0, -2), badge + QPointF(0, 2));
        break;
    }
    }
}

} // namespace fotivela
