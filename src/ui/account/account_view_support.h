#pragma once

#include "account/account_session.h"
#include "model/app_language.h"

#include <QColor>
#include <QFont>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string_view>

class QLabel;

namespace fotivela {

// An interface text in the given language.
QString translated(std::string_view spanish, AppLanguage language);

// A whole number of credits with the grouping of the system's regional settings.
QString groupedInteger(std::int64_t value);
// A euro amount in the system's regional settings (not the interface language).
QString euroAmount(double euros);

// The text sizes the account views use, after the platform's named styles.
enum class TextRole { largeTitle, title, title3, headline, body, callout, caption, footnote };
QFont textFont(TextRole style, QFont::Weight weight = QFont::Normal);

inline QColor whiteAt(double opacity) { return QColor::fromRgbF(1, 1, 1, float(opacity)); }
inline QColor blackAt(double opacity) { return QColor::fromRgbF(0, 0, 0, float(opacity)); }
QColor secondaryTextColor();
// The program's accent, from the design system.
QColor accentColor();

// A label with one text style and colour, wrapping when asked.
QLabel* makeLabel(const QString& text, TextRole style, QFont::Weight weight = QFont::Normal,
                  const QColor& color = whiteAt(0.92), bool wraps = false, QWidget* parent = nullptr);

// A widget that draws a filled rounded rectangle with an inner outline behind its children.
class RoundedPanel : public QWidget {
public:
    RoundedPanel(QColor fill, QColor outline, double radius, QWidget* parent = nullptr);
    void setColors(QColor fill, QColor outline);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fill;
    QColor m_outline;
    double m_radius;
};

// The rounded-border look of the account views' text fields.
QString roundedFieldSheet();

// Button looks of the account views, as style sheets on standard push buttons.
enum class ButtonLook { prominent, bordered, plain, destructive };
void applyButtonLook(QPushButton* button, ButtonLook look, bool large = false);

// Runs then once the account operation that the caller has just started has ended (the session's
// busy flag falls again); at once when no operation started. Nothing runs once context is gone.
void afterSessionWork(AccountSession& session, QObject* context, std::function<void()> then);

} // namespace fotivela
