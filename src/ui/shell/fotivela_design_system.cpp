#include "ui/shell/fotivela_design_system.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QGraphicsDropShadowEffect>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QPointer>
#include <QScroller>
#include <QSlider>
#include <QScrollerProperties>
#include <QStyleFactory>
#include <QStyleOption>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace fotivela {

namespace AppTheme {

const QColor& accent()
{
    static const QColor colour = QColor::fromRgbF(1.0f, 0.78f, 0.18f, 1.0f);
    return colour;
}

const QColor& musicLane()
{
    static const QColor colour = QColor::fromRgbF(0.06f, 0.08f, 0.10f, 1.0f);
    return colour;
}

} // namespace AppTheme

QColor withOpacity(QColor colour, double opacity)
{
    colour.setAlphaF(static_cast<float>(std::clamp(opacity, 0.0, 1.0)));
    return colour;
}

namespace {

QFont sized(QFont font, double size, QFont::Weight weight)
{
    setFontSize(font, size);
    font.setWeight(weight);
    return font;
}

} // namespace

void setFontSize(QFont& font, double size)
{
    // Sizes are logical pixels, the unit of every layout size, so text keeps its
    // designed proportion to the boxes around it whatever the screen's dpi.
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(std::clamp(size, 1.0, 100000.0)))));
}

QFont systemFont(double size, QFont::Weight weight)
{
    return sized(QFont{QStringLiteral("DejaVu Sans")}, size, weight);
}

QFont monospacedSystemFont(double size, QFont::Weight weight)
{
    return sized(QFontDatabase::systemFont(QFontDatabase::FixedFont), size, weight);
}

QFont font(TitleFontDesign design, double size, QFont::Weight weight)
{
    switch (design) {
    case TitleFontDesign::default_:
    case TitleFontDesign::rounded: // no rounded design on Linux
        return systemFont(size, weight);
    case TitleFontDesign::monospaced:
        return monospacedSystemFont(size, weight);
    default:
        break;
    }
    // The export's own family, so that a face looks on screen as it will in the video.
    return sized(nsFont(design, 12), size, weight);
}

QFont titleFont(TitleFontDesign design, double size)
{
    QFont face = nsFont(design, 12);
    setFontSize(face, size);
    return face;
}

void paintFotivelaGlass(QPainter& painter, const QRectF& rect, double cornerRadius)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(rect, cornerRadius, cornerRadius);

    QLinearGradient fill(rect.topLeft(), rect.bottomRight());
    fill.setColorAt(0.0, QColor(255, 255, 255, qRound(0.11 * 255)));
    fill.setColorAt(0.5, QColor(255, 255, 255, qRound(0.045 * 255)));
    fill.setColorAt(1.0, withOpacity(AppTheme::accent(), 0.035));
    painter.fillPath(shape, fill);
    // Widgets cannot blur what lies behind them; a light frost stands in.
    painter.fillPath(shape, QColor(255, 255, 255, 18));

    QLinearGradient outline(rect.topLeft(), rect.bottomRight());
    outline.setColorAt(0.0, QColor(255, 255, 255, qRound(0.24 * 255)));
    outline.setColorAt(0.5, withOpacity(AppTheme::accent(), 0.16));
    outline.setColorAt(1.0, QColor(255, 255, 255, qRound(0.05 * 255)));
    painter.setPen(QPen(QBrush(outline), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shape);
    painter.restore();
}

namespace {

void addShadow(QWidget* widget)
{
    auto* shadow = new QGraphicsDropShadowEffect(widget);
    shadow->setColor(QColor(0, 0, 0, qRound(0.3 * 255)));
    shadow->setBlurRadius(24);
    shadow->setOffset(0, 14);
    widget->setGraphicsEffect(shadow);
}

} // namespace

FotivelaGlassPanel::FotivelaGlassPanel(double cornerRadius, QWidget* parent)
    : QFrame(parent)
    , m_cornerRadius(cornerRadius)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setFrameShape(QFrame::NoFrame);
    addShadow(this);
}

void FotivelaGlassPanel::setCornerRadius(double radius)
{
    if (radius == m_cornerRadius)
        return;
    m_cornerRadius = radius;
    update();
}

void FotivelaGlassPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // Half a point in, so that the 1-point outline lies on the pixels.
    paintFotivelaGlass(painter, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_cornerRadius);
}

void fotivelaGlass(QWidget* widget, double cornerRadius)
{
    if (!widget)
        return;
    if (auto* panel = qobject_cast<FotivelaGlassPanel*>(widget)) {
        panel->setCornerRadius(cornerRadius);
        return;
    }
    addShadow(widget);
}

// MARK: checkbox

FotivelaCheckboxToggleStyle::FotivelaCheckboxToggleStyle()
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
{
}

FotivelaCheckboxToggleStyle* FotivelaCheckboxToggleStyle::shared()
{
    static QPointer<FotivelaCheckboxToggleStyle> instance;
    if (!instance) {
        instance = new FotivelaCheckboxToggleStyle;
        instance->setParent(qApp);
    }
    return instance;
}

void FotivelaCheckboxToggleStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                                QPainter* painter, const QWidget* widget) const
{
    if (element != PE_IndicatorCheckBox) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const bool on = option->state & State_On;
    const QRectF box = QRectF(option->rect).adjusted(0, 0, 0, 0);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(box, 4, 4);
    painter->fillPath(shape, on ? AppTheme::accent() : QColor(255, 255, 255, qRound(0.22 * 255)));
    QPainterPath inner;
    inner.addRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 3.5, 3.5);
    painter->setPen(QPen(QColor(255, 255, 255, qRound((on ? 0.58 : 0.46) * 255)), 1.0));
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(inner);
    if (on) {
        QPainterPath check;
        const double s = box.width();
        check.moveTo(box.left() + s * 0.27, box.top() + s * 0.52);
        check.lineTo(box.left() + s * 0.43, box.top() + s * 0.68);
        check.lineTo(box.left() + s * 0.74, box.top() + s * 0.34);
        painter->setPen(QPen(Qt::black, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter->drawPath(check);
    }
    painter->restore();
}

int FotivelaCheckboxToggleStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                             const QWidget* widget) const
{
    switch (metric) {
    case PM_IndicatorWidth:
    case PM_IndicatorHeight:
        return 16;
    case PM_CheckBoxLabelSpacing:
        return 8;
    default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
}

QRect FotivelaCheckboxToggleStyle::subElementRect(SubElement element, const QStyleOption* option,
                                                  const QWidget* widget) const
{
    // The whole row, gap included, takes clicks.
    if (element == SE_CheckBoxClickRect)
        return option->rect;
    if (element == SE_CheckBoxFocusRect)
        return {};
    return QProxyStyle::subElementRect(element, option, widget);
}

void fotivelaCheckbox(QWidget* widget)
{
    if (!widget)
        return;
    auto* style = FotivelaCheckboxToggleStyle::shared();
    if (auto* box = qobject_cast<QCheckBox*>(widget))
        box->setStyle(style);
    for (QCheckBox* box : widget->findChildren<QCheckBox*>())
        box->setStyle(style);
}

void disableScrollElasticity(QWidget* content)
{
    if (!content)
        return;
    for (QWidget* up = content->parentWidget(); up; up = up->parentWidget()) {
        auto* area = qobject_cast<QAbstractScrollArea*>(up);
        if (!area)
            continue;
        QWidget* viewport = area->viewport();
        if (QScroller::hasScroller(viewport)) {
            QScroller* scroller = QScroller::scroller(viewport);
            QScrollerProperties properties = scroller->scrollerProperties();
            const QVariant off = QVariant::fromValue(QScrollerProperties::OvershootAlwaysOff);
            properties.setScrollMetric(QScrollerProperties::VerticalOvershootPolicy, off);
            properties.setScrollMetric(QScrollerProperties::HorizontalOvershootPolicy, off);
            scroller->setScrollerProperties(properties);
        }
        area->setProperty("fotivelaElasticity", false);
        return;
    }
}

namespace {

class JumpToClickStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == QStyle::SH_Slider_AbsoluteSetButtons)
            return Qt::LeftButton;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

void jumpToClickSlider(QSlider* slider)
{
    auto* style = new JumpToClickStyle;
    style->setParent(slider);
    slider->setStyle(style);
}

void applyFotivelaAppearance(QApplication& application)
{
    application.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette;
    const QColor window(0x1C, 0x1D, 0x20);
    const QColor base(0x16, 0x17, 0x1A);
    const QColor text(0xF2, 0xF2, 0xF4);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window.lighter(112));
    palette.setColor(QPalette::ToolTipBase, QColor(0x2A, 0x2B, 0x2F));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, QColor(255, 255, 255, 110));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x2C, 0x2D, 0x31));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, AppTheme::accent());
    palette.setColor(QPalette::Link, AppTheme::accent());
    palette.setColor(QPalette::Highlight, AppTheme::accent());
    palette.setColor(QPalette::HighlightedText, Qt::black);
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(255, 255, 255, 90));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(255, 255, 255, 90));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(255, 255, 255, 90));
    application.setPalette(palette);
    application.setFont(systemFont(TextStyle::body));
}

void paintWindowBackdrop(QPainter& painter, const QRectF& rect)
{
    QLinearGradient gradient(rect.topLeft(), rect.bottomRight());
    gradient.setColorAt(0.0, QColor::fromRgbF(0.05f, 0.05f, 0.06f));
    gradient.setColorAt(0.5, QColor::fromRgbF(0.12f, 0.13f, 0.14f));
    gradient.setColorAt(1.0, QColor::fromRgbF(0.05f, 0.08f, 0.08f));
    painter.fillRect(rect, gradient);
}

void styleProminentButton(QAbstractButton* button, const QColor& tint)
{
    const QColor text = tint.lightnessF() > 0.55 ? QColor(Qt::black) : QColor(Qt::white);
    button->setStyleSheet(QStringLiteral("QAbstractButton { background: %1; color: %2; border: none; border-radius: 7px;"
                                         " padding: 6px 12px; font-weight: 600; }"
                                         "QAbstractButton:hover { background: %3; }"
                                         "QAbstractButton:pressed { background: %4; }")
                              .arg(tint.name(), text.name(), tint.lighter(110).name(), tint.darker(115).name()));
    button->setCursor(Qt::PointingHandCursor);
    if (auto* tool = qobject_cast<QToolButton*>(button))
        tool->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
}

void styleBorderedButton(QAbstractButton* button)
{
    button->setStyleSheet(QStringLiteral("QAbstractButton { background: rgba(255,255,255,26); color: #F2F2F4;"
                                         " border: 1px solid rgba(255,255,255,36); border-radius: 7px; padding: 6px 12px; }"
                                         "QAbstractButton:hover { background: rgba(255,255,255,40); }"
                                         "QAbstractButton:pressed { background: rgba(255,255,255,18); }"));
    button->setCursor(Qt::PointingHandCursor);
    if (auto* tool = qobject_cast<QToolButton*>(button))
        tool->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
}

void stylePlainButton(QAbstractButton* button)
{
    button->setStyleSheet(QStringLiteral("QAbstractButton { background: transparent; border: none; color: #F2F2F4; }"));
    button->setCursor(Qt::PointingHandCursor);
}

// MARK: symbols

namespace {

// Each glyph is drawn on a 24-point square with a 1.8-point line.
bool drawSymbol(QPainter& p, std::string_view name)
{
    QPainterPath path;
    if (name == "plus") {
        p.drawLine(QPointF(12, 5), QPointF(12, 19));
        p.drawLine(QPointF(5, 12), QPointF(19, 12));
    } else if (name == "xmark") {
        p.drawLine(QPointF(6, 6), QPointF(18, 18));
        p.drawLine(QPointF(18, 6), QPointF(6, 18));
    } else if (name == "checkmark") {
        path.moveTo(5, 12.5);
        path.lineTo(10, 17.5);
        path.lineTo(19, 6.5);
        p.drawPath(path);
    } else if (name == "chevron.down") {
        path.moveTo(6, 9);
        path.lineTo(12, 15);
        path.lineTo(18, 9);
        p.drawPath(path);
    } else if (name == "folder") {
        path.moveTo(3, 7);
        path.lineTo(9, 7);
        path.lineTo(11, 9);
        path.lineTo(21, 9);
        path.lineTo(21, 19);
        path.lineTo(3, 19);
        path.closeSubpath();
        p.drawPath(path);
    } else if (name == "house") {
        path.moveTo(3, 11.5);
        path.lineTo(12, 4);
        path.lineTo(21, 11.5);
        path.moveTo(6, 10);
        path.lineTo(6, 20);
        path.lineTo(18, 20);
        path.lineTo(18, 10);
        p.drawPath(path);
    } else if (name == "photo" || name == "photo.on.rectangle.angled" || name == "photo.badge.plus") {
        p.drawRoundedRect(QRectF(3, 5, 18, 14), 2.5, 2.5);
        path.moveTo(5, 17);
        path.lineTo(10, 11);
        path.lineTo(14, 15);
        path.lineTo(16, 13);
        path.lineTo(19, 17);
        p.drawPath(path);
        p.drawEllipse(QPointF(16, 9), 1.4, 1.4);
        if (name == "photo.badge.plus") {
            p.drawLine(QPointF(20, 1), QPointF(20, 7));
            p.drawLine(QPointF(17, 4), QPointF(23, 4));
        }
    } else if (name == "trash") {
        p.drawLine(QPointF(4, 6.5), QPointF(20, 6.5));
        p.drawRect(QRectF(6.5, 6.5, 11, 14));
        p.drawLine(QPointF(9.5, 3.5), QPointF(14.5, 3.5));
        p.drawLine(QPointF(10, 10), QPointF(10, 17));
        p.drawLine(QPointF(14, 10), QPointF(14, 17));
    } else if (name == "film" || name == "film.stack") {
        p.drawRoundedRect(QRectF(4, 3, 16, 18), 2, 2);
        p.drawLine(QPointF(8, 3), QPointF(8, 21));
        p.drawLine(QPointF(16, 3), QPointF(16, 21));
        p.drawLine(QPointF(8, 12), QPointF(16, 12));
    } else if (name == "music.note") {
        p.drawEllipse(QPointF(8, 17.5), 3, 2.5);
        path.moveTo(11, 17.5);
        path.lineTo(11, 4);
        path.lineTo(18, 6);
        p.drawPath(path);
    } else if (name == "waveform") {
        const double heights[] = {4, 10, 16, 8, 12, 6};
        for (int i = 0; i < 6; ++i) {
            const double x = 4.5 + i * 3;
            p.drawLine(QPointF(x, 12 - heights[i] / 2), QPointF(x, 12 + heights[i] / 2));
        }
    } else if (name == "sparkles") {
        path.moveTo(10, 3);
        path.quadTo(11, 10, 17, 11);
        path.quadTo(11, 12, 10, 19);
        path.quadTo(9, 12, 3, 11);
        path.quadTo(9, 10, 10, 3);
        p.drawPath(path);
        p.drawLine(QPointF(18, 15), QPointF(18, 21));
        p.drawLine(QPointF(15, 18), QPointF(21, 18));
    } else if (name == "gearshape.fill") {
        p.drawEllipse(QPointF(12, 12), 6, 6);
        p.drawEllipse(QPointF(12, 12), 2.2, 2.2);
        for (int i = 0; i < 8; ++i) {
            p.save();
            p.translate(12, 12);
            p.rotate(i * 45);
            p.drawLine(QPointF(0, -6), QPointF(0, -9));
            p.restore();
        }
    } else if (name == "arrow.down.circle.fill") {
        p.drawEllipse(QPointF(12, 12), 9, 9);
        p.drawLine(QPointF(12, 7), QPointF(12, 16));
        path.moveTo(8, 12.5);
        path.lineTo(12, 16.5);
        path.lineTo(16, 12.5);
        p.drawPath(path);
    } else if (name == "square.and.arrow.up") {
        path.moveTo(8, 10);
        path.lineTo(5, 10);
        path.lineTo(5, 21);
        path.lineTo(19, 21);
        path.lineTo(19, 10);
        path.lineTo(16, 10);
        path.moveTo(12, 3);
        path.lineTo(12, 15);
        path.moveTo(8.5, 6.5);
        path.lineTo(12, 3);
        path.lineTo(15.5, 6.5);
        p.drawPath(path);
    } else if (name == "slider.horizontal.3") {
        for (int i = 0; i < 3; ++i) {
            const double y = 6 + i * 6;
            p.drawLine(QPointF(3, y), QPointF(21, y));
            p.drawEllipse(QPointF(i == 1 ? 15 : 8, y), 1.8, 1.8);
        }
    } else if (name == "shippingbox") {
        p.drawRect(QRectF(4, 8, 16, 12));
        path.moveTo(4, 8);
        path.lineTo(7, 4);
        path.lineTo(17, 4);
        path.lineTo(20, 8);
        path.moveTo(12, 4);
        path.lineTo(12, 12);
        p.drawPath(path);
    } else if (name == "macwindow") {
        p.drawRoundedRect(QRectF(3, 5, 18, 14), 2, 2);
        p.drawLine(QPointF(3, 9), QPointF(21, 9));
    } else if (name == "eye.slash") {
        path.moveTo(2, 12);
        path.quadTo(12, 3, 22, 12);
        path.quadTo(12, 21, 2, 12);
        p.drawPath(path);
        p.drawEllipse(QPointF(12, 12), 3, 3);
        p.drawLine(QPointF(4, 4), QPointF(20, 20));
    } else if (name == "arrow.left.and.right") {
        path.moveTo(3, 12);
        path.lineTo(21, 12);
        path.moveTo(7, 8);
        path.lineTo(3, 12);
        path.lineTo(7, 16);
        path.moveTo(17, 8);
        path.lineTo(21, 12);
        path.lineTo(17, 16);
        p.drawPath(path);
    } else {
        return false;
    }
    return true;
}

} // namespace

QIcon symbolIcon(std::string_view name, const QColor& colour)
{
    QIcon icon;
    for (const int side : {16, 24, 48}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(side / 24.0, side / 24.0);
        painter.setPen(QPen(colour, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        if (!drawSymbol(painter, name))
            return {};
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace fotivela
