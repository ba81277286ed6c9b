#pragma once

#include <QDialog>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

class QLabel;
class QPushButton;
class QHBoxLayout;

namespace fotivela {

class AccountSession;
class ProjectStore;
class StoreSignals;

// A small labelled button of the bar: symbol and text on one line.
class ToolbarButton : public QPushButton {
    Q_OBJECT

public:
    ToolbarButton(const QString& title, const char* systemImage, bool prominent, QWidget* parent = nullptr);
};

// The strip over home and editor: logo and version, the update offer, the buttons of the
// current route, the application settings and the account.
class TopBar : public QWidget {
    Q_OBJECT

public:
    // `session` may be absent (no update offer then).
    TopBar(ProjectStore& store, StoreSignals& storeSignals, AccountSession* session, QWidget* parent = nullptr);

    QPushButton* updateButton() const { return m_update; }
    QPushButton* backToProjectButton() const { return m_backToProject; }
    QPushButton* homeButton() const { return m_home; }
    QPushButton* packageButton() const { return m_package; }
    QPushButton* exportButton() const { return m_export; }
    QPushButton* settingsButton() const { return m_settings; }
    QWidget* accountButton() const { return m_accountButton; }
    QDialog* accountPanel() const { return m_accountPanel; }
    QDialog* appSettingsWindow() const { return m_appSettings; }
    QLabel* versionLabel() const { return m_version; }

    // The account button goes last in the bar.
    void setAccountButton(QWidget* button);
    // Opens the application settings window; without one the button does nothing.
    std::function<void(const std::optional<std::string>& latestMacVersion)> openAppSettings;

    // The controller the update button asks; the program's own unless set.
    void setUpdateController(class UpdateController* controller) { m_updates = controller; }

    std::optional<std::string> latestMacVersion() const;
    void refresh();

private:
    ProjectStore& m_store;
    AccountSession* m_session;
    QHBoxLayout* m_row = nullptr;
    QLabel* m_version = nullptr;
    QPushButton* m_update = nullptr;
    QPushButton* m_backToProject = nullptr;
    QPushButton* m_home = nullptr;
    QPushButton* m_package = nullptr;
    QPushButton* m_export = nullptr;
    QPushButton* m_settings = nullptr;
    QWidget* m_accountButton = nullptr;
    class UpdateController* m_updates = nullptr;
    // The open account window, while one is shown.
    QPointer<QDialog> m_accountPanel;
    // The application settings sheet, while it is shown.
    QPointer<QDialog> m_appSettings;
};

} // namespace fotivela
