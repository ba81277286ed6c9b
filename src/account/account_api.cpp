#include "account/account_api.h"

#include "platform/log.h"
#include "platform/uuid.h"

#include <QThread>
#include <QUrl>

#include <csignal>
#include <cstdlib>

namespace fotivela {

namespace {

// The characters a URL query may hold as they are; everything else is escaped as UTF-8 bytes.
std::string percentEncodedForQuery(std::string_view text)
{
    static constexpr std::string_view allowed = "!$&'()*+,-./:;=?@_~";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
            allowed.find(c) != std::string_view::npos) {
            out.push_back(c);
        } else {
            static constexpr char hex[] = "0123456789ABCDEF";
            out.push_back('%');
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 15]);
        }
    }
    return out;
}

std::string environmentURL(const char* name, const std::string& fallback)
{
    const char* value = std::getenv(name);
    if (!value || !*value)
        return fallback;
    if (!AccountAPI::isAllowedServiceURL(value)) {
        logLine(std::string("Fotivela account: ") + name + " ignored, it must be https or http on loopback");
        return fallback;
    }
    return value;
}

} // namespace

AccountAPI::AccountAPI(AccountAPIConfiguration configuration)
    : m_configuration(std::move(configuration)), m_appLaunchID(Uuid::random().toString()),
      m_origin(originOf(m_configuration.baseURL))
{
    // Refreshes are coalesced by the session; these few are for them and the launch report.
    m_backgroundWorkers.setMaxThreadCount(4);
    m_userWorkers.setMaxThreadCount(8);
    removeStaleRequestFolders();
    const std::optional<std::string> legacy =
        m_configuration.legacyDefaults ? m_configuration.legacyDefaults->value() : std::nullopt;
    const std::optional<StoredSessionCookie> stored =
        m_configuration.cookieStore ? m_configuration.cookieStore->load() : std::nullopt;
    // A cookie set by another service (the address was changed since) is never sent here.
    if (stored) {
        if (stored->origin == m_origin)
            m_sessionCookieHeader = stored->cookiePair;
    } else if (legacy && m_origin == defaultServiceOrigin) {
        m_sessionCookieHeader = legacy;
    }
    if (!stored && legacy) {
        if (m_configuration.cookieStore)
            m_configuration.cookieStore->save({defaultServiceOrigin, *legacy});
        m_configuration.legacyDefaults->remove();
    }
}

AccountAPI::~AccountAPI()
{
    {
        std::lock_guard lock(m_childLock);
        m_isShuttingDown = true;
        for (const pid_t child : m_children)
            ::kill(child, SIGTERM);
    }
    m_userWorkers.waitForDone();
    m_backgroundWorkers.waitForDone();
}

std::shared_ptr<AccountAPI> AccountAPI::shared()
{
    static const std::shared_ptr<AccountAPI> instance = [] {
        AccountAPIConfiguration configuration;
        configuration.baseURL = environmentURL("FOTIVELA_ACCOUNT_URL", configuration.baseURL);
        configuration.publicAuthURL = environmentURL("FOTIVELA_PUBLIC_WEB_URL", configuration.publicAuthURL);
        configuration.cookieStore = std::make_shared<KeychainSessionCookieStore>();
        return std::make_shared<AccountAPI>(std::move(configuration));
    }();
    return instance;
}

std::string AccountAPI::googleSignInURL() const
{
    const QUrl base(QString::fromStdString(m_configuration.publicAuthURL));
    return base.resolved(QUrl(QStringLiteral("/api/auth/oauth/google?client=macos"))).toString(QUrl::FullyEncoded).toStdString();
}

AccountSummary AccountAPI::me()
{
    auto summary = request<AccountSummary>("/api/auth/me", "GET");
    if (summary.profile && summary.profile->id != "demo") {
        m_backgroundWorkers.start([this, id = summary.profile->id] { reportAppLaunchIfNeeded(id); });
    }
    return summary;
}

AccountSummary AccountAPI::login(const std::string& email, const std::string& password)
{
    request<BasicOK>("/api/auth/login", "POST", encodeStringMap({{"email", email}, {"password", password}}));
    return me();
}

AccountSummary AccountAPI::registerAccount(const std::string& email, const std::string& password)
{
    request<BasicOK>("/api/auth/register", "POST", encodeStringMap({{"email", email}, {"password", password}}));
    return me();
}

void AccountAPI::logout()
{
    request<BasicOK>("/api/auth/logout", "POST", EmptyRequest{}.encode());
    forgetSessionCookie();
}

AccountSummary AccountAPI::updateProfile(const std::string& fullName)
{
    request<BasicOK>("/api/auth/profile", "PATCH", encodeStringMap({{"fullName", fullName}}));
    return me();
}

void AccountAPI::changePassword(const std::string& currentPassword, const std::string& newPassword,
                                const std::string& confirmNewPassword)
{
    request<BasicOK>("/api/auth/password", "POST",
                     encodeStringMap({{"currentPassword", currentPassword},
                                      {"newPassword", newPassword},
                                      {"confirmNewPassword", confirmNewPassword}}));
}

void AccountAPI::requestPasswordReset(const std::string& email)
{
    request<BasicOK>("/api/auth/password-reset/request", "POST", encodeStringMap({{"email", email}}));
}

void AccountAPI::exchangeDesktopAuth(const std::string& token)
{
    request<BasicOK>("/api/auth/desktop/exchange", "POST", DesktopAuthExchangeRequest{token}.encode());
}

void AccountAPI::discardDesktopAuth(const std::string& token)
{
    AccountAPIConfiguration configuration = m_configuration;
    configuration.cookieStore = std::make_shared<MemorySessionCookieStore>();
    configuration.legacyDefaults.reset();
    AccountAPI throwaway(std::move(configuration));
    throwaway.exchangeDesktopAuth(token);
    throwaway.logout();
}

CheckoutStart AccountAPI::startCheckout(std::int64_t credits)
{
    return request<CheckoutStart>("/api/stripe/checkout", "POST", CheckoutRequest{credits, "macos-native"}.encode());
}

AccountSummary AccountAPI::confirmCheckout(const std::string& sessionId)
{
    const auto confirmation =
        request<CheckoutConfirmResponse>("/api/stripe/confirm", "POST", encodeStringMap({{"sessionId", sessionId}}));
    // A confirmation the service did not record is not a purchase: the caller keeps it pending.
    if (!confirmation.ok)
        throw AccountError::message(userMessage("checkout_not_recorded"));
    auto summary = me();
    summary.balance = confirmation.balance;
    return summary;
}

PurchaseHistoryResponse AccountAPI::purchaseHistory()
{
    return request<PurchaseHistoryResponse>("/api/account/purchases", "GET");
}

PurchaseDocumentLinkResponse AccountAPI::purchaseDocumentLink(const std::string& purchaseId)
{
    std::string encoded = percentEncodedForQuery(purchaseId);
    if (encoded.empty())
        encoded = purchaseId;
    return request<PurchaseDocumentLinkResponse>("/api/account/purchases/link?purchaseId=" + encoded, "GET");
}

CloudAIConfig AccountAPI::cloudAIConfig()
{
    return request<CloudAIConfig>("/api/fotivela/ai/config", "GET");
}

CloudLyricsResponse AccountAPI::generateCloudLyrics(const CloudLyricsRequest& body)
{
    return request<CloudLyricsResponse>("/api/fotivela/lyrics/generate", "POST", body.encode());
}

CloudMusicResponse AccountAPI::generateCloudMusic(const CloudMusicRequest& body)
{
    return request<CloudMusicResponse>("/api/fotivela/music/generate", "POST", body.encode(), ResponseLimit::inlineSong());
}

bool AccountAPI::hasReportedLaunch(const std::string& userID) const
{
    std::lock_guard lock(m_launchLock);
    return m_reportedLaunchUsers.contains(userID);
}

void AccountAPI::waitForLaunchReports()
{
    for (;;) {
        {
            std::lock_guard lock(m_launchLock);
            if (!m_launchReportInFlight)
                return;
        }
        QThread::msleep(10);
    }
}

void AccountAPI::reportAppLaunchIfNeeded(const std::string& userID)
{
    {
        std::lock_guard lock(m_launchLock);
        if (m_reportedLaunchUsers.contains(userID) || m_launchReportInFlight)
            return;
        m_launchReportInFlight = true;
    }
    bool acknowledged = false;
    const auto cookie = sessionCookieHeader();
    const QUrl url = QUrl(QString::fromStdString(m_configuration.baseURL)).resolved(QUrl(QStringLiteral("/api/apps/open")));
    if (cookie && url.isValid()) {
        try {
            const std::string body = encodeStringMap({{"launchId", m_appLaunchID}, {"userId", userID}}).dump();
            // Its answer carries no cookie we take and a 401 here does not end the session.
            const auto response = curlRequest(url.toString(QUrl::FullyEncoded).toStdString(), "POST", body, cookie,
                                              m_configuration.launchReportTimeoutSeconds, false, ResponseLimit::json());
            if (response.statusCode >= 200 && response.statusCode <= 299) {
                const auto ok = BasicOK::decode(parseFotivelaJson(response.body));
                acknowledged = ok.ok.value_or(false);
            }
        } catch (const std::exception&) {
            // Tried again at the next account read.
        }
    }
    std::lock_guard lock(m_launchLock);
    if (acknowledged)
        m_reportedLaunchUsers.insert(userID);
    m_launchReportInFlight = false;
}

} // namespace fotivela
