#include "ui/inspectors/title_editor_section.h"

#include "ui/inspectors/slide_title_controls.h"

#include <QButtonGroup>
#include "ui/shell/fotivela_design_system.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace fotivela {

TitleScreenDestinationPicker::TitleScreenDestinationPicker(QString title, QString existingTitle, AppLanguage language,
                                                           std::function<void(bool)> setUsesGeneratedSlide,
                                                           QWidget* parent)
    : QWidget(parent)
    , m_write(std::move(setUsesGeneratedSlide))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    m_caption = new QLabel(this);
    applyCaptionFont(m_caption, true);
    applySecondaryStyle(m_caption);
    layout->addWidget(m_caption);

    auto* segments = new QHBoxLayout;
    segments->setSpacing(0);
    m_generated = new QPushButton(this);
    m_existing = new QPushButton(this);
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    for (QPushButton* segment : {m_generated, m_existing}) {
        segment->setCheckable(true);
        segment->setStyleSheet("QPushButton { background: rgba(255,255,255,0.06); border: 1px solid rgba(255,255,255,0.12); "
                               "padding: 4px 2px; } QPushButton:checked { background: rgba(255,255,255,0.24); }");
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        segment->setMinimumWidth(0);
        applyCaptionFont(segment, true);
        group->addButton(segment);
        segments->addWidget(segment);
    }
    layout->addLayout(segments);
    // clicked, not toggled: only a user's choice writes, and a click on the chosen
    // segment is not one.
    connect(m_generated, &QPushButton::clicked, this, [this] { choose(true); });
    connect(m_existing, &QPushButton::clicked, this, [this] { choose(false); });
    setTexts(title, existingTitle, language);
}

void TitleScreenDestinationPicker::setTexts(const QString& title, const QString& existingTitle, AppLanguage language)
{
    m_caption->setText(title);
    m_generated->setText(QString::fromStdString(AppText::translate("Diapositiva nueva", language)));
    m_existing->setText(existingTitle);
    setAccessibleName(title);
}

void TitleScreenDestinationPicker::setUsesGeneratedSlide(bool value)
{
    m_usesGeneratedSlide = value;
    m_generated->setChecked(value);
    m_existing->setChecked(!value);
}

void TitleScreenDestinationPicker::choose(bool usesGeneratedSlide)
{
    if (usesGeneratedSlide == m_usesGeneratedSlide)
        return;
    const auto write = m_write;
    write(usesGeneratedSlide);
    // The store may keep things as they were and stay silent: show what it holds.
    setUsesGeneratedSlide(m_usesGeneratedSlide);
}

TitleEditorSection::TitleEditorSection(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent)
    : InspectorView(store, storeSignals, parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);
    m_heading = new QLabel(this);
    layout->addWidget(m_heading);
    buildBlock(m_opening);
    buildBlock(m_closing);
    refresh();
}

void TitleEditorSection::buildBlock(Block& block)
{
    auto* layout = static_cast<QVBoxLayout*>(this->layout());
    const TitleSlidePlacement placement = block.placement;
    block.toggle = new QCheckBox(this);
    fotivelaCheckbox(block.toggle);
    layout->addWidget(block.toggle);
    connect(block.toggle, &QCheckBox::toggled, this, [this, placement](bool on) {
        if (on)
            store().setTitleScreenMode(placement, true);
        else
            store().disableTitleScreen(placement);
    });

    block.body = new QWidget(this);
    auto* bodyLayout = new QVBoxLayout(block.body);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    bodyLayout->setSpacing(10);
    block.picker = new TitleScreenDestinationPicker({}, {}, store().appLanguage(), [this, placement](bool generated) {
        store().setTitleScreenMode(placement, generated);
    }, block.body);
    bodyLayout->addWidget(block.picker);

    Block* target = &block;
    block.controls = new SlideTitleControls(
        {}, store().appLanguage(), Slide{},
        [this, target] {
            if (target->editedSlideID)
                store().selectOnlyTimelineSlide(*target->editedSlideID);
        },
        [this, target](const SlideTitleControls::Mutation& mutation) {
            store().updateSlideTitle(target->editedSlideID, mutation);
        },
        block.body);
    bodyLayout->addWidget(block.controls);
    layout->addWidget(block.body);
}

void TitleEditorSection::refresh()
{
    m_heading->setText(text("Titulo"));
    refreshBlock(m_opening);
    refreshBlock(m_closing);
}

void TitleEditorSection::refreshBlock(Block& block)
{
    const bool opening = block.placement == TitleSlidePlacement::initial;
    ProjectStore& s = store();
    const bool enabled = opening ? s.hasInitialTitleScreen() : s.hasFinalTitleScreen();
    {
        const QSignalBlocker blocker(block.toggle);
        block.toggle->setChecked(enabled);
    }
    block.toggle->setText(text(opening ? "Pantalla inicial" : "Pantalla final"));
    block.body->setVisible(enabled);
    if (!enabled) {
        block.editedSlideID.reset();
        return;
    }

    const std::optional<Slide> generated = opening ? s.initialTitleSlide() : s.finalTitleSlide();
    const std::optional<Slide> photo = opening ? s.firstContentSlide() : s.lastContentSlide();
    const QString existingTitle = text(opening ? "Primera diapositiva" : "Ultima diapositiva");
    block.picker->setTexts(text(opening ? "Destino inicial" : "Destino final"), existingTitle, s.appLanguage());
    block.picker->setUsesGeneratedSlide(generated.has_value());

    const std::optional<Slide>& edited = generated ? generated : photo;
    block.controls->setVisible(edited.has_value());
    if (!edited) {
        block.editedSlideID.reset();
        return;
    }
    block.editedSlideID = edited->id;
    block.controls->setTitle(generated ? text(opening ? "Pantalla nueva inicial" : "Pantalla nueva final")
                                       : existingTitle);
    block.controls->setLanguage(s.appLanguage());
    block.controls->setSlide(*edited);
}

} // namespace fotivela
