#include "ui/timeline/timeline_audio_controls.h"

#include "model/app_text.h"
#include "ui/common/view_helpers.h"
#include "ui/timeline/timeline_metrics.h"

#include <QPainter>
#include <QPainterPath>

namespace fotivela {

using namespace TimelineMetrics;

namespace {

const QColor songColour = rgba(0.7, 0.98, 1.0);

void drawSpeaker(QPainter& painter, const QRectF& box, bool slashed)
{
    const QPointF c = box.center();
    QPainterPath body;
    body.moveTo(c.x() - 5, c.y() - 2);
    body.lineTo(c.x() - 3, c.y() - 2);
    body.lineTo(c.x() + 0.5, c.y() - 5);
    body.lineTo(c.x() + 0.5, c.y() + 5);
    body.lineTo(c.x() - 3, c.y() + 2);
    body.lineTo(c.x() - 5, c.y() + 2);
    body.closeSubpath();
    painter.fillPath(body, painter.pen().color());
    if (slashed) {
        painter.drawLine(QPointF(c.x() - 6, c.y() - 5.5), QPointF(c.x() + 5.5, c.y() + 5.5));
        return;
    }
    painter.drawArc(QRectF(c.x() - 1.5, c.y() - 3, 5, 6), -60 * 16, 120 * 16);
    painter.drawArc(QRectF(c.x() - 2.5, c.y() - 5.5, 9, 11), -60 * 16, 120 * 16);
}

} // namespace

TimelineAudioButton::TimelineAudioButton(QWidget* parent)
    : QAbstractButton(parent)
{
    setFixedSize(22, 20);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
}

void TimelineAudioButton::setLook(Glyph glyph, QColor foreground, QColor background)
{
    if (glyph == m_glyph && foreground == m_foreground && background == m_background)
        return;
    m_glyph = glyph;
    m_foreground = foreground;
    m_background = background;
    update();
}

void TimelineAudioButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.42);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(rect()), 5, 5);
    painter.fillPath(tile, m_background);
    painter.setPen(QPen(m_foreground, 1.4, Qt::SolidLine, Qt::RoundCap));
    if (m_glyph == Glyph::solo) {
        QFont font = painter.font();
        font.setPixelSize(10);
        font.setWeight(QFont::Black);
        painter.setFont(font);
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("S"));
    } else {
        drawSpeaker(painter, QRectF(rect()), m_glyph == Glyph::speakerSlash);
    }
}

TimelineFixedAudioControls::TimelineFixedAudioControls(QWidget* parent)
    : QWidget(parent)
    , m_mainMute(new TimelineAudioButton(this))
    , m_mainSolo(new TimelineAudioButton(this))
{
    setFixedWidth(static_cast<int>(audioColumnWidth));
    connect(m_mainMute, &QAbstractButton::clicked, this, [this] {
        if (onToggleMainAudioMute)
            onToggleMainAudioMute();
    });
    connect(m_mainSolo, &QAbstractButton::clicked, this, [this] {
        if (onSoloMainAudio)
            onSoloMainAudio();
    });
    setValues({});
}

QString TimelineFixedAudioControls::instrumentLabel(AutoBeatInstrument instrument)
{
    switch (instrument) {
    case AutoBeatInstrument::drums: return QStringLiteral("Bateria completa");
    case AutoBeatInstrument::kick: return QStringLiteral("Bombo");
    case AutoBeatInstrument::clapSnare: return QStringLiteral("Caja / clap");
    case AutoBeatInstrument::cymbalHats: return QStringLiteral("Platillos / hats");
    case AutoBeatInstrument::bass: return QStringLiteral("Bajo");
    case AutoBeatInstrument::vocals: return QStringLiteral("Voz");
    case AutoBeatInstrument::other: return QStringLiteral("Resto");
    }
    return {};
}

double TimelineFixedAudioControls::columnHeight() const
{
    return rulerHeight + musicLaneHeight(m_values.stemWaveforms.size());
}

std::pair<TimelineAudioButton*, TimelineAudioButton*> TimelineFixedAudioControls::stemButtons(std::size_t row) const
{
    if (row >= m_stemPairs.size())
        return {nullptr, nullptr};
    return m_stemPairs[row];
}

void TimelineFixedAudioControls::setValues(Values values)
{
    m_values = std::move(values);
    const auto tr = [this](const QString& text) {
        return qtext(AppText::translate(text.toStdString(), m_values.language));
    };
    const std::size_t rows = visibleStemRows(m_values.stemWaveforms.size());
    while (m_stemPairs.size() > rows) {
        for (TimelineAudioButton* button : {m_stemPairs.back().first, m_stemPairs.back().second}) {
            button->hide();
            button->deleteLater();
        }
        m_stemPairs.pop_back();
    }
    while (m_stemPairs.size() < rows) {
        auto* listen = new TimelineAudioButton(this);
        auto* solo = new TimelineAudioButton(this);
        const std::size_t row = m_stemPairs.size();
        // The row's instrument is read when clicked: rows keep their buttons as the list changes.
        connect(listen, &QAbstractButton::clicked, this, [this, row] {
            if (row < m_values.stemWaveforms.size() && onToggleInstrumentAudio)
                onToggleInstrumentAudio(m_values.stemWaveforms[row].instrument);
        });
        connect(solo, &QAbstractButton::clicked, this, [this, row] {
            if (row < m_values.stemWaveforms.size() && onSoloInstrumentAudio)
                onSoloInstrumentAudio(m_values.stemWaveforms[row].instrument);
        });
        listen->show();
        solo->show();
        m_stemPairs.emplace_back(listen, solo);
    }
    for (std::size_t i = 0; i < rows; ++i) {
        const AutoBeatInstrument instrument = m_values.stemWaveforms[i].instrument;
        const QColor colour = withOpacity(instrumentColor(instrument), 0.95);
        const bool audible = m_values.audibleInstruments.contains(instrument);
        const bool soloed = m_values.soloInstrument == instrument;
        auto [listen, solo] = m_stemPairs[i];
        listen->setLook(audible ? TimelineAudioButton::Glyph::speaker : TimelineAudioButton::Glyph::speakerSlash,
                        audible ? QColor(Qt::white) : colour, audible ? colour : withOpacity(Qt::black, 0.38));
        solo->setLook(TimelineAudioButton::Glyph::solo, soloed ? QColor(Qt::black) : colour,
                      soloed ? colour : withOpacity(Qt::black, 0.28));
        const QString label = tr(instrumentLabel(instrument));
        listen->setToolTip(tr(audible ? QStringLiteral("Silenciar") : QStringLiteral("Escuchar")) + ' ' + label);
        solo->setToolTip(tr(QStringLiteral("Escuchar solo")) + ' ' + label);
    }

    const bool muted = m_values.isMainAudioMuted;
    m_mainMute->setLook(muted ? TimelineAudioButton::Glyph::speakerSlash : TimelineAudioButton::Glyph::speaker,
                        muted ? withOpacity(songColour, 0.9) : QColor(Qt::white),
                        muted ? withOpacity(Qt::black, 0.38) : rgba(0.1, 0.48, 1.0, 0.95));
    const bool soloed = m_values.isMainAudioSoloed;
    m_mainSolo->setLook(TimelineAudioButton::Glyph::solo, soloed ? QColor(Qt::black) : withOpacity(songColour, 0.95),
                        soloed ? withOpacity(songColour, 0.95) : withOpacity(Qt::black, 0.28));
    m_mainMute->setEnabled(m_values.hasMainAudio);
    m_mainSolo->setEnabled(m_values.hasMainAudio);
    if (!m_values.hasMainAudio) {
        m_mainMute->setToolTip(tr(QStringLiteral("Sin música")));
        m_mainSolo->setToolTip(tr(QStringLiteral("Sin música")));
    } else {
        m_mainMute->setToolTip(tr(muted ? QStringLiteral("Activar sonido de la cancion")
                                        : QStringLiteral("Silenciar cancion")));
        m_mainSolo->setToolTip(tr(QStringLiteral("Escuchar solo la cancion")));
    }
    setMinimumHeight(static_cast<int>(columnHeight()));
    layoutPairs();
}

void TimelineFixedAudioControls::placePair(TimelineAudioButton* left, TimelineAudioButton* right, double y)
{
    const int top = static_cast<int>(rulerHeight + y);
    const int start = (width() - (22 + 4 + 22)) / 2;
    left->move(start, top);
    right->move(start + 26, top);
}

void TimelineFixedAudioControls::layoutPairs()
{
    for (std::size_t i = 0; i < m_stemPairs.size(); ++i)
        placePair(m_stemPairs[i].first, m_stemPairs[i].second, stemRowHeight * static_cast<double>(i) + 1);
    placePair(m_mainMute, m_mainSolo, stemRowHeight * static_cast<double>(m_stemPairs.size()) + 16);
}

void TimelineFixedAudioControls::resizeEvent(QResizeEvent*) { layoutPairs(); }

void TimelineFixedAudioControls::paintEvent(QPaintEvent*)
{
    // Clear background: the panel's glass shows through.
}

} // namespace fotivela
