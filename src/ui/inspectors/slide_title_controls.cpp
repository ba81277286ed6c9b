#include "ui/inspectors/slide_title_controls.h"

#include "model/app_text.h"
#include "ui/shell/fotivela_design_system.h"
#include "ui/inspectors/inspector_view.h"
#include "ui/inspectors/title_color_selector.h"

#include <QAction>
#include <QCheckBox>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace fotivela {

namespace {

QString designName(TitleFontDesign design)
{
    const std::string_view name = toStored(design);
    return QString::fromUtf8(name.data(), static_cast<int>(name.size()));
}

QFont designFont(TitleFontDesign design)
{
    QFont face = font(design, 14, QFont::DemiBold);
    if (design != TitleFontDesign::default_ && design != TitleFontDesign::rounded)
        return face;
    // Our system face is drawn larger and wider than the platform's at the same size (its
    // x-height is 0.55 of the size against 0.52), so at 14 its name towers over the others.
    // Sized to the platform face's x-height it sits among them. Measured large, where hinting
    // does not round the height.
    constexpr double platformXHeight = 0.52;
    QFont probe = face;
    setFontSize(probe, 200);
    const double xHeight = QFontMetricsF(probe).xHeight() / 200;
    if (xHeight > platformXHeight)
        setFontSize(face, std::round(14 * platformXHeight / xHeight));
    return face;
}

} // namespace

TitleFontMenu::TitleFontMenu(AppLanguage language, TitleFontDesign selection, SelectHandler onSelect, QWidget* parent)
    : QWidget(parent)
    , m_language(language)
    , m_selection(selection)
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
    m_button->setObjectName("fontButton");
    m_button->setFlat(true);
    m_button->setStyleSheet(fieldBoxStyle("QPushButton#fontButton")
                            + "QPushButton#fontButton::menu-indicator { image: none; width: 0; }");
    auto* row = new QHBoxLayout(m_button);
    row->setContentsMargins(10, 7, 10, 7);
    row->setSpacing(8);
    m_nameLabel = new QLabel(m_button);
    m_nameLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    row->addWidget(m_nameLabel);
    row->addStretch();
    auto* chevron = new QLabel(m_button);
    chevron->setPixmap(symbolIcon("chevron.down", QColor(255, 255, 255, 140)).pixmap(10, 10));
    chevron->setAttribute(Qt::WA_TransparentForMouseEvents);
    row->addWidget(chevron);
    m_button->setMinimumHeight(36);
    layout->addWidget(m_button);

    m_menu = new QMenu(this);
    for (const auto& [design, name] : StoredEnum<TitleFontDesign>::table) {
        QAction* action = m_menu->addAction(QString::fromUtf8(name.data(), static_cast<int>(name.size())));
        action->setFont(designFont(design));
        action->setCheckable(true);
        action->setData(static_cast<int>(design));
        const TitleFontDesign chosen = design;
        connect(action, &QAction::triggered, this, [this, chosen] {
            const auto onSelect = m_onSelect;
            onSelect(chosen);
        });
    }
    m_button->setMenu(m_menu);
    // A drop-down as wide as the field it opens from, never narrower.
    connect(m_menu, &QMenu::aboutToShow, this, [this] { m_menu->setMinimumWidth(m_button->width()); });
    refresh();
}

void TitleFontMenu::setLanguage(AppLanguage language)
{
    m_language = language;
    refresh();
}

void TitleFontMenu::setSelection(TitleFontDesign selection)
{
    m_selection = selection;
    refresh();
}

void TitleFontMenu::refresh()
{
    m_caption->setText(translated(m_language, "Tipografía"));
    m_nameLabel->setText(designName(m_selection));
    m_nameLabel->setFont(designFont(m_selection));
    for (QAction* action : m_menu->actions()) {
        const QSignalBlocker blocker(action);
        action->setChecked(action->data().toInt() == static_cast<int>(m_selection));
    }
}

SlideTitleControls::SlideTitleControls(QString title, AppLanguage language, Slide slide,
                                       std::function<void()> onActivate, std::function<void(const Mutation&)> update,
                                       QWidget* parent)
    : QFrame(parent)
    , m_title(std::move(title))
    , m_language(language)
    , m_slide(std::move(slide))
    , m_onActivate(std::move(onActivate))
    , m_update(std::move(update))
{
    setObjectName("titleCard");
    setStyleSheet("QFrame#titleCard { background: rgba(255,255,255,0.055); border: 1px solid rgba(255,255,255,0.12); "
                  "border-radius: 10px; }");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);

    m_heading = new QLabel(this);
    applyCaptionFont(m_heading);
    QFont headingFont = m_heading->font();
    headingFont.setBold(true);
    m_heading->setFont(headingFont);
    layout->addWidget(m_heading);

    m_textField = new QLineEdit(this);
    layout->addWidget(m_textField);
    connect(m_textField, &QLineEdit::textEdited, this, [this](const QString& text) {
        const std::string value = text.toStdString();
        change([value](Slide& slide) { slide.title = value; });
    });

    auto* sizeRow = new QHBoxLayout;
    m_sizeCaption = new QLabel(this);
    applyCaptionFont(m_sizeCaption);
    m_sizeValue = new QLabel(this);
    applyCaptionFont(m_sizeValue);
    applySecondaryStyle(m_sizeValue);
    sizeRow->addWidget(m_sizeCaption);
    sizeRow->addStretch();
    sizeRow->addWidget(m_sizeValue);
    layout->addLayout(sizeRow);

    m_sizeSlider = new QSlider(Qt::Horizontal, this);
    m_sizeSlider->setRange(18, 96);
    m_sizeSlider->setSingleStep(1);
    m_sizeSlider->setPageStep(1);
    layout->addWidget(m_sizeSlider);
    connect(m_sizeSlider, &QSlider::valueChanged, this, [this](int value) {
        const double size = value;
        change([size](Slide& slide) { slide.titleFontSize = size; });
    });

    m_colorSelector = new TitleColorSelector(m_language, m_slide.titleColorHex, [this](const std::string& hex) {
        change([hex](Slide& slide) { slide.titleColorHex = hex; });
    }, this);
    layout->addWidget(m_colorSelector);

    m_fontMenu = new TitleFontMenu(m_language, m_slide.titleFontDesign, [this](TitleFontDesign design) {
        change([design](Slide& slide) { slide.titleFontDesign = design; });
    }, this);
    layout->addWidget(m_fontMenu);

    m_background = new QCheckBox(this);
    fotivelaCheckbox(m_background);
    layout->addWidget(m_background);
    connect(m_background, &QCheckBox::toggled, this, [this](bool on) {
        change([on](Slide& slide) { slide.titleHasBackground = on; });
    });

    // A press anywhere on the card selects its slide, also inside a field or on a slider
    // that takes the press for itself.
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);

    refresh();
}

bool SlideTitleControls::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress)
        activateSoon();
    return QFrame::eventFilter(watched, event);
}

void SlideTitleControls::activateSoon()
{
    // After the press is delivered (the selection may rebuild what holds this card), and once
    // however many widgets the press passes through on its way up.
    if (m_activationQueued)
        return;
    m_activationQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_activationQueued = false;
            const auto onActivate = m_onActivate;
            onActivate();
        },
        Qt::QueuedConnection);
}

void SlideTitleControls::change(const Mutation& mutation)
{
    // Either callback may rebuild the section that owns this card.
    const auto onActivate = m_onActivate;
    const auto update = m_update;
    m_isChanging = true;
    onActivate();
    update(mutation);
    m_isChanging = false;
    refresh();
}

void SlideTitleControls::mousePressEvent(QMouseEvent* event)
{
    activateSoon();
    QFrame::mousePressEvent(event);
}

void SlideTitleControls::setSlide(const Slide& slide)
{
    m_slide = slide;
    refresh();
}

void SlideTitleControls::setTitle(const QString& title)
{
    m_title = title;
    refresh();
}

void SlideTitleControls::setLanguage(AppLanguage language)
{
    m_language = language;
    m_colorSelector->setLanguage(language);
    m_fontMenu->setLanguage(language);
    refresh();
}

void SlideTitleControls::refresh()
{
    m_heading->setText(m_title);
    m_textField->setPlaceholderText(translated(m_language, "Texto"));
    m_sizeCaption->setText(translated(m_language, "Tamaño"));
    m_background->setText(translated(m_language, "Fondo del titulo"));
    m_sizeValue->setText(QString::number(displayInteger(m_slide.titleFontSize)));
    if (m_isChanging)
        return;
    const QString titleText = QString::fromStdString(m_slide.title);
    if (m_textField->text() != titleText) {
        const QSignalBlocker blocker(m_textField);
        m_textField->setText(titleText);
    }
    {
        const QSignalBlocker blocker(m_sizeSlider);
        const double size = std::isfinite(m_slide.titleFontSize) ? m_slide.titleFontSize : 18.0;
        m_sizeSlider->setValue(static_cast<int>(std::lround(std::clamp(size, 18.0, 96.0))));
    }
    m_colorSelector->setColorHex(m_slide.titleColorHex);
    m_fontMenu->setSelection(m_slide.titleFontDesign);
    {
        const QSignalBlocker blocker(m_background);
        m_background->setChecked(m_slide.titleHasBackground);
    }
}

} // namespace fotivela
