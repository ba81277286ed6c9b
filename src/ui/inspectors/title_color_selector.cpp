#include "ui/inspectors/title_color_selector.h"

#include "model/app_text.h"
#include "platform/hex_color.h"
#include "ui/inspectors/inspector_view.h"
#include "ui/shell/fotivela_design_system.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <cctype>

namespace fotivela {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmedBlanksAndHashes(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    while (!text.empty() && text.front() == '#')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == '#')
        text.remove_suffix(1);
    return text;
}

} // namespace

std::string TitleColorSelector::sanitizedHexDigits(std::string_view text)
{
    std::string digits;
    for (const char c : trimmedBlanksAndHashes(text)) {
        const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if ((upper >= '0' && upper <= '9') || (upper >= 'A' && upper <= 'F'))
            digits.push_back(upper);
        if (digits.size() == 6)
            break;
    }
    return digits;
}

std::optional<std::string> TitleColorSelector::normalizedHexIfValid(std::string_view text)
{
    const std::string digits = sanitizedHexDigits(text);
    if (digits.size() != 6)
        return std::nullopt;
    return "#" + digits;
}

std::string TitleColorSelector::normalizedHex(std::string_view text)
{
    const std::string_view rest = trimmedBlanksAndHashes(text);
    if (rest.size() != 6)
        return "#FFFFFF";
    std::string result = "#";
    for (const char c : rest) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return "#FFFFFF";
        result.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    return result;
}

ColorSwatch::ColorSwatch(int side, int cornerRadius, QWidget* parent)
    : QWidget(parent)
    , m_radius(cornerRadius)
{
    setFixedSize(side, side);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ColorSwatch::setColor(const QColor& color, double opacity)
{
    m_color = color;
    m_opacity = opacity;
    update();
}

void ColorSwatch::setBorder(const QColor& color, int width)
{
    m_border = color;
    m_borderWidth = width;
    update();
}

void ColorSwatch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect());
    QPainterPath shape;
    shape.addRoundedRect(bounds, m_radius, m_radius);
    painter.setOpacity(m_opacity);
    painter.fillPath(shape, m_color);
    // The border keeps full opacity whatever the fill.
    painter.setOpacity(1.0);
    const double inset = m_borderWidth / 2.0;
    QPen pen(m_border, m_borderWidth);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(bounds.adjusted(inset, inset, -inset, -inset), m_radius - inset, m_radius - inset);
}

TitleColorSelector::TitleColorSelector(AppLanguage language, std::string colorHex, SelectHandler onSelect,
                                       QWidget* parent)
    : QWidget(parent)
    , m_language(language)
    , m_colorHex(std::move(colorHex))
    , m_onSelect(std::move(onSelect))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);

    m_caption = new QLabel(this);
    applyCaptionFont(m_caption);
    applySecondaryStyle(m_caption);
    layout->addWidget(m_caption);

    m_button = new QPushButton(this);
    m_button->setObjectName("colorButton");
    m_button->setFlat(true);
    m_button->setStyleSheet(fieldBoxStyle("QPushButton#colorButton"));
    m_button->setMinimumHeight(36);
    auto* row = new QHBoxLayout(m_button);
    row->setContentsMargins(10, 7, 10, 7);
    row->setSpacing(8);
    m_swatch = new ColorSwatch(22, 5, m_button);
    m_swatch->setBorder(QColor(255, 255, 255, 71), 1);
    row->addWidget(m_swatch);
    m_hexLabel = new QLabel(m_button);
    const QFont mono = monospacedSystemFont(TextStyle::caption, QFont::DemiBold);
    m_hexLabel->setFont(mono);
    m_hexLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    row->addWidget(m_hexLabel);
    row->addStretch();
    auto* chevron = new QLabel(m_button);
    chevron->setPixmap(symbolIcon("chevron.down", QColor(255, 255, 255, 140)).pixmap(10, 10));
    chevron->setAttribute(Qt::WA_TransparentForMouseEvents);
    row->addWidget(chevron);
    layout->addWidget(m_button);
    connect(m_button, &QPushButton::clicked, this, [this] { togglePopover(); });

    m_popover = new QFrame(this, Qt::Popup);
    m_popover->setObjectName("colorPopover");
    m_popover->setFixedWidth(220);
    auto* popoverLayout = new QVBoxLayout(m_popover);
    popoverLayout->setContentsMargins(14, 14, 14, 14);
    popoverLayout->setSpacing(12);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(8);
    for (std::size_t index = 0; index < paletteColors.size(); ++index) {
        auto* entry = new QPushButton(m_popover);
        entry->setFixedSize(30, 30);
        entry->setToolTip(QString::fromLatin1(paletteColors[index].data(), static_cast<int>(paletteColors[index].size())));
        connect(entry, &QPushButton::clicked, this, [this, index] { choosePreset(index); });
        grid->addWidget(entry, static_cast<int>(index / 5), static_cast<int>(index % 5));
        m_paletteButtons[index] = entry;
    }
    grid->setAlignment(Qt::AlignHCenter);
    popoverLayout->addLayout(grid);

    auto* entryRow = new QHBoxLayout;
    entryRow->setSpacing(8);
    auto* entryBox = new QFrame(m_popover);
    entryBox->setObjectName("hexBox");
    entryBox->setStyleSheet(fieldBoxStyle("QFrame#hexBox"));
    auto* boxRow = new QHBoxLayout(entryBox);
    boxRow->setContentsMargins(8, 5, 8, 5);
    boxRow->setSpacing(2);
    auto* hash = new QLabel("#", entryBox);
    hash->setFont(mono);
    applySecondaryStyle(hash);
    boxRow->addWidget(hash);
    m_hexField = new QLineEdit(entryBox);
    m_hexField->setFrame(false);
    m_hexField->setPlaceholderText("FFFFFF");
    m_hexField->setFont(mono);
    m_hexField->setStyleSheet("QLineEdit { background: transparent; border: none; }");
    // Room for all six digits, the line edit's own margins and the cursor.
    m_hexField->setMinimumWidth(QFontMetrics(mono).horizontalAdvance(QStringLiteral("WWWWWW")) + 8);
    boxRow->addWidget(m_hexField);
    entryRow->addWidget(entryBox, 1);
    m_draftSwatch = new ColorSwatch(30, 7, m_popover);
    m_draftSwatch->setBorder(QColor(255, 255, 255, 56), 1);
    entryRow->addWidget(m_draftSwatch);
    m_applyButton = new QPushButton(m_popover);
    applyProminentStyle(m_applyButton);
    m_applyButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    entryRow->addWidget(m_applyButton);
    popoverLayout->addLayout(entryRow);

    connect(m_hexField, &QLineEdit::textEdited, this, [this](const QString& edited) { setDraftText(edited); });
    connect(m_hexField, &QLineEdit::returnPressed, this, [this] { applyDraftHex(); });
    connect(m_applyButton, &QPushButton::clicked, this, [this] { applyDraftHex(); });
    // A click outside closes the popup behind our back.
    m_popover->installEventFilter(this);

    refresh();
}

TitleColorSelector::~TitleColorSelector() = default;

bool TitleColorSelector::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_popover && event->type() == QEvent::Hide)
        m_isPresented = false;
    return QWidget::eventFilter(watched, event);
}

void TitleColorSelector::setColorHex(const std::string& colorHex)
{
    if (colorHex == m_colorHex)
        return;
    m_colorHex = colorHex;
    refresh();
}

void TitleColorSelector::setLanguage(AppLanguage language)
{
    m_language = language;
    refresh();
}

void TitleColorSelector::setDraftText(const QString& text)
{
    m_draftHex = sanitizedHexDigits(text.toStdString());
    refreshPopover();
}

void TitleColorSelector::togglePopover()
{
    m_draftHex = sanitizedHexDigits(normalizedHex(m_colorHex));
    m_isPresented = !m_isPresented;
    refreshPopover();
    if (m_isPresented) {
        m_popover->adjustSize();
        // Beside the button, moved up as far as needed to stay inside the window.
        QPoint anchor = m_button->mapToGlobal(QPoint(m_button->width(), 0));
        const QWidget* top = window();
        const QRect bounds(top->mapToGlobal(QPoint(0, 0)), top->size());
        anchor.setY(std::max(bounds.top(), std::min(anchor.y(), bounds.bottom() + 1 - m_popover->height())));
        anchor.setX(std::max(bounds.left(), std::min(anchor.x(), bounds.right() + 1 - m_popover->width())));
        m_popover->move(anchor);
        m_popover->show();
        m_hexField->setFocus();
    } else {
        m_popover->hide();
    }
}

void TitleColorSelector::choosePreset(std::size_t index)
{
    const std::string chosen = normalizedHex(paletteColors.at(index));
    m_draftHex = sanitizedHexDigits(normalizedHex(chosen));
    refreshPopover();
    // The creator may replace this selector while handling the choice.
    const auto onSelect = m_onSelect;
    onSelect(chosen);
}

void TitleColorSelector::applyDraftHex()
{
    const auto chosen = normalizedHexIfValid(m_draftHex);
    if (!chosen)
        return;
    m_draftHex = sanitizedHexDigits(normalizedHex(*chosen));
    refreshPopover();
    m_isPresented = false;
    m_popover->hide();
    const auto onSelect = m_onSelect;
    onSelect(*chosen);
}

void TitleColorSelector::refresh()
{
    m_caption->setText(translated(m_language, "Color"));
    m_applyButton->setText(translated(m_language, "Aplicar"));
    m_swatch->setColor(colorFromHex(m_colorHex));
    m_hexLabel->setText(QString::fromStdString(normalizedHex(m_colorHex)));
    refreshPopover();
}

void TitleColorSelector::refreshPopover()
{
    const std::string selected = normalizedHex(m_colorHex);
    const QColor& accent = AppTheme::accent();
    for (std::size_t index = 0; index < paletteColors.size(); ++index) {
        const bool isSelected = normalizedHex(paletteColors[index]) == selected;
        const QColor fill = colorFromHex(paletteColors[index]);
        m_paletteButtons[index]->setStyleSheet(
            QString("QPushButton { background: %1; border-radius: 7px; border: 2px solid %2; }")
                .arg(fill.name(), isSelected ? accent.name() : QString("rgba(255,255,255,0.18)")));
        m_paletteButtons[index]->setProperty("selectedPreset", isSelected);
    }
    const QString draft = QString::fromStdString(m_draftHex);
    if (m_hexField->text() != draft)
        m_hexField->setText(draft);
    const auto valid = normalizedHexIfValid(m_draftHex);
    m_draftSwatch->setColor(colorFromHex(valid.value_or("#FFFFFF")), valid ? 1.0 : 0.35);
    m_applyButton->setEnabled(valid.has_value());
}

} // namespace fotivela
