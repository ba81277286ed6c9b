#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace fotivela {

// Where the session cookie pair lives between runs. Failures are silent: a store that cannot keep
// the cookie leaves the session in memory for this run only.
class SessionCookieStore {
public:
    virtual ~SessionCookieStore() = default;
    virtual std::optional<std::string> load() = 0;
    virtual void save(const std::string& cookiePair) = 0;
    virtual void remove() = 0;
};

// The desktop keyring (Secret Service) through QtKeychain: service "com.fotivela.orvelant",
// account "session-cookie". Never falls back to a plain file. Loading waits for the keyring on the
// main thread; saving and removing are queued to the main thread in call order.
class KeychainSessionCookieStore : public SessionCookieStore {
public:
    std::optional<std::string> load() override;
    void save(const std::string& cookiePair) override;
    void remove() override;
};

// Memory only: for runs without a keyring and for tests.
class MemorySessionCookieStore : public SessionCookieStore {
public:
    std::optional<std::string> load() override;
    void save(const std::string& cookiePair) override;
    void remove() override;

private:
    std::mutex m_lock;
    std::optional<std::string> m_value;
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
