#include "account/account_api.h"
#include "account/account_request_folder.h"
#include "account_test_support.h"
#include "platform/duskmere_storage.h"

#include <gtest/gtest.h>

#include <QTest>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace fotivela {
namespace {

using testing::AccountServiceFixture;
using testing::anaEmail;
using testing::anaPassword;
using Fault = tools::LocalAccountService::Fault;

std::string messageOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const AccountError& error) {
        return error.what();
    }
    return "no error";
}

// Resident and peak memory of this process, in bytes; the peak can be reset to the present.
std::int64_t statusValue(const char* key)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(key))
            return std::stoll(line.substr(std::string(key).size())) * 1024;
    return -1;
}

void resetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

TEST(AccountAnswerLimits, AHugeAnswerIsCutOffWhileItArrivesAndTheProgramDoesNotGrowWithIt)
{
    AccountServiceFixture fixture;
    auto& api = *fixture.api;
    const std::string tooLarge = "La respuesta del servidor es demasiado grande.";

    // Sent in chunks, so curl learns the size only as it arrives: the client stops reading.
    Fault endless{200, {}, "application/json"};
    endless.streamedBytes = std::int64_t{96} << 20;
    fixture.service.setFault("/api/fotivela/ai/config", endless);
    resetPeakMemory();
    const std::int64_t before = statusValue("VmRSS:");
    EXPECT_EQ(messageOf([&] { api.cloudAIConfig(); }), tooLarge);
    // The answer's 4 MiB, its copies, the in-process server's buffers and the
    // sanitizer's bookkeeping (which grow on a loaded machine); far from the 96 MiB sent.
    const std::int64_t growth = statusValue("VmHWM:") - before;
    EXPECT_LT(growth, std::int64_t{64} << 20) << "peak growth " << growth;
    EXPECT_LT(fixture.service.streamedBytesSent(), std::int64_t{48} << 20);

    // Announced: curl refuses it before the body.
    Fault announced = endless;
    announced.declaresLength = true;
    fixture.service.setFault("/api/fotivela/ai/config", announced);
    const std::int64_t sent = fixture.service.streamedBytesSent();
    EXPECT_EQ(messageOf([&] { api.cloudAIConfig(); }), tooLarge);
    EXPECT_LT(fixture.service.streamedBytesSent() - sent, std::int64_t{16} << 20);

    // An answer under the limit still goes through; no folder stays behind.
    fixture.service.clearFaults();
    EXPECT_NO_THROW(api.cloudAIConfig());
    EXPECT_EQ(fixture.requestFolderCount(), 0);
}

TEST(AccountAnswerLimits, ASongLargerThanTheMaximumIsRefusedWithItsOwnText)
{
    AccountServiceFixture fixture;
    Fault song{200, {}, "audio/wav"};
    song.streamedBytes = maxSongBytes + (1 << 20);
    fixture.service.setFault("/audio/grande.wav", song);
    EXPECT_EQ(messageOf([&] { fixture.api->download(fixture.service.baseURL() + "/audio/grande.wav"); }),
              "La canción supera el tamaño máximo de 64 MB.");

    // A song at the maximum is a song.
    song.streamedBytes = maxSongBytes;
    song.declaresLength = true;
    fixture.service.setFault("/audio/justa.wav", song);
    const auto fetched = fixture.api->download(fixture.service.baseURL() + "/audio/justa.wav");
    EXPECT_EQ(fetched.statusCode, 200);
    EXPECT_EQ(static_cast<std::int64_t>(fetched.body.size()), maxSongBytes);
}

TEST(AccountLanes, AUserActionDoesNotWaitBehindHangingBackgroundRequests)
{
    AccountServiceFixture fixture;
    auto& api = *fixture.api;
    api.login(anaEmail, anaPassword);
    fixture.service.setFault("/api/fotivela/ai/config", Fault{200, "{}", "application/json", {}, 8000, true});
    for (int i = 0; i < 12; ++i)
        api.runAsync(
            [&api] {
                try {
                    api.cloudAIConfig();
                } catch (const AccountError&) {
                }
                return true;
            },
            [](bool) {}, AccountLane::background);
    bool signedOut = false;
    api.runAsync(
        [&api] {
            api.logout();
            return true;
        },
        [&signedOut](bool) { signedOut = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return signedOut; }, 5000));
    EXPECT_FALSE(api.sessionCookieHeader());
}

TEST(AccountSessionCookie, ACookieIsSentOnlyToTheServiceThatSetItAndA401ForAnOlderSessionKeepsTheNewOne)
{
    AccountServiceFixture fixture;
    fixture.api->login(anaEmail, anaPassword);
    const auto cookie = fixture.api->sessionCookieHeader();
    ASSERT_TRUE(cookie);

    // The same keyring, another service address: nothing is sent there, and its 401 leaves the
    // first service's cookie alone.
    tools::LocalAccountService other;
    other.start();
    AccountAPIConfiguration configuration;
    configuration.baseURL = other.baseURL();
    configuration.cookieStore = fixture.cookies;
    AccountAPI elsewhere(configuration);
    EXPECT_FALSE(elsewhere.sessionCookieHeader());
    EXPECT_THROW(elsewhere.me(), AccountError);
    EXPECT_FALSE(other.lastHeaders("/api/auth/me").contains("Cookie"));
    EXPECT_EQ(fixture.cookies->load()->cookiePair, cookie);
    EXPECT_EQ(fixture.makeAPI()->sessionCookieHeader(), cookie);

    // A request of the old session is refused after the user has signed in again.
    fixture.service.setFault("/api/account/purchases", Fault{401, R"({"error":"unauthorized"})", "application/json", {}, 600});
    auto& api = *fixture.api;
    bool refused = false;
    api.runAsync(
        [&api] {
            try {
                api.purchaseHistory();
            } catch (const AccountError& error) {
                return error.kind() == AccountError::Kind::unauthorized;
            }
            return false;
        },
        [&refused](bool unauthorized) { refused = unauthorized; }, AccountLane::background);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fixture.service.requestCount("/api/account/purchases") == 1; }, 5000));
    api.login(anaEmail, anaPassword);
    const auto newer = api.sessionCookieHeader();
    ASSERT_NE(newer, cookie);
    ASSERT_TRUE(QTest::qWaitFor([&] { return refused; }, 5000));
    EXPECT_EQ(api.sessionCookieHeader(), newer);
}

TEST(AccountRequestFolders, FoldersACrashLeftBehindAreSweptAtStartAndLiveOnesStay)
{
    AccountServiceFixture fixture;
    const auto parent = DuskmereStorage::temporaryDirectory();
    // A request folder whose process died: its lock file is held by nobody.
    const auto crashed = parent / "fotivela-http-00000000-0000-4000-8000-000000000001";
    std::filesystem::create_directory(crashed);
    std::ofstream(crashed / "request.json") << R"({"email":"ana@example.com","password":"contraseña1"})";
    std::ofstream(crashed / "owner.lock") << "";
    // Without a lock file: a fresh one may be a folder being made this moment; an old one is not.
    const auto fresh = parent / "fotivela-http-00000000-0000-4000-8000-000000000002";
    const auto old = parent / "fotivela-http-00000000-0000-4000-8000-000000000003";
    std::filesystem::create_directory(fresh);
    std::filesystem::create_directory(old);
    std::filesystem::last_write_time(old, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(5));
    const auto other = parent / "otra-cosa";
    std::filesystem::create_directory(other);

    {
        const AccountRequestFolder live(parent);
        fixture.makeAPI();
        EXPECT_TRUE(std::filesystem::exists(live.path()));
    }
    EXPECT_FALSE(std::filesystem::exists(crashed));
    EXPECT_FALSE(std::filesystem::exists(old));
    EXPECT_TRUE(std::filesystem::exists(fresh));
    EXPECT_TRUE(std::filesystem::exists(other));
}

} // namespace
} // namespace fotivela
