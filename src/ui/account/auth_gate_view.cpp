#include "ui/account/auth_gate_view.h"

#include "model/project_file_layout.h"
#include "ui/account/account_view_support.h"
#include "ui/account/auth_view.h"
#include "ui/common/store_signals.h"
#include "ui/common/window_fit.h"

#include <QLabel>
#include <QProgressBar>
#include <QStackedLayout>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace fotivela {

AuthGateView::AuthGateView(ProjectStore& store, StoreSignals& storeSignals, RootViewFactory makeRootView,
                           ProjectLoader loadProject, QWidget* parent)
    : AuthGateView(store, storeSignals, std::make_unique<AccountSession>(), std::move(makeRootView),
                   std::move(loadProject), parent)
{
}

AuthGateView::AuthGateView(ProjectStore& store, StoreSignals& storeSignals, std::unique_ptr<AccountSession> session,
                           RootViewFactory makeRootView, ProjectLoader loadProject, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_session(std::move(session))
    , m_makeRootView(std::move(makeRootView))
    , m_loadProject(std::move(loadProject))
{
    if (!m_loadProject)
        m_loadProject = [&store](const std::filesystem::path& file) { store.loadProject(file); };
    setObjectName(QStringLiteral("authGateView"));
    m_stack = new QStackedLayout(this);

    auto* connecting = new OrvelantBackground(this);
    connecting->setObjectName(QStringLiteral("connectingScreen"));
    auto* column = new QVBoxLayout(connecting);
    column->setSpacing(14);
    column->addStretch(1);
    auto* progress = new QProgressBar(connecting);
    progress->setRange(0, 0);
    progress->setTextVisible(false);
    progress->setFixedWidth(160);
    progress->setFixedHeight(6);
    column->addWidget(progress, 0, Qt::AlignHCenter);
    m_connectingText = makeLabel({}, TextRole::headline, QFont::Bold, Qt::white, false, connecting);
    m_connectingText->setObjectName(QStringLiteral("connectingText"));
    column->addWidget(m_connectingText, 0, Qt::AlignHCenter);
    column->addStretch(1);
    m_connecting = connecting;
    m_stack->addWidget(m_connecting);

    m_wasAuthenticated = m_session->isAuthenticated();
    connect(m_session.get(), &AccountSession::changed, this, [this](AccountSessionField field) {
        if (field != AccountSessionField::account && field != AccountSessionField::isLoading)
            return;
        const bool isAuthenticated = m_session->isAuthenticated();
        const bool becameSignedIn = isAuthenticated && !m_wasAuthenticated;
        m_wasAuthenticated = isAuthenticated;
        showCurrentScreen();
        if (becameSignedIn)
            QTimer::singleShot(0, this, [this] { openPendingProjectDocumentIfPossible(); });
    });
    connect(&storeSignals, &StoreSignals::changed, this, [this](StoreField field) {
        if (field == StoreField::appLanguage)
            applyLanguage();
    });
    applyLanguage();
    showCurrentScreen();
}

AuthGateView::~AuthGateView()
{
    // The views below read the session: they go before it does.
    qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
}

QSize AuthGateView::minimumSizeHint() const
{
    return WindowFit::contentMinimumSizeHint(*this, QSize(minimumWidth, minimumHeight), QWidget::minimumSizeHint());
}

void AuthGateView::start()
{
    if (m_started)
        return;
    m_started = true;
    m_session->bootstrap();
    // The second step of the start task: once the bootstrap has ended, try the pending document.
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(m_session.get(), &AccountSession::changed, this, [this, connection](AccountSessionField field) {
        if (field != AccountSessionField::isLoading || m_session->isLoading())
            return;
        disconnect(*connection);
        openPendingProjectDocumentIfPossible();
    });
}

void AuthGateView::openURL(const QString& url)
{
    const QUrl parsed(url);
    if (!parsed.isLocalFile() && !(parsed.scheme().isEmpty() && url.startsWith(QLatin1Char('/')))) {
        m_session->handleAuthCallback(url.toStdString());
        return;
    }
    const QString path = parsed.isLocalFile() ? parsed.toLocalFile() : url;
    openProjectDocument(std::filesystem::path(path.toStdString()));
}

void AuthGateView::openProjectDocument(const std::filesystem::path& url)
{
    const std::optional<std::filesystem::path> projectURL = ProjectFileLayout::projectFileURL(url);
    if (!projectURL)
        return;
    if (m_session->isAuthenticated()) {
        QTimer::singleShot(0, this, [this, file = *projectURL] {
            if (m_loadProject)
                m_loadProject(file);
        });
        return;
    }
    m_pendingProjectDocumentURL = *projectURL;
}

void AuthGateView::openPendingProjectDocumentIfPossible()
{
    if (!m_session->isAuthenticated() || !m_pendingProjectDocumentURL)
        return;
    // Taken before loading, so that the start task and the sign-in change never load it twice.
    const std::filesystem::path file = *m_pendingProjectDocumentURL;
    m_pendingProjectDocumentURL.reset();
    if (m_loadProject)
        m_loadProject(file);
}

void AuthGateView::applyLanguage()
{
    const AppLanguage language = m_store.appLanguage();
    m_connectingText->setText(translated("Conectando con tu cuenta", language));
    if (m_authView)
        m_authView->setLanguage(language);
}

void AuthGateView::showCurrentScreen()
{
    Screen wanted = Screen::editor;
    if (m_session->isLoading())
        wanted = Screen::connecting;
    else if (!m_session->isAuthenticated())
        wanted = Screen::signIn;
    if (wanted == m_screen && (wanted == Screen::connecting || (wanted == Screen::signIn && m_authView) ||
                               (wanted == Screen::editor && m_rootView)))
        return;
    m_screen = wanted;

    // A screen that is left is dropped: the form starts afresh after a sign-out.
    if (wanted != Screen::signIn && m_authView) {
        m_stack->removeWidget(m_authView);
        m_authView->hide();
        m_authView->deleteLater();
        m_authView = nullptr;
    }
    if (wanted != Screen::editor && m_rootView) {
        m_stack->removeWidget(m_rootView);
        m_rootView->hide();
        m_rootView->deleteLater();
        m_rootView = nullptr;
    }

    switch (wanted) {
    case Screen::connecting:
        m_stack->setCurrentWidget(m_connecting);
        break;
    case Screen::signIn:
        m_authView = new AuthView(*m_session, m_store.appLanguage(), this);
        m_stack->addWidget(m_authView);
        m_stack->setCurrentWidget(m_authView);
        break;
    case Screen::editor:
        m_rootView = m_makeRootView ? m_makeRootView(m_store, *m_session, this) : new QWidget(this);
        m_stack->addWidget(m_rootView);
        m_stack->setCurrentWidget(m_rootView);
        break;
    }
}

} // namespace fotivela
