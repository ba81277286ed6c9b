#include "platform/large_allocations.h"

#include <malloc.h>

#include <mutex>

namespace fotivela {

void mapLargeAllocationsSeparately(int thresholdBytes)
{
    static std::once_flag once;
    std::call_once(once, [thresholdBytes] { mallopt(M_MMAP_THRESHOLD, thresholdBytes); });
}

void returnFreedMemoryToSystem()
{
    malloc_trim(0);
}

} // namespace fotivela
