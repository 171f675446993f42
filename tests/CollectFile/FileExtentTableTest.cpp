#include "CollectFile/FileExtentTable.h"
#include "CollectTestSupport.h"

#include <gtest/gtest.h>

using collecttest::ScratchFilesTest;

namespace {
FileExtentRecord MakeRecord(const std::string& id, std::uint64_t page, const std::string& path, std::uint64_t extents)
{
    FileExtentRecord record;
    record.identifier = id;
    record.pageId = page;
    record.jobId = 77;
    record.path = path;
    record.extentCount = extents;
    record.fileSize = extents * 4096;
    record.extentSize = 4096;
    for (std::uint64_t e = 0; e < extents && e < FileExtentRecord::GetBitMapPageSize(); e += 3)
        record.extentBitmap.set(e);
    return record;
}
}  // namespace

TEST_F(ScratchFilesTest, ExtentTableUpdatesSearchesAndPersists)
{
    const std::string name = CFileExtentTable::GetDefaultTableName() + "_scan_77";
    const std::string kLongId = "0123456789abcdef0123456789abcdef", kOdd = "/big/two\twith|odd\nbytes";
    {
        CFileExtentTable table;
        EXPECT_TRUE(table.UpdateOrInsertRecord(MakeRecord("a", 0, "/x", 1)).IsError()) << "not initialized";
        ASSERT_TRUE(table.Initialize(m_dir, name).IsSuccess());
        // The last has the identifier and page of the one before: it replaces it.
        for (const FileExtentRecord& record : {MakeRecord(kLongId, 0, "/big/one", 10), MakeRecord(kLongId, 1, "/big/one", 300),
                                               MakeRecord("id2", 0, kOdd, 256), MakeRecord("id2", 0, kOdd, 255)})
            ASSERT_TRUE(table.UpdateOrInsertRecord(record).IsSuccess()) << record.path;
        for (const std::string& badId : {std::string(33, 'i'), std::string()})
            EXPECT_TRUE(table.UpdateOrInsertRecord(MakeRecord(badId, 0, "/x", 1)).IsError()) << badId;
        EXPECT_EQ(table.RecordCount(), 3u);
        std::vector<FileExtentRecord> found;
        ASSERT_TRUE(table.SearchRecords("/big/one", found).IsSuccess());
        ASSERT_EQ(found.size(), 2u);
        EXPECT_EQ(found[0].pageId, 0u);
        EXPECT_EQ(found[1].extentCount, 300u);
        ASSERT_TRUE(table.SearchRecords("/nothing", found).IsSuccess());
        EXPECT_TRUE(found.empty());
        ASSERT_TRUE(table.CloseTable().IsSuccess());
    }
    CFileExtentTable table;
    ASSERT_TRUE(table.Initialize(m_dir, name).IsSuccess());
    std::vector<FileExtentRecord> found;
    ASSERT_TRUE(table.SearchRecords(kOdd, found).IsSuccess());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], MakeRecord("id2", 0, kOdd, 255));
    ASSERT_TRUE(table.SearchRecords("/big/one", found).IsSuccess());
    EXPECT_EQ(found[1], MakeRecord(kLongId, 1, "/big/one", 300));

    // A record that moves to another path leaves its old path.
    ASSERT_TRUE(table.UpdateOrInsertRecord(MakeRecord("id2", 0, "/renamed", 255)).IsSuccess());
    ASSERT_TRUE(table.SearchRecords(kOdd, found).IsSuccess());
    EXPECT_TRUE(found.empty());

    ASSERT_TRUE(table.GenerateCollectFile(Path("extents.zvf")).IsSuccess());
    EXPECT_EQ(Read(Path("extents.zvf")), "/big/one|1228800\n/renamed|1044480\n");
}

TEST_F(ScratchFilesTest, ExtentTableRecordTextRoundTripsAndRejectsDamage)
{
    FileExtentRecord record = MakeRecord("guid", 3, "/p", 256);
    record.extentBitmap.set(255);
    FileExtentRecord back;
    ASSERT_TRUE(CFileExtentTable::ParseRecord(CFileExtentTable::FormatRecord(record), back).IsSuccess());
    EXPECT_EQ(back, record);
    EXPECT_TRUE(CFileExtentTable::ParseRecord("too\tfew", back).IsError());
    std::string text = CFileExtentTable::FormatRecord(record);
    EXPECT_TRUE(CFileExtentTable::ParseRecord(text.replace(text.find("\t3\t"), 3, "\tx\t"), back).IsError());

    ASSERT_TRUE(FXFile::WriteFileAtomically(Path("Broken.zvf"), "guid\t0\t0\t0\t0\t0\tzz\t/p\n").IsSuccess());
    CFileExtentTable table;
    CKxError e = table.Initialize(m_dir, "Broken");
    ASSERT_TRUE(e.IsError());
    EXPECT_NE(e.AsString().find("Line 1"), std::string::npos) << e.AsString();
}
