// Full scans through the real fsweep and fsbackup binaries on real trees: every item of the
// tree listed exactly once (filters, exceptions and wildcards applied, the folders above the
// content added), unreadable folders in the failure list while the job completes, output
// resources per volume, missing content, the split into streams, and the progress lines on a
// terminal.
#include "ScanJobFixture.h"

namespace {

using namespace e2e;

class FullScanTest : public ScanJobFixture {
protected:
    // A full job lists `items` and the folders above `root`, each once, and nothing else.
    static void ExpectListed(const std::map<std::string, int>& listed, std::set<std::string> items,
                             const std::string& root)
    {
        ExpectEachOnce(listed);
        items.merge(Ancestors(root));
        EXPECT_EQ(Keys(listed), items);
    }
};

TEST_F(FullScanTest, EveryItemOfARealTreeIsListedOnceAndTheBackupPhaseReadsEveryLine)
{
    MakeRichTree(m_data);
    MakeUnreadable(m_data + "/locked");
    MakeUnreadable(m_data + "/nested/a/locked too");
    Content({m_data}, "\"folderLevelThreads\": 2");

    RunResult scan = Scan();
    ASSERT_EQ(scan.status, 0) << scan.err;
    ExpectPhaseCompleted();

    const auto listed = Listed();
    ExpectListed(listed, TreeItems(m_data), m_data);

    // The unreadable folders are listed themselves, and in the failure list with EACCES.
    const std::vector<std::string> lines = Lines(Results() + "/scan_Failures.zvf");
    const std::set<std::string> failures(lines.begin(), lines.end());
    std::set<std::string> expectedFailures;
    for (const std::string& folder : m_lockedFolders)
        expectedFailures.insert("folder " + escapeFileName(folder) + ":13");
    EXPECT_EQ(failures, expectedFailures);
    EXPECT_EQ(Calls("addScanFileFailures").at(0).value("count", 0), 2);

    RunResult backup = Backup();
    ASSERT_EQ(backup.status, 0) << backup.out << backup.err;
    auto phase = Calls("backupPhase");
    ASSERT_EQ(phase.size(), 1u);
    EXPECT_EQ(phase[0].value("items", 0u), listed.size());
    // Run by root, the backup phase opens the folders the scan's user could not; run by their
    // owner, it cannot open them either.
    EXPECT_EQ(phase[0].value("unreadable", 99u), m_asRoot ? 0u : m_lockedFolders.size());
}

// Run by root as another user (non-default backup set, option -uid): the walk reads as that
// user, while every file and folder of the instance stays root's and writable by no one else.
// The two folders it cannot read meet the administrator's error rules, which decide what the job
// manager hears.
TEST_F(FullScanTest, ImpersonatedScanReadsAsTheUserAndTheErrorRulesDecideWhatTheJobManagerHears)
{
    if (!m_asRoot)
        GTEST_SKIP() << "impersonation needs root";
    MakeRichTree(m_data);
    MakeUnreadable(m_data + "/a.lock");
    MakeUnreadable(m_data + "/nested/b.dat");
    Content({m_data}, R"("numStreams": 2, "folderLevelThreads": 2)", UsersBackupSet());
    const auto rule = [](const std::string& pattern, int decision, int from, int to, bool skip) {
        return "<ruleList isEnabled=\"1\" pattern=\"" + pattern + "\" jobDecision=\"" + std::to_string(decision) +
               "\" skipFromReporting=\"" + (skip ? "1" : "0") + "\"><errorCodes allErrorCodes=\"0\" fromValue=\"" +
               std::to_string(from) + "\" toValue=\"" + std::to_string(to) + "\"/></ruleList>";
    };
    const std::string lockSkipped = rule("*.lock", 0, 13, 13, true);
    const struct {
        const char* what;
        std::string rules;  // "": no rules file
        int failureCount;    // as the job manager hears it
        const char* failed;  // in the phase's failure message; "": the phase completes
        bool event;          // a major event names b.dat
    } cases[] = {
        {"no rules", "", 2, "", false},
        {"skipped from reporting, a bad pattern dropped", rule("[abc", 2, 0, 100, false) + lockSkipped, 1, "", false},
        {"decision 2 fails the phase", lockSkipped + rule("*b.dat", 2, 1, 20, false), 1, "b.dat: Permission denied",
         false},
        {"decision 1 raises an event", rule("*b.dat", 1, 13, 13, false), 2, "", true},
        {"malformed rules", "<ruleList", 2, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ForgetJournal();
        if (!c.rules.empty())
            WriteText(m_instance + "/JobManager/ErrorRules/2_29.xml",
                      "<App_JobErrorDecisionRuleList>" + c.rules + "</App_JobErrorDecisionRuleList>");
        RunResult scan = Run(Binary("fsweep"), JobArgs(1, 1, {"-uid", std::to_string(kScanUser)}), false);
        ASSERT_EQ(scan.status, 0) << scan.err;
        const std::vector<std::string> listed = Lines(Results() + "/scan_Failures.zvf");
        EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()),
                  (std::set<std::string>{"folder " + escapeFileName(m_data + "/a.lock") + ":13",
                                         "folder " + escapeFileName(m_data + "/nested/b.dat") + ":13"}));
        EXPECT_EQ(Calls("addScanFileFailures").at(0).value("count", 0), c.failureCount);
        if (*c.failed)
            EXPECT_NE(FailedPhase().find(m_data + "/nested/" + c.failed), std::string::npos) << FailedPhase();
        else
            ExpectPhaseCompleted();
        bool event = false;
        for (const nlohmann::json& raised : Calls("event"))
            event = event || (raised.value("severity", "") == "major" &&
                              raised.value("message", "").find(m_data + "/nested/b.dat: Permission denied") != std::string::npos);
        EXPECT_EQ(event, c.event);
    }

    // What the last run left: the tree as the user sees it, and nothing of the instance handed over.
    EXPECT_NE(Log().find("impersonated with uid [65534]"), std::string::npos);
    ExpectListed(Listed(), TreeItems(m_data), m_data);
    size_t checked = 0;
    for (const auto& entry : fs::recursive_directory_iterator(m_instance)) {
        struct stat status {};
        ASSERT_EQ(::lstat(entry.path().c_str(), &status), 0);
        EXPECT_EQ(status.st_uid, 0u) << entry.path();
        if (!S_ISLNK(status.st_mode)) {
            EXPECT_EQ(status.st_mode & (S_IWGRP | S_IWOTH), 0u) << entry.path();
        }
        ++checked;
    }
    EXPECT_GT(checked, 10u);
    ASSERT_EQ(Backup().status, 0);
}

TEST_F(FullScanTest, FiltersExceptionsAndWildcardsDecideWhatIsListed)
{
    for (const char* folder : {"/skip/keep/deeper", "/skip/other", "/logs", "/other", "/wild/x1", "/wild/y1"})
        fs::create_directories(m_data + folder);
    for (const char* file : {"/a.txt", "/a.log", "/skip/s.txt", "/skip/keep/k.txt", "/skip/keep/k.log",
                             "/skip/keep/deeper/d.txt", "/skip/other/o.txt", "/logs/l.txt", "/other/o.txt",
                             "/wild/x1/f.txt", "/wild/y1/f.txt", "/wild/top.txt"})
        WriteText(m_data + file, "x");
    Content({m_data},
            "\"filters\": " + List({m_data + "/skip/", m_data + "/logs", m_data + "/wild/y*"}) + ", \"filterExceptions\": " +
                List({m_data + "/skip/keep"}) + ", \"fileNameFilters\": " + List({"*.log"}) +
                ", \"otherSubclientsContent\": " + List({m_data + "/other"}));
    ASSERT_EQ(Scan().status, 0);
    ExpectPhaseCompleted();

    std::set<std::string> expected = TreeItems(m_data, [&](const std::string& path, bool folder) {
        const std::string name = fs::path(path).filename().string();
        return (folder && path == m_data + "/skip") || path == m_data + "/logs" || path == m_data + "/other" ||
               path.rfind(m_data + "/wild/y", 0) == 0 ||
               (!folder && name.size() > 4 && name.substr(name.size() - 4) == ".log");
    });
    // The exception brings the kept folder back from under the filtered one.
    for (const char* kept : {"/skip/keep/", "/skip/keep/k.txt", "/skip/keep/deeper/", "/skip/keep/deeper/d.txt"})
        expected.insert(m_data + kept);
    ExpectListed(Listed(), expected, m_data);
}

TEST_F(FullScanTest, WildcardContentListsWhatMatchesWithEveryFolderAboveIt)
{
    for (const char* folder : {"/wild/x1/inner", "/wild/y1"})
        fs::create_directories(m_data + folder);
    for (const char* file : {"/a.txt", "/a.log", "/wild/x1/f.txt", "/wild/x1/inner/g.txt", "/wild/y1/f.txt",
                             "/wild/top.txt"})
        WriteText(m_data + file, "x");
    Content({m_data + "/wild/x*", m_data + "/*.txt"});
    ASSERT_EQ(Scan().status, 0);
    // A matching folder takes its tree; the backup phase needs every folder above what it
    // restores, the fixed folder of the wildcard included.
    ExpectListed(Listed(),
                 {m_data + "/wild/x1/", m_data + "/wild/x1/f.txt", m_data + "/wild/x1/inner/", m_data + "/wild/x1/inner/g.txt",
                  m_data + "/a.txt"},
                 m_data + "/wild/x1");
}

TEST_F(FullScanTest, ContentOnOneVolumeSharesOneCollectFileAndTwoVolumesGetTwo)
{
    for (const char* part : {"/a", "/b"}) {
        fs::create_directories(m_tree + part + "/sub");
        WriteText(m_tree + part + "/sub/f.txt", part);
    }
    Content({m_tree + "/a", m_tree + "/b"});
    ASSERT_EQ(Scan().status, 0);
    ASSERT_EQ(CollectFiles(), (std::vector<std::string>{Results() + "/CollectTot1.zvf"}));
    EXPECT_NE(PhaseParams().find(" -maxcolnum 1 "), std::string::npos) << PhaseParams();
    std::set<std::string> both = TreeItems(m_tree + "/a");
    both.merge(TreeItems(m_tree + "/b"));
    ExpectListed(Listed(), both, m_tree + "/a");

    if (!fs::is_directory("/dev/shm") || (m_shm = MakeScratch("/dev/shm")).empty())
        GTEST_SKIP() << "no second file system (/dev/shm) to scan";
    fs::create_directories(m_shm + "/c/sub");
    WriteText(m_shm + "/c/sub/g.txt", "g");
    Content({m_tree + "/a", m_shm + "/c"});
    ASSERT_EQ(Scan().status, 0);
    const std::vector<std::string> files = CollectFiles();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_NE(PhaseParams().find(" -maxcolnum 2 "), std::string::npos) << PhaseParams();
    // Each volume's items are in a collect file of their own.
    std::set<std::set<std::string>> byVolume;
    for (const std::string& root : {m_tree + "/a", m_shm + "/c"}) {
        std::set<std::string> items = TreeItems(root);
        items.merge(Ancestors(root));
        byVolume.insert(items);
    }
    EXPECT_EQ((std::set<std::set<std::string>>{Keys(Listed({files[0]})), Keys(Listed({files[1]}))}), byVolume);
    ASSERT_EQ(Backup().status, 0);
}

TEST_F(FullScanTest, MissingContentPathIsReportedAndTheJobGoesOn)
{
    fs::create_directories(m_tree + "/here");
    WriteText(m_tree + "/here/f.txt", "f");
    Content({m_tree + "/here", m_tree + "/not here"});
    RunResult scan = Scan();
    ASSERT_EQ(scan.status, 0) << scan.err;
    ExpectPhaseCompleted();
    const std::vector<std::string> failures = Lines(Results() + "/scan_Failures.zvf");
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0], "file " + m_tree + "/not here:2");
    EXPECT_NE(PhaseParams().find(" -scfail "), std::string::npos);
    EXPECT_EQ(Listed().count(m_tree + "/here/f.txt"), 1u);
    bool reported = false;
    for (const auto& event : Calls("event"))
        reported = reported || event.value("message", "").find("/not here") != std::string::npos;
    EXPECT_TRUE(reported);
}

TEST_F(FullScanTest, FourStreamsSplitTheCollectFileAndListEveryItemOnce)
{
    for (int folder = 0; folder < 20; ++folder) {
        const std::string path = m_data + "/f" + std::to_string(folder);
        fs::create_directories(path);
        for (int file = 0; file < 20; ++file)
            WriteText(path + "/file" + std::to_string(file), std::string(static_cast<size_t>(file * 100 + 1), 'x'));
    }
    Content({m_data}, "\"numStreams\": 4, \"multipleReadsPerDisk\": true");
    ASSERT_EQ(Scan().status, 0);
    ExpectPhaseCompleted();

    const std::vector<std::string> files = CollectFiles();
    ASSERT_GT(files.size(), 1u);
    const std::vector<std::string> map = Lines(Results() + "/split_config");
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map[0], "1 2 " + std::to_string(files.size()));
    const auto listed = Listed();
    ExpectListed(listed, TreeItems(m_data), m_data);
    auto streams = Calls("setNumStreams");
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].value("streams", 0), 4);
    ASSERT_EQ(Backup().status, 0);
    EXPECT_EQ(Calls("backupPhase").at(0).value("items", 0u), listed.size());
}

TEST_F(FullScanTest, TerminalShowsProgressAndOneSummaryLine)
{
    MakeRichTree(m_data);
    Content({m_data});
    RunResult scan = Scan({}, true);
    ASSERT_EQ(scan.status, 0) << scan.err;
    std::vector<std::string> summaries;
    std::istringstream lines(scan.err);
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.rfind("fsweep: ");
        if (at != std::string::npos && line.find(" failure") != std::string::npos)
            summaries.push_back(line.substr(at));
    }
    ASSERT_EQ(summaries.size(), 1u) << scan.err;
    EXPECT_NE(summaries[0].find(" items ("), std::string::npos) << summaries[0];
    EXPECT_NE(summaries[0].find(" 0 failures, "), std::string::npos) << summaries[0];

    // Not a terminal: nothing but the program's own lines.
    RunResult quiet = Scan();
    ASSERT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err.find("fsweep: "), std::string::npos) << quiet.err;
}

}  // namespace
