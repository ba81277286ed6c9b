#pragma once

#include "model/slide.h"
#include "ui/common/view_helpers.h"
#include "ui/timeline/timeline_thumbnail.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <string>
#include <vector>

namespace fotivela {

class PhotoTimelineLaneInteractionView;
class ProjectStore;

struct PositionedTimelineSlide {
    Slide slide;
    double startTime = 0;
};

// The row of slide tiles laid end to end on the time axis, with the drop indicator and the drag
// ghost of a reorder. Its pointer layer's reports become store operations here.
class PhotoTimelineLane : public QWidget {

public:
    struct InsertionPoint {
        std::int64_t index = 0;
        double x = 0;
    };
    struct DragPreview {
        double width = 0;
        double centerX = 0;
    };

    PhotoTimelineLane(ProjectStore& store, QWidget* parent = nullptr);

    // Scale and size from the panel; reads the store's slides again.
    void setLayoutValues(double pixelsPerSecond, double width, double height);

    const std::vector<PositionedTimelineSlide>& positionedTimelineSlides() const { return m_slides; }
    InsertionPoint insertionPoint(double x) const;
    std::optional<DragPreview> preview(const Uuid& id, double centerX) const;
    static std::string visibleTimelineSignature(const std::vector<PositionedTimelineSlide>& slides);
    static void writeVisibleTimelineDebugManifest(const std::vector<PositionedTimelineSlide>& slides);

    bool allowResize() const;
    double laneHeight() const;
    const std::optional<double>& dropIndicatorX() const { return m_dropIndicatorX; }
    const std::optional<DragPreview>& dragPreview() const { return m_dragPreview; }
    const std::optional<Uuid>& hoverSlideID() const { return m_hoverSlideID; }
    TimelinePointerRegion hoverRegion() const { return m_hoverRegion; }
    PhotoTimelineLaneInteractionView* interaction() const { return m_interaction; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void rebuild();
    void connectInteraction();
    void clearDrag();
    void resizeStep(const Uuid& id, ResizeEdge edge, double delta);
    void paintNarrowTile(QPainter& painter, const QRectF& tile, const Slide& slide, const TimelineThumbnail::Look& look);
    double tileWidth(const Slide& slide) const;
    // The slide's preview for a wide tile; asks the store once per preview revision and keeps
    // the old picture until the new one arrives.
    const QImage* thumbnail(const Slide& slide);

    struct Thumbnail {
        QImage image;
        std::int64_t requestedRevision = -1;
    };
    std::unordered_map<Uuid, Thumbnail> m_thumbnails;
    // Pictures of tiles too narrow for a photo, by size and look.
    std::unordered_map<QString, QImage> m_tileSprites;
    double m_tileSpriteRatio = 1;

    // An edge drag follows the pointer's whole movement since the press, so that the store's
    // snapping acts on where the pointer is, not on each event's few pixels.
    struct ResizeGesture {
        Uuid id;
        ResizeEdge edge = ResizeEdge::right;
        double target = 0;
    };
    std::optional<ResizeGesture> m_resizeGesture;

    ProjectStore& m_store;
    double m_pixelsPerSecond = 42;
    double m_width = 320;
    double m_height = 58;
    std::vector<PositionedTimelineSlide> m_slides;
    std::string m_writtenSignature;
    bool m_hasWrittenManifest = false;

    std::optional<Uuid> m_draggedSlideID;
    std::optional<double> m_dropIndicatorX;
    std::optional<Uuid> m_hoverSlideID;
    TimelinePointerRegion m_hoverRegion = TimelinePointerRegion::none;
    std::optional<DragPreview> m_dragPreview;
    PhotoTimelineLaneInteractionView* m_interaction = nullptr;
};

} // namespace fotivela
