#pragma once

#include "account/account_error.h"
#include "account/account_wire_model.h"
#include "account/cloud_ai_wire_model.h"
#include "account/session_cookie_store.h"
#include "platform/background_task.h"

#include <QCoreApplication>
#include <QThreadPool>

#include <sys/types.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace fotivela {

// One completed curl run.
struct CurlHTTPResponse {
    std::int64_t statusCode = 0;
    std::string headers;
    std::string body;
};

struct AccountAPIConfiguration {
    // The account service host, without a path. https, or http on a loopback address.
    std::string baseURL = "https://api.orvelant.com";
    // The product's public web host, where the browser sign-in page lives.
    std::string publicAuthURL = "https://orvelant.com";
    std::shared_ptr<SessionCookieStore> cookieStore;
    // Nothing on Linux: no earlier version kept a cookie there.
    std::shared_ptr<LegacySessionCookieDefaults> legacyDefaults;
    double connectTimeoutSeconds = 20;
    double maxTimeWithoutBodySeconds = 35;
    double maxTimeWithBodySeconds = 260;
    double launchReportTimeoutSeconds = 8;
};

// The most an answer may hold, and the sentence the user reads when one holds more. curl refuses
// an answer that announces more; one that sends more is cut off while it arrives.
struct ResponseLimit {
    std::int64_t bytes = 0;
    std::string message;

    // Every JSON answer but the generated song's.
    static ResponseLimit json();
    // A song fetched from its address.
    static ResponseLimit song();
    // The generated song's answer, which may carry the song inline as base64.
    static ResponseLimit inlineSong();
};

// The largest song the program takes from the cloud (64 MiB: over six minutes of CD-quality WAV).
inline constexpr std::int64_t maxSongBytes = std::int64_t{64} << 20;

// What the command line of one curl run needs besides its files.
struct CurlInvocation {
    std::string method;
    std::string url;
    double connectTimeoutSeconds = 20;
    double maxTimeSeconds = 35;
    bool sendsAccept = true;
    bool hasCookie = false;
    bool hasBody = false;
    std::int64_t maxResponseBytes = ResponseLimit::json().bytes;
};

// Which workers a call runs on. Background refreshes have their own few, so that a user's action
// (signing out, buying) never waits behind refreshes that hang.
enum class AccountLane { user, background };

// The client of the account service: one object for the run. Every operation blocks until its curl
// child has exited and may be called from any thread except the main one; the session runs them on
// the client's own workers (runAsync), so several requests can be in flight, each with its own
// folder and child. The cookie is read when a request starts and updated when its response is
// processed, under one lock. The cookie belongs to the service's origin (scheme, host and port): a
// cookie stored for another origin is never sent.
class AccountAPI {
public:
    explicit AccountAPI(AccountAPIConfiguration configuration);
    ~AccountAPI();
    AccountAPI(const AccountAPI&) = delete;
    AccountAPI& operator=(const AccountAPI&) = delete;

    // The program's instance: the keyring cookie store, and the hosts from "FOTIVELA_ACCOUNT_URL"
    // and "FOTIVELA_PUBLIC_WEB_URL" when set (so the program can run against the local service).
    static std::shared_ptr<AccountAPI> shared();

    // Server error code to the user's text.
    static std::string userMessage(std::string_view code);
    // Status of the last valid status line of a header text; 0 when there is none.
    static std::int64_t statusCode(std::string_view headers);
    // The argument vector of one run, files given by the request folder.
    static std::vector<std::string> curlArguments(const CurlInvocation& invocation, const std::filesystem::path& folder);
    // Whether a host may be reached over plain http (loopback only).
    static bool isAllowedServiceURL(std::string_view url);
    // "scheme://host[:port]" of an address, lower case, without a default port; empty when invalid.
    static std::string originOf(std::string_view url);

    AccountSummary me();
    AccountSummary login(const std::string& email, const std::string& password);
    AccountSummary registerAccount(const std::string& email, const std::string& password);
    void logout();
    AccountSummary updateProfile(const std::string& fullName);
    void changePassword(const std::string& currentPassword, const std::string& newPassword,
                        const std::string& confirmNewPassword);
    void requestPasswordReset(const std::string& email);
    void exchangeDesktopAuth(const std::string& token);
    // Spends a one-time sign-in token without signing in with it: a client of its own, with a
    // cookie kept in memory, exchanges it and ends the session it got.
    void discardDesktopAuth(const std::string& token);
    CheckoutStart startCheckout(std::int64_t credits);
    AccountSummary confirmCheckout(const std::string& sessionId);
    PurchaseHistoryResponse purchaseHistory();
    PurchaseDocumentLinkResponse purchaseDocumentLink(const std::string& purchaseId);
    CloudAIConfig cloudAIConfig();
    CloudLyricsResponse generateCloudLyrics(const CloudLyricsRequest& request);
    CloudMusicResponse generateCloudMusic(const CloudMusicRequest& request);

    // Takes the session cookie from a response's header text; returns the pair it took, if any.
    std::optional<std::string> rememberSessionCookie(std::string_view headers);

    std::optional<std::string> sessionCookieHeader() const;
    const std::string& baseURL() const { return m_configuration.baseURL; }
    // publicAuthURL + "/api/auth/oauth/google?client=macos".
    std::string googleSignInURL() const;

    // Fetches a file an answer of the service points to (a generated song): a GET of an https
    // address (http on loopback only) without the session cookie, following at most five
    // redirects, to https only, of at most ResponseLimit::song(). Throws
    // AccountError::invalidResponse for an address it refuses and AccountError::message when curl
    // fails or the file is too large; any HTTP status comes back to the caller.
    CurlHTTPResponse download(const std::string& url) const;
    const std::string& appLaunchID() const { return m_appLaunchID; }
    bool hasReportedLaunch(const std::string& userID) const;
    // Waits until no launch report is running (tests and orderly shutdown).
    void waitForLaunchReports();

    // Runs a blocking operation on the client's own workers of that lane and hands its result to
    // deliver on the main thread, unless the handle was cancelled meanwhile.
    template <typename Work, typename Deliver>
    TaskHandle runAsync(Work work, Deliver deliver, AccountLane lane = AccountLane::user);

    // The generic request: path relative to the base URL, method, optional JSON body, and the most
    // the answer may hold.
    template <typename Response>
    Response request(std::string_view path, std::string_view method, const std::optional<nlohmann::json>& body = {},
                     const ResponseLimit& limit = ResponseLimit::json())
    {
        const CurlHTTPResponse response = send(path, method, body, limit);
        if (response.statusCode >= 200 && response.statusCode <= 299) {
            try {
                return Response::decode(parseResponse(response.body));
            } catch (const std::exception&) {
                throw AccountError::invalidResponse();
            }
        }
        throwForStatus(response);
    }

private:
    // Steps shared by every request: resolve, encode, run, capture the cookie, handle 401.
    CurlHTTPResponse send(std::string_view path, std::string_view method, const std::optional<nlohmann::json>& body,
                          const ResponseLimit& limit);
    CurlHTTPResponse curlRequest(const std::string& url, const std::string& method,
                                 const std::optional<std::string>& body, const std::optional<std::string>& cookie,
                                 double maxTimeSeconds, bool sendsAccept, const ResponseLimit& limit) const;
    static nlohmann::json parseResponse(const std::string& body);
    [[noreturn]] static void throwForStatus(const CurlHTTPResponse& response);
    void forgetSessionCookie();
    // Only while the cookie is still that one: a 401 to a request made in an older session must not
    // end a newer one.
    void forgetSessionCookieIfStill(const std::optional<std::string>& expected);
    void reportAppLaunchIfNeeded(const std::string& userID);
    void removeStaleRequestFolders() const;

    struct ChildResult {
        int exitStatus = -1;
        std::string standardError;
        // What curl wrote to its standard output (the body), at most the limit.
        std::string output;
        bool outputTooLarge = false;
    };
    ChildResult runCurl(const std::vector<std::string>& arguments, std::int64_t outputLimit) const;
    CurlHTTPResponse finishRun(const ChildResult& child, const std::filesystem::path& folder, const ResponseLimit& limit) const;

    AccountAPIConfiguration m_configuration;
    std::string m_appLaunchID;
    std::string m_origin;

    mutable std::mutex m_cookieLock;
    std::optional<std::string> m_sessionCookieHeader;

    mutable std::mutex m_launchLock;
    std::set<std::string> m_reportedLaunchUsers;
    bool m_launchReportInFlight = false;

    // Running curl children, ended when the client goes away (at quit) so that nothing waits for them.
    mutable std::mutex m_childLock;
    mutable std::set<pid_t> m_children;
    bool m_isShuttingDown = false;

    // Last, so that they are destroyed first: they wait for the work that still uses the members above.
    QThreadPool m_backgroundWorkers;
    QThreadPool m_userWorkers;
};

template <typename Work, typename Deliver>
TaskHandle AccountAPI::runAsync(Work work, Deliver deliver, AccountLane lane)
{
    TaskHandle handle;
    QThreadPool& workers = lane == AccountLane::background ? m_backgroundWorkers : m_userWorkers;
    workers.start([handle, work = std::move(work), deliver = std::move(deliver)]() mutable {
        auto result = std::make_shared<std::invoke_result_t<Work&>>(work());
        // Nothing to deliver to once the application object is gone (the client's last moments at quit).
        if (auto* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app,
                [handle, result, deliver = std::move(deliver)]() mutable {
                    if (!handle.isCancelled())
                        deliver(std::move(*result));
                },
                Qt::QueuedConnection);
    });
    return handle;
}

} // namespace fotivela
