#include "Base/Prefault.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace Prefault {
void Range(void* begin, std::size_t bytes)
{
    static const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(begin) + bytes) & ~(page - 1);
    if (end > start)
        (void)::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
}

void ThreadHeap(std::size_t bytes)
{
    // A larger block would come from a mapping of its own (the job's malloc settings map blocks
    // of 32 MiB and more), which freeing gives back: populating it would be work thrown away.
    bytes = std::min(bytes, std::size_t{16} << 20);
    void* block = std::malloc(bytes);
    if (!block)
        return;
    Range(block, bytes);
    std::free(block);
}
}  // namespace Prefault
