// The backup status file: found or not, records saved per volume, and saves from several
// output handlers at once.
#include "Base/ScratchFolderTest.h"
#include "Scan/Unix/BackupStatusFile.h"

#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace {

class BackupStatusFileTest : public ScratchFolderTest {
protected:
    static CVolumeBackupStatusData Record(const std::string& volume, std::int64_t usn, std::int64_t refTime)
    {
        CVolumeBackupStatusData record(volume);
        record.SetLastUsn(usn);
        record.SetRefTime(CTimeStamp(refTime));
        record.SetLastGoodUsn(usn - 1);
        record.SetFullUsn(usn - 2);
        record.SetJournalId(usn * 10);
        return record;
    }
};

TEST_F(BackupStatusFileTest, MissingOrPresentFileIsNoError)
{
    CBackupStatusFile missing(m_dir);
    EXPECT_EQ(missing.GetStatusFilePath(), m_dir + "/cjInfoTot.zvf");
    EXPECT_TRUE(missing.Initialize().IsSuccess());
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/cjInfoTot.zvf"));

    // Whatever the file holds is not read; finding it empties what the object held.
    std::ofstream(m_dir + "/cjInfoTot.zvf") << "not a layout anyone reads\n";
    CBackupStatusFile present(m_dir);
    ASSERT_TRUE(present.SaveUpdatedStatusData(Record("/vol", 5, 100)).IsSuccess());
    ASSERT_TRUE(present.ReadFile(present.GetStatusFilePath()).IsSuccess());
    CVolumeBackupStatusData found;
    EXPECT_FALSE(present.GetSavedStatusData("/vol", found));
    EXPECT_TRUE(present.ReadFile(m_dir + "/absent.zvf").IsSuccess());

    CBackupStatusFile noFolder(m_dir + "/not/there");
    EXPECT_TRUE(noFolder.WriteOutputFile().IsSuccess());
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/not"));
    // Asking for a volume gives a default record, saved or not.
    EXPECT_EQ(present.GetBackupStatusData("/vol"), CVolumeBackupStatusData());
}

TEST_F(BackupStatusFileTest, LaterRecordForAVolumeWins)
{
    CBackupStatusFile status(m_dir);
    ASSERT_TRUE(status.SaveUpdatedStatusData(Record("/vol", 5, 100)).IsSuccess());
    ASSERT_TRUE(status.SaveUpdatedStatusData(Record("/other", 9, 300)).IsSuccess());
    ASSERT_TRUE(status.SaveUpdatedStatusData(Record("/vol", 7, 200)).IsSuccess());
    CVolumeBackupStatusData found;
    ASSERT_TRUE(status.GetSavedStatusData("/vol", found));
    EXPECT_EQ(found, Record("/vol", 7, 200));  // every field of the copy, the journal id included
    ASSERT_TRUE(status.GetSavedStatusData("/other", found));
    EXPECT_EQ(found.GetLastUsn(), 9);
    EXPECT_TRUE(status.WriteOutputFile().IsSuccess());
    EXPECT_TRUE(status.WriteRecord(-1, found).IsSuccess());
    EXPECT_FALSE(std::filesystem::exists(status.GetStatusFilePath()));  // nothing is written back
}

TEST_F(BackupStatusFileTest, HandlersOfManyThreadsSaveAndAskAtOnce)
{
    CBackupStatusFile status(m_dir);
    constexpr int kThreads = 8;
    constexpr int kSaves = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&status, t] {
            for (int i = 0; i < kSaves; ++i) {
                const std::string volume = "/vol" + std::to_string(i % 50);
                EXPECT_TRUE(status.SaveUpdatedStatusData(Record(volume, t * kSaves + i, i)).IsSuccess());
                EXPECT_EQ(status.GetBackupStatusData(volume), CVolumeBackupStatusData());
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int v = 0; v < 50; ++v) {
        CVolumeBackupStatusData found;
        ASSERT_TRUE(status.GetSavedStatusData("/vol" + std::to_string(v), found));
        // Whole records only: every field comes from the same save.
        EXPECT_EQ(found.GetLastGoodUsn(), found.GetLastUsn() - 1);
        EXPECT_EQ(found.GetJournalId(), found.GetLastUsn() * 10);
        EXPECT_EQ(found.GetRefTime().Seconds() % 50, v);
    }
}

}  // namespace
