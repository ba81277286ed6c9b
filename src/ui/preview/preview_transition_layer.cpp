#include "ui/preview/preview_transition_layer.h"

#include <QEasingCurve>
#include <QTimer>
#include <QVariantAnimation>

namespace fotivela {

PreviewTransitionLayer::PreviewTransitionLayer(QObject* parent)
    : QObject(parent)
{
}

PreviewTransitionLayer::~PreviewTransitionLayer() = default;

void PreviewTransitionLayer::setCurrentSlide(const std::optional<Slide>& slide)
{
    if (!slide) {
        // The layer leaves the monitor; its states start afresh when a slide returns.
        const bool had = m_currentSlide.has_value();
        m_currentSlide.reset();
        m_outgoingSlide.reset();
        m_lastSlide.reset();
        if (m_animation)
            m_animation->stop();
        m_incomingOpacity = 1.0;
        if (had)
            changed();
        return;
    }
    const bool appears = !m_currentSlide;
    const bool idChanged = m_currentSlide && m_currentSlide->id != slide->id;
    m_currentSlide = slide;
    if (appears) {
        m_lastSlide = slide;
        m_incomingOpacity = 1.0;
    } else if (idChanged) {
        transitionToCurrentSlide();
    }
    changed();
}

void PreviewTransitionLayer::setTransition(SlideTransition transition)
{
    if (transition == m_transition)
        return;
    m_transition = transition;
    settle();
    changed();
}

void PreviewTransitionLayer::settle()
{
    if (m_animation)
        m_animation->stop();
    m_outgoingSlide.reset();
    m_incomingOpacity = 1.0;
    m_lastSlide = m_currentSlide;
}

void PreviewTransitionLayer::transitionToCurrentSlide()
{
    if (m_transition != SlideTransition::dissolve || !m_lastSlide || !m_currentSlide
        || m_lastSlide->id == m_currentSlide->id) {
        settle();
        return;
    }
    m_outgoingSlide = m_lastSlide;
    m_incomingOpacity = 0.0;
    const Uuid outgoingID = m_outgoingSlide->id;

    if (m_animation)
        m_animation->stop();
    else {
        m_animation = new QVariantAnimation(this);
        m_animation->setEasingCurve(QEasingCurve::InOutCubic);
        connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            m_incomingOpacity = value.toDouble();
            changed();
        });
    }
    m_animation->setDuration(dissolveMilliseconds);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    m_animation->start();

    // A newer dissolve that replaced the outgoing slide in the meantime keeps its own.
    QTimer::singleShot(cleanupMilliseconds, this, [this, outgoingID] {
        if (m_outgoingSlide && m_outgoingSlide->id == outgoingID) {
            m_outgoingSlide.reset();
            changed();
        }
    });
    m_lastSlide = m_currentSlide;
}

void PreviewTransitionLayer::changed()
{
    if (onChange)
        onChange();
}

} // namespace fotivela
