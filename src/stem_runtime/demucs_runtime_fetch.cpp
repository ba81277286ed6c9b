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
    // Without O_NONBLOCK a FIFO would hold the install in open() where no cancel reaches it.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
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

// What the final response to a HEAD request says of the file.
struct ServerAnswer {
    std::optional<std::uint64_t> length;
    bool refusesRanges = false; // "Accept-Ranges: none"
};

ServerAnswer askServer(const std::string& url, std::stop_token stop)
{
    const auto result
        = runCurl({"-sS", "-f", "-L", "-I", "--proto", "=http,https", "--max-time", "30", "--", url}, headTimeout, {}, stop);
    if (result.status != 0)
        return {};
    ServerAnswer answer;
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (startsWith(line, "http/"))
            answer = {}; // a redirect's own headers do not count
        if (startsWith(line, "accept-ranges:"))
            answer.refusesRanges = line.find("none") != std::string::npos;
        if (!startsWith(line, "content-length:"))
            continue;
        const std::string value = line.substr(15);
        char* end = nullptr;
        const unsigned long long parsed = std::strtoull(value.c_str(), &end, 10);
        if (end != value.c_str())
            answer.length = parsed;
    }
    return answer;
}

// curl's exit statuses that the download tells apart.
constexpr int curlWriteFailed = 23;
constexpr int curlTooLarge = 63;
constexpr int curlCannotResume = 33;

// curl appends to partialFile from where it ends ("-C -"), never writing it past `bound`, even
// when the server announces no length; answers curl's exit status.
int download(const std::string& url, const std::filesystem::path& partialFile, std::uint64_t expected,
    std::uint64_t bound, const DemucsInstallProgress& progress, std::stop_token stop)
{
    auto report = [&] {
        if (progress)
            progress(static_cast<std::int64_t>(fileSize(partialFile).value_or(0)), static_cast<std::int64_t>(expected));
    };
    DemucsRuntimeProductionIO::ProcessResult result;
    try {
        result = DemucsRuntimeProductionIO::runProcess(curlPath,
            {"-sS", "-f", "-L", "--proto", "=http,https", "--speed-limit", "1", "--speed-time", "60", "--max-filesize",
                std::to_string(bound), "-C", "-", "-o", partialFile.string(), "--", url},
            curlEnvironment(), downloadTimeout, report, 65536, {}, stop, bound);
    } catch (const DemucsRuntimeError&) {
        if (stop.stop_requested())
            throw DemucsRuntimeError(DemucsRuntimeTexts::cancelled);
        throw DemucsRuntimeError(DemucsRuntimeTexts::downloadFailed);
    }
    report();
    if (result.status != 0)
        logLine("Fotivela stem runtime download: curl " + std::to_string(result.status) + ": "
            + result.output.substr(0, result.output.find('\n')));
    return result.status;
}

// Removes the partial download on the way out unless it was kept for a later attempt to resume.
class PartialFileGuard {
public:
    explicit PartialFileGuard(std::filesystem::path file) : m_file(std::move(file)) {}
    ~PartialFileGuard()
    {
        if (m_keep)
            return;
        std::error_code ignored;
        std::filesystem::remove(m_file, ignored);
    }
    PartialFileGuard(const PartialFileGuard&) = delete;
    PartialFileGuard& operator=(const PartialFileGuard&) = delete;
    void keep() { m_keep = true; }

private:
    std::filesystem::path m_file;
    bool m_keep = false;
};

std::string fetchOverHttp(const DemucsRuntimePackageSource& source, const std::filesystem::path& partialFile,
    const DemucsInstallProgress& progress, std::stop_token stop)
{
    const ServerAnswer answer = askServer(source.url, stop);
    // Nothing larger than the package can be it.
    const std::uint64_t bound = source.size > 0 ? source.size : largestPackage;
    const std::uint64_t expected = source.size > 0 ? source.size : answer.length.value_or(0);
    // A later attempt resumes only where the server said how long the file is, and that it is
    // the package's length: else what is on disk could never be checked as a prefix of it.
    const bool resumable = answer.length && *answer.length == expected && expected <= bound && !answer.refusesRanges;
    PartialFileGuard guard(partialFile);
    std::error_code ignored;
    // A partial file grown past the expected size is not a prefix of this package.
    if (const auto size = fileSize(partialFile); size && expected > 0 && *size > expected)
        std::filesystem::remove(partialFile, ignored);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto size = fileSize(partialFile);
        // A complete earlier download needs no request ("-C -" would get 416 for it).
        const bool complete = size && expected > 0 && *size == expected;
        int status = 0;
        try {
            status = complete ? 0 : download(source.url, partialFile, expected, bound, progress, stop);
        } catch (const DemucsRuntimeError&) {
            if (resumable)
                guard.keep();
            throw;
        }
        if (stop.stop_requested()) {
            if (resumable)
                guard.keep();
            throw DemucsRuntimeError(DemucsRuntimeTexts::cancelled);
        }
        // A file that is whole and right counts, whatever curl said of the last request.
        const std::uint64_t written = fileSize(partialFile).value_or(0);
        if (written > 0) {
            std::string bytes = readWhole(partialFile, DemucsRuntimeTexts::downloadFailed, {}, stop);
            if (DemucsRuntimeDigest::sha256Hex(bytes) == source.sha256) {
                guard.keep();
                return bytes;
            }
        }
        // More than the package: refused, and nothing of it stays.
        if (status == curlTooLarge || (status == curlWriteFailed && written >= bound))
            throw DemucsRuntimeError(DemucsRuntimeTexts::digestMismatch);
        // Short of the bound, a write that failed is a full disk (or a quota): free what it took.
        if (status == curlWriteFailed)
            throw DemucsRuntimeError(DemucsRuntimeTexts::diskFull);
        // An interrupted download stays for the next attempt to resume...
        if (status != 0 && status != curlCannotResume) {
            if (resumable)
                guard.keep();
            throw DemucsRuntimeError(DemucsRuntimeTexts::downloadFailed);
        }
        // ...but a whole file that is wrong, or one the server cannot continue, starts afresh once.
        std::filesystem::remove(partialFile, ignored);
    }
    throw DemucsRuntimeError(DemucsRuntimeTexts::digestMismatch);
}

} // namespace

std::string fetchVerifiedArchive(const DemucsRuntimePackageSource& source, const std::filesystem::path& partialFile,
    const DemucsInstallProgress& progress, std::stop_token stop)
{
    const std::string& url = source.url;
    if (startsWith(url, "http://") || startsWith(url, "https://"))
        return fetchOverHttp(source, partialFile, progress, stop);
    std::optional<std::filesystem::path> path;
    if (!url.empty() && url.front() == '/')
        path = std::filesystem::path(url);
    else
        path = pathFromFileUrl(url);
    if (!path)
        throw DemucsRuntimeError(DemucsRuntimeTexts::packageMissing);
    std::string bytes = readWhole(*path, DemucsRuntimeTexts::packageMissing, progress, stop);
    if (DemucsRuntimeDigest::sha256Hex(bytes) != source.sha256)
        throw DemucsRuntimeError(DemucsRuntimeTexts::digestMismatch);
    return bytes;
}

} // namespace fotivela::DemucsRuntimeFetch
