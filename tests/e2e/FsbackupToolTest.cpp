// The fsbackup binary on a hand-made results folder: it reads every collect line back, checks
// the listed items on a real tree, records the phase in the journal and, only when the phase
// succeeded, puts the directory-change record in place.
#include "ScanJobFixture.h"

namespace {

using namespace e2e;

class FsbackupToolTest : public ScanJobFixture {
protected:
    void SetUp() override
    {
        ScanJobFixture::SetUp();
        m_results = Results();
        fs::create_directories(m_results);
        BuildTree();
    }

    // Folders, files with awkward names, a link, a fifo; m_files lists the regular files.
    void BuildTree()
    {
        fs::create_directories(m_tree + "/sub/deeper");
        fs::create_directories(m_tree + "/empty");
        for (const auto& [name, size] : std::vector<std::pair<std::string, size_t>>{
                 {"plain", 10}, {"name with spaces ", 3}, {"new\nline", 5}, {"bar|name", 7}, {"back\\slash", 11},
                 {"tab\tand\x7f", 2}, {"\xff\xfe invalid utf-8", 13}, {"sub/deeper/leaf", 100}})
            File(name, size);
        fs::create_symlink("plain", m_tree + "/link");
        ASSERT_EQ(::mkfifo((m_tree + "/fifo").c_str(), 0644), 0);
    }
    void File(const std::string& name, size_t size)
    {
        WriteText(m_tree + "/" + name, std::string(size, 'x'));
        m_files.push_back(m_tree + "/" + name);
        m_bytes += size;
    }

    static std::string FolderLine(const std::string& path) { return escapeFileName(path) + "/"; }
    static std::string ItemLine(const std::string& path, long long size = -1)
    {
        return escapeFileName(path) + (size < 0 ? "" : "|" + std::to_string(size));
    }

    // Every item of the tree, as the scan would list it: folders, then the other items.
    std::vector<std::string> TreeLines() const
    {
        std::vector<std::string> lines = {FolderLine(m_tree), FolderLine(m_tree + "/sub"),
                                          FolderLine(m_tree + "/sub/deeper"), FolderLine(m_tree + "/empty")};
        for (const std::string& file : m_files)
            lines.push_back(ItemLine(file));
        lines.push_back(ItemLine(m_tree + "/link", 5));
        lines.push_back(ItemLine(m_tree + "/fifo", 0));
        return lines;
    }

    void Collect(const std::string& name, const std::vector<std::string>& lines) { WriteLines(m_results + "/" + name, lines); }

    // The tree over two collect files of a full.
    void FullResults()
    {
        const std::vector<std::string> lines = TreeLines();
        const size_t half = lines.size() / 2;
        Collect("CollectTot1.zvf", {lines.begin(), lines.begin() + static_cast<long>(half)});
        // The second keeps its "|<size>" suffixes, as a file the split did not rewrite would.
        std::vector<std::string> sized(lines.begin() + static_cast<long>(half), lines.end());
        for (std::string& line : sized)
            if (line.back() != '/' && line.find('|') == std::string::npos)
                line += "|1234";
        Collect("CollectTot2.zvf", sized);
        WriteText(m_results + "/split_config", "1 2 2\n");
    }

    // Runs fsbackup, first sealing the results as the scan would unless `sealed` is false.
    RunResult Run(const std::vector<std::string>& args, bool sealed = true)
    {
        const auto type = std::find(args.begin(), args.end(), "-t");
        if (sealed && type != args.end() && type + 1 != args.end() && fs::exists(m_results))
            Seal(m_results, *(type + 1) == "1" ? "Tot" : "Inc");
        return ScanJobFixture::Run(Binary("fsbackup"), args, false);
    }

    static std::vector<std::string> Phase(const std::string& type) { return {"-vm", "inst", "-j", "7", "-a", "2:5", "-t", type}; }

    // The backupPhase records of job 7, keys in the order they were written.
    std::vector<nlohmann::ordered_json> PhaseRecords() const
    {
        std::vector<nlohmann::ordered_json> records;
        for (const std::string& line : Lines(m_instance + "/JobManager/7.jsonl")) {
            nlohmann::ordered_json record = nlohmann::ordered_json::parse(line);
            if (record.value("call", "") == "backupPhase")
                records.push_back(record);
        }
        return records;
    }


    std::string m_results;
    std::vector<std::string> m_files;
    std::uint64_t m_bytes = 0;
};

TEST_F(FsbackupToolTest, FullReadsEveryLineAndKeepsTheRecordForTheNextJob)
{
    FullResults();
    // Deletion lines are counted, never opened; a hard-linked name is an item (this one vanished).
    Collect("HCollectTot3.zvf", {"# /", "# 12 3 0 10 /no/such/hard link"});
    Collect("CollectTotDeletedItems.zvf", {"??d" + escapeFileName("/gone/file"), "??D/gone/folder"});
    WriteText(m_results + "/DCTmp.zvf", "the new record\n");
    WriteText(m_results + "/DCTot.zvf", "the previous record\n");
    WriteText(m_results + "/DirChangePending.db", "database");
    Collect("CollectInc1.zvf", {"/an/incremental/file/of/an/earlier/job"});  // another backup type: not read

    RunResult run = Run(Phase("1"));
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    const std::uint64_t items = TreeLines().size() + 1;
    for (const std::string& summary : std::vector<std::string>{
             "collect files: 4 (split map lines: 1)", "deletion lines: 2, other special lines: 0",
             "items: " + std::to_string(items) + " (folders: 4), bytes: " + std::to_string(m_bytes),
             "unreadable: 1 (vanished since the scan: 1)"})
        EXPECT_NE(run.out.find(summary), std::string::npos) << summary << "\n" << run.out;

    // Keys in this order, whole.
    const std::vector<nlohmann::ordered_json> records = PhaseRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].dump(), R"({"call":"backupPhase","status":1,"collectFiles":4,"items":)" +
                                     std::to_string(items) + R"(,"folders":4,"bytes":)" + std::to_string(m_bytes) +
                                     R"(,"unreadable":1})");

    EXPECT_FALSE(fs::exists(m_results + "/DCTmp.zvf"));
    EXPECT_EQ(Read(m_results + "/DCTot.zvf"), "the new record\n");
    EXPECT_EQ(Read(m_results + "/DCInc.zvf"), "the new record\n");
    EXPECT_FALSE(fs::exists(m_results + "/DirChangePending.db"));
    EXPECT_EQ(Read(m_results + "/DirChangeFull.db"), "database");
    for (const fs::directory_entry& entry : fs::directory_iterator(m_results))
        EXPECT_EQ(entry.path().filename().string().find(".fsbackup"), std::string::npos) << entry.path();
}

TEST_F(FsbackupToolTest, ItemsGoneSinceTheScanAreReportedNotFatal)
{
    FullResults();
    fs::remove(m_tree + "/new\nline");
    fs::remove_all(m_tree + "/sub");
    WriteText(m_tree + "/sub", "a file where the folder was");

    RunResult run = Run(Phase("1"));
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    // "sub" changed kind, "sub/deeper" and its leaf lie under a file now, "new\nline" is gone.
    EXPECT_NE(run.out.find("unreadable: 4 (vanished since the scan: 4)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  vanished: " + escapeFileName(m_tree + "/new\nline") + " ("), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("  vanished: " + escapeFileName(m_tree + "/sub") + " ("), std::string::npos) << run.out;
    ASSERT_EQ(PhaseRecords().size(), 1u);
    EXPECT_EQ(PhaseRecords()[0]["bytes"], m_bytes - 5 - 100);  // what the files hold now
    EXPECT_NE(run.out.find("directory-change record: none to put in place"), std::string::npos) << run.out;
}

TEST_F(FsbackupToolTest, IncrementalKeepsTheRecordUnderTheIncrementalName)
{
    Collect("CollectInc1.zvf", {FolderLine(m_tree + "/sub")});
    Collect("CollectInc2.zvf", {ItemLine(m_tree + "/sub/deeper/leaf")});
    Collect("CollectTot1.zvf", {"/a/full/of/an/earlier/job|5"});  // not this backup type's
    WriteText(m_results + "/split_config", "1,2\n");  // a group, as the hard-link merge writes it
    WriteText(m_results + "/DCTmp.zvf", "incremental record\n");
    WriteText(m_results + "/DCTot.zvf", "the full's record\n");
    WriteText(m_results + "/DirChangePending.db", "database");

    RunResult run = Run(Phase("2"));
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("collect files: 2 "), std::string::npos) << run.out;
    EXPECT_EQ(PhaseRecords()[0]["items"], 2);
    EXPECT_FALSE(fs::exists(m_results + "/DCTmp.zvf"));
    EXPECT_EQ(Read(m_results + "/DCInc.zvf"), "incremental record\n");
    EXPECT_EQ(Read(m_results + "/DCTot.zvf"), "the full's record\n");
    EXPECT_EQ(Read(m_results + "/DirChangeIncremental.db"), "database");
    EXPECT_FALSE(fs::exists(m_results + "/DirChangeFull.db"));
}

TEST_F(FsbackupToolTest, FailedPhaseLeavesThePreviousRecordInForce)
{
    const struct {
        const char* what;
        std::vector<std::string> badLines;  // added to a third collect file
        std::string splitMap;
        const char* reason;
        bool sealed = true;
        const char* changedAfterScan = "";  // a collect file written after the evidence
    } cases[] = {
        {"undecodable escape", {"/tmp/bad\\qescape|3"}, "1 2 2\n", "Line 1 of"},
        {"raw control byte", {"/tmp/bad\x01name"}, "1 2 2\n", "Line 1 of"},
        {"piece the split map names is missing", {}, "1 2 4\n", "named by the split map is missing"},
        {"range up to the largest number", {}, "1 2 2147483647\n", "named by the split map is missing"},
        {"malformed split map", {}, "1 2\n", "is malformed"},
        {"split map with a word", {}, "1 two 3\n", "is malformed"},
        {"collect file cut after the scan", {}, "1 2 2\n", "CollectTot2.zvf] is not whole: ", true, "CollectTot2.zvf"},
        {"collect file unknown to the evidence", {}, "1 2 2\n", "CollectTot4.zvf] is not in the evidence", true,
         "CollectTot4.zvf"},
        {"no evidence", {}, "1 2 2\n", "CollectEvidenceTot.zvf] is missing", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(m_results);
        ForgetJournal(7);
        FullResults();
        if (!c.badLines.empty())
            Collect("CollectTot3.zvf", c.badLines);
        WriteText(m_results + "/split_config", c.splitMap);
        WriteText(m_results + "/DCTmp.zvf", "new record\n");
        WriteText(m_results + "/DCTot.zvf", "previous record\n");
        WriteText(m_results + "/DirChangePending.db", "database");

        if (c.sealed)
            Seal(m_results, "Tot");
        if (*c.changedAfterScan)
            Collect(c.changedAfterScan, {ItemLine(m_tree + "/plain")});
        RunResult run = Run(Phase("1"), false);
        EXPECT_EQ(run.status, 1) << run.out;
        ExpectOneLine(run.err, "fsbackup");
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
        EXPECT_NE(run.out.find("phase: failed"), std::string::npos) << run.out;
        EXPECT_EQ(Read(m_results + "/DCTmp.zvf"), "new record\n");
        EXPECT_EQ(Read(m_results + "/DCTot.zvf"), "previous record\n");
        EXPECT_FALSE(fs::exists(m_results + "/DCInc.zvf"));
        EXPECT_TRUE(fs::exists(m_results + "/DirChangePending.db"));
        ASSERT_EQ(PhaseRecords().size(), 1u);
        EXPECT_EQ(PhaseRecords()[0]["status"], 2);
    }
}

TEST_F(FsbackupToolTest, CommandLineAndEnvironmentErrors)
{
    RunResult help = Run({"-h"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: fsbackup -vm <instance> -j <jobId> -a <orbundId>:<appNumber> -t <backupType>", 0),
              0u);

    // Usage errors exit with 2, an instance or results folder that is not there with 1.
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases = {
        {{}, 2, "-vm, -j, -a and -t are required"},
        {{"-vm", "inst", "-j", "7", "-a", "2:5"}, 2, "required"},
        {{"-vm", "inst", "-j", "seven", "-a", "2:5", "-t", "1"}, 2, "option -j value \"seven\""},
        {{"-vm", "inst", "-j", "-3", "-a", "2:5", "-t", "1"}, 2, "option -j value \"-3\""},
        {{"-vm", "inst", "-j", "0", "-a", "2:5", "-t", "1"}, 2, "job id [0] is not a positive number"},
        {{"-vm", "inst", "-j", "7", "-a", "2-5", "-t", "1"}, 2, "2-5"},
        {{"-vm", "inst", "-j", "7", "-a", "2:5", "-t", "77"}, 2, "option -t value \"77\" is not a backup type"},
        {{"-vm", "inst", "-j", "7", "-a", "2:5", "-t", "1", "-stop"}, 2, "unknown option -stop"},
        {{"-vm", "absent", "-j", "7", "-a", "2:5", "-t", "1"}, 1, ""},
        {{"-vm", "inst", "-j", "7", "-a", "9:9", "-t", "1"}, 1, "does not exist"},
    };
    for (const auto& [args, status, message] : cases) {
        RunResult run = Run(args);
        EXPECT_EQ(run.status, status) << run.err;
        ExpectOneLine(run.err, "fsbackup");
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(m_instance + "/JobResults/9"));
}

}  // namespace
