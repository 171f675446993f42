#pragma once
// Making memory resident before it is used, in one system call. A page the program touches for
// the first time costs a fault each, about 17 us on a virtual machine (the hypervisor maps every
// page); asked for in bulk (MADV_POPULATE_WRITE) the same pages cost about 1 us each. Where the
// walk is about to fill memory it has not touched, it populates that memory first.
// Without kernel support (before Linux 5.14) these do nothing, and the pages fault in as usual.
#include <cstddef>

namespace Prefault {
// The whole pages inside [begin, begin + bytes).
void Range(void* begin, std::size_t bytes);
// Reserves room for `count` elements in `container` (a vector or string) and makes the whole
// reserved storage resident.
template <class Container>
void Reserve(Container& container, std::size_t count)
{
    container.reserve(count);
    Range(container.data(), container.capacity() * sizeof(*container.data()));
}
// The next `bytes` of the calling thread's heap: taken from malloc, populated and given back,
// so that the thread's next allocations are carved out of resident memory. Relies on freed
// memory staying with the process (the job's mallopt settings; see the fsweep tool's main).
void ThreadHeap(std::size_t bytes);
}  // namespace Prefault
