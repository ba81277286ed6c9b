#include "stem_runtime/demucs_runtime_fetch.h"

#include "platform/file_url.h"
#include "platform/log.h"
#include "stem_runtime/demucs_runtime_digest.h"
#include "stem_runtime/demucs_runtime_production_io.h"
#include "stem_runtime/demucs_runtime_texts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <sstream>

namespace fotivela::DemucsRuntimeFetch {

namespace {

// curl run by the process runner; its own failures (launch, time-out, stop) are the download's.
DemucsRuntimeProductionIO::ProcessResult runCurl(const std::vector<std::string>& arguments, double timeout,
    const std::function<void()>& periodicCheck, std::stop_token stop);

// Far beyond any runtime we ship; a larger file is not ours.
constexpr std::uint64_t largestPackage = 1ull << 30;
constexpr std::size_t readChunk = 1 << 20;
constexpr const char* curlPath = "/usr/bin/curl";
constexpr double headTimeout = 60.0;
constexpr double downloadTimeout = 6.0 * 3600.0;

bool startsWith(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    }
    return true;
}

std::optional<std::uint64_t> fileSize(const std::filesystem::path& file)
{
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

// Reads a whole regular file, reporting progress and honouring stop between chunks.
std::string readWhole(const std::filesystem::path& file, const char* missingText, const DemucsInstallProgress& progress,
    std::stop_token stop)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw DemucsRuntimeError(missingText);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer { fd };
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        throw DemucsRuntimeError(missingText);
    const auto expected = static_cast<std::uint64_t>(info.st_size);
    if (expected > largestPackage)
        throw DemucsRuntimeError(DemucsRuntimeTexts::digestMismatch);
    std::string bytes;
    bytes.reserve(expected);
    for (;;) {
        if (stop.stop_requested())
            throw DemucsRuntimeError(DemucsRuntimeTexts::cancelled);
        const std::size_t old = bytes.size();
        bytes.resize(old + readChunk);
        const ssize_t count = ::read(fd, bytes.data() + old, readChunk);
        if (count < 0 && errno == EINTR) {
            bytes.resize(old);
            continue;
        }
        if (count < 0)
            throw DemucsRuntimeError(missingText);
        bytes.resize(old + static_cast<std::size_t>(count));
        if (count == 0)
            break;
        if (bytes.size() > largestPackage)
            throw DemucsRuntimeError(DemucsRuntimeTexts::digestMismatch);
        if (progress)
            progress(static_cast<std::int64_t>(bytes.size()), static_cast<std::int64_t>(std::max(expected, bytes.size())));
    }
    return bytes;
}

std::map<std::string, std::string> curlEnvironment()
{
    std::map<std::string, std::string> environment {{"PATH", "/usr/bin:/bin"}, {"LANG", "C.UTF-8"}};
    // Proxies and certificates of the user's session still apply.
    for (const char* name : {"HOME", "http_proxy", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY", "ALL_PROXY",
             "all_proxy", "SSL_CERT_FILE", "SSL_CERT_DIR", "CURL_CA_BUNDLE"}) {
        if (const char* value = std::getenv(name); value && *value)
            environment[name] = value;
    }
    return environment;
}

DemucsRuntimeProductionIO::ProcessResult runCurl(const std::vector<std::string>& arguments, double timeout,
    const std::function<void()>& periodicCheck, std::stop_token stop)
{
    try {
        return DemucsRuntimeProductionIO::runProcess(curlPath, arguments, curlEnvironment(), timeout, periodicCheck,
            65536, {}, stop);
    } catch (const DemucsRuntimeError&) {
        if (stop.stop_requested())
            throw DemucsRuntimeError(DemucsRuntimeTexts::cancelled);
        throw DemucsRuntimeError(DemucsRuntimeTexts::downloadFailed);
    }
}

// The final response's Content-Length of a HEAD request; nothing when the server does not say.
std::optional<std::uint64_t> announcedLength(const std::string& url, std::stop_token stop)
{
    const auto result
        = runCurl({"-sS", "-f", "-L", "-I", "--proto", "=http,https", "--max-time", "30", "--", url}, headTimeout, {}, stop);
    if (result.status != 0)
        return std::nullopt;
    std::optional<std::uint64_t> length;
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (startsWith(line, "http/"))
            length.reset(); // a redirect's own headers do not count
        if (!startsWith(line, "content-length:"))
            continue;
        const std::string value = line.substr(15);
        char* end = nullptr;
        const unsigned long long parsed = std::strtoull(value.c_str(), &end, 10);
        if (end != value.c_str())
            length = parsed;
    }
    return length;
}

// curl's exit status when the server cannot continue a download where the file ends.
constexpr int curlCannotResume = 33;

// curl appends to partialFile from where it ends ("-C -"); answers curl's exit status.
int download(const std::string& url, const std::filesystem::path& partialFile, std::uint64_t expected,
    const DemucsInstallProgress& progress, std::stop_token stop)
{
    auto report = [&] {
        if (progress)
            progress(static_cast<std::int64_t>(fileSize(partialFile).value_or(0)), static_cast<std::int64_t>(expected));
    };
    const auto result = runCurl({"-sS", "-f", "-L", "--proto", "=http,https", "--speed-limit", "1", "--speed-time",
                                    "60", "--max-filesize", std::to_string(largestPackage), "-C", "-", "-o",
                                    partialFile.string(), "--", url},
        downloadTimeout, report, stop);
    report();
    if (result.status != 0)
        logLine("Fotivela stem runtime download: curl " + std::to_string(result.status) + ": "
            + result.output.substr(0, result.output.find('\n')));
    return result.status;
}

std::string fetchOverHttp(const std::string& url, const std::string& expectedSha256,
    const std::filesystem::path& partialFile, const DemucsInstallProgress& progress, std::stop_token stop)
{
    const std::uint64_t expected = announcedLength(url, stop).value_or(0);
    std::error_code ignored;
    // A partial file grown past the announced size is not a prefix of this package.
    if (const auto size = fileSize(partialFile); size && expected > 0 && *size > expected)
        std::filesystem::remove(partialFile, ignored);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto size = fileSize(partialFile);
        // A complete earlier download needs no request ("-C -" would get 416 for it).
        const bool complete = size && expected > 0 && *size == expected;
        const int status = complete ? 0 : download(url, partialFile, expected, progress, stop);
        if (stop.stop_requested())
            throw DemucsRuntimeError(DemucsRuntimeTexts::cancelled);
        // A file that is whole and right counts, whatever curl said of the last request.
        if (fileSize(partialFile).value_or(0) > 0) {
            std::string bytes = readWhole(partialFile, DemucsRuntimeTexts::downloadFailed, {}, stop);
            if (DemucsRuntimeDigest::sha256Hex(bytes) == expectedSha256)
                return bytes;
        }
        // An interrupted download stays for the next attempt to resume...
        if (status != 0 && status != curlCannotResume)
            throw DemucsRuntimeError(DemucsRuntimeTexts::downloadFailed);
        // ...but a whole file that is wrong, or one the server cannot continue, starts afresh once.
        std::filesystem::remove(partialFile, ignored);
    }
    throw DemucsRuntimeError(DemucsRuntimeTexts::digestMismatch);
}

} // namespace

std::string fetchVerifiedArchive(const std::string& url, const std::string& expectedSha256,
    const std::filesystem::path& partialFile, const DemucsInstallProgress& progress, std::stop_token stop)
{
    if (startsWith(url, "http://") || startsWith(url, "https://"))
        return fetchOverHttp(url, expectedSha256, partialFile, progress, stop);
    std::optional<std::filesystem::path> path;
    if (!url.empty() && url.front() == '/')
        path = std::filesystem::path(url);
    else
        path = pathFromFileUrl(url);
    if (!path)
        throw DemucsRuntimeError(DemucsRuntimeTexts::packageMissing);
    std::string bytes = readWhole(*path, DemucsRuntimeTexts::packageMissing, progress, stop);
    if (DemucsRuntimeDigest::sha256Hex(bytes) != expectedSha256)
        throw DemucsRuntimeError(DemucsRuntimeTexts::digestMismatch);
    return bytes;
}

} // namespace fotivela::DemucsRuntimeFetch
