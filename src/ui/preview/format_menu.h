#pragma once

#include "model/app_language.h"
#include "model/project_format.h"

#include <QToolButton>

#include <functional>

class QMenu;

namespace fotivela {

// The aspect-format menu of the preview header. It shows a format and reports the user's
// choice; the owner writes it wherever the format lives.
class FormatMenu : public QToolButton {
    Q_OBJECT

public:
    explicit FormatMenu(QWidget* parent = nullptr);

    void setFormat(ProjectFormat format);
    ProjectFormat format() const { return m_format; }
    void setLanguage(AppLanguage language);

    QMenu* formatMenu() const { return m_menu; }

    // Every choice, also of the format already shown.
    std::function<void(ProjectFormat)> onChoose;

    QSize sizeHint() const override;

    static QIcon formatIcon(ProjectFormat format, QColor colour);

    // Where a menu of `menu` size opens for a button at `button`, kept inside `bounds` (all in
    // screen coordinates).
    static QPoint menuPosition(const QRect& button, QSize menu, const QRect& bounds);
    // Opens the menu under the button, inside the window.
    void popUpMenu();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void rebuild();
    QString title(ProjectFormat format) const;

    QMenu* m_menu = nullptr;
    ProjectFormat m_format = ProjectFormat::youtube;
    AppLanguage m_language = AppLanguage::spanish;
};

} // namespace fotivela
