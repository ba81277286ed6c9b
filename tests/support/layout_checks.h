#pragma once

// Geometry checks of a view laid out at its real size: no text wider than its label or
// button, no widget outside its parent, no sideways scrolling where a column must fit.
// Header only: the test executables that use it link the views.

#include "ui/inspectors/elided_label.h"
#include "ui/shell/fotivela_design_system.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QScrollBar>
#include <QStringList>
#include <QStyle>

#include <gtest/gtest.h>

#include <string>

namespace fotivela::test {

namespace layout_checks {

// Up to a pixel of rounding between a size hint and a laid-out size.
constexpr int slack = 1;

inline QString describe(const QWidget* widget)
{
    QString text = widget->objectName();
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        text = label->text();
    else if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        text = button->text();
    QString where;
    for (const QWidget* w = widget->parentWidget(); w && !w->isWindow() && where.count(QLatin1Char('<')) < 3;
         w = w->parentWidget())
        where += QStringLiteral(" < ") + QString::fromLatin1(w->metaObject()->className());
    return QString::fromLatin1(widget->metaObject()->className()) + QStringLiteral(" '") + text + QLatin1Char('\'')
        + where;
}

// A scroll area whose content may run wider than it: the timeline.
inline bool scrollsSideways(const QAbstractScrollArea* area)
{
    return area && area->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff;
}

inline const QAbstractScrollArea* scrollAreaOfViewport(const QWidget* widget)
{
    return widget && widget->parentWidget() ? qobject_cast<const QAbstractScrollArea*>(widget->parentWidget()) : nullptr;
}

inline QStringList textFaults(const QWidget* w)
{
    QStringList faults;
    const int width = w->width();
    if (const auto* elided = dynamic_cast<const ElidedLabel*>(w)) {
        const int room = elided->contentsRect().width() - 2 * elided->margin();
        if (elided->fontMetrics().horizontalAdvance(elided->text()) > room + slack)
            faults << QStringLiteral("elided text still clipped: ") + describe(w);
        if (elided->text() != elided->fullText() && elided->fontMetrics().horizontalAdvance(elided->fullText()) <= room)
            faults << QStringLiteral("elided although the whole text fits: ") + describe(w);
        return faults;
    }
    if (dynamic_cast<const LineLimitedLabel*>(w))
        return faults;
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        if (label->text().isEmpty() || label->pixmap().isNull() == false)
            return faults;
        if (label->wordWrap()) {
            if (label->heightForWidth(width) > label->height() + slack)
                faults << QStringLiteral("wrapped text taller than its label (%1 > %2): ")
                              .arg(label->heightForWidth(width))
                              .arg(label->height())
                       + describe(w);
        } else if (label->sizeHint().width() > width + slack) {
            faults << QStringLiteral("text wider than its label (%1 > %2): ").arg(label->sizeHint().width()).arg(width)
                   + describe(w);
        }
        return faults;
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        if (!button->text().isEmpty() && button->sizeHint().width() > width + slack)
            faults << QStringLiteral("button text cut (%1 > %2): ").arg(button->sizeHint().width()).arg(width)
                   + describe(w);
        return faults;
    }
    if (const auto* box = qobject_cast<const QComboBox*>(w)) {
        // The chosen item and the arrow.
        if (box->fontMetrics().horizontalAdvance(box->currentText()) + 28 > width + slack)
            faults << QStringLiteral("picker text cut: ") + describe(w) + QLatin1Char(' ') + box->currentText();
    }
    return faults;
}

// The faults of everything shown inside `root`'s window.
inline QStringList layoutFaults(QWidget* root)
{
    QApplication::processEvents();
    QStringList faults;
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        if (!w->isVisible() || w->window() != root->window() || w->size().isEmpty())
            continue;
        // Ghosts of a leaving pane and the like do not take part in the layout.
        if (w->testAttribute(Qt::WA_TransparentForMouseEvents) && !qobject_cast<QLabel*>(w))
            continue;
        faults << textFaults(w);

        if (const auto* area = qobject_cast<const QAbstractScrollArea*>(w)) {
            if (!scrollsSideways(area) && area->horizontalScrollBar()->maximum() > 0)
                faults << QStringLiteral("column scrolls sideways by %1 px: ").arg(area->horizontalScrollBar()->maximum())
                       + describe(w);
        }

        const QWidget* parent = w->parentWidget();
        if (!parent || w->isWindow())
            continue;
        const QRect inside = parent->rect().adjusted(-slack, -slack, slack, slack);
        const QRect g = w->geometry();
        if (const QAbstractScrollArea* area = scrollAreaOfViewport(parent)) {
            // Content of a scroll area: taller is scrolling; wider only where it scrolls sideways.
            if (!scrollsSideways(area) && (g.left() < inside.left() || g.right() > inside.right())) {
                // Name the widget whose minimum reaches furthest right: it holds the column open.
                const QWidget* widest = w;
                int reach = 0;
                for (const QWidget* d : w->findChildren<QWidget*>()) {
                    if (!d->isVisible())
                        continue;
                    const int right = d->mapTo(w, QPoint(0, 0)).x() + d->minimumSizeHint().width();
                    if (right >= reach) {
                        reach = right;
                        widest = d;
                    }
                }
                faults << QStringLiteral("content wider than its column (%1 > %2): ").arg(g.width()).arg(parent->width())
                       + describe(w) + QStringLiteral(", held by ") + describe(widest);
            }
            continue;
        }
        if (qobject_cast<const QAbstractScrollArea*>(parent))
            continue; // scroll bars and viewport are the area's own business
        if (!inside.contains(g))
            faults << QStringLiteral("outside its parent (%1,%2 %3x%4 in %5x%6): ")
                          .arg(g.x())
                          .arg(g.y())
                          .arg(g.width())
                          .arg(g.height())
                          .arg(parent->width())
                          .arg(parent->height())
                   + describe(w);
    }
    faults.removeDuplicates();
    return faults;
}

inline void expectFits(QWidget* root, const std::string& where)
{
    const QStringList faults = layoutFaults(root);
    EXPECT_TRUE(faults.isEmpty()) << where << ":\n" << faults.join(QLatin1Char('\n')).toStdString();
}

} // namespace layout_checks

// The program's own style, palette and interface font for as long as it lives, so that views
// are measured as the program shows them; the test process's looks come back afterwards.
class ProgramLooks {
public:
    ProgramLooks()
        : m_font(QApplication::font())
        , m_palette(QApplication::palette())
        , m_style(QApplication::style()->name())
    {
        applyFotivelaAppearance(*qApp);
    }
    ~ProgramLooks()
    {
        QApplication::setStyle(m_style);
        QApplication::setPalette(m_palette);
        QApplication::setFont(m_font);
    }
    ProgramLooks(const ProgramLooks&) = delete;
    ProgramLooks& operator=(const ProgramLooks&) = delete;

private:
    QFont m_font;
    QPalette m_palette;
    QString m_style;
};

using layout_checks::expectFits;
using layout_checks::layoutFaults;

} // namespace fotivela::test
