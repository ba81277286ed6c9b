#include "account_service/local_account_service.h"

#include <gtest/gtest.h>

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace fotivela {
namespace {

using tools::LocalAccountService;

TEST(LocalAccountService, RefusesHugeBodiesAndKeepsItsRecordsBounded)
{
    LocalAccountService service;
    const int port = service.start();
    httplib::Client client("127.0.0.1", port);

    const std::string huge(LocalAccountService::maxRequestBodyBytes + 1, 'x');
    const auto refused = client.Post("/api/auth/login", huge, "application/json");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 413);

    // Made-up paths fill the record only up to its bound; the service's own are still counted.
    for (std::size_t i = 0; i < LocalAccountService::maxRecordedPaths + 40; ++i)
        ASSERT_TRUE(client.Get("/nada/" + std::to_string(i)));
    EXPECT_EQ(service.requestCount("/nada/0"), 1);
    EXPECT_EQ(service.requestCount("/nada/" + std::to_string(LocalAccountService::maxRecordedPaths + 20)), 0);
    ASSERT_TRUE(client.Get("/api/fotivela/ai/config"));
    EXPECT_EQ(service.requestCount("/api/fotivela/ai/config"), 1);
}

TEST(LocalAccountService, ClientsThatStallAreDroppedSoOthersAreServed)
{
    LocalAccountService service;
    service.setClientTimeout(std::chrono::milliseconds(500));
    const int port = service.start();

    // Twice as many stalled connections as the service has workers, each half a request.
    std::vector<int> stalled;
    for (int i = 0; i < 16; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        const std::string partial = "GET /api/auth/me HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        ASSERT_EQ(::write(fd, partial.data(), partial.size()), static_cast<ssize_t>(partial.size()));
        stalled.push_back(fd);
    }
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(30, 0);
    const auto start = std::chrono::steady_clock::now();
    const auto answer = client.Get("/api/fotivela/ai/config");
    const auto waited = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    // Two rounds of a stalled client dropped after its short silences (1.5 s each here), not of
    // the library's default five-second ones.
    EXPECT_LT(waited, std::chrono::seconds(7));
    for (const int fd : stalled)
        ::close(fd);
}

} // namespace
} // namespace fotivela
