#include "ui/shell/store_dialog_panels.h"

#include "model/project_file_layout.h"
#include "store/project_store.h"
#include "store/store_dialogs.h"
#include "ui/shell/file_manager_reveal.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QUrl>

namespace fotivela {

namespace {

std::optional<std::filesystem::path> chosen(const QString& file)
{
    if (file.isEmpty())
        return std::nullopt;
    return std::filesystem::path(file.toStdString());
}

} // namespace

ProjectOpenPanel::ProjectOpenPanel(QWidget* parent)
    : QFileDialog(parent)
{
    // Our own panel, so that a project folder can be taken as a whole.
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::ExistingFile);
    setNameFilter(QStringLiteral("Fotivela (*.fotivela)"));
}

void ProjectOpenPanel::accept()
{
    const QStringList files = selectedFiles();
    if (files.size() == 1 && QFileInfo(files.front()).isDir()) {
        const std::filesystem::path folder(files.front().toStdString());
        if (ProjectFileLayout::projectFileURL(folder)) {
            m_folder = folder;
            done(QDialog::Accepted);
            return;
        }
    }
    m_folder.reset();
    QFileDialog::accept();
}

std::optional<std::filesystem::path> ProjectOpenPanel::choice() const
{
    if (result() != QDialog::Accepted)
        return std::nullopt;
    if (m_folder)
        return m_folder;
    const QStringList files = selectedFiles();
    return files.isEmpty() ? std::nullopt : chosen(files.front());
}

QString withMP4Extension(const QString& file)
{
    if (file.isEmpty() || QFileInfo(file).suffix().compare(QStringLiteral("mp4"), Qt::CaseInsensitive) == 0)
        return file;
    return file + QStringLiteral(".mp4");
}

void installStoreDialogPanels(ProjectStore& store, QWidget* window)
{
    QPointer<QWidget> parent(window);
    StoreDialogs& dialogs = store.dialogs();
    dialogs.chooseProjectToOpen = [parent]() {
        ProjectOpenPanel panel(parent);
        panel.exec();
        return panel.choice();
    };
    dialogs.chooseFolder = [parent](const std::string& prompt) {
        QFileDialog panel(parent);
        panel.setFileMode(QFileDialog::Directory);
        panel.setOption(QFileDialog::ShowDirsOnly);
        panel.setLabelText(QFileDialog::Accept, QString::fromStdString(prompt));
        if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty())
            return std::optional<std::filesystem::path>();
        return chosen(panel.selectedFiles().front());
    };
    dialogs.choosePackageDestination = [parent](const std::string& suggestedName, const std::string& message) {
        return chosen(QFileDialog::getSaveFileName(parent, QString::fromStdString(message),
                                                   QString::fromStdString(suggestedName)));
    };
    dialogs.chooseExportDestination = [parent](const std::string& suggestedName) {
        QFileDialog panel(parent);
        panel.setAcceptMode(QFileDialog::AcceptSave);
        panel.setNameFilter(QStringLiteral("MPEG-4 (*.mp4)"));
        // The panel adds the extension itself, so that it asks before replacing that file.
        panel.setDefaultSuffix(QStringLiteral("mp4"));
        panel.selectFile(QString::fromStdString(suggestedName));
        if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty())
            return std::optional<std::filesystem::path>();
        return chosen(withMP4Extension(panel.selectedFiles().front()));
    };
    dialogs.showError = [parent](const std::string& message) {
        QMessageBox::warning(parent, QStringLiteral("Fotivela"), QString::fromStdString(message));
    };
    dialogs.confirm = [parent](const ConfirmationAlert& alert) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Fotivela"), QString::fromStdString(alert.message),
                        QMessageBox::NoButton, parent);
        box.setInformativeText(QString::fromStdString(alert.informativeText));
        QPushButton* yes = box.addButton(QString::fromStdString(alert.confirmButton), QMessageBox::AcceptRole);
        box.addButton(QString::fromStdString(alert.cancelButton), QMessageBox::RejectRole);
        box.exec();
        return box.clickedButton() == yes;
    };
    dialogs.revealInFileViewer = [](const std::filesystem::path& file) { revealInFileManager(file); };
}

} // namespace fotivela
