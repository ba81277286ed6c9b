#include "ui/timeline/timeline_header_views.h"

#include "model/app_text.h"
#include "ui/common/view_helpers.h"
#include "ui/timeline/timeline_metrics.h"

#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

namespace fotivela {

using namespace TimelineMetrics;

namespace {

QString translated(const char* text, AppLanguage language) { return qtext(AppText::translate(text, language)); }

// A small bin: the pill's one button.
QIcon trashIcon(QColor colour)
{
    QPixmap pixmap(32, 32);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawLine(QPointF(4, 4.5), QPointF(12, 4.5));
    painter.drawLine(QPointF(6.5, 4.5), QPointF(6.5, 3));
    painter.drawLine(QPointF(6.5, 3), QPointF(9.5, 3));
    painter.drawLine(QPointF(9.5, 3), QPointF(9.5, 4.5));
    painter.drawRoundedRect(QRectF(5, 5.5, 6, 7.5), 1, 1);
    return QIcon(pixmap);
}

} // namespace

TimelineLegend::TimelineLegend(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QString TimelineLegend::shortInstrumentName(AutoBeatInstrument instrument)
{
    switch (instrument) {
    case AutoBeatInstrument::drums: return QStringLiteral("Bat.");
    case AutoBeatInstrument::kick: return QStringLiteral("Bombo");
    case AutoBeatInstrument::clapSnare: return QStringLiteral("Caja");
    case AutoBeatInstrument::cymbalHats: return QStringLiteral("Platos");
    case AutoBeatInstrument::bass: return QStringLiteral("Bajo");
    case AutoBeatInstrument::vocals: return QStringLiteral("Voz");
    case AutoBeatInstrument::other: return QStringLiteral("Resto");
    }
    return {};
}

QColor TimelineLegend::songColor() { return rgba(0.7, 0.98, 1.0); }
QColor TimelineLegend::manualColor() { return rgba(1.0, 0.78, 0.12); }

void TimelineLegend::setValues(bool hasAudio, std::optional<SyncMode> syncMode, bool isAttackWaveformEnabled,
                               const std::vector<AutoBeatInstrument>& instruments, bool hasManualMarkers,
                               AppLanguage language)
{
    std::vector<Item> items;
    if (hasAudio)
        items.push_back({songColor(), translated("Onda cancion", language)});
    if (syncMode == SyncMode::autoBeatV2 && isAttackWaveformEnabled)
        items.push_back({Qt::white, translated("Marca ataque", language)});
    for (AutoBeatInstrument instrument : instruments)
        items.push_back({instrumentColor(instrument),
                         qtext(AppText::translate(shortInstrumentName(instrument).toStdString(), language))});
    if (hasManualMarkers)
        items.push_back({manualColor(), translated("Manual", language)});
    if (items == m_items)
        return;
    m_items = std::move(items);
    updateGeometry();
    update();
}

QFont TimelineLegend::labelFont() const
{
    QFont font = this->font();
    font.setPixelSize(10);
    font.setWeight(QFont::Medium);
    return font;
}

QSize TimelineLegend::sizeHint() const
{
    const QFontMetrics metrics(labelFont());
    int width = 8;
    for (std::size_t i = 0; i < m_items.size(); ++i)
        width += (i > 0 ? 10 : 0) + 6 + 4 + metrics.horizontalAdvance(m_items[i].label);
    return QSize(width, std::max(metrics.height(), 14));
}

void TimelineLegend::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(labelFont());
    const QFontMetrics metrics(painter.font());
    const double centreY = height() / 2.0;
    double x = 8;
    for (const Item& item : m_items) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(item.color);
        painter.drawEllipse(QRectF(x, centreY - 3, 6, 6));
        x += 10;
        painter.setPen(withOpacity(Qt::white, 0.6));
        const int textWidth = metrics.horizontalAdvance(item.label);
        painter.drawText(QRectF(x, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, item.label);
        x += textWidth + 10;
    }
}

TimelineMarkerSelectionPill::TimelineMarkerSelectionPill(QWidget* parent)
    : QWidget(parent)
    , m_delete(new QToolButton(this))
{
    setFixedHeight(22);
    m_delete->setAutoRaise(true);
    m_delete->setFixedSize(16, 16);
    m_delete->setIconSize(QSize(16, 16));
    m_delete->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    m_delete->setCursor(Qt::PointingHandCursor);
    connect(m_delete, &QToolButton::clicked, this, [this] {
        if (onDelete)
            onDelete();
    });
}

void TimelineMarkerSelectionPill::setValues(const BeatMarker& marker, AppLanguage language)
{
    QString label;
    if (marker.isManual) {
        m_color = TimelineLegend::manualColor();
        label = QStringLiteral("Manual");
    } else if (marker.sourceInstrument) {
        m_color = instrumentColor(*marker.sourceInstrument);
        label = TimelineLegend::shortInstrumentName(*marker.sourceInstrument);
    } else {
        m_color = Qt::white;
        label = QStringLiteral("Ataque");
    }
    m_text = qtext(AppText::translate(label.toStdString(), language)) + QStringLiteral(" \u00B7 ")
        + formatDuration(marker.time);
    m_delete->setToolTip(translated("Desactivar marcador", language));
    m_delete->setIcon(trashIcon(withOpacity(Qt::white, 0.85)));
    updateGeometry();
    resize(sizeHint());
    update();
}

QFont TimelineMarkerSelectionPill::textFont() const
{
    QFont font = this->font();
    font.setPixelSize(11);
    font.setWeight(QFont::DemiBold);
    return font;
}

QSize TimelineMarkerSelectionPill::sizeHint() const
{
    const int textWidth = QFontMetrics(textFont()).horizontalAdvance(m_text);
    return QSize(8 + 6 + 7 + textWidth + 7 + 16 + 8, 22);
}

void TimelineMarkerSelectionPill::resizeEvent(QResizeEvent*) { m_delete->move(width() - 8 - 16, 3); }

void TimelineMarkerSelectionPill::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(0.5, 0.5, width() - 1, height() - 1), 7, 7);
    painter.fillPath(shape, withOpacity(Qt::black, 0.3));
    painter.strokePath(shape, QPen(withOpacity(m_color, 0.45), 1));
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawEllipse(QRectF(8, height() / 2.0 - 3, 6, 6));
    painter.setFont(textFont());
    painter.setPen(Qt::white);
    const int textWidth = painter.fontMetrics().horizontalAdvance(m_text);
    painter.drawText(QRectF(8 + 6 + 7, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, m_text);
}

} // namespace fotivela
