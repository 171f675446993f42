#include "Base/Prefault.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <vector>

namespace {
// Pages of [base, base + pages) that are resident.
std::vector<bool> Resident(char* base, size_t pages)
{
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> flags(pages);
    EXPECT_EQ(::mincore(base, pages * page, flags.data()), 0);
    std::vector<bool> resident(pages);
    for (size_t i = 0; i < pages; ++i)
        resident[i] = (flags[i] & 1) != 0;
    return resident;
}
}  // namespace

// Only the whole pages inside the range become resident: a partial page at either end is left
// for the program to fault in, since it may belong to memory the caller does not own.
TEST(Prefault, RangePopulatesWholePagesInsideOnly)
{
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    constexpr size_t kPages = 8;
    auto* base = static_cast<char*>(::mmap(nullptr, kPages * page, PROT_READ | PROT_WRITE,
                                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(base, MAP_FAILED);
    if (::madvise(base + 7 * page, page, 23 /* MADV_POPULATE_WRITE */) != 0)
        GTEST_SKIP() << "the kernel cannot populate memory on request";
    Prefault::Range(base + page / 2, 5 * page);  // pages 1..4 whole, 0 and 5 partly
    Prefault::Range(base, 0);
    const std::vector<bool> expected{false, true, true, true, true, false, false, true};
    EXPECT_EQ(Resident(base, kPages), expected);
    ::munmap(base, kPages * page);
}
