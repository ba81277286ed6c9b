#pragma once

#include "ui/shell/project_dialogs.h"

#include <QWidget>

#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace fotivela {

class StoreSignals;
class UpdateController;

// The program's own preferences: the projects folder, tooltips, the interface language and the
// update check. Shown in the settings window and as the settings tab's inspector.
class AppSettingsContent : public QWidget {
    Q_OBJECT

public:
    AppSettingsContent(ProjectStore& store, StoreSignals& storeSignals, std::optional<std::string> latestMacVersion,
                       QWidget* parent = nullptr);

    void setUpdateController(UpdateController* controller) { m_updates = controller; }

    QPushButton* changeFolderButton() const { return m_changeFolder; }
    QCheckBox* hideTooltipsBox() const { return m_hideTooltips; }
    QComboBox* languagePicker() const { return m_language; }
    QPushButton* checkForUpdatesButton() const { return m_checkUpdates; }
    QLabel* folderLabel() const { return m_folder; }

    void refresh();

private:
    ProjectStore& m_store;
    std::optional<std::string> m_latestMacVersion;
    UpdateController* m_updates = nullptr;
    QLabel* m_folderTitle = nullptr;
    QLabel* m_folder = nullptr;
    QPushButton* m_changeFolder = nullptr;
    QLabel* m_interfaceTitle = nullptr;
    QLabel* m_interfaceNote = nullptr;
    QCheckBox* m_hideTooltips = nullptr;
    QLabel* m_tooltipsNote = nullptr;
    QLabel* m_languageTitle = nullptr;
    QComboBox* m_language = nullptr;
    QLabel* m_languageNote = nullptr;
    QLabel* m_updatesTitle = nullptr;
    QLabel* m_updatesNote = nullptr;
    QPushButton* m_checkUpdates = nullptr;
};

// The application settings sheet opened from the top bar.
class AppSettingsWindow : public ProjectDialogFrame {
    Q_OBJECT

public:
    AppSettingsWindow(ProjectStore& store, StoreSignals& storeSignals, std::optional<std::string> latestMacVersion,
                      QWidget* parent = nullptr);
    AppSettingsContent* content() const { return m_content; }

protected:
    void cancel() override;
    void showEvent(QShowEvent* event) override;

private:
    void retranslate();
    void fitHeightToTexts();

    AppSettingsContent* m_content = nullptr;
};

// The settings tab's inspector: the same preferences in the inspector column.
class SettingsInspector : public AppSettingsContent {
    Q_OBJECT

public:
    SettingsInspector(ProjectStore& store, StoreSignals& storeSignals, QWidget* parent = nullptr);
};

} // namespace fotivela
