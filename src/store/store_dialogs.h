#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace fotivela {

// A modal alert with two buttons; the texts stand as the store gives them.
struct ConfirmationAlert {
    std::string message;
    std::string informativeText;
    std::string confirmButton;
    std::string cancelButton;
};

// The modal dialogs the store's operations need, set by the interface (core never shows a
// window). Each one blocks until the user answers. An unset dialog behaves as if the user
// cancelled it, and an unset error alert shows nothing.
struct StoreDialogs {
    // The open panel: one project file or folder ("*.fotivela").
    std::function<std::optional<std::filesystem::path>()> chooseProjectToOpen;
    // True for the confirm button.
    std::function<bool(const ConfirmationAlert& alert)> confirm;
    // A folder panel whose confirm button reads `prompt`.
    std::function<std::optional<std::filesystem::path>(const std::string& prompt)> chooseFolder;
    // A save panel that may create folders, proposing `suggestedName`, with `message` above it.
    std::function<std::optional<std::filesystem::path>(const std::string& suggestedName, const std::string& message)>
        choosePackageDestination;
    // A save panel for an MPEG-4 movie proposing `suggestedName` ("<name>.mp4").
    std::function<std::optional<std::filesystem::path>(const std::string& suggestedName)> chooseExportDestination;
    // The standard error alert with the error's message.
    std::function<void(const std::string& message)> showError;
    // Shows the file selected in the file manager.
    std::function<void(const std::filesystem::path& file)> revealInFileViewer;
};

} // namespace fotivela
