#include "ui/shell/main_window.h"

#include "ui/common/window_fit.h"

#include <QEvent>
#include <QLayout>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QWindow>


namespace fotivela {

FotivelaMainWindow::FotivelaMainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    setProperty("fotivelaMainWindow", true);
    m_area = new QScrollArea(this);
    m_area->setObjectName(QStringLiteral("windowContentArea"));
    m_area->setFrameShape(QFrame::NoFrame);
    m_area->setWidgetResizable(true);
    // The content's own controls take the focus and the keys; the area only scrolls.
    m_area->setFocusPolicy(Qt::NoFocus);
    setCentralWidget(m_area);
}

void FotivelaMainWindow::setContent(QWidget* content, QSize minimum)
{
    m_contentMinimum = minimum;
    m_area->setWidget(content);
    applyContentRoom();
}

QSize FotivelaMainWindow::contentRoom() const
{
    const QScreen* screen = this->screen();
    if (!screen)
        return m_contentMinimum;
    const QRect free = screen->availableGeometry();
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    int menu = 0;
    if (const auto* bar = qobject_cast<const QMenuBar*>(menuWidget()); bar && !bar->isNativeMenuBar())
        menu = bar->sizeHint().height();
    return {free.width() - frame.left() - frame.right(), free.height() - frame.top() - frame.bottom() - menu};
}

void FotivelaMainWindow::applyContentRoom()
{
    const QSize room = contentRoom();
    const bool holdsMinimum = room.width() >= m_contentMinimum.width() && room.height() >= m_contentMinimum.height();
    // Content that scrolls one way keeps the other way clear of the scroll bar.
    const int bar = m_area->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_area);
    WindowFit::setContentRoom(*this, holdsMinimum ? std::nullopt : std::optional<QSize>(room - QSize(bar, bar)));
    // The window's own minimum follows from its content area's, at once: a fit that comes
    // next must not be held to the old one.
    m_area->setMinimumSize(m_contentMinimum.boundedTo(room).expandedTo(QSize(0, 0)));
    if (layout())
        layout()->activate();
}

void FotivelaMainWindow::fitToScreen()
{
    applyContentRoom();
    if (!isVisible() || (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) || !screen())
        return;
    const QRect free = screen()->availableGeometry();
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    const QSize fitted = size().boundedTo(free.size().shrunkBy(frame));
    if (fitted != size())
        resize(fitted);
    const QPoint place = WindowFit::placedInside(pos(), fitted.grownBy(frame), free);
    if (place != pos())
        move(place);
}

void FotivelaMainWindow::followScreen()
{
    if (!m_followsWindowScreen && windowHandle()) {
        m_followsWindowScreen = true;
        connect(windowHandle(), &QWindow::screenChanged, this, [this] {
            followScreen();
            fitToScreen();
        });
    }
    if (m_screen == screen())
        return;
    if (m_screen)
        disconnect(m_screen, nullptr, this, nullptr);
    m_screen = screen();
    if (m_screen)
        connect(m_screen, &QScreen::availableGeometryChanged, this, [this] { fitToScreen(); });
}

bool FotivelaMainWindow::event(QEvent* event)
{
    const bool handled = QMainWindow::event(event);
    switch (event->type()) {
    case QEvent::Show:
        followScreen();
        fitToScreen();
        break;
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowActivate:
        // The frame is known only once the window manager has put one around the window.
        if (windowHandle() && windowHandle()->frameMargins() != m_frame) {
            m_frame = windowHandle()->frameMargins();
            fitToScreen();
        }
        break;
    default:
        break;
    }
    return handled;
}

} // namespace fotivela
