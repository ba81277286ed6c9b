#pragma once

#include "account/account_api.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fotivela {

// The start-up account read did not answer in time.
class RequestTimedOutError : public Error {
public:
    RequestTimedOutError() : Error("El servidor ha tardado demasiado en responder. Inténtalo otra vez.") {}
};

// The observed properties of the session; changed(field) names the one that changed.
enum class AccountSessionField { account, isLoading, isWorking, message, pendingCheckoutSessionId, cloudAIConfig, purchaseHistory };

// What an asynchronous call hands back: the value, or the error it failed with.
template <class T>
struct AccountOutcome {
    std::optional<T> value;
    std::exception_ptr error;
};

// The account as the interface sees it, on the main thread. Each flow sets isWorking, waits for the
// service off the main thread, applies the result and a Spanish text in message (never emptied once
// set), then clears isWorking. Only this object talks to the AccountAPI.
class AccountSession : public QObject {
    Q_OBJECT

public:
    using BrowserOpener = std::function<void(const std::string& url)>;

    // The program's session: the shared client and the desktop's browser.
    AccountSession();
    AccountSession(std::shared_ptr<AccountAPI> api, BrowserOpener openInBrowser, QObject* parent = nullptr);
    ~AccountSession() override;

    const AccountSummary& account() const { return m_account; }
    bool isLoading() const { return m_isLoading; }
    bool isWorking() const { return m_isWorking; }
    const std::string& message() const { return m_message; }
    const std::optional<std::string>& pendingCheckoutSessionId() const { return m_pendingCheckoutSessionId; }
    const CloudAIConfig& cloudAIConfig() const { return m_cloudAIConfig; }
    const std::vector<PurchaseHistoryItem>& purchaseHistory() const { return m_purchaseHistory; }

    bool isAuthenticated() const { return m_account.profile.has_value(); }
    // The full name, else the e-mail before its "@", else "Usuario".
    std::string displayName() const { return displayName(m_account); }
    static std::string displayName(const AccountSummary& account);
    bool isBalanceSyncRunning() const { return m_balanceTimer.isActive(); }

    // Start-up: the account read raced against the start-up time-out (8 s).
    void bootstrap();

    void login(const std::string& email, const std::string& password);
    void registerAccount(const std::string& email, const std::string& password);
    void logout();
    void updateProfile(const std::string& fullName);
    void changePassword(const std::string& currentPassword, const std::string& newPassword,
                        const std::string& confirmNewPassword);
    void requestPasswordReset(const std::string& email);
    void openGoogleLogin();
    // The browser's return, "fotivela://auth?token=..." or "...?error=...".
    void handleAuthCallback(const std::string& url);

    void buyCredits(std::int64_t credits);
    void confirmPendingCheckout();
    void refreshPurchaseHistory();
    void openPurchaseDocument(const std::string& purchaseId);
    void refreshCloudAIConfigSilently();
    // done receives the answer or the error (whose text is also left in message).
    void generateCloudLyrics(const CloudLyricsRequest& request, std::function<void(AccountOutcome<CloudLyricsResponse>)> done);
    void generateCloudMusic(const CloudMusicRequest& request, std::function<void(AccountOutcome<CloudMusicResponse>)> done);

    // The text an error shows.
    static std::string readable(const std::exception_ptr& error);
    // Whether the error is the service's 401.
    static bool isUnauthorized(const std::exception_ptr& error);
    // Signed out: balance 0, no profile, no storage.
    static AccountSummary signedOutSummary() { return {}; }

    // Shorter waits for tests; the program keeps 8 s and 20 s.
    void setStartupTimeout(std::chrono::milliseconds timeout) { m_startupTimeout = timeout; }
    // How long a started browser sign-in waits for its token (15 minutes).
    void setBrowserSignInLifetime(std::chrono::milliseconds lifetime) { m_browserSignInLifetime = lifetime; }
    void setBalanceSyncInterval(std::chrono::milliseconds interval);

signals:
    void changed(fotivela::AccountSessionField field);

private:
    // Runs work on the client's workers of that lane and hands its outcome to done. A 401 ends the
    // session first (see endSessionAfterUnauthorized).
    template <class T, class Work, class Done>
    TaskHandle call(Work work, Done done, AccountLane lane = AccountLane::user);
    template <class T, class Work, class Success>
    void working(Work work, Success success);

    // The service no longer knows the session: signed out, the sign-in form shows. Unless a newer
    // sign-in has set its own cookie meanwhile.
    void endSessionAfterUnauthorized();
    void startBalanceSync();
    void stopBalanceSync();
    void syncBalance();
    void setAccount(AccountSummary account);
    void setIsLoading(bool value);
    void setIsWorking(bool value);
    void setMessage(std::string text);
    void setPendingCheckoutSessionId(std::optional<std::string> id);
    void setCloudAIConfig(CloudAIConfig config);
    void setPurchaseHistory(std::vector<PurchaseHistoryItem> purchases);
    void setBalance(std::int64_t balance);

    AccountSummary m_account = signedOutSummary();
    bool m_isLoading = true;
    bool m_isWorking = false;
    std::string m_message;
    std::optional<std::string> m_pendingCheckoutSessionId;
    CloudAIConfig m_cloudAIConfig = CloudAIConfig::fallback();
    std::vector<PurchaseHistoryItem> m_purchaseHistory;

    std::shared_ptr<AccountAPI> m_api;
    BrowserOpener m_openInBrowser;
    QTimer m_balanceTimer;
    TaskHandle m_balanceRequest;
    bool m_isBalanceRequestRunning = false;
    // Background refreshes run one at a time: a refresh asked for while one runs is that one.
    bool m_isConfigRefreshRunning = false;
    bool m_isPurchaseRefreshRunning = false;
    std::chrono::milliseconds m_startupTimeout{8000};
    // When the user started a browser sign-in in this run; a token arriving without one is refused.
    std::optional<std::chrono::steady_clock::time_point> m_googleSignInStartedAt;
    std::chrono::milliseconds m_browserSignInLifetime{std::chrono::minutes(15)};
};

template <class T, class Work, class Done>
TaskHandle AccountSession::call(Work work, Done done, AccountLane lane)
{
    QPointer<AccountSession> self(this);
    return m_api->runAsync(
        [work = std::move(work)]() mutable {
            AccountOutcome<T> outcome;
            try {
                outcome.value = work();
            } catch (...) {
                outcome.error = std::current_exception();
            }
            return outcome;
        },
        [self, done = std::move(done)](AccountOutcome<T> outcome) mutable {
            if (!self)
                return;
            if (isUnauthorized(outcome.error))
                self->endSessionAfterUnauthorized();
            done(std::move(outcome));
        },
        lane);
}

template <class T, class Work, class Success>
void AccountSession::working(Work work, Success success)
{
    setIsWorking(true);
    call<T>(std::move(work), [this, success = std::move(success)](AccountOutcome<T> outcome) mutable {
        if (outcome.value)
            success(std::move(*outcome.value));
        else
            setMessage(readable(outcome.error));
        setIsWorking(false);
    });
}

} // namespace fotivela
