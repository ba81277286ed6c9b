#pragma once

#include "store/store_field.h"
#include "ui/preview/preview_reframe_interaction.h"
#include "ui/preview/preview_slide_painter.h"
#include "ui/preview/preview_title_overlay.h"

#include <QAbstractButton>
#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <set>
#include <unordered_map>

namespace fotivela {

class ProjectStore;
class StoreSignals;
class PreviewTransitionLayer;

// The round button in the monitor's corner that resets the selected slide's framing.
class PreviewResetButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit PreviewResetButton(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {30, 30}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};

// The monitor area of the preview: the project's frame at its ratio, as large as the area
// allows, showing the current slide with its transition, motion, framing and title. Dragging
// the photo or the title, the wheel and a pinch edit the shown slide.
class PreviewMonitor : public QWidget {
    Q_OBJECT

public:
    PreviewMonitor(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent = nullptr);
    ~PreviewMonitor() override;

    // The monitor's rectangle inside this widget.
    QRectF monitorRect() const;

    PreviewTransitionLayer& transitionLayer() { return *m_transitionLayer; }
    const PreviewTitleOverlay& titleOverlay() const { return m_titleOverlay; }
    PreviewResetButton* resetButton() const { return m_resetButton; }

    // Draws the whole area into a painter whose origin is this widget's top left.
    void render(QPainter& painter);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool event(QEvent* event) override;

private:
    void storeChanged(StoreField field);
    void refresh();
    void retranslate();
    void placeResetButton();
    PreviewSlideScene sceneFor(const Slide& slide) const;
    QImage slideImage(const Slide& slide) const;
    void requestImage(const Slide& slide);
    void keepImagesOfShownSlides();
    const QPixmap& shadowFor(QSize monitorSize);

    ProjectStore& m_store;
    PreviewTransitionLayer* m_transitionLayer = nullptr;
    PreviewResetButton* m_resetButton = nullptr;
    PreviewReframeInteraction m_reframe;
    PreviewTitleOverlay m_titleOverlay;
    bool m_draggingTitle = false;
    bool m_reframing = false;
    QPointF m_titleDragOrigin;
    // The shown slides' preview images (shared with the store's cache, not copied).
    std::unordered_map<Uuid, QImage> m_images;
    std::set<Uuid> m_requestedImages;
    QPixmap m_shadow;
    QSize m_shadowSize;
};

} // namespace fotivela
