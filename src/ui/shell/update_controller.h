#pragma once

#include "model/app_language.h"

#include <QObject>
#include <QString>

class QMessageBox;

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fotivela {

// Lays out an alert: `title` as the box's main text and `text` below it.
void setUpAlertBox(QMessageBox& box, const QString& title, const QString& text);

// A one-button informational alert: title, text, button.
using AlertPresenter = std::function<void(const QString& title, const QString& text, const QString& button)>;

// The update facility behind the controller. Linux programs are updated by their package
// manager, so ours only knows what the account service published and leads to the download.
class Updater {
public:
    virtual ~Updater() = default;
    virtual void start() = 0;
    // The user asked; the updater answers with its own windows.
    virtual void checkForUpdates() = 0;
};

// What the account service last published: the newest version and where to get it.
struct PublishedRelease {
    std::optional<std::string> version;
    std::optional<std::string> downloadURL;
};

// The updater of this program: compares the published release with the running version and
// offers its download page.
class PublishedReleaseUpdater : public Updater {
public:
    using Opener = std::function<void(const std::string& url)>;
    // A choice between the download (true) and closing (false).
    using Question = std::function<bool(const QString& title, const QString& text, const QString& accept,
                                        const QString& reject)>;

    PublishedReleaseUpdater(AlertPresenter alert, Question ask, Opener open);

    void start() override {}
    void checkForUpdates() override;

    void setRelease(PublishedRelease release) { m_release = std::move(release); }
    const PublishedRelease& release() const { return m_release; }

private:
    PublishedRelease m_release;
    AlertPresenter m_alert;
    Question m_ask;
    Opener m_open;
};

// Keeps the session from being ended by the desktop while the window is open. Linux has no
// automatic termination, so the program's hold does nothing; tests record the calls.
class TerminationHold {
public:
    virtual ~TerminationHold() = default;
    virtual void disable(const std::string& reason) { (void)reason; }
    virtual void enable(const std::string& reason) { (void)reason; }
};

inline constexpr const char* terminationHoldReason = "Fotivela mantiene abierta la ventana principal";

// The program's single owner of the updater, its up-to-date alert and its checks.
class UpdateController : public QObject {
    Q_OBJECT

public:
    // The program's controller, made on first use with the real updater and alerts.
    static UpdateController& shared();

    UpdateController(std::unique_ptr<Updater> updater, AlertPresenter alert,
                     std::shared_ptr<TerminationHold> hold, QObject* parent = nullptr);
    ~UpdateController() override;

    Updater& updaterController() { return *m_updater; }

    void showUpToDateAlert(AppLanguage language);
    // The check of the top bar and the settings window.
    void checkForUpdates(const std::optional<std::string>& latestKnownVersion, AppLanguage language);
    // What the account service publishes, for the program's updater.
    void setPublishedRelease(PublishedRelease release);

    // The updater's notices: an update may quit and relaunch the program.
    void willInstallUpdate();
    bool shouldRelaunchApplication();
    void willRelaunchApplication();

private:
    std::unique_ptr<Updater> m_updater;
    AlertPresenter m_alert;
    std::shared_ptr<TerminationHold> m_hold;
};

} // namespace fotivela
