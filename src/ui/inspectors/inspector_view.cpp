#include "ui/inspectors/inspector_view.h"

#include "ui/shell/fotivela_design_system.h"

#include <QAbstractButton>
#include <QEvent>
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPalette>

#include <algorithm>
#include <cmath>
#include <limits>

namespace fotivela {

InspectorView::InspectorView(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_signals(storeSignals)
{
    connect(&storeSignals, &StoreSignals::changed, this, [this](StoreField field) {
        if (isRelevant(field))
            refresh();
    });
}

QString InspectorView::text(std::string_view spanish) const
{
    return translated(m_store, spanish);
}

bool InspectorView::isRelevant(StoreField field)
{
    switch (field) {
    case StoreField::previewTime:
    case StoreField::playbackClockRevision:
    case StoreField::playbackClockAnchorTime:
    case StoreField::exportProgress:
    case StoreField::audioWaveform:
    case StoreField::attackDetectionWaveform:
    case StoreField::snappedBeatTime:
    case StoreField::timelineZoom:
    case StoreField::timelineZoomFocusRevision:
    case StoreField::previewCacheRevision:
        return false;
    default:
        return true;
    }
}

QString translated(const ProjectStore& store, std::string_view spanish)
{
    return translated(store.appLanguage(), spanish);
}

QString translated(AppLanguage language, std::string_view spanish)
{
    return QString::fromStdString(AppText::translate(spanish, language));
}

QFrame* makeInspectorCard(QWidget* parent, int cornerRadius, double fillOpacity, double strokeOpacity)
{
    auto* card = new QFrame(parent);
    card->setObjectName("inspectorCard");
    card->setStyleSheet(QString("QFrame#inspectorCard { background: rgba(255,255,255,%1); border: 1px solid "
                                "rgba(255,255,255,%2); border-radius: %3px; }")
                            .arg(fillOpacity)
                            .arg(strokeOpacity)
                            .arg(cornerRadius));
    return card;
}

void applyCaptionFont(QWidget* widget, bool semibold)
{
    widget->setFont(systemFont(TextStyle::caption, semibold ? QFont::DemiBold : QFont::Normal));
}

QString fieldBoxStyle(const QString& selector)
{
    return selector + " { background: rgba(0,0,0,0.18); border: 1px solid rgba(255,255,255,0.12); border-radius: 7px; }";
}

void applySecondaryStyle(QWidget* widget)
{
    widget->setForegroundRole(QPalette::PlaceholderText);
}

namespace {

// Keeps a stretched button's label on one line within the column: the font steps down from
// its own size, to four fifths of it at most, instead of the label holding the column open.
class LabelFitter : public QObject {
public:
    LabelFitter(QAbstractButton* button)
        : QObject(button)
        , m_button(button)
        , m_baseSize(QFontInfo(button->font()).pixelSize())
    {
        button->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Show)
            fit();
        return false;
    }

private:
    void fit()
    {
        const int iconRoom = m_button->icon().isNull() ? 0 : m_button->iconSize().width() + 6;
        // The style's 12-pixel padding on each side.
        const int room = m_button->width() - 24 - iconRoom;
        QFont font = m_button->font();
        int size = m_baseSize;
        const int smallest = std::max(8, m_baseSize * 4 / 5);
        font.setPixelSize(size);
        font.setWeight(QFont::DemiBold);
        while (size > smallest && QFontMetrics(font).horizontalAdvance(m_button->text()) > room)
            font.setPixelSize(--size);
        if (QFontInfo(m_button->font()).pixelSize() != size) {
            QFont applied = m_button->font();
            applied.setPixelSize(size);
            m_button->setFont(applied);
        }
    }

    QAbstractButton* m_button;
    int m_baseSize;
};

} // namespace

void applyProminentStyle(QAbstractButton* button)
{
    styleProminentButton(button);
    // A switched-off call to action must not look ready.
    button->setStyleSheet(button->styleSheet()
                          + "QAbstractButton:disabled { background: rgba(255,255,255,0.12); color: rgba(255,255,255,0.4); }");
    button->setMinimumHeight(30);
    // Stretched to the column: its width comes from the column, never the other way round.
    button->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    new LabelFitter(button);
}

long long displayInteger(double value)
{
    if (!std::isfinite(value))
        return 0;
    constexpr double lowest = static_cast<double>(std::numeric_limits<long long>::min());
    // The largest double below 2^63; the cast of anything at or above 2^63 is undefined.
    constexpr double highest = 9223372036854774784.0;
    if (value <= lowest)
        return std::numeric_limits<long long>::min();
    if (value >= highest)
        return static_cast<long long>(highest);
    return static_cast<long long>(value);
}

} // namespace fotivela
