#pragma once

#include "store/store_field.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QSlider;

namespace fotivela {

class ProjectStore;
class StoreSignals;

// Play and pause, the playhead time and a scrub slider that ends where playback ends.
class PlaybackControls : public QWidget {
    Q_OBJECT

public:
    PlaybackControls(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent = nullptr);

    // The song cut when there is one, else the longer of song and slideshow.
    static double endTime(const ProjectStore& store);
    // The slider runs over 0...max(end, 1) seconds.
    static double sliderUpperBound(const ProjectStore& store);

    QPushButton* playButton() const { return m_playButton; }
    QLabel* timecodeLabel() const { return m_timecode; }
    QSlider* slider() const { return m_slider; }
    QLabel* endLabel() const { return m_endLabel; }

private:
    void storeChanged(StoreField field);
    void refresh();
    void sliderMoved(int milliseconds);

    ProjectStore& m_store;
    QPushButton* m_playButton = nullptr;
    QLabel* m_timecode = nullptr;
    QSlider* m_slider = nullptr;
    QLabel* m_endLabel = nullptr;
    bool m_shownPlaying = false;
};

} // namespace fotivela
