#include "account/account_session.h"

#include "platform/log.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace fotivela {

namespace {

std::optional<std::string> nilIfBlank(const std::string& text)
{
    const QString trimmed = QString::fromStdString(text).trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed.toStdString();
}

void openWithDesktop(const std::string& url)
{
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url), QUrl::StrictMode));
}

} // namespace

AccountSession::AccountSession() : AccountSession(AccountAPI::shared(), openWithDesktop) {}

AccountSession::AccountSession(std::shared_ptr<AccountAPI> api, BrowserOpener openInBrowser, QObject* parent)
    : QObject(parent), m_api(std::move(api)), m_openInBrowser(std::move(openInBrowser))
{
    m_balanceTimer.setInterval(20000);
    connect(&m_balanceTimer, &QTimer::timeout, this, &AccountSession::syncBalance);
}

AccountSession::~AccountSession()
{
    m_balanceRequest.cancel();
}

std::string AccountSession::displayName(const AccountSummary& account)
{
    if (account.profile) {
        if (account.profile->fullName)
            if (auto name = nilIfBlank(*account.profile->fullName))
                return *name;
        if (account.profile->email) {
            const std::string& email = *account.profile->email;
            if (auto first = nilIfBlank(email.substr(0, email.find('@'))))
                return *first;
        }
    }
    return "Usuario";
}

std::string AccountSession::readable(const std::exception_ptr& error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const AccountError& accountError) {
        return accountError.what();
    } catch (const RequestTimedOutError& timedOut) {
        return timedOut.what();
    } catch (const std::exception& other) {
        return other.what();
    } catch (...) {
    }
    return "No se ha podido completar la operación.";
}

bool AccountSession::isUnauthorized(const std::exception_ptr& error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const AccountError& accountError) {
        return accountError.kind() == AccountError::Kind::unauthorized;
    } catch (...) {
    }
    return false;
}

void AccountSession::endSessionAfterUnauthorized()
{
    // The client forgets the cookie on a 401 unless a later sign-in replaced it.
    if (m_api->sessionCookieHeader())
        return;
    const bool wasSignedIn = isAuthenticated();
    stopBalanceSync();
    setPendingCheckoutSessionId(std::nullopt);
    setAccount(signedOutSummary());
    if (wasSignedIn)
        setMessage(AccountError::unauthorized().what());
}

void AccountSession::bootstrap()
{
    setIsLoading(true);
    auto settled = std::make_shared<bool>(false);
    const auto fail = [this](const std::exception_ptr& error) {
        setAccount(signedOutSummary());
        stopBalanceSync();
        setMessage(readable(error));
        setIsLoading(false);
    };
    // The read goes on after a time-out; its late answer is dropped.
    TaskHandle read = call<AccountSummary>([api = m_api.get()] { return api->me(); },
                                           [this, settled, fail](AccountOutcome<AccountSummary> outcome) {
                                               if (*settled)
                                                   return;
                                               *settled = true;
                                               if (!outcome.value)
                                                   return fail(outcome.error);
                                               setAccount(std::move(*outcome.value));
                                               startBalanceSync();
                                               setIsLoading(false);
                                           });
    QTimer::singleShot(m_startupTimeout, this, [settled, fail, read]() mutable {
        if (*settled)
            return;
        *settled = true;
        read.cancel();
        fail(std::make_exception_ptr(RequestTimedOutError()));
    });
}

void AccountSession::setBalanceSyncInterval(std::chrono::milliseconds interval)
{
    m_balanceTimer.setInterval(interval);
}

void AccountSession::startBalanceSync()
{
    if (!isAuthenticated() || m_balanceTimer.isActive())
        return;
    m_balanceTimer.start();
}

void AccountSession::stopBalanceSync()
{
    m_balanceTimer.stop();
    // A read already under way must not sign the user back in.
    m_balanceRequest.cancel();
    m_isBalanceRequestRunning = false;
}

void AccountSession::syncBalance()
{
    if (!isAuthenticated()) {
        stopBalanceSync();
        return;
    }
    if (m_isBalanceRequestRunning)
        return;
    m_isBalanceRequestRunning = true;
    m_balanceRequest = call<AccountSummary>([api = m_api.get()] { return api->me(); },
                                            [this](AccountOutcome<AccountSummary> outcome) {
                                                m_isBalanceRequestRunning = false;
                                                // Other failures change nothing; a 401 has ended the session.
                                                if (outcome.value)
                                                    setAccount(std::move(*outcome.value));
                                            },
                                            AccountLane::background);
}

void AccountSession::setAccount(AccountSummary account)
{
    if (account == m_account)
        return;
    const auto userOf = [](const AccountSummary& summary) {
        return summary.profile ? std::optional<std::string>(summary.profile->id) : std::nullopt;
    };
    // Purchases belong to the person signed in: the next one at this desktop must not see them.
    const bool otherUser = userOf(account) != userOf(m_account);
    m_account = std::move(account);
    emit changed(AccountSessionField::account);
    if (otherUser)
        setPurchaseHistory({});
}

void AccountSession::setBalance(std::int64_t balance)
{
    if (balance == m_account.balance)
        return;
    m_account.balance = balance;
    emit changed(AccountSessionField::account);
}

void AccountSession::setIsLoading(bool value)
{
    if (value == m_isLoading)
        return;
    m_isLoading = value;
    emit changed(AccountSessionField::isLoading);
}

void AccountSession::setIsWorking(bool value)
{
    if (value == m_isWorking)
        return;
    m_isWorking = value;
    emit changed(AccountSessionField::isWorking);
}

void AccountSession::setMessage(std::string text)
{
    if (text == m_message)
        return;
    m_message = std::move(text);
    emit changed(AccountSessionField::message);
}

void AccountSession::setPendingCheckoutSessionId(std::optional<std::string> id)
{
    if (id == m_pendingCheckoutSessionId)
        return;
    m_pendingCheckoutSessionId = std::move(id);
    emit changed(AccountSessionField::pendingCheckoutSessionId);
}

void AccountSession::setCloudAIConfig(CloudAIConfig config)
{
    if (config == m_cloudAIConfig)
        return;
    m_cloudAIConfig = std::move(config);
    emit changed(AccountSessionField::cloudAIConfig);
}

void AccountSession::setPurchaseHistory(std::vector<PurchaseHistoryItem> purchases)
{
    if (purchases == m_purchaseHistory)
        return;
    m_purchaseHistory = std::move(purchases);
    emit changed(AccountSessionField::purchaseHistory);
}

} // namespace fotivela
