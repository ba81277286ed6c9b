#pragma once

// The store operations the shell starts that open, load and package projects. The store gains
// them alongside the shell; until a build has them, the buttons log that the operation is
// missing instead of failing to build.

#include "platform/log.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QApplication>

#include <filesystem>
#include <optional>
#include <string>

namespace fotivela::ShellStoreOperations {

template <class Store>
void openProject(Store& store)
{
    if constexpr (requires { store.openProject(); })
        store.openProject();
    else
        logLine("Abrir proyecto: the store has no open operation in this build");
}

template <class Store>
void loadProject(Store& store, const std::filesystem::path& url)
{
    if constexpr (requires { store.loadProject(url); })
        store.loadProject(url);
    else
        logLine("Abrir proyecto: the store cannot load " + url.string() + " in this build");
}

template <class Store>
void packageProject(Store& store)
{
    if constexpr (requires { store.packageProject(); })
        store.packageProject();
    else
        logLine("Empaquetar: the store has no package operation in this build");
}

// Gives the store's operations their panels and alerts, parented to `window`.
template <class Store>
void installDialogs(Store& store, QWidget* window)
{
    if constexpr (requires { store.dialogs(); }) {
        auto& dialogs = store.dialogs();
        dialogs.chooseProjectToOpen = [window]() -> std::optional<std::filesystem::path> {
            const QString file = QFileDialog::getOpenFileName(window, QString(), QString(),
                                                              QStringLiteral("Fotivela (*.fotivela)"));
            if (file.isEmpty())
                return std::nullopt;
            return std::filesystem::path(file.toStdString());
        };
        dialogs.chooseFolder = [window](const std::string& prompt) -> std::optional<std::filesystem::path> {
            const QString folder = QFileDialog::getExistingDirectory(window, QString::fromStdString(prompt));
            if (folder.isEmpty())
                return std::nullopt;
            return std::filesystem::path(folder.toStdString());
        };
        dialogs.choosePackageDestination = [window](const std::string& suggestedName,
                                                    const std::string& message) -> std::optional<std::filesystem::path> {
            const QString file = QFileDialog::getSaveFileName(window, QString::fromStdString(message),
                                                              QString::fromStdString(suggestedName));
            if (file.isEmpty())
                return std::nullopt;
            return std::filesystem::path(file.toStdString());
        };
        dialogs.chooseExportDestination = [window](const std::string& suggestedName) -> std::optional<std::filesystem::path> {
            const QString file = QFileDialog::getSaveFileName(window, QString(), QString::fromStdString(suggestedName),
                                                              QStringLiteral("MPEG-4 (*.mp4)"));
            if (file.isEmpty())
                return std::nullopt;
            return std::filesystem::path(file.toStdString());
        };
        dialogs.showError = [window](const std::string& message) {
            QMessageBox::warning(window, QStringLiteral("Fotivela"), QString::fromStdString(message));
        };
    } else {
        (void)store;
        (void)window;
    }
}

} // namespace fotivela::ShellStoreOperations
