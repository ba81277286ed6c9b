#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace fotivela {

// Keeps the wheel from editing by accident inside a scrolling column: over a slider, a
// picker, a number field or a list the wheel scrolls the column, unless the user clicked
// that control first and it still has the focus.
class WheelGuard : public QObject {
public:
    // Guards the controls inside `column` (a scroll area or any widget above the controls);
    // the guard lives as long as the column.
    explicit WheelGuard(QWidget* column);

    // Whether the wheel over `control` would change it now.
    static bool takesWheel(const QWidget* control);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_column;
};

} // namespace fotivela
