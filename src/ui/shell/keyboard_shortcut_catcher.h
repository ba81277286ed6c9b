#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QKeyEvent;
class QWidget;

namespace fotivela {

// The window's shortcuts, caught before any control sees the key (except while text is typed).
// It knows nothing of the store: each key maps to one of nine actions.
class KeyboardShortcutCatcher : public QObject {
    Q_OBJECT

public:
    using Action = std::function<void()>;

    // Catches the keys of `window` only; keys of other windows pass untouched. Lives as long as
    // `owner` (the window when none is given), so its actions never outlive what they act on.
    explicit KeyboardShortcutCatcher(QWidget* window, QObject* owner = nullptr);
    ~KeyboardShortcutCatcher() override;

    Action onSpace;
    Action onSelectAll;
    Action onAddMarker;
    Action onDeleteMarker;
    Action onUndo;
    Action onZoomIn;
    Action onZoomOut;
    Action onPreviousSlide;
    Action onNextSlide;

    // Runs the action `event` maps to; true when the key is consumed. `typingText` says that
    // the focus is in a text field.
    bool handle(const QKeyEvent& event, bool typingText);

    // Whether `widget` takes typed text (fields, editors, spin boxes, editable combo boxes).
    static bool isTextInput(const QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_window;
};

} // namespace fotivela
