#pragma once

#include "ui/inspectors/inspector_view.h"

#include <QColor>

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace fotivela {

class KenBurnsControls;
class TitleEditorSection;
class ColorSwatch;
class ElidedLabel;

// The stored background colour as shown: "#RRGGBB" upper case, or "#000000" for anything else.
std::string normalizedBackgroundHex(const std::optional<std::string>& stored);

// Photos and the settings that apply to every picture of the slideshow.
class PhotosInspector : public InspectorView {
public:
    PhotosInspector(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent = nullptr);
    void refresh() override;

    // The photo panel; an empty list is a cancelled panel.
    std::function<std::vector<std::filesystem::path>()> choosePhotos;
    // The colour panel, without opacity; none when cancelled.
    std::function<std::optional<QColor>(const QColor& initial)> chooseColor;

    QPushButton* importButton() const { return m_importButton; }
    QCheckBox* fillToggle() const { return m_fillToggle; }
    QPushButton* colorWell() const { return m_colorWell; }
    ColorSwatch* colorSwatch() const { return m_colorSwatch; }
    QLabel* emptyMessage() const { return m_emptyMessage; }
    QWidget* editingBlock() const { return m_editingBlock; }
    QWidget* selectedSlideRow() const { return m_selectedRow; }
    ElidedLabel* selectedSlideName() const { return m_selectedName; }
    QComboBox* transitionPicker() const { return m_transition; }
    KenBurnsControls* kenBurns() const { return m_kenBurns; }
    TitleEditorSection* titles() const { return m_titles; }

private:
    QPushButton* m_importButton = nullptr;
    QCheckBox* m_fillToggle = nullptr;
    QLabel* m_colorCaption = nullptr;
    QPushButton* m_colorWell = nullptr;
    ColorSwatch* m_colorSwatch = nullptr;
    QLabel* m_emptyMessage = nullptr;
    QWidget* m_editingBlock = nullptr;
    QWidget* m_selectedRow = nullptr;
    QLabel* m_selectedCaption = nullptr;
    ElidedLabel* m_selectedName = nullptr;
    QLabel* m_transitionCaption = nullptr;
    QComboBox* m_transition = nullptr;
    KenBurnsControls* m_kenBurns = nullptr;
    TitleEditorSection* m_titles = nullptr;
};

} // namespace fotivela
