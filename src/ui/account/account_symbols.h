#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

class QLabel;
class QWidget;

namespace fotivela {

// The symbols the account views name: the design system's icons, else glyphs of the installed fonts. The name stays on
// the widget as its "symbol" property.
QString symbolGlyph(const QString& name);
QIcon accountSymbolIcon(const QString& name, const QColor& color, int size = 16);
QLabel* makeSymbol(const QString& name, int size, const QColor& color, QWidget* parent = nullptr);

} // namespace fotivela
