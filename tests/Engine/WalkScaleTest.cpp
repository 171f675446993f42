// Trees at the walk's limits: very deep chains and very wide folders.
#include "EngineTestSupport.h"

#include <climits>

using namespace enginetest;

namespace {

class WalkScale : public WalkOnScratch {};

TEST_F(WalkScale, ADepthOf5000FoldersWalksWithoutRecursionOrPathLimits)
{
    constexpr int Depth = 5000;
    // Built relative to each new folder: the full path soon outgrows what one call takes.
    int fd = ::open(scratch.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    for (int level = 0; level < Depth; ++level) {
        ASSERT_EQ(::mkdirat(fd, "d", 0755), 0) << level;
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(next, 0);
        ::close(fd);
        fd = next;
    }
    const int leaf = ::openat(fd, "leaf", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(leaf, 0);
    ::close(leaf);
    ::close(fd);

    for (int workers : {1, 2}) {
        auto callback = std::make_shared<TestCallback>();
        WalkOptions options;
        options.maxWorkers = workers;
        ASSERT_TRUE(Walk(callback, {scratch.Path()}, options).IsSuccess());
        EXPECT_TRUE(options.failures->Failures().empty());
        const auto items = callback->Consumer().Snapshot().items;
        ASSERT_EQ(items.size(), static_cast<size_t>(Depth + 2));
        std::string deepest = scratch.Path();
        for (int level = 0; level < Depth; ++level)
            deepest += "/d";
        EXPECT_GT(deepest.size(), static_cast<size_t>(PATH_MAX));
        EXPECT_EQ(items.back().path, deepest + "/leaf");
        EXPECT_EQ(items.back().kind, 'f');
    }
}

TEST_F(WalkScale, AFolderOf200000EntriesIsStreamed)
{
    constexpr int Entries = 200000;
    const std::string wide = scratch / "wide";
    MakeFolder(wide);
    const int dir = ::open(wide.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dir, 0);
    for (int i = 0; i < Entries; ++i) {
        const std::string name = "entry-" + std::to_string(i);
        // Every thousandth entry a folder, so the wide folder also queues many subfolders.
        if (i % 1000 == 0) {
            ASSERT_EQ(::mkdirat(dir, name.c_str(), 0755), 0);
            continue;
        }
        const int fd = ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    ::close(dir);

    options.maxWorkers = 2;
    ASSERT_TRUE(Walk(callback, {wide}, options).IsSuccess());
    EXPECT_EQ(callback->Consumer().getProcessedItemsCount(), static_cast<unsigned long long>(Entries + 1));
    const std::set<Seen> items = callback->Consumer().Items();
    EXPECT_EQ(items.size(), static_cast<size_t>(Entries + 1));
    EXPECT_TRUE(items.count({wide + "/entry-199999", 'f'}));
    EXPECT_TRUE(items.count({wide + "/entry-0", 'd'}));
}

}  // namespace
