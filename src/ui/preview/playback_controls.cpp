#include "ui/preview/playback_controls.h"

#include "store/project_store.h"
#include "ui/common/store_signals.h"
#include "ui/common/view_helpers.h"
#include "ui/shell/fotivela_design_system.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace fotivela {

namespace {

// The slider counts milliseconds; the store's times are seconds.
int toMilliseconds(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0)
        return 0;
    return static_cast<int>(std::min(std::llround(seconds * 1000), static_cast<long long>(INT32_MAX)));
}

QIcon glyph(bool pause)
{
    QPixmap pixmap(QSize(28, 28));
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    // Dark on the accent fill of the prominent button.
    painter.setBrush(QColor(20, 20, 22));
    if (pause) {
        painter.drawRoundedRect(QRectF(5, 3, 7, 22), 1.8, 1.8);
        painter.drawRoundedRect(QRectF(16, 3, 7, 22), 1.8, 1.8);
    } else {
        QPainterPath triangle;
        triangle.moveTo(6, 3);
        triangle.lineTo(25, 14);
        triangle.lineTo(6, 25);
        triangle.closeSubpath();
        painter.drawPath(triangle);
    }
    return QIcon(pixmap);
}

} // namespace

PlaybackControls::PlaybackControls(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);

    m_playButton = new QPushButton(this);
    m_playButton->setFixedSize(34, 30);
    m_playButton->setIconSize(QSize(14, 14));
    m_playButton->setIcon(glyph(false));
    styleProminentButton(m_playButton);
    // The glyph alone fills the small button.
    m_playButton->setStyleSheet(m_playButton->styleSheet() + QStringLiteral(" QAbstractButton { padding: 0px; }"));
    connect(m_playButton, &QPushButton::clicked, this, [this] {
        if (m_store.isPlaying())
            m_store.stopPreview();
        else
            m_store.startPreview();
    });
    row->addWidget(m_playButton, 0, Qt::AlignTop);

    m_timecode = new QLabel(this);
    // Sized in pixels so that the longest usual timecode fits its 78-point frame.
    QFont mono = monospacedSystemFont(14, QFont::DemiBold);
    mono.setPixelSize(14);
    m_timecode->setFont(mono);
    m_timecode->setFixedSize(78, 30);
    m_timecode->setAlignment(Qt::AlignCenter);
    row->addWidget(m_timecode, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    column->setSpacing(5);
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setFixedHeight(30);
    m_slider->setMinimum(0);
    m_slider->setSingleStep(100);
    m_slider->setPageStep(1000);
    jumpToClickSlider(m_slider);
    QPalette tint = m_slider->palette();
    tint.setColor(QPalette::Highlight, AppTheme::accent());
    m_slider->setPalette(tint);
    connect(m_slider, &QSlider::valueChanged, this, &PlaybackControls::sliderMoved);
    column->addWidget(m_slider);

    m_endLabel = new QLabel(this);
    m_endLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_endLabel->setFont(systemFont(TextStyle::caption));
    QPalette secondary = m_endLabel->palette();
    QColor text = secondary.color(QPalette::WindowText);
    text.setAlphaF(0.6f);
    secondary.setColor(QPalette::WindowText, text);
    m_endLabel->setPalette(secondary);
    column->addWidget(m_endLabel);
    row->addLayout(column, 1);

    connect(&storeSignals, &StoreSignals::changed, this, &PlaybackControls::storeChanged);
    refresh();
}

double PlaybackControls::endTime(const ProjectStore& store)
{
    if (const auto cut = store.audioCutTime())
        return *cut;
    return std::max(store.audioDuration(), store.totalDuration());
}

double PlaybackControls::sliderUpperBound(const ProjectStore& store)
{
    const double end = endTime(store);
    return std::isfinite(end) ? std::max(end, 1.0) : 1.0;
}

void PlaybackControls::storeChanged(StoreField field)
{
    switch (field) {
    case StoreField::isPlaying:
    case StoreField::previewTime:
    case StoreField::audioDuration:
    case StoreField::totalDuration:
    case StoreField::project:
        refresh();
        break;
    default:
        break;
    }
}

void PlaybackControls::refresh()
{
    const bool playing = m_store.isPlaying();
    if (playing != m_shownPlaying || m_playButton->icon().isNull()) {
        m_playButton->setIcon(glyph(playing));
        m_shownPlaying = playing;
    }
    const double time = m_store.previewTime();
    m_timecode->setText(formatPreviewTimecode(time));
    m_endLabel->setText(formatDuration(endTime(m_store)));

    const double upper = sliderUpperBound(m_store);
    // Only the user's moves seek; showing the store's time must not seek back into it.
    const QSignalBlocker blocker(m_slider);
    m_slider->setMaximum(toMilliseconds(upper));
    m_slider->setValue(toMilliseconds(std::min(time, upper)));
}

void PlaybackControls::sliderMoved(int milliseconds)
{
    m_store.seekPreview(milliseconds / 1000.0);
    m_store.setTimelineZoomFocusRevision(m_store.timelineZoomFocusRevision() + 1);
}

} // namespace fotivela
