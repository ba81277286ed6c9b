#pragma once

#include "model/slide.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>

class QVariantAnimation;

namespace fotivela {

// Which slides the monitor draws and how opaque the current one is: a change of the shown
// slide cross-dissolves from the previous one when the panel's transition is a dissolve.
class PreviewTransitionLayer : public QObject {
    Q_OBJECT

public:
    static constexpr int dissolveMilliseconds = 700;
    static constexpr int cleanupMilliseconds = 740;

    explicit PreviewTransitionLayer(QObject* parent = nullptr);
    ~PreviewTransitionLayer() override;

    // The slide to show now, or none when nothing is shown; the first slide shown after
    // none appears without a dissolve.
    void setCurrentSlide(const std::optional<Slide>& slide);
    void setTransition(SlideTransition transition);

    const std::optional<Slide>& currentSlide() const { return m_currentSlide; }
    const std::optional<Slide>& outgoingSlide() const { return m_outgoingSlide; }
    const std::optional<Slide>& lastSlide() const { return m_lastSlide; }
    double incomingOpacity() const { return m_incomingOpacity; }
    SlideTransition transition() const { return m_transition; }

    // Called whenever what is drawn changes (opacity steps, slides coming and going).
    std::function<void()> onChange;

private:
    void transitionToCurrentSlide();
    void settle();
    void changed();

    std::optional<Slide> m_currentSlide;
    std::optional<Slide> m_outgoingSlide;
    std::optional<Slide> m_lastSlide;
    double m_incomingOpacity = 1.0;
    SlideTransition m_transition = SlideTransition::dissolve;
    QPointer<QVariantAnimation> m_animation;
};

} // namespace fotivela
