#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
class Request;
class Response;
} // namespace httplib

namespace fotivela::tools {

// A small account service of our own on loopback: accounts in memory, a cookie session, credits,
// card checkouts that are paid on a local page, purchases with invoices, and cloud AI answers made
// here (lyrics from a template, a short synthesised song). Written against the JSON of the wire,
// not the client's types, so that the two sides check each other.
class LocalAccountService {
public:
    // An answer forced on one path: status, body, extra raw header lines, a delay before answering.
    struct Fault {
        int status = 200;
        std::string body;
        std::string contentType = "application/json";
        std::vector<std::pair<std::string, std::string>> headers;
        int delayMilliseconds = 0;
        // Only the delay: the real handler answers afterwards.
        bool delayOnly = false;
        bool once = false;
    };

    LocalAccountService();
    ~LocalAccountService();
    LocalAccountService(const LocalAccountService&) = delete;
    LocalAccountService& operator=(const LocalAccountService&) = delete;

    // Binds 127.0.0.1 (port 0: any free one) and serves on a thread of its own. Returns the port.
    int start(int port = 0);
    // Serves on the calling thread until stop().
    bool listen(int port);
    void stop();
    std::string baseURL() const;

    // Set-up and inspection for tests and local runs.
    void addAccount(const std::string& email, const std::string& password, const std::string& id,
                    std::int64_t balance, const std::string& fullName = {});
    void setBalance(const std::string& email, std::int64_t balance);
    std::int64_t balance(const std::string& email) const;
    std::string mintDesktopToken(const std::string& email);
    void markCheckoutPaid(const std::string& sessionId);
    void setFault(const std::string& path, Fault fault);
    void clearFaults();
    void setAIConfig(nlohmann::json config);
    void setCheckoutAnswer(bool includeURL, bool includeSessionId);
    void setMusicAsDownload(bool asDownload);
    // Launch reports received: {launchId, userId} in order.
    std::vector<std::pair<std::string, std::string>> launchReports() const;
    // Request counts by path.
    int requestCount(const std::string& path) const;
    // Header values of the last request to a path.
    std::map<std::string, std::string> lastHeaders(const std::string& path) const;
    std::string lastBody(const std::string& path) const;
    // The request target as sent (path and query, escapes kept).
    std::string lastTarget(const std::string& path) const;

private:
    struct Account {
        std::string id;
        std::string email;
        std::string password;
        std::string fullName;
        std::int64_t balance = 0;
        std::vector<nlohmann::json> purchases;
    };
    struct Checkout {
        std::string email;
        std::int64_t credits = 0;
        bool paid = false;
        std::optional<std::string> purchaseId;
    };

    void routes();
    Account* sessionAccount(const httplib::Request& request);
    std::string openSession(const std::string& email);
    void answerError(httplib::Response& response, int status, const std::string& code);
    void handleLyrics(const httplib::Request& request, httplib::Response& response);
    void handleMusic(const httplib::Request& request, httplib::Response& response);

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;

    mutable std::mutex m_lock;
    std::map<std::string, Account> m_accounts;        // by e-mail
    std::map<std::string, std::string> m_sessions;    // cookie value to e-mail
    std::map<std::string, std::string> m_desktopTokens;
    std::map<std::string, Checkout> m_checkouts;
    std::map<std::string, std::string> m_songs;       // operation to WAV bytes
    std::map<std::string, Fault> m_faults;
    std::map<std::string, int> m_requestCounts;
    std::map<std::string, std::map<std::string, std::string>> m_lastHeaders;
    std::map<std::string, std::string> m_lastBodies;
    std::map<std::string, std::string> m_lastTargets;
    std::vector<std::pair<std::string, std::string>> m_launches;
    nlohmann::json m_aiConfig;
    bool m_checkoutIncludesURL = true;
    bool m_checkoutIncludesSessionId = true;
    bool m_musicAsDownload = false;
    int m_nextNumber = 1;
};

// The content the service makes: a stereo 16-bit WAV of clicks over a tone (onsets every half
// second, so the music analysis finds markers), base64, and the lyrics template.
std::string synthesisedSongWav(double seconds);
std::string base64Encoded(const std::string& bytes);
std::optional<std::string> base64Decoded(const std::string& text);
std::string lyricsFromTemplate(const std::string& subject, std::int64_t slideCount, const std::string& style,
                               const std::string& notes);

} // namespace fotivela::tools
