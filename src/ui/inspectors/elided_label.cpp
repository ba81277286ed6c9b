#include "ui/inspectors/elided_label.h"

#include <QEvent>
#include <QFontMetrics>
#include <QTextLayout>

#include <algorithm>

namespace fotivela {

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget* parent)
    : QLabel(parent)
    , m_mode(mode)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void ElidedLabel::setFullText(const QString& text)
{
    if (text == m_fullText)
        return;
    m_fullText = text;
    setToolTip(text);
    elide();
    updateGeometry();
}

QSize ElidedLabel::minimumSizeHint() const
{
    return QSize(0, QLabel::minimumSizeHint().height());
}

QSize ElidedLabel::sizeHint() const
{
    // Ask for the whole text's width; eliding only starts when a layout gives less.
    const QMargins margins = contentsMargins();
    return QSize(fontMetrics().horizontalAdvance(m_fullText) + 2 * margin() + margins.left() + margins.right() + 1,
                 QLabel::sizeHint().height());
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    // A style sheet may bring its own font and padding after the text was set.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        elide();
}

void ElidedLabel::elide()
{
    const int room = std::max(0, contentsRect().width() - 2 * margin());
    setText(fontMetrics().elidedText(m_fullText, m_mode, room));
}

LineLimitedLabel::LineLimitedLabel(int maximumLines, QWidget* parent)
    : QLabel(parent)
    , m_maximumLines(std::max(1, maximumLines))
{
    setWordWrap(true);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void LineLimitedLabel::setFullText(const QString& text)
{
    if (text == m_fullText)
        return;
    m_fullText = text;
    setToolTip(text);
    relayout();
}

int LineLimitedLabel::textRoom(int width) const
{
    const QMargins margins = contentsMargins();
    return std::max(1, width - margins.left() - margins.right() - 2 * margin());
}

QString LineLimitedLabel::limitedText(int width) const
{
    const QFontMetrics metrics(font());
    QStringList lines;
    // QTextLayout breaks a line at U+2028, not at a newline.
    QString text = m_fullText;
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(text, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    bool cut = false;
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (lines.size() == m_maximumLines) {
            cut = true;
            break;
        }
        lines.append(text.mid(line.textStart(), line.textLength()));
    }
    layout.endLayout();
    for (QString& line : lines) {
        while (line.endsWith(QChar::LineSeparator))
            line.chop(1);
    }
    if (cut && !lines.isEmpty()) {
        // More text follows: mark the last visible line even if it had room.
        QString& last = lines.last();
        last = metrics.elidedText(last.trimmed() + QString(QChar(0x2026)), Qt::ElideRight, width);
        if (!last.endsWith(QChar(0x2026)))
            last += QChar(0x2026);
    }
    return lines.join(QLatin1Char('\n'));
}

int LineLimitedLabel::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    const int lines = std::max<int>(1, static_cast<int>(limitedText(textRoom(width)).count(QLatin1Char('\n'))) + 1);
    return lines * fontMetrics().lineSpacing() + margins.top() + margins.bottom() + 2 * margin();
}

QSize LineLimitedLabel::sizeHint() const
{
    const int w = std::max(width(), 60);
    return QSize(w, heightForWidth(w));
}

QSize LineLimitedLabel::minimumSizeHint() const
{
    return QSize(0, heightForWidth(std::max(width(), 60)));
}

void LineLimitedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    relayout();
}

void LineLimitedLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        relayout();
}

void LineLimitedLabel::relayout()
{
    const QString shown = limitedText(textRoom(width()));
    if (shown != text()) {
        setText(shown);
        updateGeometry();
    }
}

} // namespace fotivela
