// What one job owes the next, through the real binaries: items the backup phase could not read
// are retried by the next scans until a backup phase takes them, and the items an interrupted
// backup phase left are committed by the next job, although none of them changed. Each case runs
// with the text record and with the database record.
#include "ScanJobFixture.h"

namespace {

using namespace e2e;

class OwedItemsTest : public ScanJobFixture, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        ScanJobFixture::SetUp();
        m_data = m_tree + "/data";
        // The folder name holds ':' : the failed-file list keeps the error after the last one.
        m_failing = m_data + "/odd:dir/x.dat";
        for (int i = 0; i < 10; ++i)
            WriteText(m_data + "/f" + std::to_string(i) + ".txt", "file " + std::to_string(i));
        WriteText(m_failing, "cannot be read");
        Content({m_data}, "\"useCtime\": false");
        Settings("");
    }

    void Settings(const std::string& lines)
    {
        WriteText(m_instance + "/registry/FileSystemAgent", (GetParam() ? "nUseSQLiteDirchange 1\n" : "") + lines);
    }
    std::string Failures() const { return Results() + "/Failures.zvf"; }

    // Scan job `jobId` (a full for the first, else an incremental after `jobId - 1`).
    void Job(int jobId, int type, std::vector<std::string> extra = {})
    {
        NextSecond();
        if (type != 1) {
            extra.push_back("-ref");
            extra.push_back(std::to_string(ReferenceOf(jobId - 1)));
        }
        RunResult scan = ScanJob(jobId, type, extra);
        EXPECT_EQ(scan.status, 0) << scan.err;
        ExpectPhaseCompleted(jobId);
    }
    void BackupPhase(int jobId, int type, std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {"-vm", "inst", "-j", std::to_string(jobId), "-a", "2:5", "-t",
                                         std::to_string(type)};
        args.insert(args.end(), extra.begin(), extra.end());
        RunResult backup = Run(Binary("fsbackup"), args, false);
        ASSERT_EQ(backup.status, 0) << backup.out << backup.err;
    }
    std::string m_data, m_failing;
};

TEST_P(OwedItemsTest, FailedItemIsRetriedUntilABackupPhaseTakesIt)
{
    Settings("sBackupPhaseFailPattern */x.dat\n");
    Job(1, 1);
    BackupPhase(1, 1);
    EXPECT_EQ(Lines(Failures()), std::vector<std::string>{escapeFileName(m_failing) + ":5"});

    // Unchanged, yet taken again, once; the list is in progress until a phase takes its items.
    Job(2, 2);
    EXPECT_EQ(ListedIn("CollectInc")[m_failing], 1);
    EXPECT_EQ(ListedIn("CollectInc").count(m_data + "/f0.txt"), 0u) << "an unchanged item was taken";
    EXPECT_FALSE(fs::exists(Failures()));
    EXPECT_TRUE(fs::exists(Failures() + ".inprogress"));

    // The phase fails to read it again: a new list, the one in progress released.
    BackupPhase(2, 2);
    EXPECT_EQ(Lines(Failures()).size(), 1u);
    EXPECT_FALSE(fs::exists(Failures() + ".inprogress"));

    // Its phase fails after listing x.dat again: the next scan finds both lists and feeds both,
    // x.dat once, and keeps them in progress together.
    Job(3, 2);
    EXPECT_EQ(ListedIn("CollectInc")[m_failing], 1);
    WriteText(Failures(), escapeFileName(m_failing) + ":5\n");
    Settings("");
    Job(4, 2);
    EXPECT_EQ(ListedIn("CollectInc")[m_failing], 1);
    EXPECT_FALSE(fs::exists(Failures()));
    EXPECT_EQ(Lines(Failures() + ".inprogress").size(), 2u);
    BackupPhase(4, 2);
    EXPECT_FALSE(fs::exists(Failures()));
    EXPECT_FALSE(fs::exists(Failures() + ".inprogress"));
}

TEST_P(OwedItemsTest, SettingSkipsTheFailedFileListAndAFullKeepsIt)
{
    Settings("sBackupPhaseFailPattern */x.dat\n");
    Job(1, 1);
    BackupPhase(1, 1);
    Settings("nSkipFailedFiles 1\n");
    Job(2, 2);
    EXPECT_EQ(ListedIn("CollectInc").count(m_failing), 0u);
    EXPECT_TRUE(fs::exists(Failures())) << "a skipped list stays owed";

    // A full takes the list too, without deleting it and without listing the item twice.
    Settings("");
    Job(3, 1);
    EXPECT_EQ(Listed()[m_failing], 1);
    EXPECT_TRUE(fs::exists(Failures() + ".inprogress"));
}

TEST_P(OwedItemsTest, InterruptedBackupPhaseIsCommittedByTheNextJob)
{
    fs::remove_all(m_data + "/odd:dir");
    Job(6, 1);
    BackupPhase(6, 1);
    // Every file changes before job 7, whose backup phase stops after two of them.
    for (int i = 0; i < 10; ++i)
        WriteText(m_data + "/f" + std::to_string(i) + ".txt", "changed " + std::to_string(i));
    Job(7, 2);
    BackupPhase(7, 2, {"-stopAfter", "2"});
    EXPECT_EQ(Calls("backupPhase", 7).back().value("status", 0), 3);
    std::set<std::string> owed;
    for (const std::string& line : Lines(m_instance + "/JobResults/jobs/7/CommitPending.zvf")) {
        std::string path;
        ASSERT_TRUE(unescapeFileName(line.substr(0, line.rfind('|')), path).IsSuccess()) << line;
        if (path.ends_with(".txt"))
            owed.insert(path);
    }
    ASSERT_EQ(owed.size(), 8u);
    const std::string deleted = *owed.begin();
    fs::remove(deleted);

    // Nothing changed since job 7 and the record in force (job 6's) knows every file: only the
    // commit takes them.
    std::vector<std::string> deletions;
    Job(8, 2, {"-CommitJobID", "7", "-CommitJobBkupLevel", "2"});
    const std::map<std::string, int> items = ListedIn("CollectInc", &deletions);
    for (const std::string& path : owed)
        EXPECT_EQ(items.count(path) ? items.at(path) : 0, path == deleted ? 0 : 1) << path;
    EXPECT_EQ(items.size(), 7u + Ancestors(m_data).size() + 1) << "only the owed files and the folders above them";
    EXPECT_EQ(deletions, std::vector<std::string>{"??d" + escapeFileName(deleted)});
    EXPECT_EQ(Read(Results() + "/scan_Failures.zvf").find(escapeFileName(deleted)), std::string::npos);

    // A commit job that cannot learn what was owed takes everything.
    Job(9, 2, {"-CommitJobID", "99", "-CommitJobBkupLevel", "2"});
    size_t files = 0;
    for (const auto& [path, count] : ListedIn("CollectInc"))
        files += path.ends_with(".txt") ? 1 : 0;
    EXPECT_EQ(files, 9u);
}

INSTANTIATE_TEST_SUITE_P(Records, OwedItemsTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Database" : "Text"; });

}  // namespace
