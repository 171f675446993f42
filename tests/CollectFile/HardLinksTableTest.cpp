#include "CollectFile/HardLinksTable.h"
#include "CollectTestSupport.h"

#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <vector>

using collecttest::ScratchFilesTest;

namespace {
struct Record {
    std::string path;
    std::int64_t value;
    std::string id;
    bool operator==(const Record&) const = default;
};

std::vector<Record> All(HardLinksTable& table, std::uint64_t device, std::uint64_t inode)
{
    std::vector<Record> records;
    Record r;
    int rc = table.searchFirst(device, inode, r.path, r.value, r.id);
    while (rc == 1) {
        records.push_back(r);
        rc = table.searchNext(r.path, r.value, r.id);
    }
    EXPECT_EQ(rc, 0) << table.LastError();
    return records;
}

// Name of record k of key i, several records for every seventh key.
std::string Name(std::uint64_t key, int k) { return "/data/dir" + std::to_string(key % 97) + "/file" + std::to_string(key) + "_" + std::to_string(k); }
int RecordsOf(std::uint64_t key) { return key % 7 == 0 ? 3 : 1; }
}  // namespace

TEST_F(ScratchFilesTest, HardLinksTableFailuresRemovalAndSeveralRecordsPerKeyInOrder)
{
    HardLinksTable table;
    EXPECT_NE(table.setDirectory(m_dir + "/missing", false, "hardLinks"), 0);
    EXPECT_FALSE(table.LastError().empty());
    EXPECT_NE(table.setDirectory(m_dir, true, "hardLinks"), 0) << "read-only needs existing files";
    EXPECT_NE(table.insert(1, 1, 1, "/x", ""), 0) << "not open";
    std::string path, id;
    std::int64_t value = 0;
    EXPECT_EQ(table.searchFirst(1, 1, path, value, id), -1);

    ASSERT_TRUE(FXFile::WriteFileAtomically(Path("junk.dat"), "not a table at all").IsSuccess());
    EXPECT_NE(table.setDirectory(m_dir, false, "junk"), 0);

    ASSERT_EQ(table.setDirectory(m_dir, false, "hardLinks"), 0);
    ASSERT_EQ(table.insert(1, 1, 1, "/x", ""), 0);
    EXPECT_EQ(table.removeTable(), 0);
    EXPECT_FALSE(FXFile::Exists(Path("hardLinks.dat")) || FXFile::Exists(Path("hardLinks.idx")));
    EXPECT_EQ(table.removeTable(), 0) << "removing a removed table is harmless";
    ASSERT_EQ(table.setDirectory(m_dir, false, "hardLinks"), 0) << table.LastError();
    EXPECT_EQ(table.searchFirst(1, 1, path, value, id), 0) << "a new table starts empty";

    ASSERT_EQ(table.insert(5, 100, 1700000000, "/a/one", ""), 0);
    ASSERT_EQ(table.insert(5, 100, 1700000001, "/a/two with\nnewline", "id-2"), 0);
    ASSERT_EQ(table.insert(6, 100, 1700000002, "/b/same inode other device", ""), 0);
    ASSERT_EQ(table.insert(5, 100, -3, "/a/three", ""), 0);
    EXPECT_EQ(All(table, 5, 100), (std::vector<Record>{{"/a/one", 1700000000, ""},
                                                       {"/a/two with\nnewline", 1700000001, "id-2"},
                                                       {"/a/three", -3, ""}}));
    EXPECT_EQ(All(table, 6, 100).size(), 1u);
    EXPECT_EQ(table.searchFirst(5, 101, path, value, id), 0);
    EXPECT_EQ(table.searchNext(path, value, id), 0) << "no cursor after a miss";
    EXPECT_EQ(table.RecordCount(), 4u);
    EXPECT_EQ(table.KeyCount(), 2u);
}

TEST_F(ScratchFilesTest, HardLinksTableReopensFromDiskRebuildingAStaleOrLostIndex)
{
    constexpr std::uint64_t kKeys = 150000;
    std::uint64_t records = 0;
    {
        HardLinksTable table;
        ASSERT_EQ(table.setDirectory(m_dir, false, "hardLinks"), 0);
        for (int k = 0; k < 3; ++k)
            for (std::uint64_t key = 0; key < kKeys; ++key)
                if (k < RecordsOf(key)) {
                    ASSERT_EQ(table.insert(key % 3, key * 2654435761u, static_cast<std::int64_t>(key), Name(key, k), ""), 0);
                    ++records;
                }
        ASSERT_EQ(table.close(), 0);
        EXPECT_EQ(table.close(), 0) << "closing twice is harmless";
    }
    // Every key found again with its records in order; `extra` keys added since.
    auto expectAll = [&](HardLinksTable& table, std::uint64_t extra) {
        EXPECT_EQ(table.KeyCount(), kKeys + extra);
        for (std::uint64_t key = 0; key < kKeys; key += 1 + key % 13) {
            std::vector<Record> found = All(table, key % 3, key * 2654435761u);
            ASSERT_EQ(found.size(), static_cast<size_t>(RecordsOf(key))) << key;
            for (int k = 0; k < RecordsOf(key); ++k)
                ASSERT_EQ(found[k].path, Name(key, k));
        }
    };
    {
        HardLinksTable table;
        ASSERT_EQ(table.setDirectory(m_dir, true, "hardLinks"), 0) << table.LastError();
        expectAll(table, 0);
        EXPECT_NE(table.insert(1, 7, 1, "/appended", ""), 0) << "a read-only table refuses inserts";
    }
    // A torn record at the end of the data file (an interrupted writer) makes the index stale:
    // the tail is dropped and what follows is found.
    std::ofstream(Path("hardLinks.dat"), std::ios::app | std::ios::binary).write("HLR1garbage", 11);
    {
        HardLinksTable table;
        ASSERT_EQ(table.setDirectory(m_dir, false, "hardLinks"), 0) << table.LastError();
        EXPECT_EQ(table.RecordCount(), records);
        expectAll(table, 0);
        ASSERT_EQ(table.insert(1, 7, 1, "/appended", ""), 0);
        ASSERT_EQ(table.close(), 0);
    }
    // A lost index is rebuilt from the data file, also for a read-only table.
    ASSERT_TRUE(FXFile::Remove(Path("hardLinks.idx")).IsSuccess());
    HardLinksTable table;
    ASSERT_EQ(table.setDirectory(m_dir, true, "hardLinks"), 0) << table.LastError();
    expectAll(table, 1);
    EXPECT_EQ(All(table, 1, 7), (std::vector<Record>{{"/appended", 1, ""}}));
    EXPECT_FALSE(FXFile::Exists(Path("hardLinks.idx"))) << "a read-only open writes nothing";
}

TEST_F(ScratchFilesTest, HardLinksTableSerialisesConcurrentInserts)
{
    HardLinksTable table;
    ASSERT_EQ(table.setDirectory(m_dir, false, "hardLinks"), 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20000; ++i) {
                ASSERT_EQ(table.insert(t, i, i, "/t" + std::to_string(t) + "/" + std::to_string(i), ""), 0);
                ASSERT_EQ(table.insert(99, 99, t, "/shared/" + std::to_string(t) + "/" + std::to_string(i), ""), 0);
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(table.RecordCount(), 160000u);
    EXPECT_EQ(table.KeyCount(), 80001u);
    EXPECT_EQ(All(table, 99, 99).size(), 80000u);
    EXPECT_EQ(All(table, 2, 777).front().path, "/t2/777");
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
namespace {
long RssAnonKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("RssAnon:", 0) == 0)
            return std::stol(line.substr(8));
    return -1;
}
}  // namespace

TEST_F(ScratchFilesTest, HardLinksTableMemoryDoesNotGrowWithRecords)
{
    HardLinksTable table;
    ASSERT_EQ(table.setDirectory(m_dir, false, "hardLinks"), 0);
    for (std::uint64_t key = 0; key < 20000; ++key)
        ASSERT_EQ(table.insert(1, key, 0, Name(key, 0), ""), 0);
    const long before = RssAnonKiB();
    for (std::uint64_t key = 20000; key < 600000; ++key)
        ASSERT_EQ(table.insert(1, key, 0, Name(key, 0), ""), 0);
    const long after = RssAnonKiB();
    ASSERT_GT(before, 0);
    // 580,000 more records (about 45 MB of data and index) leave the heap where it was.
    EXPECT_LT(after - before, 4096) << "RssAnon grew from " << before << " KiB to " << after << " KiB";
}
#endif
