#include "account/account_api.h"

#include "account/account_request_folder.h"
#include "platform/atomic_file.h"
#include "platform/duskmere_storage.h"
#include "platform/json_encoder.h"
#include "platform/log.h"
#include "platform/uuid.h"

#include <QString>
#include <QUrl>

#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace fotivela {

namespace {

// "@<path>": curl reads the value from that file. Built by appending, which also keeps
// GCC 12's -Wrestrict false alarm on `"@" + std::string` out of optimised builds.
std::string curlFileArgument(const std::filesystem::path& path)
{
    std::string argument = "@";
    argument += path.native();
    return argument;
}

constexpr std::string_view cookieName = "orvelant_session=";
constexpr const char* curlPath = "/usr/bin/curl";

// Lines split at LF, CR and the other Unicode line and paragraph separators.
std::vector<std::string_view> splitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t width = 0;
        if (c == '\n' || c == '\r' || c == '\v' || c == '\f')
            width = 1;
        else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85)
            width = 2;
        else if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                 (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9))
            width = 3;
        if (width == 0) {
            ++i;
            continue;
        }
        lines.push_back(text.substr(start, i - start));
        i += width;
        start = i;
    }
    lines.push_back(text.substr(start));
    return lines;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const auto a = static_cast<unsigned char>(text[i]);
        const auto b = static_cast<unsigned char>(prefix[i]);
        if (std::tolower(a) != std::tolower(b))
            return false;
    }
    return true;
}

std::optional<std::int64_t> parseSignedInteger(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    std::size_t i = 0;
    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size())
        return std::nullopt;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9' || value > (INT64_MAX - 9) / 10)
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

std::string secondsArgument(double seconds)
{
    if (seconds == std::floor(seconds))
        return std::to_string(static_cast<long long>(seconds));
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", seconds);
    return buffer;
}

std::string trimmedText(std::string_view text)
{
    const auto isBlank = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    while (!text.empty() && isBlank(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return std::string(text);
}

bool isValidUtf8(std::string_view text)
{
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

// The file's bytes; nothing when it cannot be read. More than limit bytes: tooLarge is set.
std::string readWholeFile(const std::filesystem::path& path, std::size_t limit, bool& tooLarge)
{
    std::string out;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return out;
    std::array<char, 65536> buffer;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n > 0) {
            if (out.size() + static_cast<std::size_t>(n) > limit) {
                tooLarge = true;
                out.clear();
                break;
            }
            out.append(buffer.data(), static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n < 0)
                out.clear();
            break;
        }
    }
    ::close(fd);
    return out;
}

// curl keeps each answer's headers under 300 KB; a download may follow five redirects.
constexpr std::size_t maxHeaderBytes = 2u << 20;
// What curl says on its standard error is a line or two.
constexpr std::size_t maxStandardErrorBytes = 64u << 10;
// curl's exit status for an answer that announced more than --max-filesize.
constexpr int curlFileSizeExceeded = 63;

} // namespace

AccountAPI::ChildResult AccountAPI::runCurl(const std::vector<std::string>& arguments, std::int64_t outputLimit) const
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(curlPath));
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    int errorPipe[2];
    int outputPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        logLine("Fotivela account: no pipe for curl: " + std::string(std::strerror(errno)));
        throw AccountError::message("No se ha podido conectar con Orvelant.");
    }
    if (::pipe2(outputPipe, O_CLOEXEC) != 0) {
        logLine("Fotivela account: no pipe for curl: " + std::string(std::strerror(errno)));
        ::close(errorPipe[0]);
        ::close(errorPipe[1]);
        throw AccountError::message("No se ha podido conectar con Orvelant.");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outputPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errorPipe[1], 2);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, curlPath, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(errorPipe[1]);
    ::close(outputPipe[1]);
    if (spawned != 0) {
        ::close(errorPipe[0]);
        ::close(outputPipe[0]);
        logLine(std::string("Fotivela account: cannot start ") + curlPath + ": " + std::strerror(spawned));
        throw AccountError::message("No se ha podido conectar con Orvelant.");
    }
    {
        std::lock_guard lock(m_childLock);
        m_children.insert(pid);
        if (m_isShuttingDown)
            ::kill(pid, SIGTERM);
    }
    // Both pipes are read as they fill, the answer only up to its limit: past it curl is ended, so
    // neither this process nor the disk takes in more than the limit, whatever the server sends.
    ChildResult result;
    const auto limit = static_cast<std::size_t>(std::max<std::int64_t>(0, outputLimit));
    std::array<pollfd, 2> fds{{{outputPipe[0], POLLIN, 0}, {errorPipe[0], POLLIN, 0}}};
    std::array<char, 65536> buffer;
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        const int ready = ::poll(fds.data(), fds.size(), -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                continue;
            }
            const auto count = static_cast<std::size_t>(n);
            if (i == 1) {
                if (result.standardError.size() < maxStandardErrorBytes)
                    result.standardError.append(buffer.data(), std::min(count, maxStandardErrorBytes - result.standardError.size()));
            } else if (result.output.size() + count > limit) {
                result.outputTooLarge = true;
                result.output.clear();
                result.output.shrink_to_fit();
                ::kill(pid, SIGTERM);
                ::close(fds[i].fd);
                fds[i].fd = -1;
            } else {
                result.output.append(buffer.data(), count);
            }
        }
    }
    for (auto& fd : fds)
        if (fd.fd >= 0)
            ::close(fd.fd);
    {
        // Still unreaped, so its id cannot have been reused while it was listed.
        std::lock_guard lock(m_childLock);
        m_children.erase(pid);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // Killed by a signal counts as a failed run.
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string AccountAPI::userMessage(std::string_view code)
{
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 17> table{{
        {"database_unavailable", "La base de datos no está disponible."},
        {"email_exists", "Ese email ya tiene cuenta."},
        {"invalid_credentials", "Email o contraseña incorrectos."},
        {"invalid_credit_amount", "La cantidad de créditos no es válida."},
        {"stripe_not_configured", "Stripe no está configurado en el servidor."},
        {"stripe_request_failed", "Stripe no ha podido crear la compra."},
        {"checkout_not_paid", "Stripe todavía no marca el pago como completado."},
        {"checkout_not_recorded", "No se ha podido confirmar la compra todavía."},
        {"invalid_purchase", "La compra no es válida."},
        {"purchase_document_unavailable", "La factura no está disponible ahora mismo."},
        {"insufficient_credits", "No tienes créditos suficientes."},
        {"invalid_credit_request", "La petición de créditos no es válida."},
        {"ai_provider_not_configured", "La IA en la nube todavía no está configurada en Orvelant."},
        {"ai_provider_unavailable", "El proveedor de IA no está disponible ahora mismo."},
        {"ai_generation_failed", "La generación en la nube no se ha podido completar."},
        {"invalid_ai_request", "La petición de IA no es válida."},
        {"server_error", "El servidor ha tenido un error interno. Revisa la configuracion de Orvelant."},
    }};
    for (const auto& [key, text] : table)
        if (key == code)
            return std::string(text);
    return "No se ha podido completar la operación.";
}

std::int64_t AccountAPI::statusCode(std::string_view headers)
{
    const auto lines = splitLines(headers);
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (!line->starts_with("HTTP/"))
            continue;
        std::vector<std::string_view> pieces;
        std::size_t start = 0;
        while (start <= line->size()) {
            const auto end = line->find(' ', start);
            const auto piece = line->substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
            if (!piece.empty())
                pieces.push_back(piece);
            if (end == std::string_view::npos)
                break;
            start = end + 1;
        }
        if (pieces.size() >= 2)
            if (const auto code = parseSignedInteger(pieces[1]))
                return *code;
    }
    return 0;
}

std::vector<std::string> AccountAPI::curlArguments(const CurlInvocation& invocation, const std::filesystem::path& folder)
{
    // "-q" first: a user's ~/.curlrc (fail, location, ...) must not change how statuses come back.
    std::vector<std::string> arguments{"-q", "-sS", "--show-error", "--http1.1",
                                       "--connect-timeout", secondsArgument(invocation.connectTimeoutSeconds),
                                       "--max-time", secondsArgument(invocation.maxTimeSeconds),
                                       "--max-filesize", std::to_string(invocation.maxResponseBytes),
                                       "-D", (folder / "headers.txt").string(),
                                       // The body comes through a pipe, read up to its limit.
                                       "-o", "-",
                                       "-X", invocation.method};
    if (invocation.sendsAccept) {
        arguments.push_back("-H");
        arguments.push_back("Accept: application/json");
    }
    arguments.push_back("-H");
    arguments.push_back("X-Client: Fotivela-macOS");
    // The cookie is a secret: curl reads its header from a private file, never from the command line.
    if (invocation.hasCookie) {
        arguments.push_back("-H");
        arguments.push_back(curlFileArgument(folder / "cookie-header.txt"));
    }
    if (invocation.hasBody) {
        arguments.push_back("-H");
        arguments.push_back("Content-Type: application/json");
        arguments.push_back("--data-binary");
        arguments.push_back(curlFileArgument(folder / "request.json"));
    }
    arguments.push_back(invocation.url);
    return arguments;
}

bool AccountAPI::isAllowedServiceURL(std::string_view text)
{
    const QUrl url(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    const QString host = url.host();
    return url.scheme() == QLatin1String("http") &&
           (host == QLatin1String("127.0.0.1") || host == QLatin1String("::1") || host == QLatin1String("localhost"));
}

std::string AccountAPI::originOf(std::string_view text)
{
    const QUrl url(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || url.scheme().isEmpty())
        return {};
    const QString scheme = url.scheme().toLower();
    const int defaultPort = scheme == QLatin1String("https") ? 443 : scheme == QLatin1String("http") ? 80 : -1;
    const int port = url.port(defaultPort);
    QString host = url.host(QUrl::FullyEncoded).toLower();
    if (host.contains(QLatin1Char(':')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    QString origin = scheme + QStringLiteral("://") + host;
    if (port != defaultPort && port != -1)
        origin += QLatin1Char(':') + QString::number(port);
    return origin.toStdString();
}

ResponseLimit ResponseLimit::json()
{
    return {std::int64_t{4} << 20, "La respuesta del servidor es demasiado grande."};
}

ResponseLimit ResponseLimit::song()
{
    return {maxSongBytes, "La canción supera el tamaño máximo de 64 MB."};
}

ResponseLimit ResponseLimit::inlineSong()
{
    // Base64 takes four bytes for three; the rest of the answer is small.
    return {maxSongBytes / 3 * 4 + (std::int64_t{1} << 20), song().message};
}

CurlHTTPResponse AccountAPI::finishRun(const ChildResult& child, const std::filesystem::path& folder,
                                       const ResponseLimit& limit) const
{
    if (child.outputTooLarge || child.exitStatus == curlFileSizeExceeded)
        throw AccountError::message(limit.message);
    if (child.exitStatus != 0) {
        const std::string text = isValidUtf8(child.standardError) ? trimmedText(child.standardError) : std::string();
        throw AccountError::message(text.empty() ? "No se ha podido conectar con Orvelant." : text);
    }
    CurlHTTPResponse response;
    bool headersTooLarge = false;
    response.headers = readWholeFile(folder / "headers.txt", maxHeaderBytes, headersTooLarge);
    if (headersTooLarge)
        throw AccountError::message(limit.message);
    if (!isValidUtf8(response.headers))
        response.headers = QString::fromUtf8(QByteArray::fromStdString(response.headers)).toStdString();
    response.body = child.output;
    // With redirects the header file holds every answer; the last status line is the body's.
    response.statusCode = statusCode(response.headers);
    return response;
}

CurlHTTPResponse AccountAPI::curlRequest(const std::string& url, const std::string& method,
                                         const std::optional<std::string>& body,
                                         const std::optional<std::string>& cookie, double maxTimeSeconds,
                                         bool sendsAccept, const ResponseLimit& limit) const
{
    const AccountRequestFolder folder(DuskmereStorage::temporaryDirectory());
    const CurlInvocation invocation{method, url, m_configuration.connectTimeoutSeconds, maxTimeSeconds, sendsAccept,
                                    cookie.has_value(), body.has_value(), limit.bytes};
    if (cookie)
        atomicWriteFile(folder.path() / "cookie-header.txt", "Cookie: " + *cookie + "\n", 0600);
    if (body)
        atomicWriteFile(folder.path() / "request.json", *body, 0600);
    return finishRun(runCurl(curlArguments(invocation, folder.path()), limit.bytes), folder.path(), limit);
}

CurlHTTPResponse AccountAPI::send(std::string_view path, std::string_view method,
                                  const std::optional<nlohmann::json>& body, const ResponseLimit& limit)
{
    const QUrl base(QString::fromStdString(m_configuration.baseURL), QUrl::StrictMode);
    const QUrl relative(QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())), QUrl::StrictMode);
    if (!base.isValid() || !relative.isValid())
        throw AccountError::invalidResponse();
    const QUrl resolved = base.resolved(relative);
    if (!resolved.isValid())
        throw AccountError::invalidResponse();
    const std::string url = resolved.toString(QUrl::FullyEncoded).toStdString();

    std::optional<std::string> encoded;
    if (body) {
        try {
            encoded = body->dump();
        } catch (const nlohmann::json::exception& error) {
            throw JsonEncodingError(error.what());
        }
    }
    const auto cookie = sessionCookieHeader();
    const double maxTime = encoded ? m_configuration.maxTimeWithBodySeconds : m_configuration.maxTimeWithoutBodySeconds;
    CurlHTTPResponse response = curlRequest(url, std::string(method), encoded, cookie, maxTime, true, limit);
    const auto captured = rememberSessionCookie(response.headers);
    if (response.statusCode == 401) {
        // The session this request ran in has ended (with any cookie the same answer set); one a
        // later sign-in has started meanwhile stays.
        forgetSessionCookieIfStill(captured ? captured : cookie);
        throw AccountError::unauthorized();
    }
    return response;
}

nlohmann::json AccountAPI::parseResponse(const std::string& body)
{
    return parseFotivelaJson(body);
}

void AccountAPI::throwForStatus(const CurlHTTPResponse& response)
{
    std::string code = "server_error";
    try {
        const auto payload = APIErrorPayload::decode(parseFotivelaJson(response.body));
        if (payload.error)
            code = *payload.error;
        else if (payload.reason)
            code = *payload.reason;
    } catch (const std::exception&) {
        // Not an error body (an HTML page, nothing): the server's own failure.
    }
    throw AccountError::message(userMessage(code));
}

std::optional<std::string> AccountAPI::rememberSessionCookie(std::string_view headers)
{
    std::optional<std::string> captured;
    for (const auto line : splitLines(headers)) {
        if (!startsWithIgnoringCase(line, "Set-Cookie:"))
            continue;
        const auto found = line.find(cookieName);
        if (found == std::string_view::npos)
            continue;
        auto value = line.substr(found + cookieName.size());
        if (const auto end = value.find(';'); end != std::string_view::npos)
            value = value.substr(0, end);
        if (value.empty())
            continue;
        const std::string pair = std::string(cookieName) + std::string(value);
        captured = pair;
        std::lock_guard lock(m_cookieLock);
        m_sessionCookieHeader = pair;
        if (m_configuration.cookieStore)
            m_configuration.cookieStore->save({m_origin, pair});
        if (m_configuration.legacyDefaults)
            m_configuration.legacyDefaults->remove();
    }
    return captured;
}

void AccountAPI::forgetSessionCookieIfStill(const std::optional<std::string>& expected)
{
    {
        std::lock_guard lock(m_cookieLock);
        // Nothing was sent: there is no session of this service to forget (a cookie kept for
        // another service stays that service's).
        if (!expected || m_sessionCookieHeader != expected)
            return;
    }
    forgetSessionCookie();
}

void AccountAPI::forgetSessionCookie()
{
    std::lock_guard lock(m_cookieLock);
    m_sessionCookieHeader.reset();
    if (m_configuration.legacyDefaults)
        m_configuration.legacyDefaults->remove();
    if (m_configuration.cookieStore)
        m_configuration.cookieStore->remove();
}

std::optional<std::string> AccountAPI::sessionCookieHeader() const
{
    std::lock_guard lock(m_cookieLock);
    return m_sessionCookieHeader;
}

CurlHTTPResponse AccountAPI::download(const std::string& url) const
{
    // A song's address comes from the network: never a local file or another scheme.
    if (!isAllowedServiceURL(url))
        throw AccountError::invalidResponse();
    const AccountRequestFolder folder(DuskmereStorage::temporaryDirectory());
    const ResponseLimit limit = ResponseLimit::song();
    CurlInvocation invocation{"GET", url, m_configuration.connectTimeoutSeconds, m_configuration.maxTimeWithBodySeconds,
                              false, false, false, limit.bytes};
    std::vector<std::string> arguments = curlArguments(invocation, folder.path());
    const std::vector<std::string> redirects{"-L", "--max-redirs", "5", "--proto-redir", "=https"};
    arguments.insert(arguments.end() - 1, redirects.begin(), redirects.end());
    return finishRun(runCurl(arguments, limit.bytes), folder.path(), limit);
}

void AccountAPI::removeStaleRequestFolders() const
{
    // A crash can leave a folder behind with a password in it.
    AccountRequestFolder::removeAbandoned(DuskmereStorage::temporaryDirectory());
}

} // namespace fotivela
