#include "store/stem_source_preparation.h"

#include "analysis/stem_separation_service.h"

#include <unistd.h>

namespace fotivela::StemSourcePreparation {

std::string signature(const std::filesystem::path& url)
{
    return StemSeparationService::signature(url);
}

StemSeparationResult fallbackResult(const std::string& signature, const std::string& message)
{
    return StemSeparationService::fallbackResult(signature, message);
}

StemSeparationResult prepareWithRuntime(const std::filesystem::path& audioURL, const std::filesystem::path& projectURL,
    const std::set<AutoBeatInstrument>& instruments, const StemSeparationState& currentState, std::stop_token stop)
{
    return StemSeparationService::prepareSources(audioURL, projectURL, instruments, currentState, stop);
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
