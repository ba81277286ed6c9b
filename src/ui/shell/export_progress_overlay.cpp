#include "ui/shell/export_progress_overlay.h"

#include "model/app_text.h"
#include "store/project_store.h"
#include "ui/common/store_signals.h"
#include "ui/shell/fotivela_design_system.h"

#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

namespace fotivela {

namespace {

// Circle with the accent's film symbol.
class ExportBadge : public QWidget {
public:
    explicit ExportBadge(QWidget* parent)
        : QWidget(parent)
    {
        setFixedSize(58, 58);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(withOpacity(AppTheme::accent(), 0.2));
        painter.drawEllipse(rect());
        symbolIcon("film.stack", AppTheme::accent()).paint(&painter, QRect(17, 17, 24, 24));
    }
};

} // namespace

ExportProgressOverlay::ExportProgressOverlay(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
{
    // Takes every click so that nothing below can be used during the export.
    setAttribute(Qt::WA_NoMousePropagation);
    setFocusPolicy(Qt::StrongFocus);

    auto* card = new FotivelaGlassPanel(22, this);
    card->setFixedWidth(560);
    auto* shadow = new QGraphicsDropShadowEffect(card);
    shadow->setColor(QColor(0, 0, 0, qRound(0.35 * 255)));
    shadow->setBlurRadius(28);
    shadow->setOffset(0, 18);
    card->setGraphicsEffect(shadow);

    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(18);

    auto* header = new QHBoxLayout;
    header->setSpacing(14);
    header->addWidget(new ExportBadge(card));
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    m_title = new QLabel(card);
    m_title->setFont(systemFont(24, QFont::Bold));
    m_subtitle = new QLabel(card);
    m_subtitle->setFont(systemFont(TextStyle::callout));
    m_subtitle->setWordWrap(true);
    m_subtitle->setStyleSheet(QStringLiteral("color: rgba(255,255,255,150);"));
    titles->addWidget(m_title);
    titles->addWidget(m_subtitle);
    header->addLayout(titles, 1);
    m_percent = new QLabel(card);
    // Digits of equal width so that the number does not jitter.
    QFont percentFont = monospacedSystemFont(24, QFont::Bold);
    m_percent->setFont(percentFont);
    m_percent->setStyleSheet(QStringLiteral("color: %1;").arg(AppTheme::accent().name()));
    header->addWidget(m_percent);
    column->addLayout(header);

    auto* progress = new QVBoxLayout;
    progress->setSpacing(8);
    m_bar = new QProgressBar(card);
    m_bar->setRange(0, 1000);
    m_bar->setTextVisible(false);
    m_bar->setFixedHeight(6);
    m_bar->setStyleSheet(QStringLiteral("QProgressBar { background: rgba(255,255,255,40); border: none; border-radius: 3px; }"
                                        "QProgressBar::chunk { background: %1; border-radius: 3px; }")
                             .arg(AppTheme::accent().name()));
    m_message = new QLabel(card);
    m_message->setFont(systemFont(13, QFont::DemiBold));
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: rgba(255,255,255,150);"));
    progress->addWidget(m_bar);
    progress->addWidget(m_message);
    column->addLayout(progress);

    auto* centre = new QVBoxLayout(this);
    centre->addStretch(1);
    centre->addWidget(card, 0, Qt::AlignHCenter);
    centre->addStretch(1);

    connect(&storeSignals, &StoreSignals::changed, this, [this](StoreField field) {
        if (field == StoreField::exportProgress || field == StoreField::exportMessage
            || field == StoreField::appLanguage)
            refresh();
    });
    refresh();
}

QString ExportProgressOverlay::percentText(double progress)
{
    const double scaled = progress * 100.0;
    long long whole = 0;
    if (std::isfinite(scaled)) {
        const double rounded = std::round(scaled); // halves away from zero
        const double limit = static_cast<double>(std::numeric_limits<long long>::max());
        whole = rounded >= limit ? std::numeric_limits<long long>::max()
                : rounded <= -limit ? std::numeric_limits<long long>::min()
                                    : static_cast<long long>(rounded);
    }
    return QString::number(whole) + QLatin1Char('%');
}

QString ExportProgressOverlay::message() const
{
    const std::string& current = m_store.exportMessage();
    const std::string_view text = current.empty() ? std::string_view("Preparando exportacion") : current;
    return QString::fromStdString(AppText::translate(text, m_store.appLanguage()));
}

void ExportProgressOverlay::refresh()
{
    const AppLanguage language = m_store.appLanguage();
    m_title->setText(QString::fromStdString(AppText::translate("Exportando video", language)));
    m_subtitle->setText(
        QString::fromStdString(AppText::translate("No cierres Fotivela hasta que termine la exportación.", language)));
    const double progress = m_store.exportProgress();
    m_percent->setText(percentText(progress));
    m_bar->setValue(std::isfinite(progress) ? qRound(std::clamp(progress, 0.0, 1.0) * 1000) : 0);
    // QProgressBar skips repaints of changes narrower than its style's chunk, which under
    // this style sheet left the bar behind the number: always repaint.
    m_bar->update();
    m_message->setText(message());
    // Wrapped labels beside others do not get their height from the row: give it to them.
    const int titleWidth = 560 - 48 - 58 - 28 - m_percent->sizeHint().width();
    m_subtitle->setMinimumHeight(
        m_subtitle->fontMetrics().boundingRect(QRect(0, 0, titleWidth, 1000), Qt::TextWordWrap, m_subtitle->text()).height());
    m_message->setMinimumHeight(
        m_message->fontMetrics().boundingRect(QRect(0, 0, 512, 10000), Qt::TextWordWrap, m_message->text()).height());
}

void ExportProgressOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, qRound(0.62 * 255)));
}

} // namespace fotivela
