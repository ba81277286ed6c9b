#include "ui/shell/keyboard_shortcut_catcher.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace fotivela {

namespace {

// X11 key codes of the US positions, for layouts where the letter sits elsewhere.
constexpr quint32 scanCodeZ = 52;
constexpr quint32 scanCodeA = 38;
constexpr quint32 scanCodeM = 58;

bool run(const KeyboardShortcutCatcher::Action& action)
{
    if (action)
        action();
    return true; // a matched key is consumed even without an action
}

} // namespace

KeyboardShortcutCatcher::KeyboardShortcutCatcher(QWidget* window, QObject* owner)
    : QObject(owner ? owner : window)
    , m_window(window)
{
    qApp->installEventFilter(this);
}

KeyboardShortcutCatcher::~KeyboardShortcutCatcher()
{
    qApp->removeEventFilter(this);
}

bool KeyboardShortcutCatcher::isTextInput(const QWidget* widget)
{
    if (!widget)
        return false;
    if (qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QTextEdit*>(widget)
        || qobject_cast<const QPlainTextEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget))
        return true;
    if (auto* combo = qobject_cast<const QComboBox*>(widget))
        return combo->isEditable();
    // The viewport of a text editor holds the focus while typing in it.
    return widget->parentWidget() && (qobject_cast<const QTextEdit*>(widget->parentWidget())
                                      || qobject_cast<const QPlainTextEdit*>(widget->parentWidget()));
}

bool KeyboardShortcutCatcher::handle(const QKeyEvent& event, bool typingText)
{
    const int key = event.key();
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab)
        return true;
    if (typingText)
        return false;
    const quint32 scan = event.nativeScanCode();
    if (event.modifiers() & Qt::ControlModifier) {
        if (key == Qt::Key_Z || scan == scanCodeZ)
            return run(onUndo);
        if (key == Qt::Key_A || scan == scanCodeA)
            return run(onSelectAll);
        if (key == Qt::Key_Plus || key == Qt::Key_Equal)
            return run(onZoomIn);
        if (key == Qt::Key_Minus)
            return run(onZoomOut);
    }
    switch (key) {
    case Qt::Key_Left:
        return run(onPreviousSlide);
    case Qt::Key_Right:
        return run(onNextSlide);
    case Qt::Key_Space:
        return run(onSpace);
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        return run(onDeleteMarker);
    case Qt::Key_M:
        return run(onAddMarker);
    default:
        break;
    }
    if (scan == scanCodeM || event.text().toLower() == QStringLiteral("m"))
        return run(onAddMarker);
    return false;
}

bool KeyboardShortcutCatcher::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !m_window)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != m_window)
        return false;
    // A key travels up through the parents; act once, where it is first delivered.
    QWidget* focus = QApplication::focusWidget();
    if (focus ? widget != focus : widget != m_window)
        return false;
    return handle(*static_cast<QKeyEvent*>(event), isTextInput(focus));
}

} // namespace fotivela
