#include "account/session_cookie_store.h"
#include "prefs/temporary_folder.h"

#include <gtest/gtest.h>

#include <QTest>

#include <fstream>
#include <sstream>

namespace fotivela {
namespace {

using testing::ScopedEnvironment;
using testing::TemporaryFolder;

TEST(KeychainSessionCookieStore, WithoutASecretServiceTheCookieIsKeptNowhereOnDisk)
{
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS"))
        GTEST_SKIP() << "a desktop session runs here; its keyring belongs to the user";
    TemporaryFolder home;
    ScopedEnvironment homeVariable("HOME", home.path().string());
    ScopedEnvironment config("XDG_CONFIG_HOME", (home.path() / "config").string());
    ScopedEnvironment data("XDG_DATA_HOME", (home.path() / "data").string());

    KeychainSessionCookieStore store;
    store.save({defaultServiceOrigin, "orvelant_session=secreto-de-prueba"});
    QTest::qWait(300);
    EXPECT_FALSE(store.load());
    store.remove();
    QTest::qWait(100);

    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(home.path(), error)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        EXPECT_EQ(content.str().find("secreto-de-prueba"), std::string::npos) << entry.path();
    }
}

TEST(MemorySessionCookieStore, KeepsTheLastNonEmptyValue)
{
    MemorySessionCookieStore store;
    EXPECT_FALSE(store.load());
    store.save({"https://a.test", "orvelant_session=a"});
    store.save({"https://a.test", ""});
    EXPECT_EQ(store.load()->cookiePair, "orvelant_session=a");
    store.remove();
    EXPECT_FALSE(store.load());
}

TEST(KeychainSessionCookieStore, TheKeyringDataNamesTheServiceAndAnOlderItemBelongsToTheProductsOwn)
{
    const StoredSessionCookie local{"http://127.0.0.1:8787", "orvelant_session=x"};
    EXPECT_EQ(KeychainSessionCookieStore::decoded(KeychainSessionCookieStore::encoded(local)), local);
    EXPECT_EQ(KeychainSessionCookieStore::decoded("orvelant_session=viejo"),
              (StoredSessionCookie{defaultServiceOrigin, "orvelant_session=viejo"}));
    EXPECT_FALSE(KeychainSessionCookieStore::decoded("https://a.test\n"));
}

} // namespace
} // namespace fotivela
