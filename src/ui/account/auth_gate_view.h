#pragma once

#include "account/account_session.h"
#include "store/project_store.h"

#include <QPointer>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QStackedLayout;

namespace fotivela {

class AuthView;
class StoreSignals;

// The window's content: it owns the account session and shows, from the session's state, the
// connecting screen, the sign-in form or the editor's root view. Every document and address the
// system hands to the program arrives here; a project opened before sign-in waits until then.
class AuthGateView : public QWidget {
    Q_OBJECT

public:
    // The least size of the window's content, where the screen has room for it.
    static constexpr int minimumWidth = 1180;
    static constexpr int minimumHeight = 820;

    // Builds the editor's root view for the signed-in window.
    using RootViewFactory = std::function<QWidget*(ProjectStore& store, AccountSession& session, QWidget* parent)>;
    // Opens a project file; it reports its own failures. Empty: the store's loadProject.
    using ProjectLoader = std::function<void(const std::filesystem::path& projectFile)>;

    // The program's gate: a session on the shared client.
    AuthGateView(ProjectStore& store, StoreSignals& storeSignals, RootViewFactory makeRootView,
                 ProjectLoader loadProject = {}, QWidget* parent = nullptr);
    // A gate over a session made elsewhere (tests); the gate owns it all the same.
    AuthGateView(ProjectStore& store, StoreSignals& storeSignals, std::unique_ptr<AccountSession> session,
                 RootViewFactory makeRootView, ProjectLoader loadProject, QWidget* parent = nullptr);
    ~AuthGateView() override;

    AccountSession& session() { return *m_session; }
    // Runs the session's start-up; the window calls it once when first shown.
    void start();

    // The platform's open-address path: a file goes to openProjectDocument, anything else is the
    // browser sign-in callback.
    void openURL(const QString& url);
    // A project document opened from the file manager (a file or a folder).
    void openProjectDocument(const std::filesystem::path& url);

    enum class Screen { connecting, signIn, editor };
    Screen screen() const { return m_screen; }
    const std::optional<std::filesystem::path>& pendingProjectDocumentURL() const { return m_pendingProjectDocumentURL; }
    AuthView* authView() const { return m_authView; }
    QWidget* rootView() const { return m_rootView; }

    QSize minimumSizeHint() const override;

private:
    void showCurrentScreen();
    void openPendingProjectDocumentIfPossible();
    void applyLanguage();

    ProjectStore& m_store;
    std::unique_ptr<AccountSession> m_session;
    RootViewFactory m_makeRootView;
    ProjectLoader m_loadProject;
    std::optional<std::filesystem::path> m_pendingProjectDocumentURL;
    bool m_wasAuthenticated = false;
    bool m_started = false;
    Screen m_screen = Screen::connecting;

    QStackedLayout* m_stack = nullptr;
    QWidget* m_connecting = nullptr;
    QLabel* m_connectingText = nullptr;
    QPointer<AuthView> m_authView;
    QPointer<QWidget> m_rootView;
};

// The name the window's entry knows the gate by.
using SignInGate = AuthGateView;

} // namespace fotivela
