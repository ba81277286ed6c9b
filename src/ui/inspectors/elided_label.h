#pragma once

#include <QLabel>

namespace fotivela {

// A one-line label that shortens its text to the width it gets.
class ElidedLabel : public QLabel {
public:
    ElidedLabel(Qt::TextElideMode mode, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return m_fullText; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void elide();

    Qt::TextElideMode m_mode;
    QString m_fullText;
};

// A word-wrapped label of at most `maximumLines` lines at its width, the last one cut at
// its end with an ellipsis.
class LineLimitedLabel : public QLabel {
public:
    LineLimitedLabel(int maximumLines, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return m_fullText; }
    // The text as shown at `width` pixels of text room.
    QString limitedText(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void relayout();
    int textRoom(int width) const;

    int m_maximumLines;
    QString m_fullText;
};

} // namespace fotivela
