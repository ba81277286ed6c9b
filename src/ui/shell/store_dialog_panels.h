#pragma once

class QWidget;

namespace fotivela {

class ProjectStore;

// Gives the store's operations their panels and alerts (open, folder, package, export, error,
// confirmation, show in folder), over `window`.
void installStoreDialogPanels(ProjectStore& store, QWidget* window);

} // namespace fotivela
