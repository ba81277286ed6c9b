#pragma once

#include <QAbstractButton>
#include <QPointer>
#include <QVariantAnimation>

#include <functional>

namespace fotivela {

// The dark bubble over a hovered toolbar button.
class TimelineTooltip : public QWidget {

public:
    explicit TimelineTooltip(const QString& text, QWidget* parent = nullptr);
    QString text() const { return m_text; }
    QSize sizeHint() const override;
    // 0 while hidden, 1 once fully shown: drives the scale from 0.98 and the fade.
    double presence() const { return m_presence; }
    // Scales and fades out, then deletes itself.
    void dismiss();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont textFont() const;
    QString m_text;
    double m_presence = 0;
    QVariantAnimation m_transition;
};

// The square 24 × 22 tile of the timeline toolbar, with its own hover bubble.
class TimelineToolButton : public QAbstractButton {

public:
    enum class Icon { addMarker, minus, plus, waveform, photos };

    TimelineToolButton(Icon icon, QWidget* parent = nullptr);

    void setHelp(const QString& help, bool showHelp);
    void setDisabledLook(bool disabled);
    bool isHovering() const { return m_isHovering; }
    // The bubble while it shows.
    TimelineTooltip* tooltip() const { return m_tooltip; }
    QSize sizeHint() const override { return QSize(24, 22); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool event(QEvent* event) override;

private:
    void updateTooltip();
    void drawIcon(QPainter& painter) const;

    Icon m_icon;
    QString m_help;
    bool m_showHelp = true;
    bool m_isHovering = false;
    QPointer<TimelineTooltip> m_tooltip;
};

} // namespace fotivela
