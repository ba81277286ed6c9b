#pragma once

#include "model/slide_edit_kinds.h"
#include "ui/inspectors/inspector_view.h"

#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;

namespace fotivela {

class SlideTitleControls;

// Chooses where a title screen lives: a generated slide of its own, or the first/last photo.
class TitleScreenDestinationPicker : public QWidget {
public:
    TitleScreenDestinationPicker(QString title, QString existingTitle, AppLanguage language,
                                 std::function<void(bool)> setUsesGeneratedSlide, QWidget* parent = nullptr);

    void setTexts(const QString& title, const QString& existingTitle, AppLanguage language);
    void setUsesGeneratedSlide(bool value);
    bool usesGeneratedSlide() const { return m_usesGeneratedSlide; }

    QPushButton* generatedSegment() const { return m_generated; }
    QPushButton* existingSegment() const { return m_existing; }

private:
    void choose(bool usesGeneratedSlide);

    bool m_usesGeneratedSlide = false;
    std::function<void(bool)> m_write;
    QLabel* m_caption = nullptr;
    QPushButton* m_generated = nullptr;
    QPushButton* m_existing = nullptr;
};

// The opening and closing title screens of the photos inspector.
class TitleEditorSection : public InspectorView {
public:
    TitleEditorSection(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent = nullptr);

    void refresh() override;

    struct Block {
        TitleSlidePlacement placement;
        QCheckBox* toggle = nullptr;
        QWidget* body = nullptr;
        TitleScreenDestinationPicker* picker = nullptr;
        SlideTitleControls* controls = nullptr;
        std::optional<Uuid> editedSlideID;
    };
    const Block& opening() const { return m_opening; }
    const Block& closing() const { return m_closing; }

private:
    void buildBlock(Block& block);
    void refreshBlock(Block& block);

    QLabel* m_heading = nullptr;
    Block m_opening{TitleSlidePlacement::initial};
    Block m_closing{TitleSlidePlacement::final};
};

} // namespace fotivela
