#include "ui/timeline/waveform_scrub_view.h"

#include <QMouseEvent>

#include <algorithm>

namespace fotivela {

WaveformScrubView::WaveformScrubView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::ClickFocus);
}

double WaveformScrubView::timeAt(double x) const
{
    const double span = std::max(static_cast<double>(width()), 1.0);
    return std::clamp(x, 0.0, span) / span * duration;
}

void WaveformScrubView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    setFocus(Qt::MouseFocusReason);
    if (onEditingChanged)
        onEditingChanged(false);
    if (onScrub)
        onScrub(timeAt(event->position().x()));
}

void WaveformScrubView::mouseMoveEvent(QMouseEvent* event)
{
    if ((event->buttons() & Qt::LeftButton) && onScrub)
        onScrub(timeAt(event->position().x()));
}

} // namespace fotivela
