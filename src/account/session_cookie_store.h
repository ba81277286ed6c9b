#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace fotivela {

// The origin of the service the program talks to unless told otherwise; a cookie stored without
// an origin (by an earlier version) belongs to it.
inline constexpr const char* defaultServiceOrigin = "https://api.orvelant.com";

// The session cookie pair and the service origin ("scheme://host[:port]") that set it: the cookie
// is sent to that origin only.
struct StoredSessionCookie {
    std::string origin;
    std::string cookiePair;
    friend bool operator==(const StoredSessionCookie&, const StoredSessionCookie&) = default;
};

// Where the session cookie lives between runs. Failures are silent: a store that cannot keep the
// cookie leaves the session in memory for this run only.
class SessionCookieStore {
public:
    virtual ~SessionCookieStore() = default;
    virtual std::optional<StoredSessionCookie> load() = 0;
    virtual void save(const StoredSessionCookie& cookie) = 0;
    virtual void remove() = 0;
};

// The desktop keyring (Secret Service) through QtKeychain: service "com.fotivela.orvelant",
// account "session-cookie", the data "<origin>\n<cookie pair>". Never falls back to a plain file.
// Loading waits for the keyring on the main thread; saving and removing are queued to the main
// thread in call order.
class KeychainSessionCookieStore : public SessionCookieStore {
public:
    std::optional<StoredSessionCookie> load() override;
    void save(const StoredSessionCookie& cookie) override;
    void remove() override;

    // The keyring's data and back; data without an origin line belongs to defaultServiceOrigin.
    static std::string encoded(const StoredSessionCookie& cookie);
    static std::optional<StoredSessionCookie> decoded(const std::string& data);
};

// Memory only: for runs without a keyring and for tests.
class MemorySessionCookieStore : public SessionCookieStore {
public:
    std::optional<StoredSessionCookie> load() override;
    void save(const StoredSessionCookie& cookie) override;
    void remove() override;

private:
    std::mutex m_lock;
    std::optional<StoredSessionCookie> m_value;
};

// The cookie pair an earlier version kept in the user defaults under "orvelantSessionCookieHeader".
// Read once at start and removed once the keyring holds a cookie; never written.
class LegacySessionCookieDefaults {
public:
    virtual ~LegacySessionCookieDefaults() = default;
    virtual std::optional<std::string> value() = 0;
    virtual void remove() = 0;
};

} // namespace fotivela
