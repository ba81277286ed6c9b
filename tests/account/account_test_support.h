#pragma once

#include "account/account_api.h"
#include "account_service/local_account_service.h"
#include "prefs/temporary_folder.h"

#include <filesystem>
#include <memory>
#include <string>

namespace fotivela::testing {

// The real client against the local service on a free loopback port, with storage in a fresh
// folder and the cookie kept in memory (the tests never touch the desktop keyring).
class AccountServiceFixture {
public:
    explicit AccountServiceFixture(double maxTimeSeconds = 35)
        : m_noProxy("no_proxy", std::string("127.0.0.1")), m_noProxyUpper("NO_PROXY", std::string("127.0.0.1"))
    {
        service.start();
        api = makeAPI(maxTimeSeconds);
    }

    std::shared_ptr<AccountAPI> makeAPI(double maxTimeSeconds = 35,
                                        std::shared_ptr<LegacySessionCookieDefaults> legacy = nullptr)
    {
        AccountAPIConfiguration configuration;
        configuration.baseURL = service.baseURL();
        configuration.publicAuthURL = service.baseURL();
        configuration.cookieStore = cookies;
        configuration.legacyDefaults = std::move(legacy);
        configuration.maxTimeWithoutBodySeconds = maxTimeSeconds;
        configuration.maxTimeWithBodySeconds = maxTimeSeconds;
        return std::make_shared<AccountAPI>(configuration);
    }

    // Request folders still present in the program's temporary folder.
    int requestFolderCount() const
    {
        int count = 0;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(storage.path() / "Fotivela" / "Temporary", error))
            count += entry.path().filename().string().starts_with("fotivela-http-") ? 1 : 0;
        return count;
    }

    StorageRoot storage;
    ScopedEnvironment m_noProxy;
    ScopedEnvironment m_noProxyUpper;
    tools::LocalAccountService service;
    std::shared_ptr<MemorySessionCookieStore> cookies = std::make_shared<MemorySessionCookieStore>();
    std::shared_ptr<AccountAPI> api;
};

inline constexpr const char* anaEmail = "ana@example.com";
inline constexpr const char* anaPassword = "contraseña1";

} // namespace fotivela::testing
