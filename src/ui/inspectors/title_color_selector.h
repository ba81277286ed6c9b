#pragma once

#include "model/app_language.h"

#include <QFrame>
#include <QString>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

class QLabel;
class QLineEdit;
class QPushButton;
class QGridLayout;

namespace fotivela {

class ColorSwatch;

// Picks the colour of a slide title: a swatch with its hex text that opens a popup with
// preset colours and a six-digit hex field. It reports "#" and six upper-case digits
// through onSelect and never writes a slide itself.
class TitleColorSelector : public QWidget {
public:
    using SelectHandler = std::function<void(const std::string&)>;

    // The preset colours, in the order of the grid.
    static constexpr std::array<std::string_view, 15> paletteColors{
        "#FFFFFF", "#F7F2E8", "#FFE27A", "#FFB02E", "#FF5A5F", "#FF7AB6", "#C071FF", "#6E7BFF",
        "#4CC9F0", "#44D7B6", "#7ED957", "#222222", "#8E8E93", "#B8C0CC", "#2E3440",
    };

    TitleColorSelector(AppLanguage language, std::string colorHex, SelectHandler onSelect, QWidget* parent = nullptr);
    ~TitleColorSelector() override;

    // The creator's new values after a change of the slide.
    void setColorHex(const std::string& colorHex);
    void setLanguage(AppLanguage language);

    // "#RRGGBB" upper case when the text (trimmed, hash signs off both ends) is exactly six
    // hex digits, else "#FFFFFF".
    static std::string normalizedHex(std::string_view text);
    // At most six upper-case hex digits picked out of the text, in order.
    static std::string sanitizedHexDigits(std::string_view text);
    static std::optional<std::string> normalizedHexIfValid(std::string_view text);

    void applyDraftHex();
    void togglePopover();

    bool isPresented() const { return m_isPresented; }
    const std::string& draftHex() const { return m_draftHex; }
    void setDraftText(const QString& text);
    QPushButton* button() const { return m_button; }
    QLabel* hexLabel() const { return m_hexLabel; }
    QPushButton* applyButton() const { return m_applyButton; }
    QLineEdit* hexField() const { return m_hexField; }
    QPushButton* paletteButton(std::size_t index) const { return m_paletteButtons.at(index); }
    QWidget* popover() const { return m_popover; }
    ColorSwatch* draftSwatch() const { return m_draftSwatch; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void choosePreset(std::size_t index);
    void refresh();
    void refreshPopover();

    AppLanguage m_language;
    std::string m_colorHex;
    SelectHandler m_onSelect;
    bool m_isPresented = false;
    std::string m_draftHex;

    QLabel* m_caption = nullptr;
    QPushButton* m_button = nullptr;
    ColorSwatch* m_swatch = nullptr;
    QLabel* m_hexLabel = nullptr;
    QFrame* m_popover = nullptr;
    std::array<QPushButton*, 15> m_paletteButtons{};
    QLineEdit* m_hexField = nullptr;
    ColorSwatch* m_draftSwatch = nullptr;
    QPushButton* m_applyButton = nullptr;
};

// A rounded colour square with an inner border.
class ColorSwatch : public QWidget {
public:
    ColorSwatch(int side, int cornerRadius, QWidget* parent);
    void setColor(const QColor& color, double opacity = 1.0);
    void setBorder(const QColor& color, int width);
    QColor color() const { return m_color; }
    double opacity() const { return m_opacity; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_radius;
    QColor m_color = Qt::white;
    double m_opacity = 1.0;
    QColor m_border = QColor(255, 255, 255, 71);
    int m_borderWidth = 1;
};

} // namespace fotivela
