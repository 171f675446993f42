// What one job owes the next, through the real binaries: items the backup phase could not read
// are retried by the next scans until a backup phase takes them, and the items an interrupted
// backup phase left are committed by the next job, although none of them changed; the backup index
// holds neither. Each case runs with the text record and with the database record.
#include "ScanJobFixture.h"

#include "Agent/FileBackupIndex.h"

namespace {

using namespace e2e;

class OwedItemsTest : public ScanJobFixture, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        ScanJobFixture::SetUp();
        // The folder name holds ':' : the failed-file list keeps the error after the last one.
        m_failing = m_data + "/odd:dir/x.dat";
        for (int i = 0; i < 10; ++i)
            WriteText(m_data + "/f" + std::to_string(i) + ".txt", "file " + std::to_string(i));
        WriteText(m_failing, "cannot be read");
        Content({m_data}, "\"useCtime\": false");
        Settings("");
    }

    void Settings(const std::string& lines) const
    {
        ScanJobFixture::Settings((GetParam() ? "nUseSQLiteDirchange 1\n" : "") + lines);
    }
    std::string Failures() const { return Results() + "/Failures.zvf"; }
    bool Taken(const std::string& path) const { return Selected(2).items.contains(path); }
    std::string m_failing;
};

TEST_P(OwedItemsTest, FailedItemIsRetriedUntilABackupPhaseTakesIt)
{
    Settings("sBackupPhaseFailPattern */x.dat\n");
    Job(1, 1);
    EXPECT_EQ(Lines(Failures()), std::vector<std::string>{escapeFileName(m_failing) + ":5"});
    // The backup index keeps the failure, not the item.
    CFileBackupIndex index(m_instance + "/Index", 2, 5);
    std::vector<SIndexFailure> failures;
    ASSERT_TRUE(index.GetFailedFiles(1, failures).IsSuccess());
    EXPECT_EQ(failures, (std::vector<SIndexFailure>{{m_failing, 5}}));
    const CKxError browsed = index.Browse([&](const SIndexItem& item) {
        EXPECT_NE(item.path, m_failing);
        return CKxError::Success();
    });
    EXPECT_TRUE(browsed.IsSuccess()) << browsed.AsString();

    // Unchanged, yet taken again, once; the list is in progress until a phase takes its items.
    Scanned(2, 2);
    EXPECT_TRUE(Taken(m_failing));
    EXPECT_FALSE(Taken(m_data + "/f0.txt")) << "an unchanged item was taken";
    EXPECT_FALSE(fs::exists(Failures()));
    EXPECT_TRUE(fs::exists(Failures() + ".inprogress"));

    // The phase fails to read it again: a new list, the one in progress released.
    BackedUp(2, 2);
    EXPECT_EQ(Lines(Failures()).size(), 1u);
    EXPECT_FALSE(fs::exists(Failures() + ".inprogress"));

    // Its phase fails after listing x.dat again: the next scan finds both lists and feeds both,
    // x.dat once, and keeps them in progress together.
    Scanned(3, 2);
    EXPECT_TRUE(Taken(m_failing));
    WriteText(Failures(), escapeFileName(m_failing) + ":5\n");
    Settings("");
    Scanned(4, 2);
    EXPECT_TRUE(Taken(m_failing));
    EXPECT_FALSE(fs::exists(Failures()));
    EXPECT_EQ(Lines(Failures() + ".inprogress").size(), 2u);
    BackedUp(4, 2);
    EXPECT_FALSE(fs::exists(Failures()));
    EXPECT_FALSE(fs::exists(Failures() + ".inprogress"));
}

TEST_P(OwedItemsTest, SettingSkipsTheFailedFileListAndAFullKeepsIt)
{
    Settings("sBackupPhaseFailPattern */x.dat\n");
    Job(1, 1);
    Settings("nSkipFailedFiles 1\n");
    Scanned(2, 2);
    EXPECT_FALSE(Taken(m_failing));
    EXPECT_TRUE(fs::exists(Failures())) << "a skipped list stays owed";

    // A full takes the list too, without deleting it and without listing the item twice.
    Settings("");
    Scanned(3, 1);
    EXPECT_TRUE(Selected(1).items.contains(m_failing));
    EXPECT_TRUE(fs::exists(Failures() + ".inprogress"));
}

TEST_P(OwedItemsTest, InterruptedBackupPhaseIsCommittedByTheNextJob)
{
    fs::remove_all(m_data + "/odd:dir");
    Job(6, 1);
    // Every file changes before job 7, whose backup phase stops after two of them.
    for (int i = 0; i < 10; ++i)
        WriteText(m_data + "/f" + std::to_string(i) + ".txt", "changed " + std::to_string(i));
    Scanned(7, 2);
    BackedUp(7, 2, {"-stopAfter", "2"});
    EXPECT_EQ(Calls("backupPhase", 7).back().value("status", 0), 3);
    std::set<std::string> owed;
    for (const std::string& line : Lines(m_instance + "/JobResults/jobs/7/CommitPending.zvf")) {
        std::string path;
        ASSERT_TRUE(unescapeFileName(line.substr(0, line.rfind('|')), path).IsSuccess()) << line;
        if (path.ends_with(".txt"))
            owed.insert(path);
    }
    ASSERT_EQ(owed.size(), 8u);
    // The backup index holds the two files the phase took, none of those it owes.
    std::set<std::string> indexed;
    for (const std::string& line : Lines(m_instance + "/Index/2_5/7.idx"))
        if (line.starts_with("f ") && line.ends_with(".txt"))
            indexed.insert(line.substr(line.find(m_data)));
    EXPECT_EQ(indexed.size(), 2u);
    for (const std::string& path : indexed)
        EXPECT_FALSE(owed.contains(path)) << path;
    const std::string deleted = *owed.begin();
    fs::remove(deleted);

    // Nothing changed since job 7 and the record in force (job 6's) knows every file: only the
    // commit takes them.
    Scanned(8, 2, kAfterPrevious, {"-CommitJobID", "7", "-CommitJobBkupLevel", "2"});
    const SSelected job = Selected(2);
    for (const std::string& path : owed)
        EXPECT_EQ(job.items.contains(path), path != deleted) << path;
    EXPECT_EQ(job.items.size(), 7u + Ancestors(m_data).size() + 1) << "only the owed files and the folders above them";
    EXPECT_EQ(job.deletions, std::multiset<std::string>{"??d" + escapeFileName(deleted)});
    EXPECT_EQ(Read(Results() + "/scan_Failures.zvf").find(escapeFileName(deleted)), std::string::npos);

    // A commit job that cannot learn what was owed takes everything.
    Scanned(9, 2, kAfterPrevious, {"-CommitJobID", "99", "-CommitJobBkupLevel", "2"});
    const std::set<std::string> items = Selected(2).items;
    EXPECT_EQ(std::count_if(items.begin(), items.end(), [](const std::string& path) { return path.ends_with(".txt"); }), 9);
}

INSTANTIATE_TEST_SUITE_P(Records, OwedItemsTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Database" : "Text"; });

}  // namespace
