#include "ui/inspectors/photos_inspector.h"

#include "platform/hex_color.h"
#include "ui/common/start_folders.h"
#include "ui/inspectors/elided_label.h"
#include "ui/inspectors/ken_burns_controls.h"
#include "ui/inspectors/title_color_selector.h"
#include "ui/inspectors/title_editor_section.h"

#include "ui/shell/fotivela_design_system.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <cctype>

namespace fotivela {

namespace {

std::vector<std::filesystem::path> showPhotoPanel(QWidget* parent, const QString& title, const QString& filterName)
{
    const QStringList files = QFileDialog::getOpenFileNames(
        parent, title, StartFolders::pictures(),
        filterName + " (*.jpg *.jpeg *.png *.heic *.heif *.tif *.tiff *.bmp *.webp *.gif)");
    std::vector<std::filesystem::path> urls;
    for (const QString& file : files)
        urls.emplace_back(file.toStdString());
    return urls;
}

} // namespace

std::string normalizedBackgroundHex(const std::optional<std::string>& stored)
{
    const std::string value = stored.value_or("#000000");
    if (value.size() != 7 || value[0] != '#')
        return "#000000";
    std::string result = "#";
    for (std::size_t index = 1; index < 7; ++index) {
        const auto c = static_cast<unsigned char>(value[index]);
        if (!std::isxdigit(c))
            return "#000000";
        result.push_back(static_cast<char>(std::toupper(c)));
    }
    return result;
}

PhotosInspector::PhotosInspector(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent)
    : InspectorView(store, storeSignals, parent)
{
    choosePhotos = [this] { return showPhotoPanel(this, text("Cargar fotos"), text("Imágenes")); };
    chooseColor = [this](const QColor& initial) -> std::optional<QColor> {
        const QColor chosen = QColorDialog::getColor(initial, this, text("Color de fondo"));
        if (!chosen.isValid())
            return std::nullopt;
        return chosen;
    };

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);

    m_importButton = new QPushButton(this);
    m_importButton->setIcon(symbolIcon("photo.badge.plus", Qt::black));
    applyProminentStyle(m_importButton);
    layout->addWidget(m_importButton);
    connect(m_importButton, &QPushButton::clicked, this, [this] {
        const auto urls = choosePhotos();
        if (!urls.empty())
            this->store().importPhotos(urls);
    });

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);

    m_fillToggle = new QCheckBox(this);

    fotivelaCheckbox(m_fillToggle);
    layout->addWidget(m_fillToggle);
    connect(m_fillToggle, &QCheckBox::toggled, this, [this](bool on) { this->store().setFillPhotosToScreen(on); });

    auto* colorRow = new QHBoxLayout;
    m_colorCaption = new QLabel(this);
    colorRow->addWidget(m_colorCaption);
    colorRow->addStretch();
    m_colorWell = new QPushButton(this);
    m_colorWell->setFixedSize(44, 24);
    auto* wellLayout = new QHBoxLayout(m_colorWell);
    wellLayout->setContentsMargins(4, 3, 4, 3);
    m_colorSwatch = new ColorSwatch(18, 4, m_colorWell);
    m_colorSwatch->setFixedSize(36, 18);
    wellLayout->addWidget(m_colorSwatch);
    colorRow->addWidget(m_colorWell);
    layout->addLayout(colorRow);
    connect(m_colorWell, &QPushButton::clicked, this, [this] {
        const QColor current = colorFromHex(normalizedBackgroundHex(this->store().project().backgroundColorHex));
        if (const auto chosen = chooseColor(current))
            this->store().setBackgroundColor(*chosen);
    });

    m_emptyMessage = new QLabel(this);
    m_emptyMessage->setWordWrap(true);
    applySecondaryStyle(m_emptyMessage);
    layout->addWidget(m_emptyMessage);

    m_editingBlock = new QWidget(this);
    auto* blockLayout = new QVBoxLayout(m_editingBlock);
    blockLayout->setContentsMargins(0, 0, 0, 0);
    blockLayout->setSpacing(14);

    m_selectedRow = new QWidget(m_editingBlock);
    auto* selectedLayout = new QHBoxLayout(m_selectedRow);
    selectedLayout->setContentsMargins(0, 0, 0, 0);
    m_selectedCaption = new QLabel(m_selectedRow);
    m_selectedName = new ElidedLabel(Qt::ElideMiddle, m_selectedRow);
    applySecondaryStyle(m_selectedName);
    selectedLayout->addWidget(m_selectedCaption);
    selectedLayout->addStretch();
    selectedLayout->addWidget(m_selectedName, 1);
    blockLayout->addWidget(m_selectedRow);

    auto* transitionRow = new QHBoxLayout;
    m_transitionCaption = new QLabel(m_editingBlock);
    m_transition = new QComboBox(m_editingBlock);
    for (const auto& [transition, name] : StoredEnum<SlideTransition>::table)
        m_transition->addItem(QString(), static_cast<int>(transition));
    transitionRow->addWidget(m_transitionCaption);
    transitionRow->addWidget(m_transition, 1);
    blockLayout->addLayout(transitionRow);
    connect(m_transition, &QComboBox::activated, this, [this](int index) {
        this->store().applyTransitionToAllSlides(static_cast<SlideTransition>(m_transition->itemData(index).toInt()));
    });

    m_kenBurns = new KenBurnsControls(store, storeSignals, m_editingBlock);
    blockLayout->addWidget(m_kenBurns);
    m_titles = new TitleEditorSection(store, storeSignals, m_editingBlock);
    blockLayout->addWidget(m_titles);
    layout->addWidget(m_editingBlock);
    layout->addStretch();
    refresh();
}

void PhotosInspector::refresh()
{
    const ProjectStore& s = store();
    const FotivelaProject& project = s.project();
    m_importButton->setText(text("Cargar fotos"));
    m_fillToggle->setText(text("Ajustar fotos a pantalla"));
    {
        const QSignalBlocker blocker(m_fillToggle);
        m_fillToggle->setChecked(project.fillPhotosToScreen.value_or(false));
    }
    m_colorCaption->setText(text("Color de fondo"));
    m_colorSwatch->setColor(colorFromHex(normalizedBackgroundHex(project.backgroundColorHex)));

    const bool hasEditable = !s.editableSlides().empty();
    m_emptyMessage->setText(text("Importa fotos o selecciona miniaturas en el timeline para editar."));
    m_emptyMessage->setVisible(!hasEditable);
    m_editingBlock->setVisible(hasEditable);
    if (!hasEditable)
        return;

    const auto selected = s.selectedSlide();
    m_selectedRow->setVisible(selected.has_value());
    m_selectedCaption->setText(text("Diapositiva seleccionada"));
    // A generated title screen's stored name is the system's own text: shown in the interface's language.
    QString selectedName;
    if (selected)
        selectedName = selected->isGeneratedTitleSlide ? text(selected->name) : QString::fromStdString(selected->name);
    m_selectedName->setFullText(selectedName);

    m_transitionCaption->setText(text("Transicion global"));
    const SlideTransition shown = project.slides.empty() ? SlideTransition::cut : project.slides.front().transition;
    const QSignalBlocker blocker(m_transition);
    for (int index = 0; index < m_transition->count(); ++index) {
        const auto transition = static_cast<SlideTransition>(m_transition->itemData(index).toInt());
        const std::string_view label = toStored(transition);
        m_transition->setItemText(index, text(label));
        if (transition == shown)
            m_transition->setCurrentIndex(index);
    }
}

} // namespace fotivela
