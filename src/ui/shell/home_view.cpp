#include "ui/shell/home_view.h"

#include "model/app_text.h"
#include "store/project_store.h"
#include "ui/common/store_signals.h"
#include "ui/inspectors/elided_label.h"
#include "ui/shell/fotivela_design_system.h"

#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QTextLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace fotivela {

namespace {

QString translated(std::string_view text, AppLanguage language)
{
    return QString::fromStdString(AppText::translate(text, language));
}

constexpr int minimumColumnWidth = 260;
constexpr int gridSpacing = 14;

} // namespace

// MARK: title overlay

namespace RecentProjectTitleOverlay {

double fontSize(QSizeF area)
{
    const double m = std::min(area.width(), area.height());
    const double size = (m > 1 && m * 0.14 > 12) ? m * 0.14 : 12.0;
    return std::min(size, 28.0);
}

QPointF centre(const Slide& slide, QSizeF area)
{
    const auto limited = [](double value, double low, double high) {
        return std::isfinite(value) ? std::clamp(value, low, high) : low;
    };
    return {area.width() * limited(slide.titlePositionX, 0.08, 0.92),
            area.height() * limited(slide.titlePositionY, 0.12, 0.88)};
}

void paint(QPainter& painter, const Slide& slide, const QRectF& area)
{
    const QString title = QString::fromStdString(slide.title);
    if (title.trimmed().isEmpty())
        return;
    const double baseSize = fontSize(area.size());
    const double maxWidth = std::max(area.width() - 18.0, 10.0);
    // Shrink down to 55 % to fit two lines, then elide.
    QFont chosen;
    QRectF textRect;
    for (double scale = 1.0; scale >= 0.549; scale -= 0.05) {
        chosen = font(slide.titleFontDesign, baseSize * scale, QFont::DemiBold);
        const QFontMetricsF metrics(chosen);
        textRect = metrics.boundingRect(QRectF(0, 0, maxWidth, 10000), Qt::AlignHCenter | Qt::TextWordWrap, title);
        if (textRect.height() <= metrics.lineSpacing() * 2 + 0.5 && textRect.width() <= maxWidth + 0.5)
            break;
    }
    const QFontMetricsF metrics(chosen);
    QString shown = title;
    if (textRect.height() > metrics.lineSpacing() * 2 + 0.5 || textRect.width() > maxWidth + 0.5) {
        // Keep what fits in two lines and end it with an ellipsis.
        QTextLayout layout(title, chosen);
        layout.beginLayout();
        QString kept;
        for (int line = 0; line < 2; ++line) {
            QTextLine textLine = layout.createLine();
            if (!textLine.isValid())
                break;
            textLine.setLineWidth(maxWidth);
            const QString part = title.mid(textLine.textStart(), textLine.textLength());
            kept += line == 1 ? metrics.elidedText(title.mid(textLine.textStart()).simplified(), Qt::ElideRight, maxWidth)
                              : part;
        }
        layout.endLayout();
        shown = kept;
        textRect = metrics.boundingRect(QRectF(0, 0, maxWidth, 10000), Qt::AlignHCenter | Qt::TextWordWrap, shown);
    }
    const QPointF c = area.topLeft() + centre(slide, area.size());
    const QRectF box(c.x() - textRect.width() / 2 - 9, c.y() - textRect.height() / 2 - 5, textRect.width() + 18,
                     textRect.height() + 10);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (slide.titleHasBackground) {
        QPainterPath shape;
        shape.addRoundedRect(box, 7, 7);
        painter.fillPath(shape, QColor(0, 0, 0, qRound(0.38 * 255)));
        QPainterPath inner;
        inner.addRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 6.5, 6.5);
        painter.setPen(QPen(QColor(255, 255, 255, qRound(0.22 * 255)), 1));
        painter.drawPath(inner);
    }
    painter.setFont(chosen);
    painter.setPen(colorFromHex(slide.titleColorHex));
    painter.drawText(box.adjusted(9, 5, -9, -5), Qt::AlignCenter | Qt::TextWordWrap, shown);
    painter.restore();
}

} // namespace RecentProjectTitleOverlay

// MARK: preview view

RecentProjectPreviewView::RecentProjectPreviewView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void RecentProjectPreviewView::setPreview(std::optional<RecentProjectPreview> preview, AppLanguage language)
{
    m_preview = std::move(preview);
    m_language = language;
    update();
}

QRectF RecentProjectPreviewView::drawingArea() const
{
    const double ratio = m_preview ? aspectRatio(m_preview->format) : 16.0 / 9.0;
    const QSizeF space = size();
    QSizeF fitted(space.width(), space.width() / ratio);
    if (fitted.height() > space.height())
        fitted = QSizeF(space.height() * ratio, space.height());
    return {QPointF((space.width() - fitted.width()) / 2, (space.height() - fitted.height()) / 2), fitted};
}

void RecentProjectPreviewView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), 10, 10);
    painter.setClipPath(clip);
    painter.fillRect(rect(), QColor(0, 0, 0, qRound(0.72 * 255)));

    const QRectF area = drawingArea();
    painter.fillRect(area, colorFromHex(m_preview ? m_preview->backgroundColorHex : "#000000"));
    if (m_preview && !m_preview->image.isNull()) {
        painter.save();
        painter.setClipRect(area, Qt::IntersectClip);
        const QSizeF image = m_preview->image.size();
        const QSizeF scaled = image.scaled(area.size(), m_preview->fillPhotosToScreen ? Qt::KeepAspectRatioByExpanding
                                                                                      : Qt::KeepAspectRatio);
        const QRectF target(area.center() - QPointF(scaled.width() / 2, scaled.height() / 2), scaled);
        painter.drawImage(target, m_preview->image);
        painter.restore();
    } else {
        const QColor faint(255, 255, 255, qRound(0.42 * 255));
        const QIcon icon = symbolIcon("photo", faint);
        const QPointF c = area.center();
        icon.paint(&painter, QRect(qRound(c.x() - 12), qRound(c.y() - 24), 24, 24));
        painter.setPen(faint);
        painter.setFont(systemFont(TextStyle::caption, QFont::DemiBold));
        painter.drawText(QRectF(area.left(), c.y() + 6, area.width(), 16), Qt::AlignHCenter | Qt::AlignTop,
                         translated("Sin preview", m_language));
    }
    if (m_preview && m_preview->slide)
        RecentProjectTitleOverlay::paint(painter, *m_preview->slide, area);

    painter.setClipping(false);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 255, 255, qRound(0.16 * 255)), 1));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
}

// MARK: card

RecentProjectCard::RecentProjectCard(ProjectStore& store, RecentProject recent,
                                     std::shared_ptr<RecentProjectPictures> pictures, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_recent(std::move(recent))
{
    setCursor(Qt::PointingHandCursor);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_panel = new FotivelaGlassPanel(12, this);
    outer->addWidget(m_panel);
    auto* column = new QVBoxLayout(m_panel);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(10);
    m_previewView = new RecentProjectPreviewView(m_panel);
    m_previewView->setFixedHeight(124);
    column->addWidget(m_previewView);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    // Elided at the width the layout gives it, whenever that changes.
    m_name = new ElidedLabel(Qt::ElideRight, m_panel);
    m_name->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_name->setFont(systemFont(TextStyle::headline, QFont::Bold));
    m_name->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_date = new QLabel(m_panel);
    m_date->setFont(systemFont(TextStyle::caption));
    m_date->setStyleSheet(QStringLiteral("color: rgba(255,255,255,150);"));
    m_date->setAttribute(Qt::WA_TransparentForMouseEvents);
    texts->addWidget(m_name);
    texts->addWidget(m_date);
    column->addLayout(texts);

    m_remove = new QPushButton(this);
    m_remove->setFixedSize(24, 24);
    m_remove->setIcon(symbolIcon("xmark"));
    m_remove->setIconSize(QSize(10, 10));
    m_remove->setCursor(Qt::PointingHandCursor);
    m_remove->setStyleSheet(QStringLiteral("QPushButton { background: rgba(40,42,46,200); border: 1px solid rgba(255,255,255,46);"
                                           " border-radius: 12px; }"
                                           "QPushButton:hover { background: rgba(70,72,76,220); }"));
    connect(m_remove, &QPushButton::clicked, this, [this] { m_store.setRecentProjectPendingDeletion(m_recent); });

    setLanguage(store.appLanguage());

    QPointer<RecentProjectCard> self(this);
    const auto url = m_recent.url;
    m_load = runInBackground(
        TaskPriority::utility,
        [url, pictures = std::move(pictures)](std::stop_token) { return RecentProjectPreview::load(url, pictures.get()); },
        [self](RecentProjectPreview preview) {
            if (!self)
                return;
            self->m_previewView->setPreview(std::move(preview), self->m_store.appLanguage());
            emit self->previewLoaded();
        });
}

QLabel* RecentProjectCard::nameLabel() const { return m_name; }

RecentProjectCard::~RecentProjectCard()
{
    m_load.cancel();
}

void RecentProjectCard::setLanguage(AppLanguage language)
{
    const QString name = QString::fromStdString(m_recent.name);
    m_name->setFullText(name);
    const QDateTime saved = QDateTime::fromSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::seconds>(m_recent.savedAt.time_since_epoch()).count());
    const QLocale locale(language == AppLanguage::english ? QLocale::English : QLocale::Spanish);
    // The day only: no weekday, no time.
    m_date->setText(locale.toString(saved.date(), language == AppLanguage::english ? QStringLiteral("MMMM d, yyyy")
                                                                                   : QStringLiteral("d 'de' MMMM 'de' yyyy")));
    m_remove->setToolTip(translated("Quitar de recientes", language));
    if (m_previewView->preview())
        m_previewView->setPreview(m_previewView->preview(), language);
}

void RecentProjectCard::mousePressEvent(QMouseEvent* event)
{
    // Taken here so that the release comes back to the card.
    event->setAccepted(event->button() == Qt::LeftButton);
}

void RecentProjectCard::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        m_store.loadProject(m_recent.url);
}

void RecentProjectCard::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_remove->move(width() - m_remove->width() - 8, 8);
    m_remove->raise();
}

// MARK: home

HomeView::HomeView(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(22);

    auto* actions = new FotivelaGlassPanel(16, this);
    auto* actionRow = new QHBoxLayout(actions);
    actionRow->setContentsMargins(24, 24, 24, 24);
    m_newProject = new QPushButton(actions);
    m_newProject->setIcon(symbolIcon("plus", Qt::black));
    styleProminentButton(m_newProject);
    m_openProject = new QPushButton(actions);
    m_openProject->setIcon(symbolIcon("folder", Qt::black));
    styleProminentButton(m_openProject);
    actionRow->addWidget(m_newProject);
    actionRow->addWidget(m_openProject);
    actionRow->addStretch(1);
    column->addWidget(actions);
    connect(m_newProject, &QPushButton::clicked, this, [this] { m_store.setIsNewProjectDialogPresented(true); });
    connect(m_openProject, &QPushButton::clicked, this, [this] { m_store.openProject(); });

    auto* recents = new QVBoxLayout;
    recents->setSpacing(12);
    m_heading = new QLabel(this);
    m_heading->setFont(systemFont(TextStyle::title3, QFont::DemiBold));
    recents->addWidget(m_heading);
    auto* empty = new FotivelaGlassPanel(12, this);
    auto* emptyLayout = new QVBoxLayout(empty);
    emptyLayout->setContentsMargins(16, 16, 16, 16);
    m_emptyText = new QLabel(empty);
    m_emptyText->setWordWrap(true);
    m_emptyText->setStyleSheet(QStringLiteral("color: rgba(255,255,255,150);"));
    emptyLayout->addWidget(m_emptyText);
    m_empty = empty;
    recents->addWidget(m_empty);
    m_grid = new QWidget(this);
    m_gridLayout = new QGridLayout(m_grid);
    m_gridLayout->setContentsMargins(0, 0, 0, 0);
    m_gridLayout->setHorizontalSpacing(gridSpacing);
    m_gridLayout->setVerticalSpacing(gridSpacing);
    recents->addWidget(m_grid);
    column->addLayout(recents);
    column->addStretch(1);

    connect(&storeSignals, &StoreSignals::changed, this, [this](StoreField field) {
        if (field == StoreField::recentProjects || field == StoreField::appLanguage)
            refresh();
    });
    refresh();
}

int HomeView::columnCount(int width)
{
    return std::max(1, (width + gridSpacing) / (minimumColumnWidth + gridSpacing));
}

void HomeView::refresh()
{
    const AppLanguage language = m_store.appLanguage();
    m_newProject->setText(translated("Nuevo proyecto", language));
    m_openProject->setText(translated("Abrir proyecto", language));
    m_heading->setText(translated("Proyectos recientes", language));
    m_emptyText->setText(translated("Los proyectos creados apareceran aqui automaticamente.", language));
    const auto& recents = m_store.recentProjects();
    m_empty->setVisible(recents.empty());
    m_grid->setVisible(!recents.empty());
    if (recents != m_shown)
        rebuildCards();
    for (RecentProjectCard* card : m_cards)
        card->setLanguage(language);
}

void HomeView::rebuildCards()
{
    for (RecentProjectCard* card : m_cards)
        card->deleteLater();
    m_cards.clear();
    m_shown = m_store.recentProjects();
    for (const RecentProject& recent : m_shown) {
        auto* card = new RecentProjectCard(m_store, recent, m_pictures, m_grid);
        m_cards.push_back(card);
    }
    m_columns = 0;
    layoutCards();
}

void HomeView::layoutCards()
{
    const int columns = columnCount(width() - 48);
    if (columns == m_columns)
        return;
    m_columns = columns;
    for (RecentProjectCard* card : m_cards)
        m_gridLayout->removeWidget(card);
    for (int c = 0; c < m_gridLayout->columnCount(); ++c) {
        m_gridLayout->setColumnStretch(c, 0);
        m_gridLayout->setColumnMinimumWidth(c, 0);
    }
    for (std::size_t i = 0; i < m_cards.size(); ++i)
        m_gridLayout->addWidget(m_cards[i], static_cast<int>(i) / columns, static_cast<int>(i) % columns);
    // Columns share the width even while fewer cards than columns exist.
    for (int c = 0; c < columns; ++c) {
        m_gridLayout->setColumnStretch(c, 1);
        m_gridLayout->setColumnMinimumWidth(c, minimumColumnWidth);
    }
}

QSize HomeView::minimumSizeHint() const
{
    // The cards fall into fewer columns as the view narrows: the columns of the moment hold no
    // width, or a window once made wide could never be narrowed again.
    QSize hint = QWidget::minimumSizeHint();
    hint.setWidth(std::min(hint.width(), minimumColumnWidth + 48));
    return hint;
}

void HomeView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutCards();
}

} // namespace fotivela
