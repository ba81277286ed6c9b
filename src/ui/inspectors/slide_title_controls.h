#pragma once

#include "model/app_language.h"
#include "model/slide.h"

#include <QFrame>
#include <QString>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSlider;

namespace fotivela {

class TitleColorSelector;

// The font chooser of a title card: a drop-down over the twelve title fonts, each named
// in its own face, the current one checked.
class TitleFontMenu : public QWidget {
public:
    using SelectHandler = std::function<void(TitleFontDesign)>;

    TitleFontMenu(AppLanguage language, TitleFontDesign selection, SelectHandler onSelect, QWidget* parent = nullptr);

    void setLanguage(AppLanguage language);
    void setSelection(TitleFontDesign selection);

    QPushButton* button() const { return m_button; }
    QMenu* menu() const { return m_menu; }

private:
    void refresh();

    AppLanguage m_language;
    TitleFontDesign m_selection;
    SelectHandler m_onSelect;
    QLabel* m_caption = nullptr;
    QPushButton* m_button = nullptr;
    QLabel* m_nameLabel = nullptr;
    QMenu* m_menu = nullptr;
};

// Edits one slide's title: text, size, colour, font and background. It works on a copy
// of the slide and reports each change as "activate, then apply this one-field change".
class SlideTitleControls : public QFrame {
public:
    using Mutation = std::function<void(Slide&)>;

    SlideTitleControls(QString title, AppLanguage language, Slide slide, std::function<void()> onActivate,
                       std::function<void(const Mutation&)> update, QWidget* parent = nullptr);

    // A fresh copy after the store changed; controls follow without writing back.
    void setSlide(const Slide& slide);
    void setTitle(const QString& title);
    void setLanguage(AppLanguage language);
    const Slide& slide() const { return m_slide; }

    QLineEdit* textField() const { return m_textField; }
    QSlider* sizeSlider() const { return m_sizeSlider; }
    QLabel* sizeLabel() const { return m_sizeValue; }
    QCheckBox* backgroundToggle() const { return m_background; }
    TitleColorSelector* colorSelector() const { return m_colorSelector; }
    TitleFontMenu* fontMenu() const { return m_fontMenu; }
    QLabel* heading() const { return m_heading; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void change(const Mutation& mutation);
    void activateSoon();
    void refresh();

    QString m_title;
    bool m_activationQueued = false;
    // Set while a change goes out: the store echoes the old value first, which must not
    // overwrite what the user is typing or dragging.
    bool m_isChanging = false;
    AppLanguage m_language;
    Slide m_slide;
    std::function<void()> m_onActivate;
    std::function<void(const Mutation&)> m_update;

    QLabel* m_heading = nullptr;
    QLineEdit* m_textField = nullptr;
    QLabel* m_sizeCaption = nullptr;
    QLabel* m_sizeValue = nullptr;
    QSlider* m_sizeSlider = nullptr;
    TitleColorSelector* m_colorSelector = nullptr;
    TitleFontMenu* m_fontMenu = nullptr;
    QCheckBox* m_background = nullptr;
};

} // namespace fotivela
