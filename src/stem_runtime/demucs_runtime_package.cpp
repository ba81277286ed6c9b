#include "stem_runtime/demucs_runtime_package.h"

#include "platform/file_url.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fotivela::DemucsRuntimePackage {

std::string defaultURL()
{
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const auto beside = program.parent_path() / archiveFileName;
        if (std::filesystem::is_regular_file(beside, error))
            return fileUrlString(beside);
    }
    return fileUrlString(builtArchivePath());
}

DemucsRuntimePackageSource shippedSource()
{
    DemucsRuntimePackageSource source;
    if (const char* url = std::getenv(urlVariable); url && *url)
        source.url = url;
    else
        source.url = defaultURL();
    source.sha256 = builtArchiveSha256();
    source.version = builtVersion();
    source.size = builtArchiveSize();
    return source;
}

} // namespace fotivela::DemucsRuntimePackage
