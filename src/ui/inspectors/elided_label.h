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

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    Qt::TextElideMode m_mode;
    QString m_fullText;
};

} // namespace fotivela
