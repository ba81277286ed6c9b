#pragma once

#include <QFileDialog>

#include <filesystem>
#include <optional>

class QLabel;
class QWidget;

namespace fotivela {

class ProjectStore;

// Gives the store's operations their panels and alerts (open, folder, package, export, error,
// confirmation, show in folder), over `window`.
void installStoreDialogPanels(ProjectStore& store, QWidget* window);

// The open panel: a project file, or a project folder, which "Open" takes instead of
// entering it. A folder without a project is entered as usual.
class ProjectOpenPanel : public QFileDialog {
public:
    explicit ProjectOpenPanel(QWidget* parent = nullptr);

    // The file or folder chosen once the panel was accepted.
    std::optional<std::filesystem::path> choice() const;

    void accept() override;

private:
    std::optional<std::filesystem::path> m_folder;
};

// The package's save panel: a new folder's place and name, with the store's message above the
// files.
class PackageSavePanel : public QFileDialog {
public:
    PackageSavePanel(const QString& title, const QString& message, QWidget* parent = nullptr);

    QLabel* message() const { return m_message; }

private:
    QLabel* m_message = nullptr;
};

// The export's file name with the ".mp4" extension the video needs, added when the user
// typed none or another.
QString withMP4Extension(const QString& file);

} // namespace fotivela
