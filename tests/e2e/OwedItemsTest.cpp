// What one job owes the next, through the real binaries: items the backup phase could not read
// are retried by the next scans until a backup phase takes them, and the items an interrupted
// backup phase left are committed by the next job, although none of them changed.
#include "ScanJobFixture.h"

#include <chrono>
#include <regex>
#include <thread>

namespace {

using namespace e2e;

class OwedItemsTest : public ScanJobFixture {
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
    }

    void Settings(const std::string& lines) { WriteText(m_instance + "/registry/FileSystemAgent", lines); }
    std::string Log() const { return Read(m_instance + "/Log_Files/fsweep.log"); }
    std::string Failures() const { return Results() + "/Failures.zvf"; }

    // Every job starts in a second of its own, after the changes made for it.
    static void NextSecond()
    {
        const auto next = std::chrono::ceil<std::chrono::seconds>(std::chrono::system_clock::now() +
                                                                  std::chrono::milliseconds(50));
        std::this_thread::sleep_until(next + std::chrono::milliseconds(20));
    }
    std::string ReferenceAfter(int jobId) const
    {
        std::smatch match;
        const std::string params = PhaseParams(jobId);
        EXPECT_TRUE(std::regex_search(params, match, std::regex(" -r ([0-9]+)"))) << params;
        return match.empty() ? "0" : match[1].str();
    }
    // Scan job `jobId` (a full for the first, else an incremental after `jobId - 1`); the log
    // lines it wrote.
    std::string Job(int jobId, int type, std::vector<std::string> extra = {})
    {
        NextSecond();
        if (type != 1) {
            extra.push_back("-ref");
            extra.push_back(ReferenceAfter(jobId - 1));
        }
        const size_t logged = Log().size();
        RunResult scan = ScanJob(jobId, type, extra);
        EXPECT_EQ(scan.status, 0) << scan.err;
        ExpectPhaseCompleted(jobId);
        return Log().substr(logged);
    }
    void BackupPhase(int jobId, int type, std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {"-vm", "inst", "-j", std::to_string(jobId), "-a", "2:5", "-t",
                                         std::to_string(type)};
        args.insert(args.end(), extra.begin(), extra.end());
        RunResult backup = Run(Binary("fsbackup"), args, false);
        ASSERT_EQ(backup.status, 0) << backup.out << backup.err;
    }
    // The item lines (decoded, how often each) and the deletion lines of an incremental's
    // collect files.
    std::map<std::string, int> Incremental(std::vector<std::string>* deletions = nullptr) const
    {
        std::vector<std::string> files;
        for (const auto& entry : fs::directory_iterator(Results()))
            if (entry.path().filename().string().rfind("CollectInc", 0) == 0)
                files.push_back(entry.path().string());
        std::map<std::string, int> items;
        for (const std::string& file : files)
            for (const std::string& line : Lines(file)) {
                if (line.rfind("??", 0) == 0) {
                    if (deletions)
                        deletions->push_back(line);
                    continue;
                }
                std::string path;
                EXPECT_TRUE(unescapeFileName(line.substr(0, line.rfind('|')), path).IsSuccess()) << line;
                ++items[path];
            }
        return items;
    }

    std::string m_data, m_failing;
};

TEST_F(OwedItemsTest, FailedItemIsRetriedUntilABackupPhaseTakesIt)
{
    Settings("sBackupPhaseFailPattern */x.dat\n");
    Job(1, 1);
    BackupPhase(1, 1);
    EXPECT_EQ(Lines(Failures()), std::vector<std::string>{escapeFileName(m_failing) + ":5"});

    // Unchanged, yet taken again, once; the list is in progress until a phase takes its items.
    std::string log = Job(2, 2);
    EXPECT_EQ(Incremental()[m_failing], 1);
    EXPECT_EQ(Incremental().count(m_data + "/f0.txt"), 0u) << "an unchanged item was taken";
    EXPECT_NE(log.find("Processed [1] failed files"), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(Failures()));
    EXPECT_TRUE(fs::exists(Failures() + ".inprogress"));

    // The phase fails to read it again: a new list, the one in progress released.
    BackupPhase(2, 2);
    EXPECT_EQ(Lines(Failures()).size(), 1u);
    EXPECT_FALSE(fs::exists(Failures() + ".inprogress"));

    // Its phase fails after listing x.dat again: the next scan finds both lists and feeds both,
    // x.dat once, and keeps them in progress together.
    Job(3, 2);
    EXPECT_EQ(Incremental()[m_failing], 1);
    WriteText(Failures(), escapeFileName(m_failing) + ":5\n");
    Settings("");
    Job(4, 2);
    EXPECT_EQ(Incremental()[m_failing], 1);
    EXPECT_FALSE(fs::exists(Failures()));
    EXPECT_EQ(Lines(Failures() + ".inprogress").size(), 2u);
    BackupPhase(4, 2);
    EXPECT_FALSE(fs::exists(Failures()));
    EXPECT_FALSE(fs::exists(Failures() + ".inprogress"));
}

TEST_F(OwedItemsTest, SettingSkipsTheFailedFileListAndAFullKeepsIt)
{
    Settings("sBackupPhaseFailPattern */x.dat\n");
    Job(1, 1);
    BackupPhase(1, 1);
    Settings("nSkipFailedFiles 1\n");
    const std::string log = Job(2, 2);
    EXPECT_EQ(Incremental().count(m_failing), 0u);
    EXPECT_NE(log.find("Processing failed file list is skipped via additional setting  nSkipFailedFiles"),
              std::string::npos)
        << log;
    EXPECT_TRUE(fs::exists(Failures())) << "a skipped list stays owed";

    // A full takes the list too, without deleting it and without listing the item twice.
    Settings("");
    Job(3, 1);
    EXPECT_EQ(Listed()[m_failing], 1);
    EXPECT_TRUE(fs::exists(Failures() + ".inprogress"));
}

TEST_F(OwedItemsTest, InterruptedBackupPhaseIsCommittedByTheNextJob)
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
    const std::map<std::string, int> items = Incremental(&deletions);
    for (const std::string& path : owed)
        EXPECT_EQ(items.count(path) ? items.at(path) : 0, path == deleted ? 0 : 1) << path;
    EXPECT_EQ(items.size(), 7u + Ancestors(m_data).size() + 1) << "only the owed files and the folders above them";
    EXPECT_EQ(deletions, std::vector<std::string>{"??d" + escapeFileName(deleted)});
    EXPECT_EQ(Read(Results() + "/scan_Failures.zvf").find(escapeFileName(deleted)), std::string::npos);

    // A commit job that cannot learn what was owed takes everything.
    const std::string log = Job(9, 2, {"-CommitJobID", "99", "-CommitJobBkupLevel", "2"});
    EXPECT_NE(log.find("Failed to create commit collect file. Forcing reference time to 0 for this backup to behave "
                       "as FULL."),
              std::string::npos)
        << log;
    size_t files = 0;
    for (const auto& [path, count] : Incremental())
        files += path.ends_with(".txt") ? 1 : 0;
    EXPECT_EQ(files, 9u);
}

}  // namespace
