#include "account/account_session.h"
#include "account_test_support.h"

#include <gtest/gtest.h>

#include <QTest>

namespace fotivela {
namespace {

using testing::anaEmail;
using testing::anaPassword;
using Fault = tools::LocalAccountService::Fault;

class SessionTest : public ::testing::Test {
protected:
    SessionTest()
        : session(fixture.api, [this](const std::string& url) { opened.push_back(url); })
    {
        session.setStartupTimeout(std::chrono::milliseconds(3000));
    }

    bool idle() { return QTest::qWaitFor([&] { return !session.isWorking(); }, 10000); }
    void signIn()
    {
        session.login(anaEmail, anaPassword);
        ASSERT_TRUE(QTest::qWaitFor([&] { return session.isAuthenticated() && !session.isWorking(); }, 10000));
    }

    testing::AccountServiceFixture fixture;
    std::vector<std::string> opened;
    AccountSession session;
};

AccountSummary withProfile(std::optional<std::string> fullName, std::optional<std::string> email)
{
    AccountSummary summary;
    summary.profile = AccountProfile{email, fullName, "u", std::nullopt, std::nullopt};
    return summary;
}

TEST(AccountSessionState, FreshSessionAndDisplayNames)
{
    testing::AccountServiceFixture fixture;
    AccountSession session(fixture.api, [](const std::string&) {});
    EXPECT_TRUE(session.isLoading());
    EXPECT_FALSE(session.isWorking());
    EXPECT_EQ(session.message(), "");
    EXPECT_FALSE(session.isAuthenticated());
    EXPECT_EQ(session.displayName(), "Usuario");
    EXPECT_TRUE(session.purchaseHistory().empty());
    EXPECT_FALSE(session.pendingCheckoutSessionId());
    EXPECT_EQ(session.cloudAIConfig(), CloudAIConfig::fallback());

    EXPECT_EQ(AccountSession::displayName(withProfile("  Ana López \n", "x@y")), "Ana López");
    EXPECT_EQ(AccountSession::displayName(withProfile("  ", " ana@y.es")), "ana");
    EXPECT_EQ(AccountSession::displayName(withProfile(std::nullopt, "@y.es")), "Usuario");
    EXPECT_EQ(AccountSession::displayName(withProfile(std::nullopt, " sin-arroba ")), "sin-arroba");
    EXPECT_EQ(AccountSession::displayName(AccountSummary{500, std::nullopt, std::nullopt}), "Usuario");
}

TEST_F(SessionTest, StartUpWithAStoredSessionSignsInAndPollsTheBalance)
{
    fixture.api->login(anaEmail, anaPassword);
    session.setBalanceSyncInterval(std::chrono::milliseconds(150));
    session.bootstrap();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !session.isLoading(); }, 10000));
    EXPECT_TRUE(session.isAuthenticated());
    EXPECT_EQ(session.displayName(), "Ana María López");
    EXPECT_TRUE(session.isBalanceSyncRunning());
    EXPECT_EQ(session.message(), "");

    fixture.service.setBalance(anaEmail, 4321);
    EXPECT_TRUE(QTest::qWaitFor([&] { return session.account().balance == 4321; }, 5000));
    // A failing refresh changes nothing and says nothing.
    fixture.service.setFault("/api/auth/me", Fault{500, "<html/>", "text/html"});
    QTest::qWait(400);
    EXPECT_EQ(session.account().balance, 4321);
    EXPECT_EQ(session.message(), "");
    fixture.service.clearFaults();

    session.logout();
    ASSERT_TRUE(idle());
    EXPECT_EQ(session.message(), "Sesión cerrada.");
    EXPECT_FALSE(session.isAuthenticated());
    EXPECT_FALSE(session.isBalanceSyncRunning());
    EXPECT_FALSE(fixture.api->sessionCookieHeader());
    QTest::qWait(300);
    EXPECT_FALSE(session.isAuthenticated());

    signIn();
    EXPECT_EQ(session.message(), "Sesión iniciada.");
    EXPECT_TRUE(session.isBalanceSyncRunning());
}

TEST_F(SessionTest, StartUpFailures)
{
    session.bootstrap();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !session.isLoading(); }, 10000));
    EXPECT_EQ(session.message(), "Necesitas iniciar sesión.");
    EXPECT_FALSE(session.isAuthenticated());

    // A summary without profile is signed out, keeps its balance and says nothing new.
    fixture.service.setFault("/api/auth/me", Fault{200, R"({"balance": 7})"});
    AccountSession quiet(fixture.api, [](const std::string&) {});
    quiet.bootstrap();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !quiet.isLoading(); }, 10000));
    EXPECT_FALSE(quiet.isAuthenticated());
    EXPECT_EQ(quiet.account().balance, 7);
    EXPECT_FALSE(quiet.isBalanceSyncRunning());
    EXPECT_EQ(quiet.message(), "");
}

TEST_F(SessionTest, StartUpThatDoesNotAnswerInTimeStaysSignedOut)
{
    fixture.api->login(anaEmail, anaPassword);
    fixture.service.setFault("/api/auth/me", Fault{200, "", "application/json", {}, 1200, true});
    session.setStartupTimeout(std::chrono::milliseconds(300));
    session.bootstrap();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !session.isLoading(); }, 1000));
    EXPECT_EQ(session.message(), "El servidor ha tardado demasiado en responder. Inténtalo otra vez.");
    // The read that answers late is dropped.
    QTest::qWait(1500);
    EXPECT_FALSE(session.isAuthenticated());
}

TEST_F(SessionTest, SignInErrorsAndRefusedSignOut)
{
    session.login(anaEmail, "mala");
    ASSERT_TRUE(idle());
    EXPECT_EQ(session.message(), "Email o contraseña incorrectos.");
    signIn();
    // The service has already ended the session: signing out completes here all the same.
    fixture.service.expireSessions(anaEmail);
    session.logout();
    ASSERT_TRUE(idle());
    EXPECT_EQ(session.message(), "Sesión cerrada.");
    EXPECT_FALSE(session.isAuthenticated());
    EXPECT_FALSE(fixture.api->sessionCookieHeader());

    session.registerAccount(anaEmail, "otraclave1");
    ASSERT_TRUE(idle());
    EXPECT_EQ(session.message(), "Ese email ya tiene cuenta.");
    session.requestPasswordReset("nadie@example.com");
    ASSERT_TRUE(idle());
    EXPECT_EQ(session.message(), "Si existe una cuenta con ese email, recibirás un enlace para crear una nueva contraseña.");
}

TEST_F(SessionTest, BrowserSignInCallbacks)
{
    const auto exchanges = [&] { return fixture.service.requestCount("/api/auth/desktop/exchange"); };
    session.handleAuthCallback("fotivela://auth?error=oauth_invalid_state&token=abc");
    EXPECT_EQ(session.message(), "La sesión de Google ha caducado. Inténtalo otra vez.");
    session.handleAuthCallback("fotivela://otro?token=abc");
    EXPECT_EQ(session.message(), "La sesión de Google ha caducado. Inténtalo otra vez.");
    session.handleAuthCallback("fotivela://auth");
    EXPECT_EQ(session.message(), "No se ha podido completar el acceso con Google.");
    session.handleAuthCallback("fotivela://auth?error=raro");
    EXPECT_EQ(session.message(), "No se ha podido completar el acceso con Google.");
    session.handleAuthCallback("fotivela://auth?error=oauth_not_configured");
    EXPECT_EQ(session.message(), "El acceso con Google todavía no está configurado en Orvelant.");

    // A token that arrives although no browser sign-in was started is refused.
    const std::string token = fixture.service.mintDesktopToken(anaEmail);
    session.handleAuthCallback("fotivela://auth?token=" + token);
    EXPECT_EQ(session.message(), "No se ha podido completar el acceso con Google.");
    EXPECT_EQ(exchanges(), 0);

    session.openGoogleLogin();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], fixture.service.baseURL() + "/api/auth/oauth/google?client=macos");
    EXPECT_EQ(session.message(), "Completa el acceso con Google en el navegador.");
    session.handleAuthCallback("fotivela://auth?token=");
    EXPECT_EQ(session.message(), "No se ha podido completar el acceso con Google.");
    session.handleAuthCallback("fotivela://auth?error&token=" + token);
    ASSERT_TRUE(QTest::qWaitFor([&] { return session.isAuthenticated(); }, 10000));
    ASSERT_TRUE(idle());
    EXPECT_EQ(session.message(), "Sesión iniciada con Google.");
    EXPECT_TRUE(session.isBalanceSyncRunning());
    EXPECT_EQ(exchanges(), 1);
}

TEST_F(SessionTest, ALateTokenIsRefusedAndSpent)
{
    const auto exchanges = [&] { return fixture.service.requestCount("/api/auth/desktop/exchange"); };
    session.setBrowserSignInLifetime(std::chrono::milliseconds(0));
    session.openGoogleLogin();
    const std::string token = fixture.service.mintDesktopToken(anaEmail);
    session.handleAuthCallback("fotivela://auth?token=" + token);
    EXPECT_EQ(session.message(), "No se ha podido completar el acceso con Google.");
    // Spent at the service by a client of its own; this session stays signed out.
    ASSERT_TRUE(QTest::qWaitFor([&] { return exchanges() == 1; }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.service.requestCount("/api/auth/logout") == 1; }, 10000));
    EXPECT_FALSE(session.isAuthenticated());
    EXPECT_FALSE(fixture.api->sessionCookieHeader());
    EXPECT_THROW(fixture.api->exchangeDesktopAuth(token), std::exception) << "whoever saw the address cannot use it";

    // The sign-in it belonged to is over: the same token again changes nothing at the service.
    session.handleAuthCallback("fotivela://auth?token=" + token);
    QTest::qWait(300);
    EXPECT_EQ(exchanges(), 2) << "only the direct attempt above";
}

TEST_F(SessionTest, AnExchangedTokenWhoseAccountReadFailsLeavesTheAccountAsItWas)
{
    session.openGoogleLogin();
    fixture.service.setFault("/api/auth/me", Fault{503, R"({"error":"database_unavailable"})", "application/json", {}, 0, false, true});
    session.handleAuthCallback("fotivela://auth?token=" + fixture.service.mintDesktopToken(anaEmail));
    ASSERT_TRUE(QTest::qWaitFor([&] { return session.message() == "La base de datos no está disponible."; }, 10000));
    ASSERT_TRUE(idle());
    EXPECT_FALSE(session.isAuthenticated());
    // The service has set the cookie all the same: the next read signs in.
    EXPECT_TRUE(fixture.api->sessionCookieHeader());
    EXPECT_TRUE(fixture.api->me().profile);
}

TEST_F(SessionTest, CheckoutAndPurchases)
{
    signIn();
    session.confirmPendingCheckout();
    EXPECT_EQ(session.message(), "No hay una compra pendiente.");

    session.buyCredits(3000);
    ASSERT_TRUE(idle());
    ASSERT_TRUE(session.pendingCheckoutSessionId());
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(session.message(), "Checkout abierto. Cuando pagues, pulsa Confirmar compra.");
    session.confirmPendingCheckout();
    ASSERT_TRUE(idle());
    EXPECT_EQ(session.message(), "Stripe todavía no marca el pago como completado.");
    ASSERT_TRUE(session.pendingCheckoutSessionId());
    fixture.service.markCheckoutPaid(*session.pendingCheckoutSessionId());
    session.confirmPendingCheckout();
    ASSERT_TRUE(idle());
    EXPECT_EQ(session.message(), "Compra confirmada.");
    EXPECT_FALSE(session.pendingCheckoutSessionId());
    EXPECT_EQ(session.account().balance, 4000);

    session.refreshPurchaseHistory();
    ASSERT_TRUE(QTest::qWaitFor([&] { return session.purchaseHistory().size() == 1; }, 10000));
    fixture.service.setFault("/api/account/purchases", Fault{500, "oops", "text/plain"});
    session.refreshPurchaseHistory();
    ASSERT_TRUE(QTest::qWaitFor([&] { return session.message() != "Compra confirmada."; }, 10000));
    EXPECT_EQ(session.purchaseHistory().size(), 1u);

    session.openPurchaseDocument(session.purchaseHistory()[0].id);
    ASSERT_TRUE(idle());
    EXPECT_EQ(session.message(), "Factura abierta.");
    EXPECT_EQ(opened.back(), fixture.service.baseURL() + "/invoice/" + session.purchaseHistory()[0].id);

    // A page the browser must not open is no page.
    fixture.service.setFault("/api/stripe/checkout", Fault{200, R"({"url": "file:///etc/passwd", "sessionId": "cs_x"})"});
    session.buyCredits(1000);
    ASSERT_TRUE(idle());
    EXPECT_EQ(session.message(), "Stripe no ha devuelto URL de pago.");
    EXPECT_EQ(session.pendingCheckoutSessionId(), "cs_x");
    fixture.service.clearFaults();

    fixture.service.setCheckoutAnswer(true, false);
    session.buyCredits(1000);
    ASSERT_TRUE(idle());
    EXPECT_EQ(session.message(), "Checkout abierto. Después refresca créditos.");
    EXPECT_FALSE(session.pendingCheckoutSessionId());
}

TEST_F(SessionTest, AnExpiredSessionEndsAtTheNextRequestAndTakesThePurchasesWithIt)
{
    signIn();
    fixture.service.setFault("/api/account/purchases",
                             Fault{200, R"({"purchases": [{"id": "pur_1", "detail": "1000"}]})", "application/json", {}, 0, false, true});
    session.refreshPurchaseHistory();
    ASSERT_TRUE(QTest::qWaitFor([&] { return session.purchaseHistory().size() == 1; }, 10000));
    session.buyCredits(1000);
    ASSERT_TRUE(idle());
    ASSERT_TRUE(session.pendingCheckoutSessionId());

    session.setBalanceSyncInterval(std::chrono::milliseconds(100));
    fixture.service.expireSessions(anaEmail);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !session.isAuthenticated(); }, 10000));
    EXPECT_EQ(session.message(), "Necesitas iniciar sesión.");
    EXPECT_FALSE(session.isBalanceSyncRunning());
    EXPECT_TRUE(session.purchaseHistory().empty());
    EXPECT_FALSE(session.pendingCheckoutSessionId());
    EXPECT_FALSE(fixture.api->sessionCookieHeader());

    // Signing in again works at once; a plain sign-out also leaves no purchases behind.
    signIn();
    session.refreshPurchaseHistory();
    fixture.service.setFault("/api/account/purchases", Fault{200, R"({"purchases": [{"id": "pur_2"}]})"});
    session.refreshPurchaseHistory();
    ASSERT_TRUE(QTest::qWaitFor([&] { return session.purchaseHistory().size() == 1; }, 10000));
    session.logout();
    ASSERT_TRUE(idle());
    EXPECT_TRUE(session.purchaseHistory().empty());
}

TEST_F(SessionTest, RefreshesAreCoalescedAndASignOutDoesNotWaitForThem)
{
    signIn();
    fixture.service.setFault("/api/fotivela/ai/config", Fault{200, "{}", "application/json", {}, 8000, true});
    fixture.service.setFault("/api/account/purchases", Fault{200, R"({"purchases": []})", "application/json", {}, 8000, true});
    // The pane asks each time it is shown.
    for (int i = 0; i < 20; ++i) {
        session.refreshCloudAIConfigSilently();
        session.refreshPurchaseHistory();
    }
    // One of each reaches the service and hangs there; the sign-out goes past them.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return fixture.service.requestCount("/api/fotivela/ai/config") >= 1
            && fixture.service.requestCount("/api/account/purchases") >= 1;
    }, 5000));
    session.logout();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !session.isAuthenticated(); }, 5000));
    EXPECT_EQ(session.message(), "Sesión cerrada.");
    EXPECT_EQ(fixture.service.requestCount("/api/fotivela/ai/config"), 1);
    EXPECT_EQ(fixture.service.requestCount("/api/account/purchases"), 1);
}

TEST_F(SessionTest, CloudGenerationsUpdateTheBalanceAndReportFailures)
{
    signIn();
    session.refreshCloudAIConfigSilently();
    ASSERT_TRUE(QTest::qWaitFor([&] { return session.cloudAIConfig().lyricsModel.has_value(); }, 10000));

    CloudLyricsRequest request;
    request.operationId = Uuid::random().toString();
    request.contactSheetBase64 = encodeBase64("\xFF\xD8 sheet");
    std::optional<AccountOutcome<CloudLyricsResponse>> result;
    session.generateCloudLyrics(request, [&](AccountOutcome<CloudLyricsResponse> outcome) { result = std::move(outcome); });
    EXPECT_TRUE(session.isWorking());
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 10000));
    ASSERT_TRUE(result->value);
    EXPECT_EQ(session.message(), "Letra generada. 20 créditos usados.");
    EXPECT_EQ(session.account().balance, 980);
    EXPECT_FALSE(session.isWorking());

    fixture.service.setFault("/api/fotivela/lyrics/generate", Fault{200, R"({"lyrics": "la", "balance": 380})"});
    result.reset();
    session.generateCloudLyrics(request, [&](AccountOutcome<CloudLyricsResponse> outcome) { result = std::move(outcome); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 10000));
    EXPECT_EQ(session.message(), "Letra generada en la nube.");
    EXPECT_EQ(session.account().balance, 380);
    fixture.service.clearFaults();

    fixture.service.setBalance(anaEmail, 10);
    std::optional<AccountOutcome<CloudMusicResponse>> song;
    session.generateCloudMusic(CloudMusicRequest{}, [&](AccountOutcome<CloudMusicResponse> outcome) { song = std::move(outcome); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return song.has_value(); }, 10000));
    EXPECT_FALSE(song->value);
    EXPECT_EQ(AccountSession::readable(song->error), "No tienes créditos suficientes.");
    EXPECT_EQ(session.message(), "No tienes créditos suficientes.");
    EXPECT_FALSE(session.isWorking());
}

} // namespace
} // namespace fotivela
