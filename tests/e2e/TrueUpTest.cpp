// The true-up: when a job qualifies (a table over the qualification rules), the state file's
// text, and through the real binaries: a job without a state file runs one and its backup phase
// marks it complete; a true-up takes what a plain incremental misses (a file rewritten with its
// modification time put back) and what the backup index lacks, and an item only the index holds
// gets exactly one deletion line.
#include "ScanJobFixture.h"

#include "Scan/TrueUpJobHandle.h"
#include "Scan/TrueUpStateManager.h"

namespace {

using namespace e2e;

constexpr long long kNow = 1'800'000'000;
constexpr long long kDay = CTrueUpJobHandle::kSecondsPerDay;

TEST(TrueUpRules, QualificationAndStateText)
{
    using D = ETrueUpDecision;
    // Changes to an enabled 30-day true-up of an incremental whose state says the last one ran a day ago.
    const struct {
        const char* name;
        long long age = kDay;  // of the state's reference time; 0: no time in it
        bool enabled = true, stateFound = true, forced = false, afterSynthFull = false, owed = false, skipped = false;
        unsigned backupType = 2;
        D expected = D::Qualified;
    } cases[] = {
        {.name = "29 days 23 hours", .age = 30 * kDay - 3600, .expected = D::NotQualified},
        {.name = "30 days", .age = 30 * kDay},
        {.name = "no state file", .stateFound = false},
        {.name = "not enabled, no state file", .enabled = false, .stateFound = false, .expected = D::NotQualified},
        {.name = "forced, not enabled", .enabled = false, .forced = true},
        {.name = "after a synthetic full", .afterSynthFull = true},
        {.name = "owed by a phase that failed", .owed = true},
        {.name = "nSkipTrueUp", .stateFound = false, .skipped = true, .expected = D::NotQualified},
        {.name = "differential, forced, no state, due", .age = 0, .stateFound = false, .forced = true, .backupType = 4,
         .expected = D::NotQualified},
        {.name = "full", .backupType = 1, .expected = D::FullMarksComplete},
    };
    for (const auto& c : cases) {
        STrueUpQualifyInput in;
        std::tie(in.skipped, in.enabled, in.forced, in.afterSynthFull, in.backupType, in.days, in.stateFound, in.now) =
            std::tuple(c.skipped, c.enabled, c.forced, c.afterSynthFull, c.backupType, 30u, c.stateFound, kNow);
        in.state.refTime = c.age == 0 ? 0 : kNow - c.age;
        in.state.queryIndexSet = c.owed;
        EXPECT_EQ(CTrueUpJobHandle::IsJobQualifiedForRunningTrueUp(in), c.expected) << c.name;
    }

    // The state text reads back whole; a bad number names its line.
    const STrueUpState state{.jobId = 12, .lastSuccessfulJobId = 11, .jobType = 2, .refTime = kNow, .queryIndexSet = true};
    STrueUpState read;
    ASSERT_TRUE(TrueUpStateManager::Parse(TrueUpStateManager::Format(state) + "newerKey 5\n", "f", read).IsSuccess());
    EXPECT_EQ(TrueUpStateManager::Format(read), TrueUpStateManager::Format(state));

    const CKxError bad = TrueUpStateManager::Parse("jobId 3\nrefTime soon\n", "/r/TrueupState.zvf", read);
    ASSERT_TRUE(bad.IsError());
    EXPECT_NE(bad.AsString().find("/r/TrueupState.zvf] line 2"), std::string::npos) << bad.AsString();
}

class TrueUpTest : public ScanJobFixture {
protected:
    void SetUp() override
    {
        ScanJobFixture::SetUp();
        for (const char* name : {"x.dat", "y.dat", "gone.dat", "sub/z.dat"})
            WriteText(m_tree + "/" + name, "0123456789");
        Configure(true);
    }
    void Configure(bool trueUp)
    {
        Content({m_tree}, std::string("\"useCtime\": false, \"trueUp\": {\"enabled\": ") + (trueUp ? "true" : "false") +
                              ", \"days\": 30}");
    }
    // Scan and backup phase of job `jobId`; an incremental runs against the previous job.
    void Job(int jobId, int type, const std::vector<std::string>& extra = {})
    {
        Scanned(jobId, type, kAfterPrevious, extra);
        m_selected = Selected(type);
        m_stateAfterScan = State();
        BackedUp(jobId, type);
    }
    STrueUpState State() const
    {
        STrueUpState state;
        bool found = false;
        EXPECT_TRUE(TrueUpStateManager(Results()).LoadStateFromDoc(state, found).IsSuccess());
        return state;
    }
    std::string IndexFile(int jobId) const
    {
        return m_instance + "/Index/2_5/" + std::to_string(jobId) + ".idx";
    }

    SSelected m_selected;
    STrueUpState m_stateAfterScan;
};

TEST_F(TrueUpTest, WithoutStateTheJobQualifiesAndItsBackupPhaseMarksItComplete)
{
    Job(1, 1);
    EXPECT_NE(PhaseParams(1).find(" -trueup "), std::string::npos) << PhaseParams(1);
    EXPECT_EQ(State().lastSuccessfulJobId, 1);
    ASSERT_TRUE(fs::exists(IndexFile(1))) << "the backup phase kept no index";
    ASSERT_TRUE(fs::remove(Results() + "/" + TrueUpStateManager::kFileName));

    Job(2, 2);
    EXPECT_NE(Log().find("Job qualified for TrueUp as state file not found."), std::string::npos);
    EXPECT_TRUE(fs::exists(Results() + "/" + CTrueUpJobHandle::kDirChangeFileName));
    EXPECT_EQ(m_stateAfterScan.jobId, 2);
    EXPECT_TRUE(m_stateAfterScan.queryIndexSet);
    const STrueUpState marked = State();
    EXPECT_EQ(marked.lastSuccessfulJobId, 2);
    EXPECT_FALSE(marked.queryIndexSet);
    EXPECT_GT(marked.refTime, 0);

    // Done: the next incremental runs none until 30 days have passed.
    Job(3, 2);
    EXPECT_EQ(PhaseParams(3).find("-trueup"), std::string::npos) << PhaseParams(3);
}

TEST_F(TrueUpTest, TakesWhatTheBackupsMissAndDeletesWhatOnlyTheyHold)
{
    Job(1, 1);
    ASSERT_TRUE(fs::exists(IndexFile(1))) << "the backup phase kept no index";
    Configure(false);
    // x.dat grows from 10 to 20 bytes and gets its modification time back: nothing a plain
    // incremental without change times looks at tells it changed.
    struct stat before {};
    ASSERT_EQ(::lstat((m_tree + "/x.dat").c_str(), &before), 0);
    WriteText(m_tree + "/x.dat", "01234567890123456789");
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, (m_tree + "/x.dat").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    Job(2, 2);
    EXPECT_FALSE(m_selected.items.contains(m_tree + "/x.dat"));

    // The index loses y.dat and holds a file the disk never had; gone.dat leaves the disk
    // (the previous record knows it too).
    KeepLines(IndexFile(1), [&](const std::string& line) { return !line.ends_with(m_tree + "/y.dat"); },
              {"f 1 1 1 " + m_tree + "/zzz-ghost.dat"});
    ASSERT_TRUE(fs::remove(m_tree + "/gone.dat"));
    Configure(true);
    Job(3, 2, {"-TrueUp"});

    EXPECT_TRUE(m_selected.items.contains(m_tree + "/x.dat"));
    EXPECT_TRUE(m_selected.items.contains(m_tree + "/y.dat"));
    EXPECT_FALSE(m_selected.items.contains(m_tree + "/sub/z.dat"));
    EXPECT_NE(Log().find("2 files/folders backed up by TrueUp"), std::string::npos);
    for (const char* gone : {"zzz-ghost.dat", "gone.dat"})
        EXPECT_EQ(m_selected.deletions.count("??d" + m_tree + "/" + gone), 1u) << gone;
}

}  // namespace
