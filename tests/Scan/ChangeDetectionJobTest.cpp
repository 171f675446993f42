// Change detection through whole file-system jobs in this process, on real trees: a full job,
// its record put in place as the backup phase does, changes, then non-full jobs. The end-to-end
// runs of the binaries check what an incremental takes and deletes and what a damaged or missing
// record costs; here what they do not reach: content that cannot be read, deletions in a full
// job, a differential's deletions after incrementals, and completion in the scan phase. Every
// case runs with the text record and with the database record ("nUseSQLiteDirchange" 1).
#include "Scan/ScanJobTestEnv.h"

#include "Scan/FileScan.h"
#include "Scan/ScanJobFactory.h"

#include <set>

namespace {

namespace fs = std::filesystem;

// Times of the scenario: the tree is "old", the reference time lies after it, and what a test
// changes is made "new". File-change times cannot be set, so the jobs that must not see them
// run with the change-time rule off ("useCtime": false).
constexpr std::time_t kOld = 1000000000;  // 2001
constexpr std::time_t kRef = 1500000000;  // 2017
constexpr std::time_t kNew = 1600000000;  // 2020

class ChangeDetectionJobTest : public ScanJobTestEnv, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        if (GetParam())
            Setting("nUseSQLiteDirchange", "1");
        m_data = m_root + "/tree/data";
        m_results = m_instance + "/JobResults/2/5";
        for (const char* file : {"a/keep.txt", "a/mod.txt", "a/del.txt", "gone/x.txt", "gone/sub/y.txt", "ren/r1.txt",
                                 "ren/sub/r2.txt", "b/same.txt"})
            WriteFile(m_data + "/" + file, file);
        WriteFile(m_root + "/tree/outside/moved.txt", "moved");
        Content({m_data});
    }

    void Content(const std::vector<std::string>& paths) { WriteSubclient({{"content", paths}, {"useCtime", false}}); }

    // Scan job `jobId` of backup `type`, which must succeed and complete its phase.
    void RunOk(int jobId, const std::string& type, const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> tokens = {"-vm", "inst", "-j", std::to_string(jobId), "-a", "2:5", "-cn", "client1",
                                           "-jt", "tok" + std::to_string(jobId), "-t", type};
        tokens.insert(tokens.end(), extra.begin(), extra.end());
        CKxError result = CFileScan(Args(tokens)).Process(std::make_shared<CScanJobFactory>("inst"));
        ASSERT_TRUE(result.IsSuccess()) << result.AsString();
        auto completes = Calls("complete", jobId);
        ASSERT_EQ(completes.size(), 1u);
        ASSERT_EQ(completes[0].value("status", 0), 1) << "job " << jobId << " failed";
    }

    // The record's file: "Tmp" while the scan runs, "Inc" or "Tot" once kept.
    std::string Record(const std::string& kind) const
    {
        static const std::map<std::string, std::string> database = {
            {"Tmp", "DirChangePending.db"}, {"Inc", "DirChangeIncremental.db"}, {"Tot", "DirChangeFull.db"}};
        return m_results + "/" + (GetParam() ? database.at(kind) : "DC" + kind + ".zvf");
    }

    // What the backup phase does after a good job: the record takes its kept name.
    void PutRecordInPlace(bool full)
    {
        const std::string temp = Record("Tmp");
        ASSERT_TRUE(fs::exists(temp));
        if (full) {
            fs::copy_file(temp, Record("Inc"), fs::copy_options::overwrite_existing);
            fs::rename(temp, Record("Tot"));
        } else {
            fs::rename(temp, Record("Inc"));
        }
    }

    // Listed items below the data folder, relative to it.
    std::set<std::string> ListedData(const std::string& family) const
    {
        std::set<std::string> data;
        for (const auto& [path, count] : ListedIn(m_results, family))
            if (path.rfind(m_data + "/", 0) == 0 && path.size() > m_data.size() + 1)
                data.insert(path.substr(m_data.size() + 1));
        return data;
    }
    std::vector<std::string> DeletedItems(const std::string& family) const
    {
        return ReadLines(m_results + "/" + family + "DeletedItems.zvf");
    }
    std::string Deletion(const char* kind, const std::string& relative) const
    {
        return kind + escapeFileName(m_data + "/" + relative);
    }

    // A full job of the scenario's tree, its record in place.
    void FullJob()
    {
        AgeTree(m_root + "/tree", kOld);
        ASSERT_NO_FATAL_FAILURE(RunOk(1, "1"));
        EXPECT_EQ(ListedData("CollectTot").size(), 14u);
        ASSERT_NO_FATAL_FAILURE(PutRecordInPlace(true));
    }

    const std::set<std::string> kAllData = {"a/", "a/keep.txt", "a/mod.txt", "a/del.txt", "gone/", "gone/x.txt",
                                            "gone/sub/", "gone/sub/y.txt", "ren/", "ren/r1.txt", "ren/sub/",
                                            "ren/sub/r2.txt", "b/", "b/same.txt"};
    std::string m_data;
    std::string m_results;
};

TEST_P(ChangeDetectionJobTest, ContentThatCannotBeReadIsNotDeletedAndIsTakenWholeOnceBack)
{
    const std::string other = m_root + "/tree/other";
    WriteFile(other + "/deep/o.txt", "o");
    Content({m_data, other});
    ASSERT_NO_FATAL_FAILURE(FullJob());

    const std::string away = m_root + "/tree/away";
    fs::rename(other, away);
    ASSERT_NO_FATAL_FAILURE(RunOk(2, "2", {"-ref", std::to_string(kRef), "-lf", "1"}));
    EXPECT_TRUE(DeletedItems("CollectInc").empty()) << "a content path that failed is not gone";
    EXPECT_EQ(ReadLines(m_results + "/scan_Failures.zvf").size(), 1u);
    ASSERT_NO_FATAL_FAILURE(PutRecordInPlace(false));

    // Back with its old times: the record carried it as unknown, so all of it is taken.
    fs::rename(away, other);
    AgeTree(other, kOld);
    ASSERT_NO_FATAL_FAILURE(RunOk(3, "2", {"-ref", std::to_string(kRef), "-lf", "1", "-li", "2"}));
    std::set<std::string> listed;
    for (const auto& [path, count] : ListedIn(m_results, "CollectInc"))
        if (path.rfind(other, 0) == 0)
            listed.insert(path);
    EXPECT_EQ(listed, (std::set<std::string>{other + "/", other + "/deep/", other + "/deep/o.txt"}));
    EXPECT_TRUE(ListedData("CollectInc").empty());
    EXPECT_TRUE(DeletedItems("CollectInc").empty());
}

TEST_P(ChangeDetectionJobTest, UnreadableFolderGetsNoDeletionLines)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    ASSERT_NO_FATAL_FAILURE(FullJob());
    ASSERT_EQ(::chmod((m_data + "/gone").c_str(), 0), 0);
    ASSERT_NO_FATAL_FAILURE(RunOk(2, "2", {"-ref", std::to_string(kRef), "-lf", "1"}));
    ASSERT_EQ(::chmod((m_data + "/gone").c_str(), 0755), 0);
    EXPECT_TRUE(DeletedItems("CollectInc").empty());
}

TEST_P(ChangeDetectionJobTest, FullJobAfterAnotherReportsDeletionsOnly)
{
    ASSERT_NO_FATAL_FAILURE(FullJob());
    fs::remove_all(m_data + "/gone");
    WriteFile(m_data + "/a/new.txt", "new");
    AgeTree(m_data, kOld);
    ASSERT_NO_FATAL_FAILURE(RunOk(2, "1", {"-lf", "1"}));
    std::set<std::string> expected = kAllData;
    for (const char* gone : {"gone/", "gone/x.txt", "gone/sub/", "gone/sub/y.txt"})
        expected.erase(gone);
    expected.insert("a/new.txt");
    EXPECT_EQ(ListedData("CollectTot"), expected);
    EXPECT_EQ(DeletedItems("CollectTot"), std::vector<std::string>{Deletion("??D", "gone")});

    // A first full compares with nothing.
    fs::remove(Record("Tmp"));
    ASSERT_NO_FATAL_FAILURE(RunOk(3, "1"));
    EXPECT_FALSE(fs::exists(m_results + "/CollectTotDeletedItems.zvf"));
}

TEST_P(ChangeDetectionJobTest, DifferentialTakesEverythingSinceTheFullAndDeletionsSinceTheLastJob)
{
    ASSERT_NO_FATAL_FAILURE(FullJob());
    SetTimes(m_data + "/a/mod.txt", kNew + 20);
    ASSERT_NO_FATAL_FAILURE(RunOk(2, "2", {"-ref", std::to_string(kNew + 10), "-lf", "1"}));
    EXPECT_EQ(ListedData("CollectInc"), (std::set<std::string>{"a/mod.txt"}));
    ASSERT_NO_FATAL_FAILURE(PutRecordInPlace(false));
    // Incremental 3: a new file with an old time and a deletion.
    WriteFile(m_data + "/b/late.txt", "late");
    fs::remove(m_data + "/a/del.txt");
    AgeTree(m_data + "/b", kOld);
    SetTimes(m_data + "/a", kOld);
    ASSERT_NO_FATAL_FAILURE(RunOk(3, "2", {"-ref", std::to_string(kNew + 30), "-lf", "1", "-li", "2"}));
    EXPECT_EQ(ListedData("CollectInc"), (std::set<std::string>{"b/late.txt"}));
    EXPECT_EQ(DeletedItems("CollectInc"), std::vector<std::string>{Deletion("??d", "a/del.txt")});
    ASSERT_NO_FATAL_FAILURE(PutRecordInPlace(false));

    // The differential: against the full for what is new, against job 3 for what is gone.
    fs::remove(m_data + "/a/keep.txt");
    SetTimes(m_data + "/a", kOld);
    ASSERT_NO_FATAL_FAILURE(RunOk(4, "4", {"-ref", std::to_string(kRef), "-lf", "1", "-li", "3"}));
    EXPECT_EQ(ListedData("CollectInc"), (std::set<std::string>{"a/mod.txt", "b/late.txt"}));
    EXPECT_EQ(DeletedItems("CollectInc"), std::vector<std::string>{Deletion("??d", "a/keep.txt")});
}

// A synthetic full keeps the newest record under the incremental name; the first incremental
// after it renames that record to the full's and compares with it, not with the older full's.
TEST_P(ChangeDetectionJobTest, AfterASyntheticFullTheIncrementalsRecordBecomesTheFulls)
{
    ASSERT_NO_FATAL_FAILURE(FullJob());
    fs::remove(m_data + "/a/del.txt");
    SetTimes(m_data + "/a", kOld);
    ASSERT_NO_FATAL_FAILURE(RunOk(2, "2", {"-ref", std::to_string(kRef), "-lf", "1"}));
    ASSERT_NO_FATAL_FAILURE(PutRecordInPlace(false));
    fs::remove(m_data + "/a/keep.txt");
    SetTimes(m_data + "/a", kOld);
    ASSERT_NO_FATAL_FAILURE(RunOk(4, "2", {"-ref", std::to_string(kRef), "-lf", "3", "-li", "2", "-aftersynth"}));
    EXPECT_EQ(DeletedItems("CollectInc"), std::vector<std::string>{Deletion("??d", "a/keep.txt")});
    EXPECT_FALSE(fs::exists(Record("Inc")));
    EXPECT_TRUE(fs::exists(Record("Tot")));
}

TEST_P(ChangeDetectionJobTest, EmptyIncrementalCompletesInTheScanAndPutsItsRecordInPlace)
{
    ASSERT_NO_FATAL_FAILURE(FullJob());
    const auto completedInScan = [&](int jobId) { return Calls("complete", jobId).at(0).value("for", 0) == 2; };

    // A deletion alone is something for the backup phase.
    fs::remove(m_data + "/a/del.txt");
    SetTimes(m_data + "/a", kOld);
    ASSERT_NO_FATAL_FAILURE(RunOk(2, "2", {"-ref", std::to_string(kRef), "-lf", "1", "-seb"}));
    EXPECT_FALSE(completedInScan(2));
    EXPECT_TRUE(fs::exists(Record("Tmp")));
    ASSERT_NO_FATAL_FAILURE(PutRecordInPlace(false));
    const auto before = fs::last_write_time(Record("Inc"));

    ASSERT_NO_FATAL_FAILURE(RunOk(3, "2", {"-ref", std::to_string(kRef), "-lf", "1", "-li", "2", "-seb"}));
    EXPECT_TRUE(completedInScan(3));
    EXPECT_FALSE(fs::exists(Record("Tmp")));
    EXPECT_TRUE(fs::exists(Record("Inc")));
    EXPECT_NE(fs::last_write_time(Record("Inc")), before);

    // A full always has its backup phase.
    ASSERT_NO_FATAL_FAILURE(RunOk(4, "1", {"-seb"}));
    EXPECT_FALSE(completedInScan(4));
    EXPECT_TRUE(fs::exists(Record("Tmp")));
}

INSTANTIATE_TEST_SUITE_P(Records, ChangeDetectionJobTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Database" : "Text"; });

}  // namespace
