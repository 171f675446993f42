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
    const std::string data = m_tree + "/data";
    MakeRichTree(data);
    MakeUnreadable(data + "/locked");
    MakeUnreadable(data + "/nested/a/locked too");
    Content({data}, "\"folderLevelThreads\": 2");

    RunResult scan = Scan();
    ASSERT_EQ(scan.status, 0) << scan.err;
    ExpectPhaseCompleted();

    const auto listed = Listed();
    ExpectListed(listed, TreeItems(data), data);

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
TEST_F(FullScanTest, ImpersonatedScanReadsAsTheUserAndHandsItNothing)
{
    if (!m_asRoot)
        GTEST_SKIP() << "impersonation needs root";
    const std::string data = m_tree + "/data";
    MakeRichTree(data);
    MakeUnreadable(data + "/nested/locked");
    WriteText(m_instance + "/config/apps/2:5.json",
              R"({"appType": 29, "indexV2": true, "client": {"id": 2, "name": "client1"},
                  "backupSet": {"name": "users", "default": false},
                  "subclient": {"id": 5, "name": "sc1", "numStreams": 2, "folderLevelThreads": 2,
                                "content": )" + List({data}) + "}}\n");

    RunResult scan = Run(Binary("fsweep"), JobArgs(1, 1, {"-uid", std::to_string(kScanUser)}), false);
    ASSERT_EQ(scan.status, 0) << scan.err;
    ExpectPhaseCompleted();
    EXPECT_NE(Read(m_instance + "/Log_Files/fsweep.log").find("impersonated with uid [65534]"), std::string::npos);

    ExpectListed(Listed(), TreeItems(data), data);
    EXPECT_EQ(Lines(Results() + "/scan_Failures.zvf"),
              std::vector<std::string>{"folder " + escapeFileName(data + "/nested/locked") + ":13"});

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
    const std::string data = m_tree + "/data";
    for (const char* folder : {"/skip/keep/deeper", "/skip/other", "/logs", "/other", "/wild/x1", "/wild/y1"})
        fs::create_directories(data + folder);
    for (const char* file : {"/a.txt", "/a.log", "/skip/s.txt", "/skip/keep/k.txt", "/skip/keep/k.log",
                             "/skip/keep/deeper/d.txt", "/skip/other/o.txt", "/logs/l.txt", "/other/o.txt",
                             "/wild/x1/f.txt", "/wild/y1/f.txt", "/wild/top.txt"})
        WriteText(data + file, "x");
    Content({data},
            "\"filters\": " + List({data + "/skip/", data + "/logs", data + "/wild/y*"}) + ", \"filterExceptions\": " +
                List({data + "/skip/keep"}) + ", \"fileNameFilters\": " + List({"*.log"}) +
                ", \"otherSubclientsContent\": " + List({data + "/other"}));
    ASSERT_EQ(Scan().status, 0);
    ExpectPhaseCompleted();

    std::set<std::string> expected = TreeItems(data, [&](const std::string& path, bool folder) {
        const std::string name = fs::path(path).filename().string();
        return (folder && path == data + "/skip") || path == data + "/logs" || path == data + "/other" ||
               path.rfind(data + "/wild/y", 0) == 0 ||
               (!folder && name.size() > 4 && name.substr(name.size() - 4) == ".log");
    });
    // The exception brings the kept folder back from under the filtered one.
    for (const char* kept : {"/skip/keep/", "/skip/keep/k.txt", "/skip/keep/deeper/", "/skip/keep/deeper/d.txt"})
        expected.insert(data + kept);
    ExpectListed(Listed(), expected, data);
}

TEST_F(FullScanTest, WildcardContentListsWhatMatchesWithEveryFolderAboveIt)
{
    const std::string data = m_tree + "/data";
    for (const char* folder : {"/wild/x1/inner", "/wild/y1"})
        fs::create_directories(data + folder);
    for (const char* file : {"/a.txt", "/a.log", "/wild/x1/f.txt", "/wild/x1/inner/g.txt", "/wild/y1/f.txt",
                             "/wild/top.txt"})
        WriteText(data + file, "x");
    Content({data + "/wild/x*", data + "/*.txt"});
    ASSERT_EQ(Scan().status, 0);
    // A matching folder takes its tree; the backup phase needs every folder above what it
    // restores, the fixed folder of the wildcard included.
    ExpectListed(Listed(),
                 {data + "/wild/x1/", data + "/wild/x1/f.txt", data + "/wild/x1/inner/", data + "/wild/x1/inner/g.txt",
                  data + "/a.txt"},
                 data + "/wild/x1");
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
    std::set<std::string> byFile[2];
    for (int i = 0; i < 2; ++i)
        byFile[i] = Keys(Listed({files[i]}));
    const bool shmFirst = byFile[0].count(m_shm + "/c/sub/g.txt") != 0;
    for (const auto& [root, at] :
         {std::pair{m_tree + "/a", shmFirst ? 1 : 0}, std::pair{m_shm + "/c", shmFirst ? 0 : 1}}) {
        std::set<std::string> items = TreeItems(root);
        items.merge(Ancestors(root));
        EXPECT_EQ(byFile[at], items) << root;
    }
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
    const std::string data = m_tree + "/data";
    for (int folder = 0; folder < 20; ++folder) {
        const std::string path = data + "/f" + std::to_string(folder);
        fs::create_directories(path);
        for (int file = 0; file < 20; ++file)
            WriteText(path + "/file" + std::to_string(file), std::string(static_cast<size_t>(file * 100 + 1), 'x'));
    }
    Content({data}, "\"numStreams\": 4, \"multipleReadsPerDisk\": true");
    ASSERT_EQ(Scan().status, 0);
    ExpectPhaseCompleted();

    const std::vector<std::string> files = CollectFiles();
    ASSERT_GT(files.size(), 1u);
    const std::vector<std::string> map = Lines(Results() + "/split_config");
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map[0], "1 2 " + std::to_string(files.size()));
    const auto listed = Listed();
    ExpectListed(listed, TreeItems(data), data);
    auto streams = Calls("setNumStreams");
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].value("streams", 0), 4);
    ASSERT_EQ(Backup().status, 0);
    EXPECT_EQ(Calls("backupPhase").at(0).value("items", 0u), listed.size());
}

TEST_F(FullScanTest, TerminalShowsProgressAndOneSummaryLine)
{
    const std::string data = m_tree + "/data";
    MakeRichTree(data);
    Content({data});
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
