#pragma once

#include "model/app_language.h"
#include "model/recent_project.h"

#include <QDialog>

#include <cstdint>
#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace fotivela {

class ProjectStore;

// The frame the three project dialogs share: logo and close button, title and explanation,
// the dialog's content and its buttons, on glass over the window backdrop.
class ProjectDialogFrame : public QDialog {
    Q_OBJECT

public:
    ProjectDialogFrame(ProjectStore& store, int width, QWidget* parent);

    QPushButton* closeButton() const { return m_close; }

protected:
    QString translated(std::string_view text) const;
    void setTexts(const QString& title, const QString& explanation);
    // The frame's own texts (the close button's help) in the store's current language.
    void retranslateFrame();
    QVBoxLayout* body() const { return m_body; }
    void paintEvent(QPaintEvent* event) override;
    // Escape and the window's close go through the dialog's own way out.
    void reject() override;
    virtual void cancel() = 0;

    ProjectStore& m_store;

private:
    QPushButton* m_close = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_explanation = nullptr;
    QVBoxLayout* m_body = nullptr;
};

// Asks for the name of a new project and creates it.
class NewProjectDialog : public ProjectDialogFrame {
    Q_OBJECT

public:
    NewProjectDialog(ProjectStore& store, QWidget* parent = nullptr);

    QLineEdit* nameField() const { return m_name; }
    QPushButton* createButton() const { return m_create; }
    QPushButton* cancelButton() const { return m_cancel; }
    void createProject();

protected:
    void cancel() override;
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* m_name = nullptr;
    QPushButton* m_create = nullptr;
    QPushButton* m_cancel = nullptr;
};

// Confirms taking one project off the recent list; nothing on disk is touched.
class DeleteRecentProjectDialog : public ProjectDialogFrame {
    Q_OBJECT

public:
    DeleteRecentProjectDialog(ProjectStore& store, RecentProject recent, QWidget* parent = nullptr);

    const RecentProject& recent() const { return m_recent; }
    QPushButton* removeButton() const { return m_remove; }
    QPushButton* cancelButton() const { return m_cancel; }
    QLabel* folderLabel() const { return m_folder; }
    void remove();

protected:
    void cancel() override;

private:
    RecentProject m_recent;
    QLabel* m_folder = nullptr;
    QPushButton* m_remove = nullptr;
    QPushButton* m_cancel = nullptr;
};

// Confirms deleting every manual beat marker of the song.
class DeleteManualBeatMarkersDialog : public ProjectDialogFrame {
    Q_OBJECT

public:
    DeleteManualBeatMarkersDialog(ProjectStore& store, QWidget* parent = nullptr);

    // The explanation for `count` markers, in Spanish.
    static std::string message(std::int64_t count);

    QPushButton* deleteButton() const { return m_delete; }
    QPushButton* cancelButton() const { return m_cancel; }
    void confirm();

protected:
    void cancel() override;

private:
    QPushButton* m_delete = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace fotivela
