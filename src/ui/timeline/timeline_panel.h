#pragma once

#include "store/store_field.h"

#include <QWidget>

#include <optional>

class QLabel;
class QScrollArea;
class QSlider;

namespace fotivela {

class MusicBeatLane;
class PhotoTimelineLane;
class ProjectStore;
class StoreSignals;
class TimelineFixedAudioControls;
class TimelineLegend;
class TimelineMarkerSelectionPill;
class TimelineRuler;
class TimelineScrollPositionController;
class TimelineToolButton;

// The editor's timeline dock: a toolbar (title, legend, selected-marker pill, add-marker, zoom
// and fit) above the fixed audio column and the horizontally scrolling ruler, music lane and
// photo lane. It owns the timeline's horizontal scale; every value it shows is read from the
// store and every user action is a store operation.
class TimelinePanel : public QWidget {

public:
    TimelinePanel(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent = nullptr);
    ~TimelinePanel() override;

    // Seconds spanned: song, slideshow, at least one.
    double timelineDuration() const;
    double contentWidth() const;
    double pixelsPerSecond() const;
    double timelineVisibleWidth() const { return m_timelineVisibleWidth; }
    double photoLaneHeight() const;
    // The scroll offset the lanes should show after a zoom change.
    double targetAutoScrollOffset(double viewportWidth, std::optional<double> selectedMarkerTime) const;

    // Reads the store again and hands the values on; store changes call it once per turn.
    void refresh();

    TimelineRuler* ruler() const { return m_ruler; }
    MusicBeatLane* musicLane() const { return m_musicLane; }
    PhotoTimelineLane* photoLane() const { return m_photoLane; }
    TimelineFixedAudioControls* audioControls() const { return m_audioControls; }
    TimelineLegend* legend() const { return m_legend; }
    TimelineMarkerSelectionPill* markerPill() const { return m_pill; }
    QScrollArea* scrollArea() const { return m_scrollArea; }
    QSlider* zoomSlider() const { return m_zoomSlider; }
    TimelineToolButton* addMarkerButton() const { return m_addMarker; }
    TimelineToolButton* zoomOutButton() const { return m_zoomOut; }
    TimelineToolButton* zoomInButton() const { return m_zoomIn; }
    TimelineToolButton* fitAudioButton() const { return m_fitAudio; }
    TimelineToolButton* fitImagesButton() const { return m_fitImages; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildToolbar(QWidget* toolbar);
    void connectLaneCallbacks();
    void scheduleRefresh();
    void layoutLanes();
    void markerEditingChanged(bool editing);

    ProjectStore& m_store;
    double m_timelineVisibleWidth = 320;
    bool m_refreshPending = false;

    QLabel* m_title = nullptr;
    TimelineLegend* m_legend = nullptr;
    TimelineMarkerSelectionPill* m_pill = nullptr;
    TimelineToolButton* m_addMarker = nullptr;
    QLabel* m_zoomCaption = nullptr;
    TimelineToolButton* m_zoomOut = nullptr;
    QSlider* m_zoomSlider = nullptr;
    TimelineToolButton* m_zoomIn = nullptr;
    TimelineToolButton* m_fitAudio = nullptr;
    TimelineToolButton* m_fitImages = nullptr;

    QWidget* m_laneArea = nullptr;
    TimelineFixedAudioControls* m_audioControls = nullptr;
    QScrollArea* m_scrollArea = nullptr;
    QWidget* m_content = nullptr;
    TimelineRuler* m_ruler = nullptr;
    MusicBeatLane* m_musicLane = nullptr;
    PhotoTimelineLane* m_photoLane = nullptr;
    TimelineScrollPositionController* m_scrollController = nullptr;
};

} // namespace fotivela
