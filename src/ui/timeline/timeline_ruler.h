#pragma once

#include "model/beat_marker.h"

#include <QImage>
#include <QWidget>

#include <optional>
#include <set>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace fotivela {

class BeatMarkerInteractionView;

// The time scale at the top of the scrolled lanes, with the marker strip: one pin per marker,
// coloured by its source and its state. Pointer work on it is the interaction view's.
class TimelineRuler : public QWidget {

public:
    explicit TimelineRuler(QWidget* parent = nullptr);

    void setValues(double duration, std::vector<BeatMarker> beatMarkers, std::set<Uuid> activeMarkerIDs,
                   std::optional<Uuid> selectedMarkerID, double snapTolerance);

    BeatMarkerInteractionView* interaction() const { return m_interaction; }

    // Seconds between labels at p points per second.
    static double labelStep(double pointsPerSecond);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void drawScale(QPainter& painter, const QRectF& visible) const;
    void drawMarker(QPainter& painter, const BeatMarker& marker) const;
    int markerState(const BeatMarker& marker) const;
    bool samePixel(const BeatMarker& marker, const BeatMarker& other) const;
    bool coveredBy(const BeatMarker& marker, const BeatMarker& later) const;

    double m_duration = 1;
    std::vector<BeatMarker> m_markers;
    // Pictures of unselected pins by look and sub-pixel phase, for the current height.
    mutable std::unordered_map<std::uint64_t, QImage> m_pinSprites;
    mutable int m_spriteHeight = -1;
    mutable double m_spriteRatio = 1;
    std::set<Uuid> m_activeMarkerIDs;
    std::optional<Uuid> m_selectedMarkerID;
    BeatMarkerInteractionView* m_interaction = nullptr;
};

} // namespace fotivela
