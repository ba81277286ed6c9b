#include "platform/large_allocations.h"

#include <malloc.h>

#include <mutex>

namespace fotivela {

void mapLargeAllocationsSeparately()
{
    static std::once_flag once;
    std::call_once(once, [] { mallopt(M_MMAP_THRESHOLD, 4 << 20); });
}

void returnFreedMemoryToSystem()
{
    malloc_trim(0);
}

} // namespace fotivela
