#pragma once

#include "store/project_store.h"
#include "store/store_test_support.h"
#include "ui/common/store_signals.h"

#include <gtest/gtest.h>

#include <QAbstractSlider>
#include <QApplication>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>

namespace fotivela::test {

// A store and its change channel over a storage root of the test's own.
class InspectorTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        m_store = std::make_unique<ProjectStore>();
        m_signals = std::make_unique<StoreSignals>(*m_store);
        m_store->setAppLanguageValue(AppLanguage::spanish);
    }
    void TearDown() override
    {
        m_signals.reset();
        m_store.reset();
        StoreTest::TearDown();
    }

    ProjectStore& store() { return *m_store; }
    StoreSignals& storeSignals() { return *m_signals; }

    static Slide slide(std::string name, double duration = 2.0)
    {
        Slide s;
        s.id = Uuid::random();
        s.imageURL = "/fotos/" + name;
        s.name = std::move(name);
        s.duration = duration;
        return s;
    }

    // A project of photos, each `duration` long, with nothing selected.
    void setSlides(std::vector<Slide> slides)
    {
        FotivelaProject project = FotivelaProject::empty();
        for (std::size_t index = 0; index < slides.size(); ++index)
            slides[index].order = static_cast<std::int64_t>(index);
        project.slides = std::move(slides);
        store().setProject(std::move(project));
        store().recalculateTotalDuration();
    }

    // Moves a slider as a drag does: pressed, stepped through each value, released.
    static void drag(QAbstractSlider* slider, int to)
    {
        slider->setSliderDown(true);
        const int step = to >= slider->value() ? 1 : -1;
        while (slider->value() != to)
            slider->setSliderPosition(slider->value() + step);
        slider->setSliderDown(false);
    }

    std::unique_ptr<ProjectStore> m_store;
    std::unique_ptr<StoreSignals> m_signals;
};

// Where the handle of `slider` is drawn: a click there takes the focus and changes nothing.
inline QPoint sliderHandleCentre(const QSlider* slider)
{
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = slider->sliderPosition();
    option.sliderValue = slider->value();
    option.singleStep = slider->singleStep();
    option.pageStep = slider->pageStep();
    option.subControls = QStyle::SC_All;
    return slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider).center();
}

// One notch of the mouse wheel (downwards) over `widget` at `position`, as the window delivers it.
inline void wheelNotch(QWidget* widget, QPoint position, int delta = -120)
{
    QWheelEvent event(position, widget->mapToGlobal(QPointF(position)), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

} // namespace fotivela::test
