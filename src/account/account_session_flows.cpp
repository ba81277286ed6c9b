#include "account/account_session.h"

#include <QByteArray>
#include <QUrl>

namespace fotivela {

namespace {

constexpr const char* googleFailureText = "No se ha podido completar el acceso con Google.";

struct QueryItem {
    std::string name;
    std::optional<std::string> value;
};

std::optional<std::string> percentDecoded(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
            return std::nullopt;
        out.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
        i += 2;
    }
    return out;
}

// The parts of the callback as written: scheme and host compared exactly, query items decoded
// ("+" stays a plus; an item without "=" has no value). Nothing when an escape is broken.
struct CallbackURL {
    std::string scheme;
    std::optional<std::string> host;
    std::optional<std::vector<QueryItem>> query;
};

std::optional<CallbackURL> parseCallback(std::string_view url)
{
    CallbackURL parts;
    const auto colon = url.find(':');
    if (colon == std::string_view::npos || url.find_first_of("/?#") < colon)
        return parts;
    parts.scheme = std::string(url.substr(0, colon));
    std::string_view rest = url.substr(colon + 1);
    if (const auto hash = rest.find('#'); hash != std::string_view::npos)
        rest = rest.substr(0, hash);
    std::string_view query;
    bool hasQuery = false;
    if (const auto question = rest.find('?'); question != std::string_view::npos) {
        query = rest.substr(question + 1);
        hasQuery = true;
        rest = rest.substr(0, question);
    }
    if (rest.starts_with("//")) {
        std::string_view authority = rest.substr(2, rest.find('/', 2) == std::string_view::npos ? std::string_view::npos : rest.find('/', 2) - 2);
        if (const auto at = authority.rfind('@'); at != std::string_view::npos)
            authority = authority.substr(at + 1);
        if (const auto port = authority.rfind(':'); port != std::string_view::npos)
            authority = authority.substr(0, port);
        const auto host = percentDecoded(authority);
        if (!host)
            return std::nullopt;
        parts.host = *host;
    }
    if (hasQuery) {
        std::vector<QueryItem> items;
        std::size_t start = 0;
        while (start <= query.size()) {
            const auto end = std::min(query.find('&', start), query.size());
            const auto item = query.substr(start, end - start);
            const auto equals = item.find('=');
            const auto name = percentDecoded(item.substr(0, equals));
            if (!name)
                return std::nullopt;
            QueryItem decoded{*name, std::nullopt};
            if (equals != std::string_view::npos) {
                decoded.value = percentDecoded(item.substr(equals + 1));
                if (!decoded.value)
                    return std::nullopt;
            }
            items.push_back(std::move(decoded));
            start = end + 1;
        }
        parts.query = std::move(items);
    }
    return parts;
}

// Only web pages go to the browser: a file or custom-scheme address from the server could start a
// local program.
bool isBrowserAddress(const std::string& url)
{
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return false;
    return parsed.scheme() == QLatin1String("https") || AccountAPI::isAllowedServiceURL(url);
}

} // namespace

void AccountSession::login(const std::string& email, const std::string& password)
{
    working<AccountSummary>([api = m_api.get(), email, password] { return api->login(email, password); },
                            [this](AccountSummary summary) {
                                setAccount(std::move(summary));
                                startBalanceSync();
                                setMessage("Sesión iniciada.");
                            });
}

void AccountSession::registerAccount(const std::string& email, const std::string& password)
{
    working<AccountSummary>([api = m_api.get(), email, password] { return api->registerAccount(email, password); },
                            [this](AccountSummary summary) {
                                setAccount(std::move(summary));
                                startBalanceSync();
                                setMessage("Cuenta creada.");
                            });
}

void AccountSession::logout()
{
    working<bool>(
        [api = m_api.get()] {
            try {
                api->logout();
            } catch (const AccountError& error) {
                // The service had already ended the session, and the client has forgotten its
                // cookie: signed out all the same.
                if (error.kind() != AccountError::Kind::unauthorized)
                    throw;
            }
            return true;
        },
        [this](bool) {
            setAccount(signedOutSummary());
            setPendingCheckoutSessionId(std::nullopt);
            stopBalanceSync();
            setMessage("Sesión cerrada.");
        });
}

void AccountSession::updateProfile(const std::string& fullName)
{
    working<AccountSummary>([api = m_api.get(), fullName] { return api->updateProfile(fullName); },
                            [this](AccountSummary summary) {
                                setAccount(std::move(summary));
                                setMessage("Perfil guardado.");
                            });
}

void AccountSession::changePassword(const std::string& currentPassword, const std::string& newPassword,
                                    const std::string& confirmNewPassword)
{
    working<bool>(
        [api = m_api.get(), currentPassword, newPassword, confirmNewPassword] {
            api->changePassword(currentPassword, newPassword, confirmNewPassword);
            return true;
        },
        [this](bool) { setMessage("Contraseña actualizada."); });
}

void AccountSession::requestPasswordReset(const std::string& email)
{
    working<bool>(
        [api = m_api.get(), email] {
            api->requestPasswordReset(email);
            return true;
        },
        [this](bool) {
            setMessage("Si existe una cuenta con ese email, recibirás un enlace para crear una nueva contraseña.");
        });
}

void AccountSession::openGoogleLogin()
{
    m_googleSignInStartedAt = std::chrono::steady_clock::now();
    m_openInBrowser(m_api->googleSignInURL());
    setMessage("Completa el acceso con Google en el navegador.");
}

void AccountSession::handleAuthCallback(const std::string& url)
{
    const auto parts = parseCallback(url);
    if (parts && (parts->scheme != "fotivela" || parts->host != std::optional<std::string>("auth")))
        return;
    if (!parts || !parts->query) {
        setMessage(googleFailureText);
        return;
    }
    const auto& items = *parts->query;
    const auto error = std::find_if(items.begin(), items.end(), [](const QueryItem& item) { return item.name == "error"; });
    if (error != items.end() && error->value) {
        m_googleSignInStartedAt.reset();
        const std::string& code = *error->value;
        if (code == "oauth_not_configured")
            setMessage("El acceso con Google todavía no está configurado en Orvelant.");
        else if (code == "oauth_invalid_state")
            setMessage("La sesión de Google ha caducado. Inténtalo otra vez.");
        else if (code == "invalid_credentials")
            setMessage("Esta cuenta no puede acceder.");
        else
            setMessage(googleFailureText);
        return;
    }
    const auto token = std::find_if(items.begin(), items.end(), [](const QueryItem& item) { return item.name == "token"; });
    // A token nobody asked for (another page or program opening the address) must not switch accounts.
    const bool hasToken = token != items.end() && token->value && !token->value->empty();
    const bool wasStarted = m_googleSignInStartedAt &&
                            std::chrono::steady_clock::now() - *m_googleSignInStartedAt < m_browserSignInLifetime;
    if (!hasToken || !wasStarted) {
        // A late token is spent all the same: refused here, it must not stay usable by whoever
        // else has seen the address. The sign-in it belonged to is over.
        if (hasToken && m_googleSignInStartedAt) {
            m_googleSignInStartedAt.reset();
            call<bool>([api = m_api.get(), value = *token->value] {
                api->discardDesktopAuth(value);
                return true;
            }, [](AccountOutcome<bool>) {});
        }
        setMessage(googleFailureText);
        return;
    }
    m_googleSignInStartedAt.reset();
    working<AccountSummary>(
        [api = m_api.get(), value = *token->value] {
            api->exchangeDesktopAuth(value);
            return api->me();
        },
        [this](AccountSummary summary) {
            setAccount(std::move(summary));
            startBalanceSync();
            setMessage("Sesión iniciada con Google.");
        });
}

void AccountSession::buyCredits(std::int64_t credits)
{
    working<CheckoutStart>([api = m_api.get(), credits] { return api->startCheckout(credits); },
                           [this](CheckoutStart checkout) {
                               setPendingCheckoutSessionId(checkout.sessionId);
                               if (!checkout.url || !isBrowserAddress(*checkout.url)) {
                                   setMessage("Stripe no ha devuelto URL de pago.");
                                   return;
                               }
                               m_openInBrowser(*checkout.url);
                               setMessage(checkout.sessionId ? "Checkout abierto. Cuando pagues, pulsa Confirmar compra."
                                                             : "Checkout abierto. Después refresca créditos.");
                           });
}

void AccountSession::confirmPendingCheckout()
{
    if (!m_pendingCheckoutSessionId) {
        setMessage("No hay una compra pendiente.");
        return;
    }
    working<AccountSummary>([api = m_api.get(), id = *m_pendingCheckoutSessionId] { return api->confirmCheckout(id); },
                            [this](AccountSummary summary) {
                                setAccount(std::move(summary));
                                setPendingCheckoutSessionId(std::nullopt);
                                setMessage("Compra confirmada.");
                            });
}

void AccountSession::refreshPurchaseHistory()
{
    if (m_isPurchaseRefreshRunning)
        return;
    m_isPurchaseRefreshRunning = true;
    const auto user = m_account.profile ? std::optional<std::string>(m_account.profile->id) : std::nullopt;
    call<PurchaseHistoryResponse>([api = m_api.get()] { return api->purchaseHistory(); },
                                  [this, user](AccountOutcome<PurchaseHistoryResponse> outcome) {
                                      m_isPurchaseRefreshRunning = false;
                                      // Someone else signed in (or nobody is) since it was asked for.
                                      const auto now = m_account.profile ? std::optional<std::string>(m_account.profile->id)
                                                                         : std::nullopt;
                                      if (now != user)
                                          return;
                                      if (outcome.value)
                                          setPurchaseHistory(std::move(outcome.value->purchases));
                                      else
                                          setMessage(readable(outcome.error));
                                  },
                                  AccountLane::background);
}

void AccountSession::openPurchaseDocument(const std::string& purchaseId)
{
    working<PurchaseDocumentLinkResponse>([api = m_api.get(), purchaseId] { return api->purchaseDocumentLink(purchaseId); },
                                          [this](PurchaseDocumentLinkResponse link) {
                                              if (!isBrowserAddress(link.url)) {
                                                  setMessage(AccountError::invalidResponse().what());
                                                  return;
                                              }
                                              m_openInBrowser(link.url);
                                              setMessage("Factura abierta.");
                                          });
}

void AccountSession::refreshCloudAIConfigSilently()
{
    // The pane asks each time it is shown; a hanging answer must not pile up more requests.
    if (m_isConfigRefreshRunning)
        return;
    m_isConfigRefreshRunning = true;
    call<CloudAIConfig>([api = m_api.get()] { return api->cloudAIConfig(); },
                        [this](AccountOutcome<CloudAIConfig> outcome) {
                            m_isConfigRefreshRunning = false;
                            if (outcome.value)
                                setCloudAIConfig(std::move(*outcome.value));
                        },
                        AccountLane::background);
}

void AccountSession::generateCloudLyrics(const CloudLyricsRequest& request,
                                         std::function<void(AccountOutcome<CloudLyricsResponse>)> done)
{
    setIsWorking(true);
    call<CloudLyricsResponse>([api = m_api.get(), request] { return api->generateCloudLyrics(request); },
                              [this, done = std::move(done)](AccountOutcome<CloudLyricsResponse> outcome) {
                                  if (outcome.value) {
                                      if (outcome.value->balance)
                                          setBalance(*outcome.value->balance);
                                      setMessage(outcome.value->cost ? "Letra generada. " + std::to_string(*outcome.value->cost) +
                                                                           " créditos usados."
                                                                     : "Letra generada en la nube.");
                                  } else {
                                      setMessage(readable(outcome.error));
                                  }
                                  setIsWorking(false);
                                  if (done)
                                      done(std::move(outcome));
                              });
}

void AccountSession::generateCloudMusic(const CloudMusicRequest& request,
                                        std::function<void(AccountOutcome<CloudMusicResponse>)> done)
{
    setIsWorking(true);
    call<CloudMusicResponse>([api = m_api.get(), request] { return api->generateCloudMusic(request); },
                             [this, done = std::move(done)](AccountOutcome<CloudMusicResponse> outcome) {
                                 if (outcome.value) {
                                     if (outcome.value->balance)
                                         setBalance(*outcome.value->balance);
                                     setMessage(outcome.value->cost ? "Canción generada. " + std::to_string(*outcome.value->cost) +
                                                                          " créditos usados."
                                                                    : "Canción generada en la nube.");
                                 } else {
                                     setMessage(readable(outcome.error));
                                 }
                                 setIsWorking(false);
                                 if (done)
                                     done(std::move(outcome));
                             });
}

} // namespace fotivela
