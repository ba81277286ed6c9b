#include "ui/shell/update_controller.h"

#include "model/app_text.h"
#include "ui/shell/app_version.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include <algorithm>

namespace fotivela {

namespace {

QString translatedText(std::string_view text, AppLanguage language)
{
    return QString::fromStdString(AppText::translate(text, language));
}

bool isBlank(const std::optional<std::string>& text)
{
    return !text || std::all_of(text->begin(), text->end(), [](unsigned char c) { return std::isspace(c); });
}

void showModalAlert(const QString& title, const QString& text, const QString& button)
{
    QMessageBox box;
    setUpAlertBox(box, title, text);
    box.addButton(button, QMessageBox::AcceptRole);
    box.exec();
}

bool askModal(const QString& title, const QString& text, const QString& accept, const QString& reject)
{
    QMessageBox box;
    setUpAlertBox(box, title, text);
    QPushButton* yes = box.addButton(accept, QMessageBox::AcceptRole);
    box.addButton(reject, QMessageBox::RejectRole);
    box.exec();
    return box.clickedButton() == yes;
}

} // namespace

void setUpAlertBox(QMessageBox& box, const QString& title, const QString& text)
{
    // Window titles are the window manager's and easily missed: both sentences go in the box.
    box.setParent(QApplication::activeWindow(), box.windowFlags());
    box.setIcon(QMessageBox::Information);
    box.setWindowTitle(QStringLiteral("Fotivela"));
    box.setText(title);
    box.setInformativeText(text);
}

PublishedReleaseUpdater::PublishedReleaseUpdater(AlertPresenter alert, Question ask, Opener open)
    : m_alert(std::move(alert))
    , m_ask(std::move(ask))
    , m_open(std::move(open))
{
}

void PublishedReleaseUpdater::checkForUpdates()
{
    const AppLanguage language = AppLanguages::storedOrDetected();
    const QString title = translatedText("Buscar actualizaciones", language);
    if (isBlank(m_release.version)) {
        // Nothing was compared, so the program must not claim to be current.
        m_alert(title, translatedText("No se ha podido consultar la última versión publicada.", language), translatedText("Aceptar", language));
        return;
    }
    if (!AppVersion::isServerVersionNewer(m_release.version)) {
        m_alert(translatedText("Fotivela está al día", language), translatedText("Ya tienes instalada la versión más reciente.", language),
                translatedText("Aceptar", language));
        return;
    }
    if (isBlank(m_release.downloadURL)) {
        m_alert(title, translatedText("Hay una nueva version, pero falta la URL de descarga en Orvelant", language),
                translatedText("Aceptar", language));
        return;
    }
    const QString text = translatedText("Nueva", language) + QStringLiteral(" v") + QString::fromStdString(*m_release.version);
    if (m_ask(title, text, translatedText("Descargar nueva version", language), translatedText("Cancelar", language)))
        m_open(*m_release.downloadURL);
}

UpdateController& UpdateController::shared()
{
    static UpdateController* instance = [] {
        auto updater = std::make_unique<PublishedReleaseUpdater>(
            showModalAlert, askModal,
            [](const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); });
        auto* controller = new UpdateController(std::move(updater), showModalAlert,
                                                std::make_shared<TerminationHold>(), qApp);
        return controller;
    }();
    return *instance;
}

UpdateController::UpdateController(std::unique_ptr<Updater> updater, AlertPresenter alert,
                                   std::shared_ptr<TerminationHold> hold, QObject* parent)
    : QObject(parent)
    , m_updater(std::move(updater))
    , m_alert(std::move(alert))
    , m_hold(std::move(hold))
{
    AppLanguages::applyRuntimeLocalization(AppLanguages::storedOrDetected());
    m_updater->start();
}

UpdateController::~UpdateController() = default;

void UpdateController::showUpToDateAlert(AppLanguage language)
{
    m_alert(translatedText("Fotivela está al día", language), translatedText("Ya tienes instalada la versión más reciente.", language),
            translatedText("Aceptar", language));
}

void UpdateController::checkForUpdates(const std::optional<std::string>& latestKnownVersion, AppLanguage language)
{
    AppLanguages::applyRuntimeLocalization(language);
    // A blank published version is no version: nothing could be compared.
    if (!isBlank(latestKnownVersion) && !AppVersion::isServerVersionNewer(latestKnownVersion)) {
        showUpToDateAlert(language);
        return;
    }
    m_updater->checkForUpdates();
}

void UpdateController::setPublishedRelease(PublishedRelease release)
{
    if (auto* ours = dynamic_cast<PublishedReleaseUpdater*>(m_updater.get()))
        ours->setRelease(std::move(release));
}

void UpdateController::willInstallUpdate()
{
    m_hold->enable(terminationHoldReason);
}

bool UpdateController::shouldRelaunchApplication()
{
    m_hold->enable(terminationHoldReason);
    return true;
}

void UpdateController::willRelaunchApplication()
{
    m_hold->enable(terminationHoldReason);
}

} // namespace fotivela
