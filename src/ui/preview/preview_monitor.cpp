#include "ui/preview/preview_monitor.h"

#include "model/app_text.h"
#include "store/project_store.h"
#include "ui/common/store_signals.h"
#include "ui/preview/preview_transition_layer.h"

#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QWheelEvent>

#include <cmath>

namespace fotivela {

namespace {

constexpr double monitorCornerRadius = 10;
constexpr double shadowRadius = 22;
constexpr double shadowOffsetY = 12;
constexpr int resetButtonSize = 30;
constexpr int resetButtonPadding = 10;

QString appText(const ProjectStore& store, const char* spanish)
{
    return QString::fromStdString(AppText::translate(spanish, store.appLanguage()));
}

} // namespace

PreviewResetButton::PreviewResetButton(QWidget* parent)
    : QAbstractButton(parent)
{
    setFixedSize(resetButtonSize, resetButtonSize);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
}

bool PreviewResetButton::hitButton(const QPoint& pos) const
{
    const QPointF d = QPointF(pos) - QRectF(rect()).center();
    return std::hypot(d.x(), d.y()) <= width() / 2.0;
}

void PreviewResetButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF circle = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setBrush(QColor::fromRgbF(0, 0, 0, isDown() ? 0.62f : 0.46f));
    painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.22f), 1));
    painter.drawEllipse(circle);

    // A counter-clockwise arrow: an open arc with its head at the top left.
    const QPointF c = circle.center();
    const double r = 6.5;
    QPen pen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    // Drawn clockwise, then mirrored into the counter-clockwise arrow.
    painter.translate(c.x(), 0);
    painter.scale(-1, 1);
    painter.translate(-c.x(), 0);
    const QRectF arc(c.x() - r, c.y() - r, 2 * r, 2 * r);
    painter.drawArc(arc, 120 * 16, 280 * 16);
    const double a = 120 * M_PI / 180;
    const QPointF tip(c.x() + r * std::cos(a), c.y() - r * std::sin(a));
    QPainterPath head;
    head.moveTo(tip + QPointF(-3.8, -1.2));
    head.lineTo(tip + QPointF(0.4, 0.2));
    head.lineTo(tip + QPointF(-1.4, 4.0));
    painter.drawPath(head);
}

PreviewMonitor::PreviewMonitor(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_transitionLayer(new PreviewTransitionLayer(this))
    , m_resetButton(new PreviewResetButton(this))
{
    setMinimumHeight(130);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setFocusPolicy(Qt::ClickFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_AcceptTouchEvents, false);

    m_transitionLayer->onChange = [this] { update(); };
    connect(m_resetButton, &QAbstractButton::clicked, this, [this] { m_store.resetSelectedSlideReframe(); });

    // The callbacks act on whichever slide is current when the gesture arrives.
    m_reframe.onBegin = [this] {
        if (const auto& slide = m_transitionLayer->currentSlide())
            m_store.selectOnlyTimelineSlide(slide->id);
    };
    m_reframe.onZoom = [this](double delta) { m_store.adjustSelectedSlideReframe(delta, 0, 0); };
    m_reframe.onPan = [this](double dx, double dy) { m_store.adjustSelectedSlideReframe(0, dx, dy); };
    m_titleOverlay.onMove = [this](double x, double y) {
        if (const auto& slide = m_transitionLayer->currentSlide())
            m_store.setSlideTitlePosition(slide->id, x, y);
    };

    connect(&storeSignals, &StoreSignals::changed, this, &PreviewMonitor::storeChanged);
    retranslate();
    refresh();
}

PreviewMonitor::~PreviewMonitor() = default;

void PreviewMonitor::storeChanged(StoreField field)
{
    switch (field) {
    case StoreField::appLanguage:
        retranslate();
        break;
    case StoreField::previewCacheRevision:
        // The store dropped its images (photos replaced, project reopened): ask again.
        m_images.clear();
        m_requestedImages.clear();
        refresh();
        break;
    case StoreField::project:
    case StoreField::selectedSlideID:
    case StoreField::timelineSelection:
    case StoreField::isPlaying:
    case StoreField::previewTime:
        refresh();
        break;
    default:
        break;
    }
}

void PreviewMonitor::retranslate()
{
    m_resetButton->setToolTip(appText(m_store, "Restablecer tamaño y posición"));
    update();
}

void PreviewMonitor::refresh()
{
    m_transitionLayer->setTransition(PreviewGeometry::panelTransition(m_store.project()));
    m_transitionLayer->setCurrentSlide(m_store.previewSlide());
    keepImagesOfShownSlides();
    if (const auto& slide = m_transitionLayer->currentSlide())
        requestImage(*slide);
    m_resetButton->setVisible(m_store.selectedSlide().has_value());
    placeResetButton();
    update();
}

QRectF PreviewMonitor::monitorRect() const
{
    const QSizeF size = PreviewGeometry::previewSize(QSizeF(this->size()), m_store.project().format);
    return QRectF(QPointF(width() / 2.0 - size.width() / 2, height() / 2.0 - size.height() / 2), size);
}

void PreviewMonitor::placeResetButton()
{
    const QRectF monitor = monitorRect();
    m_resetButton->move(qRound(monitor.right() - resetButtonPadding - resetButtonSize),
                        qRound(monitor.bottom() - resetButtonPadding - resetButtonSize));
}

void PreviewMonitor::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeResetButton();
}

QImage PreviewMonitor::slideImage(const Slide& slide) const
{
    // Until the image arrives the slide shows the background.
    const auto found = m_images.find(slide.id);
    return found == m_images.end() ? QImage() : found->second;
}

void PreviewMonitor::requestImage(const Slide& slide)
{
    if (!m_requestedImages.insert(slide.id).second)
        return;
    const QPointer<PreviewMonitor> self(this);
    const std::int64_t revision = m_store.previewCacheRevision();
    m_store.previewImage(slide, [self, revision, id = slide.id](std::optional<QImage> image) {
        // A reply from before the cache was emptied may show a replaced photo.
        if (!self || !image || self->m_store.previewCacheRevision() != revision
            || !self->m_requestedImages.contains(id))
            return;
        self->m_images[id] = std::move(*image);
        self->update();
    });
}

void PreviewMonitor::keepImagesOfShownSlides()
{
    // Only the slides on screen keep an image here; the store keeps the rest.
    std::set<Uuid> shown;
    for (const auto* slide : {&m_transitionLayer->currentSlide(), &m_transitionLayer->outgoingSlide()})
        if (*slide)
            shown.insert((*slide)->id);
    std::erase_if(m_images, [&](const auto& entry) { return !shown.contains(entry.first); });
    std::erase_if(m_requestedImages, [&](const Uuid& id) { return !shown.contains(id); });
}

PreviewSlideScene PreviewMonitor::sceneFor(const Slide& slide) const
{
    PreviewSlideScene scene;
    scene.slide = slide;
    scene.image = slideImage(slide);
    scene.background = PreviewGeometry::backgroundColor(m_store.project());
    scene.motion = PreviewGeometry::kenBurnsMotion(slide, m_store.previewProgress(slide.id), monitorRect().size());
    scene.fillsFrame = m_store.project().fillPhotosToScreen.value_or(false);
    return scene;
}

const QPixmap& PreviewMonitor::shadowFor(QSize monitorSize)
{
    if (m_shadowSize == monitorSize && !m_shadow.isNull())
        return m_shadow;
    // Drawn small and scaled up smoothly: a soft shadow without a blur pass on every paint.
    const int pad = static_cast<int>(shadowRadius * 2);
    const QSize full(monitorSize.width() + 2 * pad, monitorSize.height() + 2 * pad);
    constexpr int factor = 8;
    QImage small((full.width() + factor - 1) / factor, (full.height() + factor - 1) / factor,
                 QImage::Format_ARGB32_Premultiplied);
    small.fill(Qt::transparent);
    {
        QPainter painter(&small);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.scale(1.0 / factor, 1.0 / factor);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.25f));
        painter.drawRoundedRect(QRectF(pad, pad, monitorSize.width(), monitorSize.height()), monitorCornerRadius,
                                monitorCornerRadius);
    }
    m_shadow = QPixmap::fromImage(small.scaled(full, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    m_shadowSize = monitorSize;
    return m_shadow;
}

void PreviewMonitor::render(QPainter& painter)
{
    const QRectF monitor = monitorRect();
    const QSizeF size = monitor.size();
    const FotivelaProject& project = m_store.project();
    painter.setRenderHint(QPainter::Antialiasing, true);

    const QPixmap& shadow = shadowFor(size.toSize());
    const double pad = shadowRadius * 2;
    painter.drawPixmap(QPointF(monitor.left() - pad, monitor.top() - pad + shadowOffsetY), shadow);
    QPainterPath background;
    background.addRoundedRect(monitor, monitorCornerRadius, monitorCornerRadius);
    painter.fillPath(background, PreviewGeometry::backgroundColor(project));

    const auto& current = m_transitionLayer->currentSlide();
    if (current) {
        painter.save();
        painter.translate(monitor.topLeft());
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setClipRect(QRectF(QPointF(0, 0), size));
        const auto& outgoing = m_transitionLayer->outgoingSlide();
        const double opacity = m_transitionLayer->incomingOpacity();
        if (outgoing)
            paintPreviewSlide(painter, sceneFor(*outgoing), size, nullptr);
        if (outgoing && opacity < 1.0) {
            // The incoming slide fades in as one picture, its background and photo together,
            // as the exported frames do: where the photos differ in shape, the outgoing one
            // fades out instead of showing through the incoming photo or lingering beside it.
            const qreal ratio = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
            QImage layer(QSizeF(size * ratio).toSize().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
            layer.setDevicePixelRatio(ratio);
            layer.fill(Qt::transparent);
            {
                QPainter layerPainter(&layer);
                paintPreviewSlide(layerPainter, sceneFor(*current), size, &m_titleOverlay);
            }
            painter.setOpacity(opacity);
            painter.drawImage(QPointF(0, 0), layer);
        } else {
            painter.setOpacity(opacity);
            paintPreviewSlide(painter, sceneFor(*current), size, &m_titleOverlay);
        }
        painter.restore();
    } else if (project.slides.empty()) {
        painter.setPen(QColor::fromRgbF(1, 1, 1, 0.6f));
        painter.drawText(monitor, Qt::AlignCenter | Qt::TextWordWrap, appText(m_store, "Importa fotos para ver el preview"));
    }
}

void PreviewMonitor::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    render(painter);
}

void PreviewMonitor::mousePressEvent(QMouseEvent* event)
{
    const auto& slide = m_transitionLayer->currentSlide();
    const QRectF monitor = monitorRect();
    if (event->button() != Qt::LeftButton || !slide || !monitor.contains(event->position())) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    const QPointF local = event->position() - monitor.topLeft();
    // The title lies above the photo: a press on it moves the title, anywhere else the photo.
    if (PreviewTitleOverlay::hitTest(*slide, monitor.size(), local)) {
        m_draggingTitle = true;
        setCursor(Qt::ClosedHandCursor);
        m_titleDragOrigin = event->position();
        m_titleOverlay.dragChanged(*slide, monitor.size(), QPointF(0, 0));
    } else {
        m_reframing = true;
        m_reframe.mouseDown(local);
    }
    update();
    event->accept();
}

void PreviewMonitor::mouseMoveEvent(QMouseEvent* event)
{
    const QRectF monitor = monitorRect();
    if (m_draggingTitle) {
        if (const auto& slide = m_transitionLayer->currentSlide())
            m_titleOverlay.dragChanged(*slide, monitor.size(), event->position() - m_titleDragOrigin);
        update();
    } else if (m_reframing && (event->buttons() & Qt::LeftButton)) {
        m_reframe.mouseDragged(event->position() - monitor.topLeft(), monitor.size());
    } else {
        // A hand over the title tells that it can be dragged apart from the photo.
        const auto& slide = m_transitionLayer->currentSlide();
        const bool overTitle = slide && event->buttons() == Qt::NoButton
            && PreviewTitleOverlay::hitTest(*slide, monitor.size(), event->position() - monitor.topLeft());
        if (overTitle)
            setCursor(Qt::OpenHandCursor);
        else
            unsetCursor();
        QWidget::mouseMoveEvent(event);
        return;
    }
    event->accept();
}

void PreviewMonitor::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    if (m_draggingTitle) {
        m_draggingTitle = false;
        m_titleOverlay.dragEnded();
        setCursor(Qt::OpenHandCursor);
        update();
    }
    if (m_reframing) {
        m_reframing = false;
        m_reframe.mouseUp();
    }
    event->accept();
}

void PreviewMonitor::wheelEvent(QWheelEvent* event)
{
    if (!m_transitionLayer->currentSlide() || !monitorRect().contains(event->position())) {
        QWidget::wheelEvent(event);
        return;
    }
    const QPoint pixels = event->pixelDelta();
    if (!pixels.isNull())
        m_reframe.scrollWheel(pixels.x(), pixels.y(), true);
    else
        m_reframe.scrollWheel(event->angleDelta().x() / 120.0, event->angleDelta().y() / 120.0, false);
    event->accept();
}

bool PreviewMonitor::event(QEvent* event)
{
    if (event->type() == QEvent::NativeGesture) {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() == Qt::ZoomNativeGesture && m_transitionLayer->currentSlide()
            && monitorRect().contains(gesture->position())) {
            m_reframe.magnify(gesture->value());
            event->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

} // namespace fotivela
