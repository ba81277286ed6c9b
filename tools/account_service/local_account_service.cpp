#include "account_service/local_account_service.h"

#include <httplib.h>

#include <openssl/rand.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace fotivela::tools {

namespace {

using Json = nlohmann::json;

// Session ids and sign-in tokens are secrets: from the system's cryptographic generator, never
// from a seeded one whose next values follow from earlier ones.
std::string randomHex(std::size_t bytes)
{
    std::vector<unsigned char> buffer(bytes);
    if (RAND_bytes(buffer.data(), static_cast<int>(buffer.size())) != 1) {
        // Without secure randomness the service must not hand out sessions at all.
        std::fputs("local account service: no secure random bytes\n", stderr);
        std::abort();
    }
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char value : buffer) {
        out.push_back(hex[value >> 4]);
        out.push_back(hex[value & 15]);
    }
    return out;
}

std::optional<Json> jsonBody(const httplib::Request& request)
{
    try {
        auto body = Json::parse(request.body);
        if (body.is_object())
            return body;
    } catch (const Json::exception&) {
    }
    return std::nullopt;
}

std::optional<std::string> stringField(const Json& body, const char* key)
{
    const auto found = body.find(key);
    if (found == body.end() || !found->is_string())
        return std::nullopt;
    return found->get<std::string>();
}

void answerJson(httplib::Response& response, const Json& body, int status = 200)
{
    response.status = status;
    response.set_content(body.dump(), "application/json");
}

std::string cookieValue(const httplib::Request& request)
{
    const std::string header = request.get_header_value("Cookie");
    const std::string name = "orvelant_session=";
    const auto found = header.find(name);
    if (found == std::string::npos)
        return {};
    const auto start = found + name.size();
    const auto end = header.find(';', start);
    return header.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string isoNow()
{
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
    return buffer;
}

// Every key present with its JSON type.
bool hasTypes(const Json& body, std::initializer_list<std::pair<const char*, Json::value_t>> fields)
{
    for (const auto& [key, type] : fields) {
        const auto found = body.find(key);
        if (found == body.end())
            return false;
        if (type == Json::value_t::number_integer ? !found->is_number_integer() : found->type() != type)
            return false;
    }
    return true;
}

} // namespace

LocalAccountService::LocalAccountService() : m_server(std::make_unique<httplib::Server>())
{
    m_aiConfig = {{"lyricsModel", "local-lyrics"}, {"musicModel", "local-music"}, {"lyricsCost", 20},
                  {"musicCost", 180}, {"isLyricsEnabled", true}, {"isMusicEnabled", true},
                  {"latestMacVersion", "0.1.0"}};
    addAccount("ana@example.com", "contraseña1", "user-ana", 1000, "Ana María López");
    m_server->set_payload_max_length(maxRequestBodyBytes);
    setClientTimeout(std::chrono::seconds(2));
    routes();
}

void LocalAccountService::setClientTimeout(std::chrono::milliseconds timeout)
{
    const auto seconds = static_cast<time_t>(timeout.count() / 1000);
    const auto microseconds = static_cast<time_t>((timeout.count() % 1000) * 1000);
    m_server->set_read_timeout(seconds, microseconds);
    m_server->set_write_timeout(seconds, microseconds);
    // A kept-alive connection waiting for its next request counts as silent too.
    m_server->set_keep_alive_timeout(std::max<time_t>(1, seconds));
}

LocalAccountService::~LocalAccountService()
{
    stop();
}

int LocalAccountService::start(int port)
{
    m_port = port == 0 ? m_server->bind_to_any_port("127.0.0.1") : (m_server->bind_to_port("127.0.0.1", port) ? port : -1);
    if (m_port <= 0)
        return m_port;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return m_port;
}

bool LocalAccountService::listen(int port)
{
    m_port = port;
    return m_server->listen("127.0.0.1", port);
}

void LocalAccountService::stop()
{
    {
        std::lock_guard lock(m_lock);
        m_isStopping = true;
    }
    m_stopSignal.notify_all();
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

std::string LocalAccountService::baseURL() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

void LocalAccountService::addAccount(const std::string& email, const std::string& password, const std::string& id,
                                     std::int64_t balance, const std::string& fullName)
{
    std::lock_guard lock(m_lock);
    m_accounts[email] = Account{id, email, password, fullName, balance, {}};
}

void LocalAccountService::setBalance(const std::string& email, std::int64_t balance)
{
    std::lock_guard lock(m_lock);
    m_accounts[email].balance = balance;
}

std::int64_t LocalAccountService::balance(const std::string& email) const
{
    std::lock_guard lock(m_lock);
    const auto found = m_accounts.find(email);
    return found == m_accounts.end() ? 0 : found->second.balance;
}

std::string LocalAccountService::mintDesktopToken(const std::string& email)
{
    std::lock_guard lock(m_lock);
    const std::string token = randomHex(16);
    m_desktopTokens[token] = email;
    return token;
}

void LocalAccountService::markCheckoutPaid(const std::string& sessionId)
{
    std::lock_guard lock(m_lock);
    m_checkouts[sessionId].paid = true;
}

void LocalAccountService::expireSessions(const std::string& email)
{
    std::lock_guard lock(m_lock);
    std::erase_if(m_sessions, [&](const auto& session) { return session.second == email; });
}

std::int64_t LocalAccountService::streamedBytesSent() const
{
    return m_streamedBytes->load();
}

void LocalAccountService::setAIConfig(nlohmann::json config)
{
    std::lock_guard lock(m_lock);
    m_aiConfig = std::move(config);
}

void LocalAccountService::setCheckoutAnswer(bool includeURL, bool includeSessionId)
{
    std::lock_guard lock(m_lock);
    m_checkoutIncludesURL = includeURL;
    m_checkoutIncludesSessionId = includeSessionId;
}

void LocalAccountService::setMusicAsDownload(bool asDownload)
{
    std::lock_guard lock(m_lock);
    m_musicAsDownload = asDownload;
}

std::vector<std::pair<std::string, std::string>> LocalAccountService::launchReports() const
{
    std::lock_guard lock(m_lock);
    return m_launches;
}

int LocalAccountService::requestCount(const std::string& path) const
{
    std::lock_guard lock(m_lock);
    const auto found = m_requestCounts.find(path);
    return found == m_requestCounts.end() ? 0 : found->second;
}

std::map<std::string, std::string> LocalAccountService::lastHeaders(const std::string& path) const
{
    std::lock_guard lock(m_lock);
    const auto found = m_lastHeaders.find(path);
    return found == m_lastHeaders.end() ? std::map<std::string, std::string>{} : found->second;
}

std::string LocalAccountService::lastTarget(const std::string& path) const
{
    std::lock_guard lock(m_lock);
    const auto found = m_lastTargets.find(path);
    return found == m_lastTargets.end() ? std::string{} : found->second;
}

std::string LocalAccountService::lastBody(const std::string& path) const
{
    std::lock_guard lock(m_lock);
    const auto found = m_lastBodies.find(path);
    return found == m_lastBodies.end() ? std::string{} : found->second;
}

LocalAccountService::Account* LocalAccountService::sessionAccount(const httplib::Request& request)
{
    const auto session = m_sessions.find(cookieValue(request));
    if (session == m_sessions.end())
        return nullptr;
    const auto account = m_accounts.find(session->second);
    return account == m_accounts.end() ? nullptr : &account->second;
}

std::string LocalAccountService::openSession(const std::string& email)
{
    const std::string value = randomHex(32);
    m_sessions[value] = email;
    return value;
}

void LocalAccountService::answerError(httplib::Response& response, int status, const std::string& code)
{
    answerJson(response, {{"error", code}}, status);
}

void LocalAccountService::routes()
{
    auto& server = *m_server;

    server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        std::optional<Fault> fault;
        {
            std::lock_guard lock(m_lock);
            record(request);
            if (const auto found = m_faults.find(request.path); found != m_faults.end()) {
                fault = found->second;
                if (found->second.once)
                    m_faults.erase(found);
            }
        }
        if (!fault)
            return httplib::Server::HandlerResponse::Unhandled;
        if (fault->delayMilliseconds > 0)
            pause(std::chrono::milliseconds(fault->delayMilliseconds));
        if (fault->delayOnly)
            return httplib::Server::HandlerResponse::Unhandled;
        answerFault(*fault, response);
        return httplib::Server::HandlerResponse::Handled;
    });

    // Bodies are read after the pre-routing step.
    server.set_post_routing_handler([this](const httplib::Request& request, httplib::Response&) {
        std::lock_guard lock(m_lock);
        if (const auto found = m_lastBodies.find(request.path); found != m_lastBodies.end())
            found->second = request.body.substr(0, maxRecordedBodyBytes);
    });

    server.Get("/api/auth/me", [this](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(m_lock);
        const Account* account = sessionAccount(request);
        if (!account)
            return answerError(response, 401, "unauthorized");
        Json profile = {{"id", account->id}, {"email", account->email}, {"locale", "es"}};
        if (!account->fullName.empty())
            profile["fullName"] = account->fullName;
        answerJson(response, {{"balance", account->balance},
                              {"profile", profile},
                              {"storage", {{"limitMb", 1024}, {"percent", 3}, {"usedMb", 30.5}}}});
    });

    server.Post("/api/auth/login", [this](const httplib::Request& request, httplib::Response& response) {
        const auto body = jsonBody(request);
        std::lock_guard lock(m_lock);
        const auto email = body ? stringField(*body, "email") : std::nullopt;
        const auto password = body ? stringField(*body, "password") : std::nullopt;
        const auto account = email ? m_accounts.find(*email) : m_accounts.end();
        if (account == m_accounts.end() || !password || account->second.password != *password)
            return answerError(response, 400, "invalid_credentials");
        response.set_header("Set-Cookie", "orvelant_session=" + openSession(*email) + "; Path=/; HttpOnly");
        answerJson(response, {{"ok", true}});
    });

    server.Post("/api/auth/register", [this](const httplib::Request& request, httplib::Response& response) {
        const auto body = jsonBody(request);
        std::lock_guard lock(m_lock);
        const auto email = body ? stringField(*body, "email") : std::nullopt;
        const auto password = body ? stringField(*body, "password") : std::nullopt;
        if (!email || !password || email->find('@') == std::string::npos || password->size() < 8)
            return answerError(response, 400, "invalid_credentials");
        if (m_accounts.contains(*email))
            return answerError(response, 409, "email_exists");
        m_accounts[*email] = Account{"user-" + std::to_string(m_nextNumber++), *email, *password, {}, 100, {}};
        response.set_header("Set-Cookie", "orvelant_session=" + openSession(*email) + "; Path=/; HttpOnly");
        answerJson(response, {{"ok", true}});
    });

    server.Post("/api/auth/logout", [this](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(m_lock);
        if (!sessionAccount(request))
            return answerError(response, 401, "unauthorized");
        m_sessions.erase(cookieValue(request));
        response.set_header("Set-Cookie", "orvelant_session=; Path=/; Max-Age=0; HttpOnly");
        answerJson(response, {{"ok", true}});
    });

    server.Patch("/api/auth/profile", [this](const httplib::Request& request, httplib::Response& response) {
        const auto body = jsonBody(request);
        std::lock_guard lock(m_lock);
        Account* account = sessionAccount(request);
        if (!account)
            return answerError(response, 401, "unauthorized");
        const auto name = body ? stringField(*body, "fullName") : std::nullopt;
        if (!name)
            return answerError(response, 400, "invalid_request");
        account->fullName = *name;
        answerJson(response, {{"ok", true}});
    });

    server.Post("/api/auth/password", [this](const httplib::Request& request, httplib::Response& response) {
        const auto body = jsonBody(request);
        std::lock_guard lock(m_lock);
        Account* account = sessionAccount(request);
        if (!account)
            return answerError(response, 401, "unauthorized");
        const auto current = body ? stringField(*body, "currentPassword") : std::nullopt;
        const auto next = body ? stringField(*body, "newPassword") : std::nullopt;
        const auto confirm = body ? stringField(*body, "confirmNewPassword") : std::nullopt;
        if (!current || !next || !confirm || *current != account->password || *next != *confirm || next->size() < 8)
            return answerError(response, 400, "invalid_credentials");
        account->password = *next;
        answerJson(response, {{"ok", true}});
    });

    server.Post("/api/auth/password-reset/request", [](const httplib::Request&, httplib::Response& response) {
        // The same answer whether or not the address has an account.
        answerJson(response, {{"ok", true}});
    });

    server.Get("/api/auth/oauth/google", [this](const httplib::Request& request, httplib::Response& response) {
        if (request.has_param("simulate")) {
            response.set_redirect("fotivela://auth?error=" + request.get_param_value("simulate"));
            return;
        }
        std::string page = "<!doctype html><meta charset=utf-8><title>Orvelant</title>"
                           "<form method=post action=/api/auth/oauth/google/continue>"
                           "<p>Cuenta de Google de prueba</p><input name=email value=ana@example.com>"
                           "<button>Continuar</button></form>";
        response.set_content(page, "text/html; charset=utf-8");
    });

    server.Post("/api/auth/oauth/google/continue", [this](const httplib::Request& request, httplib::Response& response) {
        const std::string email = request.get_param_value("email");
        {
            std::lock_guard lock(m_lock);
            if (!m_accounts.contains(email))
                return response.set_redirect("fotivela://auth?error=invalid_credentials");
        }
        response.set_redirect("fotivela://auth?token=" + mintDesktopToken(email));
    });

    server.Post("/api/auth/desktop/exchange", [this](const httplib::Request& request, httplib::Response& response) {
        const auto body = jsonBody(request);
        std::lock_guard lock(m_lock);
        const auto token = body ? stringField(*body, "token") : std::nullopt;
        const auto found = token ? m_desktopTokens.find(*token) : m_desktopTokens.end();
        if (found == m_desktopTokens.end())
            return answerError(response, 400, "invalid_credentials");
        const std::string email = found->second;
        m_desktopTokens.erase(found);
        response.set_header("Set-Cookie", "orvelant_session=" + openSession(email) + "; Path=/; HttpOnly");
        answerJson(response, {{"ok", true}});
    });

    server.Post("/api/stripe/checkout", [this](const httplib::Request& request, httplib::Response& response) {
        const auto body = jsonBody(request);
        std::lock_guard lock(m_lock);
        const Account* account = sessionAccount(request);
        if (!account)
            return answerError(response, 401, "unauthorized");
        if (!body || !hasTypes(*body, {{"credits", Json::value_t::number_integer}, {"client", Json::value_t::string}}))
            return answerError(response, 400, "invalid_credit_request");
        const auto credits = (*body)["credits"].get<std::int64_t>();
        if (credits < 1000 || credits > 1000000 || credits % 1000 != 0)
            return answerError(response, 400, "invalid_credit_amount");
        const std::string id = "cs_test_" + std::to_string(m_nextNumber++);
        m_checkouts[id] = Checkout{account->email, credits, false, std::nullopt};
        Json answer = Json::object();
        if (m_checkoutIncludesURL)
            answer["url"] = baseURL() + "/checkout/" + id;
        if (m_checkoutIncludesSessionId)
            answer["sessionId"] = id;
        answerJson(response, answer);
    });

    server.Get(R"(/checkout/([A-Za-z0-9_]+))", [](const httplib::Request& request, httplib::Response& response) {
        const std::string id = request.matches[1];
        response.set_content("<!doctype html><meta charset=utf-8><title>Pago</title><form method=post action=/checkout/" +
                                 id + "/pay><button>Pagar</button></form>",
                             "text/html; charset=utf-8");
    });

    server.Post(R"(/checkout/([A-Za-z0-9_]+)/pay)", [this](const httplib::Request& request, httplib::Response& response) {
        const std::string id = request.matches[1];
        {
            std::lock_guard lock(m_lock);
            const auto found = m_checkouts.find(id);
            if (found == m_checkouts.end())
                return answerError(response, 404, "invalid_purchase");
            found->second.paid = true;
        }
        response.set_content("<!doctype html><meta charset=utf-8><p>Pago completado. Vuelve a Fotivela.</p>",
                             "text/html; charset=utf-8");
    });

    server.Post("/api/stripe/confirm", [this](const httplib::Request& request, httplib::Response& response) {
        const auto body = jsonBody(request);
        std::lock_guard lock(m_lock);
        Account* account = sessionAccount(request);
        if (!account)
            return answerError(response, 401, "unauthorized");
        const auto id = body ? stringField(*body, "sessionId") : std::nullopt;
        const auto found = id ? m_checkouts.find(*id) : m_checkouts.end();
        if (found == m_checkouts.end() || found->second.email != account->email)
            return answerError(response, 404, "invalid_purchase");
        Checkout& checkout = found->second;
        if (!checkout.paid)
            return answerError(response, 409, "checkout_not_paid");
        // Confirming twice records the purchase once.
        if (!checkout.purchaseId) {
            const int number = m_nextNumber++;
            checkout.purchaseId = "pur_" + std::to_string(number);
            account->balance += checkout.credits;
            account->purchases.insert(account->purchases.begin(),
                                      Json{{"id", *checkout.purchaseId},
                                           {"kind", "credits"},
                                           {"orderIndex", number},
                                           {"orderNumber", "A-" + std::to_string(number)},
                                           {"createdAt", isoNow()},
                                           {"amountCents", checkout.credits / 10},
                                           {"detail", std::to_string(checkout.credits)},
                                           {"invoiceURL", baseURL() + "/invoice/" + *checkout.purchaseId}});
        }
        answerJson(response, {{"ok", true}, {"balance", account->balance}});
    });

    server.Get("/api/account/purchases", [this](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(m_lock);
        const Account* account = sessionAccount(request);
        if (!account)
            return answerError(response, 401, "unauthorized");
        answerJson(response, {{"purchases", account->purchases}});
    });

    server.Get("/api/account/purchases/link", [this](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(m_lock);
        const Account* account = sessionAccount(request);
        if (!account)
            return answerError(response, 401, "unauthorized");
        const std::string id = request.get_param_value("purchaseId");
        for (const auto& purchase : account->purchases)
            if (purchase["id"] == id)
                return answerJson(response, {{"url", baseURL() + "/invoice/" + id}});
        answerError(response, 404, "purchase_document_unavailable");
    });

    server.Get(R"(/invoice/([A-Za-z0-9_]+))", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content("<!doctype html><meta charset=utf-8><h1>Factura " + std::string(request.matches[1]) + "</h1>",
                             "text/html; charset=utf-8");
    });

    server.Get("/api/fotivela/ai/config", [this](const httplib::Request&, httplib::Response& response) {
        std::lock_guard lock(m_lock);
        answerJson(response, m_aiConfig);
    });

    server.Post("/api/fotivela/lyrics/generate",
                [this](const httplib::Request& request, httplib::Response& response) { handleLyrics(request, response); });
    server.Post("/api/fotivela/music/generate",
                [this](const httplib::Request& request, httplib::Response& response) { handleMusic(request, response); });

    server.Get(R"(/audio/([A-Za-z0-9-]+)\.wav)", [this](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(m_lock);
        const auto found = m_songs.find(request.matches[1]);
        if (found == m_songs.end()) {
            response.status = 404;
            return response.set_content("<html>not found</html>", "text/html");
        }
        response.set_content(found->second, "audio/wav");
    });

    server.Post("/api/apps/open", [this](const httplib::Request& request, httplib::Response& response) {
        const auto body = jsonBody(request);
        std::lock_guard lock(m_lock);
        if (!sessionAccount(request))
            return answerError(response, 401, "unauthorized");
        const auto launch = body ? stringField(*body, "launchId") : std::nullopt;
        const auto user = body ? stringField(*body, "userId") : std::nullopt;
        if (!launch || !user)
            return answerError(response, 400, "invalid_request");
        m_launches.emplace_back(*launch, *user);
        answerJson(response, {{"ok", true}});
    });
}

} // namespace fotivela::tools
