#include "store/stem_source_preparation.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <chrono>

namespace fotivela::StemSourcePreparation {

namespace {

constexpr const char* runtimeMissing = "No se pudo preparar Demucs: El motor de ondas separadas no está instalado.";

// Shortest text that reads back to the same value, always with a decimal point.
std::string secondsText(double seconds)
{
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed);
    std::string text(buffer, written.ec == std::errc() ? written.ptr : buffer);
    if (text.empty())
        return "0.0";
    if (text.find('.') == std::string::npos)
        text += ".0";
    return text;
}

} // namespace

std::string signature(const std::filesystem::path& url)
{
    struct stat info {};
    std::string size = "0";
    std::string time = "0.0";
    if (::stat(url.c_str(), &info) == 0) {
        size = std::to_string(static_cast<long long>(info.st_size));
        time = secondsText(static_cast<double>(info.st_mtim.tv_sec) + static_cast<double>(info.st_mtim.tv_nsec) / 1e9);
    }
    return url.string() + "|" + size + "|" + time;
}

StemSeparationResult fallbackResult(const std::string& signature, const std::string& message)
{
    StemSeparationResult result;
    result.state.engine = StemSeparationEngine::fallbackMix;
    result.state.sourceSignature = signature;
    result.state.separatedAt = std::chrono::system_clock::now();
    result.state.message = message;
    result.usesFallback = true;
    return result;
}

StemSeparationResult prepareWithoutRuntime(const std::filesystem::path& audioURL, const std::filesystem::path&,
    const std::set<AutoBeatInstrument>&, const StemSeparationState&, std::stop_token)
{
    return fallbackResult(signature(audioURL), runtimeMissing);
}

std::uint64_t physicalMemoryBytes()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

bool hasMemoryForInstrumentAnalysis(std::uint64_t bytes)
{
    return static_cast<double>(bytes) / 1073741824.0 >= 7.5;
}

} // namespace fotivela::StemSourcePreparation
