#include "ui/account/auth_gate_view.h"
#include "ui/account/account_settings_window.h"
#include "ui/account/auth_view.h"
#include "ui/account/user_account_button.h"
#include "ui/shell/content_view.h"
#include "ui/shell/editor_view.h"
#include "ui/shell/main_window.h"
#include "ui/common/store_signals.h"
#include "ui_account_test_support.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QPointer>
#include <QPushButton>

#include <fstream>

namespace fotivela {
namespace {

using testing::anaEmail;
using testing::anaPassword;
using testing::click;
using testing::typeInto;

QPushButton* button(QWidget* view, const char* name)
{
    return view->findChild<QPushButton*>(QString::fromLatin1(name));
}

QLineEdit* field(QWidget* view, const char* name)
{
    return view->findChild<QLineEdit*>(QString::fromLatin1(name));
}

QString statusLine(QWidget* view)
{
    return view->findChild<QLabel*>(QStringLiteral("statusLine"))->text();
}

TEST(AuthModes, RawValuesInSegmentOrder)
{
    EXPECT_EQ(rawValue(AuthMode::login), "Acceder");
    EXPECT_EQ(rawValue(AuthMode::registerAccount), "Crear cuenta");
    EXPECT_EQ(rawValue(AuthMode::recover), "Recuperar");
    EXPECT_EQ(authModeFromRawValue("Recuperar"), AuthMode::recover);
    EXPECT_EQ(authModeFromRawValue("recuperar"), std::nullopt);
    EXPECT_EQ(authModeFromRawValue("Sign in"), std::nullopt);
}

TEST(AuthForm, PrimaryButtonFollowsTheFieldsAndTheMode)
{
    testing::SessionFixture fixture;
    AuthView form(*fixture.session, AppLanguage::spanish);
    QPushButton* primary = button(&form, "primaryButton");
    QPushButton* google = button(&form, "googleButton");
    EXPECT_FALSE(primary->isEnabled());
    EXPECT_TRUE(google->isEnabled());
    EXPECT_EQ(primary->text(), QStringLiteral("Entrar"));

    typeInto(field(&form, "emailField"), QStringLiteral("   "));
    EXPECT_FALSE(primary->isEnabled()) << "a password is still missing";
    form.setMode(AuthMode::recover);
    EXPECT_TRUE(primary->isEnabled()) << "spaces count as an e-mail";
    EXPECT_TRUE(field(&form, "passwordField")->isHidden());
    EXPECT_FALSE(form.findChild<QLabel*>(QStringLiteral("recoverHint"))->isHidden());
    EXPECT_EQ(primary->text(), QStringLiteral("Enviar enlace de recuperación"));

    form.setMode(AuthMode::registerAccount);
    EXPECT_FALSE(primary->isEnabled());
    typeInto(field(&form, "passwordField"), QStringLiteral("x"));
    EXPECT_TRUE(primary->isEnabled());
    field(&form, "emailField")->clear();
    EXPECT_FALSE(primary->isEnabled());
}

TEST(AuthForm, EnterInEitherFieldSignsIn)
{
    testing::SessionFixture fixture;
    AuthView form(*fixture.session, AppLanguage::spanish);
    typeInto(field(&form, "emailField"), QString::fromUtf8(anaEmail));
    // Without a password the form cannot be sent: Enter does nothing.
    QTest::keyClick(field(&form, "emailField"), Qt::Key_Return);
    EXPECT_FALSE(fixture.session->isWorking());
    typeInto(field(&form, "passwordField"), QString::fromUtf8(anaPassword));
    QTest::keyClick(field(&form, "passwordField"), Qt::Key_Return);
    EXPECT_TRUE(fixture.session->isWorking());
    ASSERT_TRUE(fixture.idle());
    EXPECT_TRUE(fixture.session->isAuthenticated());
}

TEST(AuthForm, WrongPasswordOffersTheRecoverLinkUntilTheUserLeavesLogin)
{
    testing::SessionFixture fixture;
    AuthView form(*fixture.session, AppLanguage::spanish);
    typeInto(field(&form, "emailField"), QString::fromUtf8(anaEmail));
    typeInto(field(&form, "passwordField"), QStringLiteral("incorrecta"));
    click(button(&form, "primaryButton"));
    EXPECT_TRUE(fixture.session->isWorking());
    EXPECT_FALSE(button(&form, "primaryButton")->isEnabled());
    EXPECT_FALSE(button(&form, "googleButton")->isEnabled());
    ASSERT_TRUE(fixture.idle());

    EXPECT_FALSE(fixture.session->isAuthenticated());
    EXPECT_EQ(statusLine(&form), QStringLiteral("Email o contraseña incorrectos."));
    EXPECT_TRUE(form.showsRecoverOption());
    QPushButton* recover = button(&form, "recoverLink");
    ASSERT_FALSE(recover->isHidden());
    EXPECT_EQ(recover->text(), QStringLiteral("Recuperar contraseña"));

    click(recover);
    EXPECT_EQ(form.mode(), AuthMode::recover);
    EXPECT_TRUE(field(&form, "passwordField")->isHidden());
    form.setMode(AuthMode::login);
    EXPECT_TRUE(recover->isHidden()) << "leaving login forgets the link";
    EXPECT_EQ(field(&form, "passwordField")->text(), QStringLiteral("incorrecta")) << "the password survives mode changes";
}

TEST(AuthForm, EnglishInterfaceKeepsEmailAndTheStatusAsTheyAre)
{
    testing::SessionFixture fixture;
    fixture.session->requestPasswordReset("nadie@example.com");
    ASSERT_TRUE(fixture.idle());
    AuthView form(*fixture.session, AppLanguage::english);
    EXPECT_EQ(button(&form, "primaryButton")->text(), QStringLiteral("Sign in"));
    EXPECT_EQ(button(&form, "googleButton")->text(), QStringLiteral("Continue with Google"));
    EXPECT_EQ(field(&form, "emailField")->placeholderText(), QStringLiteral("Email"));
    EXPECT_EQ(field(&form, "passwordField")->placeholderText(), QStringLiteral("Password"));
    EXPECT_EQ(statusLine(&form).toStdString(), fixture.session->message());
    form.setMode(AuthMode::recover);
    EXPECT_EQ(button(&form, "primaryButton")->text(), QStringLiteral("Send recovery link"));
}

// The gate over its own session, with a stand-in root view and a record of the projects it opened.
class GateTest : public ::testing::Test {
protected:
    std::unique_ptr<AuthGateView> makeGate()
    {
        store.setAppLanguageValue(AppLanguage::spanish);
        auto gate = std::make_unique<AuthGateView>(
            store, storeSignals, fixture.makeSession(),
            [](ProjectStore&, AccountSession&, QWidget* parent) {
                auto* root = new QWidget(parent);
                root->setObjectName(QStringLiteral("contentView"));
                return root;
            },
            [this](const std::filesystem::path& file) { loaded.push_back(file); });
        gate->session().setStartupTimeout(std::chrono::milliseconds(5000));
        return gate;
    }
    // The gate with the real editor behind it.
    std::unique_ptr<AuthGateView> makeEditorGate()
    {
        return std::make_unique<AuthGateView>(
            store, storeSignals, fixture.makeSession(),
            [this](ProjectStore& shown, AccountSession& session, QWidget* parent) -> QWidget* {
                return new ContentView(shown, storeSignals, &session, parent);
            },
            [this](const std::filesystem::path& file) { loaded.push_back(file); });
    }
    bool settled(AuthGateView& gate)
    {
        return QTest::qWaitFor([&] { return gate.screen() != AuthGateView::Screen::connecting; }, 15000);
    }
    std::filesystem::path projectFile(const std::string& name)
    {
        const auto folder = fixture.service.storage.path() / name;
        std::filesystem::create_directories(folder);
        const auto file = folder / (name + ".fotivela");
        std::ofstream(file) << "{}";
        return file;
    }

    testing::SessionFixture fixture;
    ProjectStore store;
    StoreSignals storeSignals{store};
    std::vector<std::filesystem::path> loaded;
};

TEST_F(GateTest, SignedOutShowsTheFormAndOpensTheLastPendingProjectAfterSignIn)
{
    auto gate = makeGate();
    EXPECT_EQ(gate->screen(), AuthGateView::Screen::connecting);
    EXPECT_EQ(gate->findChild<QLabel*>(QStringLiteral("connectingText"))->text(), QStringLiteral("Conectando con tu cuenta"));
    const auto first = projectFile("Primero");
    const auto second = projectFile("Segundo");
    gate->start();
    gate->openProjectDocument(first);
    // A folder is resolved to the project file inside it.
    gate->openURL(QUrl::fromLocalFile(QString::fromStdString(second.parent_path().string())).toString());
    ASSERT_TRUE(settled(*gate));
    EXPECT_EQ(gate->screen(), AuthGateView::Screen::signIn);
    ASSERT_EQ(gate->pendingProjectDocumentURL(), second);

    // A folder without a project changes nothing.
    std::filesystem::create_directories(fixture.service.storage.path() / "Vacia");
    gate->openProjectDocument(fixture.service.storage.path() / "Vacia");
    EXPECT_EQ(gate->pendingProjectDocumentURL(), second);

    AuthView* form = gate->authView();
    ASSERT_NE(form, nullptr);
    typeInto(field(form, "emailField"), QString::fromUtf8(anaEmail));
    typeInto(field(form, "passwordField"), QString::fromUtf8(anaPassword));
    click(button(form, "primaryButton"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate->screen() == AuthGateView::Screen::editor; }, 15000));
    ASSERT_NE(gate->rootView(), nullptr);
    EXPECT_EQ(gate->rootView()->objectName(), QStringLiteral("contentView"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !loaded.empty(); }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(loaded, std::vector<std::filesystem::path>{second});
    EXPECT_FALSE(gate->pendingProjectDocumentURL());

    // Signed in, a project opens at once and nothing waits.
    gate->openProjectDocument(first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded.size() == 2; }, 5000));
    EXPECT_EQ(loaded.back(), first);
    EXPECT_FALSE(gate->pendingProjectDocumentURL());

    // Signing out brings back a fresh form; signing in again opens nothing new.
    gate->session().logout();
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate->screen() == AuthGateView::Screen::signIn; }, 15000));
    ASSERT_NE(gate->authView(), nullptr);
    EXPECT_TRUE(field(gate->authView(), "emailField")->text().isEmpty());
    EXPECT_EQ(gate->authView()->mode(), AuthMode::login);
    gate->session().login(anaEmail, anaPassword);
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate->screen() == AuthGateView::Screen::editor; }, 15000));
    QTest::qWait(50);
    EXPECT_EQ(loaded.size(), 2u);
}

TEST_F(GateTest, StoredSessionOpensTheEditorAndLoadsADocumentThatArrivedWhileConnectingOnce)
{
    fixture.service.api->login(anaEmail, anaPassword);
    auto gate = makeGate();
    const auto file = projectFile("Viaje");
    gate->start();
    gate->openProjectDocument(file);
    // The browser's return goes to the session even while connecting.
    gate->openURL(QStringLiteral("fotivela://auth?error=oauth_invalid_state"));
    EXPECT_EQ(gate->session().message(), "La sesión de Google ha caducado. Inténtalo otra vez.");
    ASSERT_TRUE(settled(*gate));
    EXPECT_EQ(gate->screen(), AuthGateView::Screen::editor);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !loaded.empty(); }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(loaded, std::vector<std::filesystem::path>{file});
}

TEST_F(GateTest, ASessionTheServiceEndedBringsBackTheSignInForm)
{
    fixture.service.api->login(anaEmail, anaPassword);
    const auto gate = makeEditorGate();
    gate->resize(1280, 800);
    gate->show();
    gate->start();
    ASSERT_TRUE(settled(*gate));
    ASSERT_EQ(gate->screen(), AuthGateView::Screen::editor);
    auto* account = gate->rootView()->findChild<UserAccountButton*>();
    ASSERT_NE(account, nullptr);
    click(account->chip());
    auto* window = gate->findChild<AccountSettingsWindow*>();
    ASSERT_NE(window, nullptr);

    // The session expires on the service; the user presses "Cerrar sesión" in the account window.
    fixture.service.service.expireSessions(anaEmail);
    window->setSelectedDestination(AccountPanelDestination::account);
    click(window->contentPanel()->findChild<QPushButton*>(QStringLiteral("signOutButton")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate->screen() == AuthGateView::Screen::signIn; }, 15000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !gate->session().isWorking(); }, 15000));
    QTest::qWait(50);
    EXPECT_EQ(gate->findChild<AccountSettingsWindow*>(), nullptr);
    ASSERT_NE(gate->authView(), nullptr);
    EXPECT_TRUE(gate->authView()->isVisible());

    // Signed in again, the session expires while the editor polls the balance: the form comes back
    // and says why.
    gate->session().setBalanceSyncInterval(std::chrono::milliseconds(100));
    typeInto(field(gate->authView(), "emailField"), QString::fromUtf8(anaEmail));
    typeInto(field(gate->authView(), "passwordField"), QString::fromUtf8(anaPassword));
    click(button(gate->authView(), "primaryButton"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate->screen() == AuthGateView::Screen::editor; }, 15000));
    fixture.service.service.expireSessions(anaEmail);
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate->screen() == AuthGateView::Screen::signIn; }, 15000));
    EXPECT_EQ(statusLine(gate->authView()), QStringLiteral("Necesitas iniciar sesión."));
    EXPECT_FALSE(gate->session().isBalanceSyncRunning());
}

TEST_F(GateTest, TheAccountWindowClosesWhenA401EndsTheSession)
{
    fixture.service.api->login(anaEmail, anaPassword);
    const auto gate = makeEditorGate();
    gate->resize(1280, 800);
    gate->show();
    gate->start();
    ASSERT_TRUE(settled(*gate));
    ASSERT_EQ(gate->screen(), AuthGateView::Screen::editor);
    auto* account = gate->rootView()->findChild<UserAccountButton*>();
    ASSERT_NE(account, nullptr);
    click(account->chip());
    QPointer<AccountSettingsWindow> window = gate->findChild<AccountSettingsWindow*>();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));

    // Nobody touches the window: the balance poll meets the service's 401.
    fixture.service.service.expireSessions(anaEmail);
    gate->session().setBalanceSyncInterval(std::chrono::milliseconds(100));
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate->screen() == AuthGateView::Screen::signIn; }, 15000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isNull() || !window->isVisible(); }, 5000))
        << "the account window stays over the sign-in form";
    ASSERT_NE(gate->authView(), nullptr);
    EXPECT_TRUE(gate->authView()->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, 5000)) << "the closed window is deleted";
}

TEST_F(GateTest, TheConnectingScreenFollowsTheInterfaceLanguage)
{
    auto gate = makeGate();
    EXPECT_EQ(gate->findChild<QLabel*>(QStringLiteral("connectingText"))->text(), QStringLiteral("Conectando con tu cuenta"));
    store.setAppLanguageValue(AppLanguage::english);
    EXPECT_EQ(gate->findChild<QLabel*>(QStringLiteral("connectingText"))->text(), QStringLiteral("Connecting to your account"));
    gate->start();
    ASSERT_TRUE(settled(*gate));
    EXPECT_EQ(button(gate->authView(), "primaryButton")->text(), QStringLiteral("Sign in"));
}

TEST_F(GateTest, TheEditorsTopBarCarriesTheAccountButtonThatOpensTheAccountWindow)
{
    fixture.service.api->login(anaEmail, anaPassword);
    const auto gate = makeEditorGate();
    gate->start();
    ASSERT_TRUE(settled(*gate));
    ASSERT_EQ(gate->screen(), AuthGateView::Screen::editor);
    auto* account = gate->rootView()->findChild<UserAccountButton*>();
    ASSERT_NE(account, nullptr);
    EXPECT_EQ(account->initials(), QStringLiteral("AM"));
    click(account->chip());
    auto* window = gate->findChild<AccountSettingsWindow*>();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->selectedDestination(), AccountPanelDestination::credits);

    // Signing out from the account panel closes the window and brings back the form.
    window->setSelectedDestination(AccountPanelDestination::account);
    click(window->contentPanel()->findChild<QPushButton*>(QStringLiteral("signOutButton")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate->screen() == AuthGateView::Screen::signIn; }, 15000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !gate->session().isWorking(); }, 15000));
    QTest::qWait(50);
    EXPECT_EQ(gate->findChild<AccountSettingsWindow*>(), nullptr);
}

// The gate as the program's window holds it, on every screen the test has (one small screen by
// default; a netbook's, a laptop's and a large one under the three-screen configuration).
class GateWindowFitTest : public GateTest {
protected:
    // The whole widget scrolls into the window's view.
    static ::testing::AssertionResult reachable(FotivelaMainWindow& window, QWidget* widget)
    {
        QScrollArea* area = window.contentArea();
        // The area's scroll range follows the content's last layout.
        QApplication::processEvents();
        area->ensureWidgetVisible(widget, 1, 1);
        QApplication::processEvents();
        const QRect shown(widget->mapTo(area->viewport(), QPoint(0, 0)), widget->size());
        if (widget->isVisible() && area->viewport()->rect().contains(shown))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << widget->objectName().toStdString() << " at " << shown.y() << ".."
                                             << shown.bottom() << " of a viewport " << area->viewport()->height()
                                             << " high";
    }
};

TEST_F(GateWindowFitTest, TheFormAndTheEditorCanBeReachedInAWindowThatFitsTheScreen)
{
    store.setAppLanguageValue(AppLanguage::spanish);
    store.modifyProject([](FotivelaProject& project) {
        for (int i = 0; i < 6; ++i) {
            Slide slide;
            slide.id = Uuid::random();
            slide.order = i;
            slide.duration = 2;
            project.slides.push_back(slide);
        }
    });
    store.recalculateTotalDuration();
    FotivelaMainWindow window;
    window.menuBar()->addMenu(QStringLiteral("Archivo"));
    AuthGateView* gate = makeEditorGate().release();
    window.setContent(gate, QSize(AuthGateView::minimumWidth, AuthGateView::minimumHeight));
    gate->start();
    ASSERT_TRUE(settled(*gate));

    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect free = screen->availableGeometry();
        SCOPED_TRACE(std::to_string(free.width()) + "x" + std::to_string(free.height()));
        window.hide();
        window.setScreen(screen);
        window.move(free.topLeft());
        window.resize(QSize(1280, 860 + window.menuBar()->sizeHint().height()).boundedTo(free.size()));
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        if (gate->screen() == AuthGateView::Screen::editor) {
            gate->session().logout();
            ASSERT_TRUE(QTest::qWaitFor([&] { return gate->screen() == AuthGateView::Screen::signIn; }, 15000));
        }
        // The user makes the window as small as it goes.
        window.resize(400, 300);
        QApplication::processEvents();
        const QSize room = window.contentRoom();
        if (room.width() >= AuthGateView::minimumWidth && room.height() >= AuthGateView::minimumHeight) {
            EXPECT_EQ(gate->size(), QSize(AuthGateView::minimumWidth, AuthGateView::minimumHeight));
        } else {
            EXPECT_TRUE(free.contains(window.frameGeometry())) << "the window fits the screen's free area";
        }

        AuthView* form = gate->authView();
        ASSERT_NE(form, nullptr);
        for (const char* name : {"emailField", "passwordField", "primaryButton", "googleButton"})
            EXPECT_TRUE(reachable(window, form->findChild<QWidget*>(QString::fromLatin1(name))));
        typeInto(field(form, "emailField"), QString::fromUtf8(anaEmail));
        typeInto(field(form, "passwordField"), QString::fromUtf8(anaPassword));
        click(button(form, "primaryButton"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return gate->screen() == AuthGateView::Screen::editor; }, 15000));

        auto* content = dynamic_cast<ContentView*>(gate->rootView());
        ASSERT_NE(content, nullptr);
        store.setRoute(AppRoute::editor);
        QApplication::processEvents();
        ASSERT_NE(content->editorView(), nullptr);
        // The signed-in content takes the room the gate has: on a laptop's free area the
        // editor shrinks to it, down to the timeline, and nothing scrolls.
        EXPECT_TRUE(reachable(window, content->editorView()->timelineArea()));
        if (free.width() >= AuthGateView::minimumWidth && free.height() >= 700) {
            EXPECT_FALSE(window.contentArea()->verticalScrollBar()->isVisible());
        }
        // The account window opens within the free area's height.
        click(content->findChild<UserAccountButton*>()->chip());
        auto* account = window.findChild<AccountSettingsWindow*>();
        ASSERT_NE(account, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(account));
        const QRect frame = account->frameGeometry();
        EXPECT_TRUE(frame.top() >= free.top() && frame.bottom() <= free.bottom()) << frame.y() << "+" << frame.height();
        QTest::keyClick(account, Qt::Key_Escape);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        store.setRoute(AppRoute::home);
        QApplication::processEvents();
    }
}

} // namespace
} // namespace fotivela
