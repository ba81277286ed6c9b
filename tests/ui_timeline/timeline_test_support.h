#pragma once

#include "store/store_test_support.h"
#include "ui/common/store_signals.h"
#include "ui/timeline/timeline_panel.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

#include <memory>

namespace fotivela::test {

// Mouse events sent straight to a widget, with the held buttons given explicitly.
inline void sendMouse(QWidget* widget, QEvent::Type type, QPointF position, Qt::MouseButton button,
                      Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QPointF global = widget->mapToGlobal(position);
    QMouseEvent event(type, position, global, button, buttons, modifiers);
    QApplication::sendEvent(widget, &event);
}
inline void press(QWidget* w, QPointF p, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers m = Qt::NoModifier)
{
    sendMouse(w, QEvent::MouseButtonPress, p, b, b, m);
}
inline void drag(QWidget* w, QPointF p) { sendMouse(w, QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton); }
inline void hover(QWidget* w, QPointF p) { sendMouse(w, QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton); }
inline void release(QWidget* w, QPointF p, Qt::MouseButton b = Qt::LeftButton)
{
    sendMouse(w, QEvent::MouseButtonRelease, p, b, Qt::NoButton);
}

// A store with a shown timeline panel, in a storage root of its own.
class TimelineTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        store = std::make_unique<ProjectStore>();
        store->setAppLanguage(AppLanguage::spanish);
        storeSignals = std::make_unique<StoreSignals>(*store);
    }
    void TearDown() override
    {
        panel.reset();
        storeSignals.reset();
        store.reset();
        StoreTest::TearDown();
    }

    // A song of the given length with these markers, and slides of the given durations.
    void prepare(SyncMode mode, double songLength, std::vector<BeatMarker> markers, std::vector<double> slides)
    {
        store->modifyProject([&](FotivelaProject& p) {
            p.audio = makeTrack(mode);
            p.audio->beatMarkers = markers;
            p.slides.clear();
            for (double duration : slides)
                p.slides.push_back(makeSlide(duration));
        });
        store->setAudioBeatMarkers(std::move(markers));
        store->setAudioDuration(songLength);
        store->recalculateTotalDuration();
    }

    void showPanel(QSize size = QSize(1000, 420))
    {
        panel = std::make_unique<TimelinePanel>(*store, *storeSignals);
        panel->resize(size);
        panel->show();
        settle();
    }
    void settle()
    {
        QApplication::processEvents();
        QApplication::processEvents();
    }

    std::unique_ptr<ProjectStore> store;
    std::unique_ptr<StoreSignals> storeSignals;
    std::unique_ptr<TimelinePanel> panel;
};

} // namespace fotivela::test
