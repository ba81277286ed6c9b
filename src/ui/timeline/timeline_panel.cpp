#include "ui/timeline/timeline_panel.h"

#include "model/app_text.h"
#include "store/project_store.h"
#include "ui/common/store_signals.h"
#include "ui/timeline/beat_marker_interaction_view.h"
#include "ui/timeline/music_beat_lane.h"
#include "ui/timeline/photo_timeline_lane.h"
#include "ui/timeline/timeline_audio_controls.h"
#include "ui/timeline/timeline_header_views.h"
#include "ui/timeline/timeline_metrics.h"
#include "ui/timeline/timeline_ruler.h"
#include "ui/timeline/timeline_scroll_position_controller.h"
#include "ui/timeline/timeline_tool_button.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace fotivela {

using namespace TimelineMetrics;

namespace {

constexpr double zoomStep = 1.18;
constexpr int sliderScale = 1000;

} // namespace

TimelinePanel::TimelinePanel(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(14, 14, 14, 14);
    outer->setSpacing(10);

    auto* toolbar = new QWidget(this);
    toolbar->setFixedHeight(28);
    buildToolbar(toolbar);
    outer->addWidget(toolbar);

    m_laneArea = new QWidget(this);
    auto* lanes = new QHBoxLayout(m_laneArea);
    lanes->setContentsMargins(0, 0, 0, 0);
    lanes->setSpacing(0);
    m_audioControls = new TimelineFixedAudioControls(m_laneArea);
    lanes->addWidget(m_audioControls, 0, Qt::AlignTop);
    m_scrollArea = new QScrollArea(m_laneArea);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scrollArea->setWidgetResizable(false);
    m_scrollArea->viewport()->setAutoFillBackground(false);
    m_content = new QWidget;
    m_content->setAutoFillBackground(false);
    m_ruler = new TimelineRuler(m_content);
    m_musicLane = new MusicBeatLane(m_content);
    m_photoLane = new PhotoTimelineLane(store, m_content);
    m_ruler->raise();
    m_scrollArea->setWidget(m_content);
    lanes->addWidget(m_scrollArea, 1);
    outer->addWidget(m_laneArea, 1);
    m_scrollArea->viewport()->installEventFilter(this);

    m_scrollController = new TimelineScrollPositionController(m_scrollArea, this);
    connectLaneCallbacks();
    connect(&storeSignals, &StoreSignals::changed, this, [this](StoreField) { scheduleRefresh(); });
    refresh();
}

TimelinePanel::~TimelinePanel() = default;

void TimelinePanel::buildToolbar(QWidget* toolbar)
{
    auto* row = new QHBoxLayout(toolbar);
    row->setContentsMargins(0, 0, 0, 0);
    m_title = new QLabel(toolbar);
    QFont headline = m_title->font();
    headline.setPixelSize(13);
    headline.setBold(true);
    m_title->setFont(headline);
    row->addWidget(m_title);
    m_legend = new TimelineLegend(toolbar);
    row->addWidget(m_legend);
    row->addStretch(1);
    m_pill = new TimelineMarkerSelectionPill(toolbar);
    m_pill->hide();
    row->addWidget(m_pill);
    m_addMarker = new TimelineToolButton(TimelineToolButton::Icon::addMarker, toolbar);
    row->addWidget(m_addMarker);
    m_zoomCaption = new QLabel(toolbar);
    QFont caption = m_zoomCaption->font();
    caption.setPixelSize(10);
    caption.setWeight(QFont::DemiBold);
    m_zoomCaption->setFont(caption);
    m_zoomCaption->setStyleSheet(QStringLiteral("color: rgba(255, 255, 255, 150);"));
    row->addWidget(m_zoomCaption);
    m_zoomOut = new TimelineToolButton(TimelineToolButton::Icon::minus, toolbar);
    row->addWidget(m_zoomOut);
    m_zoomSlider = new QSlider(Qt::Horizontal, toolbar);
    m_zoomSlider->setRange(static_cast<int>(0.05 * sliderScale), static_cast<int>(6.0 * sliderScale));
    m_zoomSlider->setFixedWidth(130);
    m_zoomSlider->setTracking(true);
    row->addWidget(m_zoomSlider);
    m_zoomIn = new TimelineToolButton(TimelineToolButton::Icon::plus, toolbar);
    row->addWidget(m_zoomIn);
    m_fitAudio = new TimelineToolButton(TimelineToolButton::Icon::waveform, toolbar);
    row->addWidget(m_fitAudio);
    m_fitImages = new TimelineToolButton(TimelineToolButton::Icon::photos, toolbar);
    row->addWidget(m_fitImages);

    connect(m_addMarker, &QAbstractButton::clicked, this, [this] {
        if (m_store.project().audio)
            m_store.addManualBeatMarkerAtPlaybackTime();
    });
    connect(m_zoomOut, &QAbstractButton::clicked, this, [this] { m_store.setTimelineZoom(m_store.timelineZoom() / zoomStep); });
    connect(m_zoomIn, &QAbstractButton::clicked, this, [this] { m_store.setTimelineZoom(m_store.timelineZoom() * zoomStep); });
    connect(m_zoomSlider, &QSlider::valueChanged, this,
            [this](int value) { m_store.setTimelineZoom(static_cast<double>(value) / sliderScale); });
    connect(m_fitAudio, &QAbstractButton::clicked, this, [this] { m_store.fitAudioTimeline(m_timelineVisibleWidth); });
    connect(m_fitImages, &QAbstractButton::clicked, this, [this] {
        m_store.setTimelineZoom(std::max(m_timelineVisibleWidth, minimumContentWidth)
                                / (std::max(m_store.totalDuration(), 1.0) * pointsPerSecondAtZoomOne));
    });
    m_pill->onDelete = [this] {
        if (const auto marker = m_store.selectedBeatMarker())
            m_store.disableBeatMarker(marker->id);
        else
            m_store.setSelectedBeatMarkerID(std::nullopt);
    };
}

void TimelinePanel::markerEditingChanged(bool editing)
{
    m_store.setIsEditingBeatMarker(editing);
    if (!editing) {
        m_store.commitPendingBeatMarkerMove();
        m_store.setPendingBeatMarkerMoveUndo(false);
    }
}

void TimelinePanel::connectLaneCallbacks()
{
    BeatMarkerInteractionView* markers = m_ruler->interaction();
    markers->onScrub = [this](double time) { m_store.seekPreview(time); };
    markers->onSelect = [this](std::optional<Uuid> id) { m_store.selectBeatMarker(id); };
    markers->onToggle = [this](Uuid id) { m_store.toggleBeatMarkerEnabled(id); };
    markers->onMove = [this](Uuid id, double time) { m_store.moveBeatMarker(id, time); };
    markers->onEditingChanged = [this](bool editing) { markerEditingChanged(editing); };
    m_musicLane->onScrub = [this](double time) { m_store.seekPreview(time); };
    m_musicLane->onMarkerEditingChanged = [this](bool editing) { markerEditingChanged(editing); };

    m_audioControls->onToggleInstrumentAudio = [this](AutoBeatInstrument i) { m_store.toggleTimelineInstrumentAudio(i); };
    m_audioControls->onSoloInstrumentAudio = [this](AutoBeatInstrument i) { m_store.soloTimelineInstrumentAudio(i); };
    m_audioControls->onToggleMainAudioMute = [this] { m_store.toggleMainAudioMute(); };
    m_audioControls->onSoloMainAudio = [this] { m_store.soloMainTimelineAudio(); };
}

double TimelinePanel::timelineDuration() const
{
    return std::max({m_store.audioDuration(), m_store.totalDuration(), 1.0});
}

double TimelinePanel::contentWidth() const
{
    return std::max(timelineDuration() * pointsPerSecondAtZoomOne * m_store.timelineZoom(), minimumContentWidth);
}

double TimelinePanel::pixelsPerSecond() const { return contentWidth() / timelineDuration(); }

double TimelinePanel::photoLaneHeight() const
{
    // The viewport's height, less the content's bottom padding.
    const double h = m_scrollArea->viewport()->height() - 2;
    const double lane = musicLaneHeight(m_store.timelineDerivedData().stemWaveforms.size());
    return std::max(h - rulerHeight - lane, minimumPhotoLaneHeight);
}

double TimelinePanel::targetAutoScrollOffset(double viewportWidth, std::optional<double> selectedMarkerTime) const
{
    const double width = contentWidth();
    if (!(viewportWidth > 0 && viewportWidth < width))
        return 0;
    const bool playing = m_store.isPlaying();
    const double reference = playing || !selectedMarkerTime ? m_store.previewTime() : *selectedMarkerTime;
    const double x = std::min(width, std::max(width * reference / timelineDuration(), 0.0));
    const double anchor = playing ? 0.8 : 0.5;
    return std::min(std::max(width - viewportWidth, 0.0), std::max(x - viewportWidth * anchor, 0.0));
}

void TimelinePanel::scheduleRefresh()
{
    if (m_refreshPending)
        return;
    m_refreshPending = true;
    QMetaObject::invokeMethod(this, [this] { refresh(); }, Qt::QueuedConnection);
}

void TimelinePanel::refresh()
{
    m_refreshPending = false;
    const ProjectStore& store = m_store;
    const AppLanguage language = store.appLanguage();
    const auto tr = [language](const char* text) { return qtext(AppText::translate(text, language)); };
    const TimelineDerivedData& derived = store.timelineDerivedData();
    const auto& audio = store.project().audio;
    const bool hasSong = audio.has_value();
    const bool tooltips = store.showInterfaceTooltips();

    m_title->setText(QStringLiteral("\u25A4 ") + tr("Timeline"));
    m_legend->setValues(hasSong, hasSong ? std::optional<SyncMode>(audio->syncMode) : std::nullopt,
                        store.isAttackWaveformEnabled(), derived.legendInstruments, derived.hasManualMarkers, language);
    if (derived.selectedMarker) {
        m_pill->setValues(*derived.selectedMarker, language);
        m_pill->show();
    } else {
        m_pill->hide();
    }
    m_addMarker->setHelp(tr("Añadir marcador en el timeline (M)"), tooltips);
    m_addMarker->setDisabledLook(!hasSong);
    m_zoomCaption->setText(tr("Zoom"));
    m_zoomOut->setHelp(tr("Reducir zoom del timeline (Ctrl -)"), tooltips);
    m_zoomIn->setHelp(tr("Aumentar zoom del timeline (Ctrl +)"), tooltips);
    m_fitAudio->setHelp(tr("Ajustar audio al ancho visible"), tooltips);
    m_fitImages->setHelp(tr("Ajustar imágenes al ancho visible"), tooltips);
    {
        const QSignalBlocker blocker(m_zoomSlider);
        m_zoomSlider->setValue(static_cast<int>(std::lround(store.timelineZoom() * sliderScale)));
    }

    m_audioControls->setValues({derived.stemWaveforms, store.audibleTimelineInstruments(),
                                store.soloTimelineInstrument(), store.isMainAudioMuted(), store.isMainAudioSoloed(),
                                hasSong, language});

    const double duration = timelineDuration();
    const double width = contentWidth();
    m_ruler->setValues(duration, derived.beatMarkers, derived.activeMarkerIDs, store.selectedBeatMarkerID(), 0);

    MusicBeatLane::Values lane;
    lane.samples = store.audioWaveform();
    lane.stemWaveforms = derived.stemWaveforms;
    lane.hasMainAudio = hasSong;
    lane.cutTime = store.audioCutTime();
    lane.cutFadeOutDuration = hasSong ? audio->cutFadeOutDuration : 2.5;
    lane.isAnalyzing = store.isAnalyzingAudio();
    lane.statusMessage = AppText::translate(store.audioAnalysisStatusMessage(), language);
    lane.language = language;
    lane.duration = duration;
    lane.songDuration = hasSong ? store.audioDuration() : 0;
    lane.width = width;
    lane.playhead = store.previewTime();
    lane.isPlaying = store.isPlaying();
    lane.playbackClockRevision = store.playbackClockRevision();
    lane.playbackClockAnchorTime = store.playbackClockAnchorTime();
    m_musicLane->setValues(std::move(lane));

    layoutLanes();
}

void TimelinePanel::layoutLanes()
{
    const double width = contentWidth();
    const double viewportWidth = std::max(static_cast<double>(m_scrollArea->viewport()->width()), 1.0);
    m_timelineVisibleWidth = viewportWidth;
    const TimelineDerivedData& derived = m_store.timelineDerivedData();
    const double laneHeight = musicLaneHeight(derived.stemWaveforms.size());
    const double photoHeight = photoLaneHeight();
    const int w = static_cast<int>(std::ceil(width));
    // The ruler overlaps the lane below it by one point.
    const int laneTop = static_cast<int>(rulerHeight) - 1;
    const int photoTop = laneTop + static_cast<int>(laneHeight);
    const int contentHeight = std::max(photoTop + static_cast<int>(photoHeight), m_scrollArea->viewport()->height() - 2) + 2;
    m_content->resize(w, contentHeight);
    m_ruler->setGeometry(0, 0, w, static_cast<int>(rulerHeight));
    m_musicLane->setGeometry(0, laneTop, w, static_cast<int>(laneHeight));
    m_photoLane->setLayoutValues(pixelsPerSecond(), width, photoHeight);
    m_photoLane->setGeometry(0, photoTop, w, static_cast<int>(std::max(photoHeight, minimumPhotoLaneHeight)));
    m_audioControls->setFixedHeight(static_cast<int>(m_audioControls->columnHeight()));

    const std::optional<double> markerTime =
        derived.selectedMarker ? std::optional<double>(derived.selectedMarker->time) : std::nullopt;
    TimelineScrollPositionController::Values follow;
    follow.targetOffset = targetAutoScrollOffset(viewportWidth, markerTime);
    follow.focusRevision = m_store.timelineZoomFocusRevision();
    follow.isPlaying = m_store.isPlaying();
    follow.isEnabled = width > viewportWidth && !m_store.isEditingBeatMarker();
    follow.contentWidth = width;
    follow.playheadTime = m_store.previewTime();
    follow.playbackClockRevision = m_store.playbackClockRevision();
    follow.playbackClockAnchorTime = m_store.playbackClockAnchorTime();
    follow.duration = timelineDuration();
    follow.leadingGutter = 0;
    m_scrollController->update(follow);
}

bool TimelinePanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_scrollArea->viewport() && event->type() == QEvent::Resize)
        layoutLanes();
    return QWidget::eventFilter(watched, event);
}

void TimelinePanel::paintEvent(QPaintEvent*)
{
    // The glass panel look behind the dock.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintFotivelaGlass(painter, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 16);
}

} // namespace fotivela
