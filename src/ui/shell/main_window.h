#pragma once

#include <QMainWindow>
#include <QMargins>
#include <QPointer>

class QScreen;
class QScrollArea;

namespace fotivela {

// The program's one window. Closed, it keeps the program running; the store and its project
// stay. Its content keeps its minimum size where the screen has room for it. On a smaller
// screen the window fits the screen's free area, its content takes the room there is, and
// what still does not fit scrolls inside the window, so nothing is out of reach.
class FotivelaMainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit FotivelaMainWindow(QWidget* parent = nullptr);

    // `content` fills the window, at least `minimum` where the screen has room for it.
    void setContent(QWidget* content, QSize minimum);
    QScrollArea* contentArea() const { return m_area; }

    // What the screen's free area leaves for the content: the area less the window's frame
    // and its menu bar.
    QSize contentRoom() const;

protected:
    bool event(QEvent* event) override;

private:
    // Watches the free area of the screen the window is on now.
    void followScreen();
    void applyContentRoom();
    // Brings the whole frame onto the screen's free area, smaller where it must be.
    void fitToScreen();

    QScrollArea* m_area = nullptr;
    QSize m_contentMinimum;
    QMargins m_frame;
    QPointer<QScreen> m_screen;
    bool m_followsWindowScreen = false;
};

} // namespace fotivela
