#include "account/account_api.h"
#include "account_test_support.h"

#include <gtest/gtest.h>

#include <QThread>

#include <chrono>
#include <thread>

namespace fotivela {
namespace {

using testing::AccountServiceFixture;
using testing::anaEmail;
using testing::anaPassword;
using Fault = tools::LocalAccountService::Fault;

template <class Predicate>
bool eventually(Predicate predicate, int milliseconds = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
        if (predicate())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return predicate();
}

TEST(CurlArguments, GetAndPostShapes)
{
    CurlInvocation get{"GET", "https://x.test/api/auth/me", 20, 35, true, false, false};
    const auto getArgs = AccountAPI::curlArguments(get, "/f");
    const std::vector<std::string> expected{"-q", "-sS", "--show-error", "--http1.1", "--connect-timeout", "20",
                                            "--max-time", "35", "--max-filesize", "4194304", "-D", "/f/headers.txt",
                                            "-o", "-", "-X", "GET", "-H", "Accept: application/json", "-H",
                                            "X-Client: Fotivela-macOS", "https://x.test/api/auth/me"};
    EXPECT_EQ(getArgs, expected);

    CurlInvocation post{"POST", "https://x.test/api/auth/logout", 20, 260, true, true, true};
    const auto postArgs = AccountAPI::curlArguments(post, "/f");
    const std::vector<std::string> tail{"-H", "X-Client: Fotivela-macOS", "-H", "@/f/cookie-header.txt",
                                        "-H", "Content-Type: application/json", "--data-binary", "@/f/request.json",
                                        "https://x.test/api/auth/logout"};
    ASSERT_GE(postArgs.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(postArgs.end() - static_cast<long>(tail.size()), postArgs.end()), tail);
    EXPECT_EQ(postArgs[7], "260");
    for (const auto& argument : postArgs)
        EXPECT_EQ(argument.find("orvelant_session"), std::string::npos);
}

TEST(CurlParsing, StatusLines)
{
    EXPECT_EQ(AccountAPI::statusCode("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nA: b\r\n\r\n"), 201);
    EXPECT_EQ(AccountAPI::statusCode("A: b\r\n"), 0);
    EXPECT_EQ(AccountAPI::statusCode(""), 0);
    EXPECT_EQ(AccountAPI::statusCode("HTTP/1.1 404 Not Found\r\nHTTP/1.1 abc\r\n"), 404);
    EXPECT_EQ(AccountAPI::statusCode("http/1.1 500 x\r\n"), 0);
}

TEST(CurlParsing, SessionCookieCapture)
{
    AccountServiceFixture fixture;
    auto& api = *fixture.api;
    api.rememberSessionCookie("HTTP/1.1 200 OK\r\nset-cookie: orvelant_session=abc123; Path=/; HttpOnly\r\n");
    EXPECT_EQ(api.sessionCookieHeader(), "orvelant_session=abc123");
    EXPECT_EQ(fixture.cookies->load(), (StoredSessionCookie{fixture.service.baseURL(), "orvelant_session=abc123"}));

    api.rememberSessionCookie("Set-Cookie: orvelant_session=; Max-Age=0\r\n");
    EXPECT_EQ(api.sessionCookieHeader(), "orvelant_session=abc123");
    api.rememberSessionCookie("X-Set-Cookie: orvelant_session=evil\r\n");
    EXPECT_EQ(api.sessionCookieHeader(), "orvelant_session=abc123");
    api.rememberSessionCookie("Set-Cookie: other=1\r\nSet-Cookie: orvelant_session=first\r\nSet-Cookie: orvelant_session=second; Secure\r\n");
    EXPECT_EQ(api.sessionCookieHeader(), "orvelant_session=second");
    EXPECT_EQ(fixture.cookies->load()->cookiePair, "orvelant_session=second");
}

class MemoryLegacyDefaults : public LegacySessionCookieDefaults {
public:
    explicit MemoryLegacyDefaults(std::optional<std::string> value) : stored(std::move(value)) {}
    std::optional<std::string> value() override { return stored; }
    void remove() override { stored.reset(); }
    std::optional<std::string> stored;
};

TEST(AccountTransport, CookieAtStartPrefersTheKeyringAndMovesALegacyValueOnce)
{
    AccountServiceFixture fixture;
    auto legacy = std::make_shared<MemoryLegacyDefaults>("orvelant_session=old");
    fixture.cookies->save({fixture.service.baseURL(), "orvelant_session=kept"});
    auto api = fixture.makeAPI(35, legacy);
    EXPECT_EQ(api->sessionCookieHeader(), "orvelant_session=kept");
    EXPECT_EQ(legacy->stored, "orvelant_session=old");

    fixture.cookies->remove();
    auto moved = fixture.makeAPI(35, legacy);
    // The earlier version spoke only to the product's service: the cookie moves into the keyring
    // as that service's, and is not sent to this one.
    EXPECT_FALSE(moved->sessionCookieHeader());
    EXPECT_EQ(fixture.cookies->load(), (StoredSessionCookie{defaultServiceOrigin, "orvelant_session=old"}));
    EXPECT_FALSE(legacy->stored);
}

TEST(AccountTransport, SignInReadsTheAccountAndReportsTheLaunchOnce)
{
    AccountServiceFixture fixture;
    auto& api = *fixture.api;
    const auto summary = api.login(anaEmail, anaPassword);
    ASSERT_TRUE(summary.profile);
    EXPECT_EQ(summary.profile->id, "user-ana");
    EXPECT_EQ(summary.balance, 1000);
    ASSERT_TRUE(api.sessionCookieHeader());
    EXPECT_EQ(fixture.cookies->load()->cookiePair, api.sessionCookieHeader());

    // The cookie reached the server as a header; the login body went as a file, not as an argument.
    const auto headers = fixture.service.lastHeaders("/api/auth/me");
    EXPECT_EQ(headers.at("Cookie"), *api.sessionCookieHeader());
    EXPECT_EQ(headers.at("X-Client"), "Fotivela-macOS");
    EXPECT_EQ(headers.at("Accept"), "application/json");
    EXPECT_EQ(nlohmann::json::parse(fixture.service.lastBody("/api/auth/login"))["password"], anaPassword);

    ASSERT_TRUE(eventually([&] { return api.hasReportedLaunch("user-ana"); }));
    api.me();
    api.me();
    QThread::msleep(200);
    api.waitForLaunchReports();
    const auto reports = fixture.service.launchReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].first, api.appLaunchID());
    EXPECT_EQ(reports[0].second, "user-ana");
    EXPECT_TRUE(eventually([&] { return fixture.requestFolderCount() == 0; }));
}

TEST(AccountTransport, AnUnacknowledgedLaunchReportIsSentAgainAndDemoIsNeverReported)
{
    AccountServiceFixture fixture;
    fixture.service.addAccount("demo@example.com", "demodemo", "demo", 5);
    auto& api = *fixture.api;
    api.login("demo@example.com", "demodemo");
    QThread::msleep(300);
    EXPECT_EQ(fixture.service.requestCount("/api/apps/open"), 0);

    fixture.service.setFault("/api/apps/open", Fault{200, R"({"ok": false})"});
    api.login(anaEmail, anaPassword);
    ASSERT_TRUE(eventually([&] { return fixture.service.requestCount("/api/apps/open") == 1; }));
    api.waitForLaunchReports();
    QThread::msleep(100);
    EXPECT_FALSE(api.hasReportedLaunch("user-ana"));
    fixture.service.clearFaults();
    api.me();
    EXPECT_TRUE(eventually([&] { return api.hasReportedLaunch("user-ana"); }));
}

TEST(AccountTransport, UnauthorizedForgetsTheCookieEvenWhenTheAnswerSetsOne)
{
    AccountServiceFixture fixture;
    auto& api = *fixture.api;
    api.login(anaEmail, anaPassword);
    fixture.service.setFault("/api/auth/me", Fault{401, R"({"error":"unauthorized"})", "application/json",
                                                   {{"Set-Cookie", "orvelant_session=fresh; Path=/"}}});
    try {
        api.me();
        FAIL() << "expected unauthorized";
    } catch (const AccountError& error) {
        EXPECT_EQ(error, AccountError::unauthorized());
    }
    EXPECT_FALSE(api.sessionCookieHeader());
    EXPECT_FALSE(fixture.cookies->load());
    // The sign-in's launch report may still be running with its own folder.
    EXPECT_TRUE(eventually([&] { return fixture.requestFolderCount() == 0; }));
}

TEST(AccountTransport, ServerErrorsBecomeTheirTexts)
{
    AccountServiceFixture fixture;
    auto& api = *fixture.api;
    const auto messageOf = [&](auto&& call) -> std::string {
        try {
            call();
        } catch (const AccountError& error) {
            return error.what();
        }
        return "no error";
    };

    fixture.service.setFault("/api/fotivela/ai/config", Fault{500, "<html><body>Bad gateway</body></html>", "text/html"});
    EXPECT_EQ(messageOf([&] { api.cloudAIConfig(); }),
              "El servidor ha tenido un error interno. Revisa la configuracion de Orvelant.");
    fixture.service.setFault("/api/fotivela/ai/config", Fault{400, R"({"error":"no_such_code"})"});
    EXPECT_EQ(messageOf([&] { api.cloudAIConfig(); }), "No se ha podido completar la operación.");
    fixture.service.setFault("/api/fotivela/ai/config", Fault{400, R"({"reason":"invalid_credentials"})"});
    EXPECT_EQ(messageOf([&] { api.cloudAIConfig(); }), "Email o contraseña incorrectos.");
    fixture.service.setFault("/api/fotivela/ai/config", Fault{200, R"({"lyricsCost": "veinte"})"});
    EXPECT_EQ(messageOf([&] { api.cloudAIConfig(); }), "No se ha podido leer la respuesta del servidor.");
    fixture.service.setFault("/api/fotivela/ai/config", Fault{200, "not json"});
    EXPECT_EQ(messageOf([&] { api.cloudAIConfig(); }), "No se ha podido leer la respuesta del servidor.");
    fixture.service.clearFaults();
    EXPECT_EQ(api.cloudAIConfig().lyricsCost, 20);

    EXPECT_EQ(messageOf([&] { api.login(anaEmail, "wrong"); }), "Email o contraseña incorrectos.");
    EXPECT_TRUE(eventually([&] { return fixture.requestFolderCount() == 0; }));
}

TEST(AccountTransport, UnreachableServerAndTimeOutGiveCurlsOwnLine)
{
    AccountServiceFixture fixture(0.5);
    fixture.service.setFault("/api/auth/me", Fault{200, R"({"balance":0})", "application/json", {}, 1500});
    try {
        fixture.api->me();
        FAIL() << "expected a time-out";
    } catch (const AccountError& error) {
        EXPECT_EQ(error.kind(), AccountError::Kind::message);
        EXPECT_NE(std::string(error.what()).find("timed out"), std::string::npos) << error.what();
    }

    AccountAPIConfiguration closed;
    closed.baseURL = "http://127.0.0.1:1";
    closed.cookieStore = fixture.cookies;
    fixture.cookies->save({"http://127.0.0.1:1", "orvelant_session=kept"});
    AccountAPI api(closed);
    try {
        api.logout();
        FAIL() << "expected a connection error";
    } catch (const AccountError& error) {
        const std::string text = error.what();
        EXPECT_TRUE(text.starts_with("curl: (7)")) << text;
        EXPECT_EQ(text, std::string(text.c_str()));
        EXPECT_NE(text.back(), '\n');
    }
    // A sign-out that did not reach the server keeps the session.
    EXPECT_EQ(api.sessionCookieHeader(), "orvelant_session=kept");
    EXPECT_EQ(fixture.requestFolderCount(), 0);
}

TEST(AccountTransport, CheckoutPurchasesAndInvoiceLinks)
{
    AccountServiceFixture fixture;
    auto& api = *fixture.api;
    api.login(anaEmail, anaPassword);
    const auto checkout = api.startCheckout(2000);
    ASSERT_TRUE(checkout.sessionId);
    ASSERT_TRUE(checkout.url);
    EXPECT_THROW(api.confirmCheckout(*checkout.sessionId), AccountError);
    fixture.service.markCheckoutPaid(*checkout.sessionId);
    EXPECT_EQ(api.confirmCheckout(*checkout.sessionId).balance, 3000);

    // An answer that is not recorded is not a purchase.
    fixture.service.setFault("/api/stripe/confirm", Fault{200, R"({"ok": false, "balance": 9999})"});
    try {
        api.confirmCheckout(*checkout.sessionId);
        FAIL();
    } catch (const AccountError& error) {
        EXPECT_STREQ(error.what(), "No se ha podido confirmar la compra todavía.");
    }
    // The summary read after the confirmation reports another balance; the confirmation's wins.
    fixture.service.setFault("/api/stripe/confirm", Fault{200, R"({"ok": true, "balance": 4242})"});
    EXPECT_EQ(api.confirmCheckout(*checkout.sessionId).balance, 4242);
    fixture.service.clearFaults();

    const auto history = api.purchaseHistory();
    ASSERT_EQ(history.purchases.size(), 1u);
    EXPECT_EQ(history.purchases[0].detail, "2000");
    EXPECT_EQ(api.purchaseDocumentLink(history.purchases[0].id).url,
              fixture.service.baseURL() + "/invoice/" + history.purchases[0].id);

    // Query characters stay as they are; a space is escaped.
    EXPECT_THROW(api.purchaseDocumentLink("a b&c=d"), AccountError);
    EXPECT_EQ(fixture.service.lastTarget("/api/account/purchases/link"), "/api/account/purchases/link?purchaseId=a%20b&c=d");
}

TEST(AccountTransport, OnlyHttpsOrLoopbackHttpServices)
{
    EXPECT_TRUE(AccountAPI::isAllowedServiceURL("https://api.orvelant.com"));
    EXPECT_TRUE(AccountAPI::isAllowedServiceURL("http://127.0.0.1:8787"));
    EXPECT_TRUE(AccountAPI::isAllowedServiceURL("http://[::1]:8787"));
    EXPECT_FALSE(AccountAPI::isAllowedServiceURL("http://api.orvelant.com"));
    EXPECT_FALSE(AccountAPI::isAllowedServiceURL("file:///etc/passwd"));
    EXPECT_FALSE(AccountAPI::isAllowedServiceURL(""));
}

TEST(AccountTransport, CloudLyricsRequestIsChargedAndAnswered)
{
    AccountServiceFixture fixture;
    auto& api = *fixture.api;
    api.login(anaEmail, anaPassword);
    CloudLyricsRequest request;
    request.operationId = Uuid::random().toString();
    request.modelPreference = "gemini-2.5-flash-lite";
    request.contactSheetBase64 = encodeBase64("\xFF\xD8\xFF\xE0 jpeg");
    request.contactSheetMimeType = "image/jpeg";
    request.slideCount = 4;
    request.duration = 30;
    request.format = "YouTube 16:9";
    request.subjectName = "Verano";
    const auto answer = api.generateCloudLyrics(request);
    EXPECT_EQ(answer.cost, 20);
    EXPECT_EQ(answer.balance, 980);
    EXPECT_EQ(answer.operationId, request.operationId);
    EXPECT_NE(answer.lyrics.find("Verano"), std::string::npos);

    CloudMusicRequest song;
    song.operationId = Uuid::random().toString();
    song.duration = 5;
    const auto music = api.generateCloudMusic(song);
    ASSERT_TRUE(music.inlineAudio());
    EXPECT_EQ(music.inlineAudio()->substr(0, 4), "RIFF");
    EXPECT_EQ(music.balance, 800);
}

} // namespace
} // namespace fotivela

namespace fotivela {
namespace {

TEST(AccountTransport, ClosingTheClientEndsTheRunningChildren)
{
    testing::AccountServiceFixture fixture;
    fixture.service.setFault("/api/fotivela/ai/config",
                             tools::LocalAccountService::Fault{200, "{}", "application/json", {}, 1500, true});
    std::weak_ptr<AccountAPI> weak = fixture.api;
    fixture.api->runAsync(
        [api = fixture.api.get()] {
            try {
                api->cloudAIConfig();
            } catch (const AccountError&) {
            }
            return true;
        },
        [](bool) {});
    ASSERT_TRUE(eventually([&] { return fixture.service.requestCount("/api/fotivela/ai/config") == 1; }));
    const auto start = std::chrono::steady_clock::now();
    fixture.api.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
    EXPECT_EQ(fixture.requestFolderCount(), 0);
}

} // namespace
} // namespace fotivela
