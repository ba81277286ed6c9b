#include "platform/log.h"

#include <cstdio>
#include <mutex>

namespace fotivela {

void logLine(std::string_view line)
{
    // Lines from worker threads must not interleave.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
}

} // namespace fotivela
