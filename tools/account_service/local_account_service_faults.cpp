#include "account_service/local_account_service.h"

#include <httplib.h>

#include <algorithm>
#include <array>
#include <string_view>

// What the tests reach into: forced answers, the record of what arrived, the pause a fault makes.
namespace fotivela::tools {

void LocalAccountService::setFault(const std::string& path, Fault fault)
{
    std::lock_guard lock(m_lock);
    m_faults[path] = std::move(fault);
}

void LocalAccountService::clearFaults()
{
    std::lock_guard lock(m_lock);
    m_faults.clear();
}

void LocalAccountService::record(const httplib::Request& request)
{
    // The service's own endpoints are always recorded; any other path only while there is room.
    static constexpr std::array<std::string_view, 17> endpoints{
        "/api/auth/me", "/api/auth/login", "/api/auth/register", "/api/auth/logout", "/api/auth/profile",
        "/api/auth/password", "/api/auth/password-reset/request", "/api/auth/oauth/google",
        "/api/auth/desktop/exchange", "/api/stripe/checkout", "/api/stripe/confirm", "/api/account/purchases",
        "/api/account/purchases/link", "/api/fotivela/ai/config", "/api/fotivela/lyrics/generate",
        "/api/fotivela/music/generate", "/api/apps/open"};
    const bool isEndpoint = std::find(endpoints.begin(), endpoints.end(), request.path) != endpoints.end();
    if (!isEndpoint && !m_requestCounts.contains(request.path) && m_requestCounts.size() >= maxRecordedPaths)
        return;
    ++m_requestCounts[request.path];
    auto& headers = m_lastHeaders[request.path];
    headers.clear();
    for (const auto& [key, value] : request.headers)
        headers[key] = value.substr(0, maxRecordedBodyBytes);
    m_lastTargets[request.path] = request.target.substr(0, maxRecordedBodyBytes);
    m_lastBodies[request.path].clear();
}

void LocalAccountService::pause(std::chrono::milliseconds duration)
{
    std::unique_lock lock(m_lock);
    m_stopSignal.wait_for(lock, duration, [this] { return m_isStopping; });
}

void LocalAccountService::answerFault(const Fault& fault, httplib::Response& response)
{
    response.status = fault.status;
    for (const auto& [key, value] : fault.headers)
        response.set_header(key.c_str(), value);
    if (fault.streamedBytes <= 0)
        return response.set_content(fault.body, fault.contentType.c_str());
    // Generated as it is sent, so that a huge answer costs the service no memory.
    const auto total = static_cast<std::size_t>(fault.streamedBytes);
    auto provide = [total, sent = m_streamedBytes](std::size_t offset, httplib::DataSink& sink) {
        static const std::string block(64 * 1024, ' ');
        if (offset >= total) {
            sink.done();
            return true;
        }
        const std::size_t length = std::min(block.size(), total - offset);
        if (!sink.write(block.data(), length))
            return false;
        *sent += static_cast<std::int64_t>(length);
        return true;
    };
    if (fault.declaresLength)
        response.set_content_provider(total, fault.contentType.c_str(),
                                      [provide](std::size_t offset, std::size_t, httplib::DataSink& sink) mutable {
                                          return provide(offset, sink);
                                      });
    else
        response.set_chunked_content_provider(fault.contentType.c_str(),
                                              [provide](std::size_t offset, httplib::DataSink& sink) mutable {
                                                  return provide(offset, sink);
                                              });
}

} // namespace fotivela::tools
