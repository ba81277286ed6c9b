#include "ui/shell/store_dialog_panels.h"

#include "store/project_store.h"
#include "store/store_dialogs.h"

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

void installStoreDialogPanels(ProjectStore& store, QWidget* window)
{
    QPointer<QWidget> parent(window);
    StoreDialogs& dialogs = store.dialogs();
    dialogs.chooseProjectToOpen = [parent]() {
        return chosen(QFileDialog::getOpenFileName(parent, QString(), QString(), QStringLiteral("Fotivela (*.fotivela)")));
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
        return chosen(QFileDialog::getSaveFileName(parent, QString(), QString::fromStdString(suggestedName),
                                                   QStringLiteral("MPEG-4 (*.mp4)")));
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
    dialogs.revealInFileViewer = [](const std::filesystem::path& file) {
        // The desktop's file manager opens the folder; selecting the file is not portable.
        const QString folder = QFileInfo(QString::fromStdString(file.string())).absolutePath();
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    };
}

} // namespace fotivela
