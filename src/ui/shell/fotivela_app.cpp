#include "ui/shell/fotivela_app.h"
#include "ui/shell/qt_translations.h"

#include "export/export_temporaries.h"
#include "model/app_text.h"
#include "platform/background_task.h"
#include "platform/process_arguments.h"
#include "platform/termination_signals.h"
#include "store/project_store.h"
#include "ui/account/auth_gate_view.h"
#include "ui/account/auth_view.h"
#include "ui/common/store_signals.h"
#include "ui/shell/content_view.h"
#include "ui/shell/fotivela_app_delegate.h"
#include "ui/shell/fotivela_design_system.h"
#include "ui/shell/main_window.h"
#include "ui/shell/store_dialog_panels.h"
#include "ui/shell/single_instance.h"
#include "ui/shell/update_controller.h"

#include <QApplication>
#include <QEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>

namespace fotivela {

namespace {

constexpr const char* unguardedWarning =
    "Fotivela no ha encontrado una carpeta privada para saber si ya está abierto: si lo abres otra vez, "
    "no edites el mismo proyecto en las dos ventanas.";

} // namespace

// Hover help follows the user's choice for the whole program.
class TooltipSwitch : public QObject {
public:
    TooltipSwitch(ProjectStore& store, QObject* parent) : QObject(parent), m_store(store) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        return event->type() == QEvent::ToolTip && !m_store.showInterfaceTooltips();
    }

private:
    ProjectStore& m_store;
};

FotivelaApp::FotivelaApp(QObject* parent)
    : QObject(parent)
    , m_hold(std::make_shared<TerminationHold>())
{
    m_delegate = new FotivelaAppDelegate(m_hold, this);
}

FotivelaApp::~FotivelaApp()
{
    m_terminationSignals.reset();
    // The views read the store: they go first.
    delete m_window;
}

void FotivelaApp::start(const QStringList& arguments)
{
    if (!m_store) {
        m_store = std::make_unique<ProjectStore>();
        m_signals = std::make_unique<StoreSignals>(*m_store);
    }
    buildWindow();
    buildMenus();
    // A screen smaller than the default size gets a window that fits it, down to the minimum.
    QSize size(defaultWidth, defaultHeight + m_window->menuBar()->sizeHint().height());
    if (const QScreen* screen = m_window->screen())
        size = size.boundedTo(screen->availableGeometry().size());
    m_window->resize(size);
    qApp->installEventFilter(new TooltipSwitch(*m_store, this));
    installStoreDialogPanels(*m_store, m_window);
    m_window->show();
    if (!m_terminationSignals && !m_terminationSignalsInstalled)
        m_terminationSignals = std::make_unique<TerminationSignals>([this](int) { terminate(); });
    m_gate->start();
    m_delegate->applicationDidFinishLaunching();
    m_delegate->handleArguments(arguments);
}

void FotivelaApp::buildWindow()
{
    auto* window = new FotivelaMainWindow;
    m_window = window;
    m_window->setWindowTitle(QStringLiteral("Fotivela"));

    StoreSignals& storeSignals = *m_signals;
    m_gate = new AuthGateView(
        *m_store, storeSignals,
        [&storeSignals](ProjectStore& store, AccountSession& session, QWidget* parent) -> QWidget* {
            return new ContentView(store, storeSignals, &session, parent);
        },
        [this](const std::filesystem::path& file) { m_store->loadProject(file); }, m_window);
    // The sizes are the content's: the menu bar comes on top of them.
    window->setContent(m_gate, QSize(AuthGateView::minimumWidth, AuthGateView::minimumHeight));

    connect(m_delegate, &FotivelaAppDelegate::fotivelaOpenProjectDocument, m_gate,
            [this](const QUrl& url) { m_gate->openURL(url.toString()); }, Qt::DirectConnection);
    connect(m_delegate, &FotivelaAppDelegate::openAddressRequested, m_gate,
            [this](const QString& address) { m_gate->openURL(address); }, Qt::DirectConnection);
}

void FotivelaApp::buildMenus()
{
    m_fileMenu = m_window->menuBar()->addMenu(QString());
    m_newProject = m_fileMenu->addAction(QString());
    m_newProject->setShortcut(QKeySequence::New);
    m_newProject->setShortcutContext(Qt::ApplicationShortcut);
    connect(m_newProject, &QAction::triggered, this, [this] { m_store->setIsNewProjectDialogPresented(true); });
    m_fileMenu->addSeparator();
    m_quit = m_fileMenu->addAction(QString());
    m_quit->setShortcut(QKeySequence::Quit);
    connect(m_quit, &QAction::triggered, this, &FotivelaApp::quit);

    m_helpMenu = m_window->menuBar()->addMenu(QString());
    m_checkForUpdates = m_helpMenu->addAction(QString());
    connect(m_checkForUpdates, &QAction::triggered, this, [] {
        // The updater's windows come up in the interface language.
        AppLanguages::applyRuntimeLocalization(AppLanguages::storedOrDetected());
        UpdateController::shared().updaterController().checkForUpdates();
    });

    connect(m_signals.get(), &StoreSignals::changed, this, [this](StoreField field) {
        if (field == StoreField::appLanguage)
            translateMenus();
    });
    translateMenus();

    m_qtTranslations = new QtTranslations(this);
    m_qtTranslations->apply(m_store->appLanguage());
    connect(m_signals.get(), &StoreSignals::changed, this, [this](StoreField field) {
        if (field == StoreField::appLanguage)
            m_qtTranslations->apply(m_store->appLanguage());
    });
}

void FotivelaApp::translateMenus()
{
    const AppLanguage language = m_store->appLanguage();
    const auto text = [language](std::string_view spanish) {
        return QString::fromStdString(AppText::translate(spanish, language));
    };
    m_fileMenu->setTitle(text("Archivo"));
    m_newProject->setText(text("Nuevo proyecto"));
    m_quit->setText(text("Salir"));
    m_helpMenu->setTitle(text("Ayuda"));
    m_checkForUpdates->setText(text("Buscar actualizaciones..."));
}

void FotivelaApp::quit()
{
    // Quitting would throw away the video being written.
    if (m_store->isExporting()) {
        const AppLanguage language = m_store->appLanguage();
        const auto answer = QMessageBox::question(
            m_window, QStringLiteral("Fotivela"),
            QString::fromStdString(AppText::translate("No cierres Fotivela hasta que termine la exportación.", language)),
            QMessageBox::Cancel | QMessageBox::Ok, QMessageBox::Cancel);
        if (answer != QMessageBox::Ok)
            return;
        // The run stops and removes its files before the program ends.
        m_store->cancelExport();
    }
    m_store->saveCurrentProjectImmediatelyIfPossible();
    QApplication::quit();
}

void FotivelaApp::warnWithoutSingleInstanceGuard()
{
    const std::string text = AppText::translate(unguardedWarning, m_store->appLanguage());
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Fotivela"), QString::fromStdString(text),
                                QMessageBox::Ok, m_window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("fotivelaUnguardedWarning"));
    box->open();
}

void FotivelaApp::terminate()
{
    m_store->cancelExport();
    m_store->saveCurrentProjectImmediatelyIfPossible();
    // Leaves every loop, a modal dialog's included.
    QCoreApplication::exit(0);
}

int FotivelaApp::main(int argc, char** argv, const char* version)
{
    // Qt gets a copy of the arguments, so that a sign-in address (its one-time token) can be
    // blanked from the process's own command line, which every user of the machine can read.
    ProcessArguments ownArguments(argc, argv);
    ownArguments.blankOriginals([](std::string_view argument) {
        return ApplicationArguments::isAddress(QString::fromUtf8(argument.data(), static_cast<qsizetype>(argument.size())));
    });
    QApplication application(ownArguments.argc(), ownArguments.argv());
    QApplication::setApplicationName(QStringLiteral("Fotivela"));
    QApplication::setApplicationVersion(QString::fromLatin1(version));
    QApplication::setDesktopFileName(QStringLiteral("fotivela"));
    QApplication::setQuitOnLastWindowClosed(false);

    // The running program may have started in another folder.
    const QStringList arguments = ApplicationArguments::withAbsolutePaths(QApplication::arguments().mid(1));
    SingleInstance instance(SingleInstance::guardFolders());
    const SingleInstance::Role role = instance.claim(arguments);
    switch (role) {
    case SingleInstance::Role::forwarded:
        return 0;
    case SingleInstance::Role::failed:
        return 1;
    case SingleInstance::Role::primary:
    case SingleInstance::Role::unguarded:
        break;
    }
    // From here on SIGTERM and SIGINT (a logout, a shutdown) end the program as Quit does.
    FotivelaApp* running = nullptr;
    bool terminated = false;
    TerminationSignals termination([&running, &terminated](int) {
        // A signal read by a nested loop during start-up must still keep the main loop from starting.
        terminated = true;
        if (running)
            running->terminate();
    });
    // Files of exports that a kill or a crash interrupted.
    backgroundPool().start([] { ExportTemporaries::sweepStale(); });

    applyFotivelaAppearance(application);
    int code = 0;
    {
        FotivelaApp app;
        running = &app;
        app.m_terminationSignalsInstalled = true;
        QObject::connect(&instance, &SingleInstance::argumentsReceived, &app, [&app](const QStringList& received) {
            app.delegate().applicationShouldHandleReopen();
            app.delegate().handleArguments(received);
        });
        app.start(arguments);
        if (role == SingleInstance::Role::unguarded)
            app.warnWithoutSingleInstanceGuard();
        if (!terminated)
            code = application.exec();
        running = nullptr;
    }
    // A cancelled export removes its temporary files when its thread stops.
    backgroundPool().waitForDone();
    return code;
}

} // namespace fotivela
