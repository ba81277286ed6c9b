#include "ui/shell/store_dialog_panels.h"

#include "model/app_text.h"
#include "model/project_file_layout.h"
#include "store/project_store.h"
#include "store/store_dialogs.h"
#include "ui/common/start_folders.h"
#include "ui/shell/file_manager_reveal.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QUrl>

#include <memory>
#include <tuple>

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

PackageSavePanel::PackageSavePanel(const QString& title, const QString& message, QWidget* parent)
    : QFileDialog(parent, title)
{
    // Our own panel, so that the message can stand above the files.
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    m_message = new QLabel(message, this);
    m_message->setWordWrap(true);
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
        // Moved to the top: the grid's rows shift down by one.
        QList<std::tuple<QLayoutItem*, int, int, int, int>> items;
        while (grid->count() > 0) {
            int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
            grid->getItemPosition(0, &row, &column, &rowSpan, &columnSpan);
            items.append({grid->takeAt(0), row, column, rowSpan, columnSpan});
        }
        grid->addWidget(m_message, 0, 0, 1, grid->columnCount());
        for (const auto& [item, row, column, rowSpan, columnSpan] : items)
            grid->addItem(item, row + 1, column, rowSpan, columnSpan);
    }
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
    // Projects live in the projects folder: the open panel starts there.
    const auto projectsFolder = [&store] {
        return StartFolders::existingOr(store.defaultProjectDirectory(), StartFolders::home());
    };
    dialogs.chooseProjectToOpen = [parent, projectsFolder]() {
        ProjectOpenPanel panel(parent);
        panel.setDirectory(projectsFolder());
        panel.exec();
        return panel.choice();
    };
    dialogs.chooseFolder = [parent](const std::string& prompt) {
        QFileDialog panel(parent, QString(), StartFolders::home());
        panel.setFileMode(QFileDialog::Directory);
        panel.setOption(QFileDialog::ShowDirsOnly);
        panel.setLabelText(QFileDialog::Accept, QString::fromStdString(prompt));
        if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty())
            return std::optional<std::filesystem::path>();
        return chosen(panel.selectedFiles().front());
    };
    // A package is a copy to take elsewhere, named like the project: not beside the project's
    // own folder, where the proposed name is taken.
    dialogs.choosePackageDestination = [parent, &store](const std::string& suggestedName, const std::string& message) {
        PackageSavePanel panel(QString::fromStdString(AppText::translate("Empaquetar", store.appLanguage())),
                               QString::fromStdString(message), parent);
        panel.setDirectory(StartFolders::documents());
        panel.selectFile(QString::fromStdString(suggestedName));
        if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty())
            return std::optional<std::filesystem::path>();
        return chosen(panel.selectedFiles().front());
    };
    // The folder of the last export, for the next one in the same run.
    auto lastExportFolder = std::make_shared<QString>();
    dialogs.chooseExportDestination = [parent, lastExportFolder](const std::string& suggestedName) {
        const QString start = !lastExportFolder->isEmpty() && QFileInfo(*lastExportFolder).isDir() ? *lastExportFolder
                                                                                                   : StartFolders::videos();
        QFileDialog panel(parent, QString(), start);
        panel.setAcceptMode(QFileDialog::AcceptSave);
        panel.setNameFilter(QStringLiteral("MPEG-4 (*.mp4)"));
        // The panel adds the extension itself, so that it asks before replacing that file.
        panel.setDefaultSuffix(QStringLiteral("mp4"));
        panel.selectFile(QString::fromStdString(suggestedName));
        if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty())
            return std::optional<std::filesystem::path>();
        const QString file = withMP4Extension(panel.selectedFiles().front());
        *lastExportFolder = QFileInfo(file).absolutePath();
        return chosen(file);
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
