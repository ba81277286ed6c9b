#pragma once

// The shared looks every view draws with: theme colours, hex colours, title
// fonts, the glass panel, the checkbox look and the text sizes. Colour and font
// functions keep no state and may be called from any thread; widgets and
// painting belong to the GUI thread.

#include "model/slide.h"
#include "platform/hex_color.h" // colorFromHex: the one hex rule of the program
#include "platform/title_font.h" // nsFont: the faces drawn into exported frames

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QIcon>
#include <QProxyStyle>

#include <string_view>

class QAbstractButton;
class QApplication;
class QCheckBox;
class QPainter;
class QRectF;
class QSlider;

namespace fotivela {

namespace AppTheme {
// The warm yellow highlight: checked boxes, the glass tint, selected tiles.
const QColor& accent();
// The fill behind the music lane's waveform.
const QColor& musicLane();
} // namespace AppTheme

// `colour` with its alpha replaced (0...1).
QColor withOpacity(QColor colour, double opacity);

// Every size on screen is in logical pixels, text included: the designed points
// map one to one onto them.
void setFontSize(QFont& font, double size);

// The title font shown on screen at `size` with `weight`. The system designs use
// the interface font; the named faces use the export's family with the weight
// applied.
QFont font(TitleFontDesign design, double size, QFont::Weight weight);

// A title exactly as exported frames draw it (family and weight), at `size`.
QFont titleFont(TitleFontDesign design, double size);

// Text sizes of the interface, fixed so that every view agrees.
namespace TextStyle {
inline constexpr double body = 13;
inline constexpr double callout = 12;
inline constexpr double caption = 10;
inline constexpr double caption2 = 10;
inline constexpr double headline = 13;
inline constexpr double title3 = 15;
inline constexpr double title2 = 17;
inline constexpr double title = 22;
} // namespace TextStyle

// The interface font at `size` and `weight`.
QFont systemFont(double size, QFont::Weight weight = QFont::Normal);
// The monospaced interface font at `size` and `weight`.
QFont monospacedSystemFont(double size, QFont::Weight weight = QFont::Normal);

// Paints the glass card's layers behind content: the tinted gradient, the light
// frost and the gradient outline. `rect` is the panel's outline; the shadow is
// not painted here (see FotivelaGlassPanel).
void paintFotivelaGlass(QPainter& painter, const QRectF& rect, double cornerRadius);

// A frame drawn as frosted glass with a soft shadow; lay content inside it.
class FotivelaGlassPanel : public QFrame {
    Q_OBJECT

public:
    explicit FotivelaGlassPanel(double cornerRadius, QWidget* parent = nullptr);

    double cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(double radius);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_cornerRadius;
};

// Gives `widget` the glass look: a FotivelaGlassPanel already is one; any other
// widget gets the panel's shadow and paints through paintFotivelaGlass itself.
void fotivelaGlass(QWidget* widget, double cornerRadius);

// The checkbox look: a 16-point rounded box, accent fill with a black check
// when on, a faint white box when off, 8 points before the label; the whole
// row takes clicks.
class FotivelaCheckboxToggleStyle : public QProxyStyle {
    Q_OBJECT

public:
    FotivelaCheckboxToggleStyle();

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
    QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override;

    // One shared instance for the whole program, owned by the application.
    static FotivelaCheckboxToggleStyle* shared();
};

// Makes a click on `slider`'s groove move the handle straight to the click point instead of
// a page step, as a position bar does.
void jumpToClickSlider(QSlider* slider);

// Applies the checkbox look to `widget` when it is a checkbox, and to every
// checkbox inside it.
void fotivelaCheckbox(QWidget* widget);

// Keeps the scroll area around `content` from overshooting at its ends. Linux
// scroll areas only overshoot under a kinetic scroller; without a scroll area
// above it, nothing changes.
void disableScrollElasticity(QWidget* content);

// The program's dark appearance with the accent as highlight.
void applyFotivelaAppearance(QApplication& application);

// The program's window backdrop: a diagonal gradient of three near-black tones.
void paintWindowBackdrop(QPainter& painter, const QRectF& rect);

// Button looks: the filled call to action (accent, black text; `tint` for a red one), the
// bordered default, and a plain one without chrome.
void styleProminentButton(QAbstractButton* button, const QColor& tint = AppTheme::accent());
void styleBorderedButton(QAbstractButton* button);
void stylePlainButton(QAbstractButton* button);

// Small line icons drawn by the program (the platform's symbol names), in
// `colour`; an unknown name gives a null icon.
QIcon symbolIcon(std::string_view name, const QColor& colour = QColor(255, 255, 255, 220));

} // namespace fotivela
