#include "ui/common/transitions.h"

#include <QGraphicsEffect>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QVariantAnimation>
#include <QWidget>

namespace fotivela::Transitions {

namespace {

// Draws its widget faded and raised by the part of the way still to go.
class FadeMoveEffect : public QGraphicsEffect {
public:
    explicit FadeMoveEffect(QObject* parent)
        : QGraphicsEffect(parent)
    {
    }

    double progress() const { return m_progress; }
    void setProgress(double progress)
    {
        m_progress = progress;
        update();
    }

protected:
    QRectF boundingRectFor(const QRectF& rect) const override { return rect.adjusted(0, -travel, 0, 0); }

    void draw(QPainter* painter) override
    {
        QPoint offset;
        const QPixmap picture = sourcePixmap(Qt::LogicalCoordinates, &offset);
        painter->save();
        painter->setOpacity(m_progress);
        painter->drawPixmap(offset + QPointF(0, -(1 - m_progress) * travel), picture);
        painter->restore();
    }

private:
    double m_progress = 0;
};

QVariantAnimation* animate(QObject* owner, FadeMoveEffect* effect, double from, double to)
{
    auto* animation = new QVariantAnimation(owner);
    animation->setDuration(durationMilliseconds);
    animation->setEasingCurve(to > from ? QEasingCurve::OutCubic : QEasingCurve::InCubic);
    animation->setStartValue(from);
    animation->setEndValue(to);
    QObject::connect(animation, &QVariantAnimation::valueChanged, effect,
                     [effect](const QVariant& value) { effect->setProgress(value.toDouble()); });
    return animation;
}

} // namespace

void enter(QWidget* widget)
{
    if (!widget)
        return;
    auto* running = dynamic_cast<FadeMoveEffect*>(widget->graphicsEffect());
    if (widget->graphicsEffect() && !running)
        return;
    if (!running) {
        running = new FadeMoveEffect(widget);
        widget->setGraphicsEffect(running);
    }
    QVariantAnimation* animation = animate(widget, running, running->progress(), 1.0);
    QObject::connect(animation, &QVariantAnimation::finished, widget, [widget, running] {
        // Done: the widget draws directly again.
        if (widget->graphicsEffect() == running)
            widget->setGraphicsEffect(nullptr);
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void leave(QWidget* widget)
{
    if (!widget || !widget->isVisible() || !widget->parentWidget() || widget->size().isEmpty())
        return;
    auto* ghost = new QLabel(widget->parentWidget());
    ghost->setAttribute(Qt::WA_TransparentForMouseEvents);
    ghost->setPixmap(widget->grab());
    ghost->setGeometry(widget->geometry());
    auto* effect = new FadeMoveEffect(ghost);
    effect->setProgress(1);
    ghost->setGraphicsEffect(effect);
    ghost->show();
    ghost->raise();
    QVariantAnimation* animation = animate(ghost, effect, 1.0, 0.0);
    QObject::connect(animation, &QVariantAnimation::finished, ghost, &QObject::deleteLater);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

double entranceProgress(const QWidget* widget)
{
    const auto* running = widget ? dynamic_cast<const FadeMoveEffect*>(widget->graphicsEffect()) : nullptr;
    return running ? running->progress() : 1.0;
}

} // namespace fotivela::Transitions
