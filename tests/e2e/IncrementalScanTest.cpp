// Incremental and differential scans through the real binaries: full, backup phase, changes,
// incremental, backup phase, changes, incremental, differential. Each job's collect files must hold
// exactly what changed since its reference (by time, or unknown to the previous record), the
// deletions as one "??d" line per file and one "??D" line per folder, and nothing unchanged; a
// scan killed half way leaves the previous record in force. Every case runs once with the text
// record and once with the database record (agent setting "nUseSQLiteDirchange" 1).
#include "ScanJobFixture.h"

#include <csignal>
#include <thread>

namespace {

using namespace e2e;

struct SStatus {
    bool folder = false;
    std::int64_t mtime = 0;
    std::int64_t ctime = 0;
};

class IncrementalScanTest : public ScanJobFixture, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        ScanJobFixture::SetUp();
        if (Database())
            Settings("nUseSQLiteDirchange 1\n");
        m_outside = m_tree + "/outside";
        fs::create_directories(m_outside);
    }

    // Every item at and below `root` (folders without their '/'), as lstat sees it.
    static std::map<std::string, SStatus> Snapshot(const std::string& root)
    {
        std::map<std::string, SStatus> items;
        auto add = [&](const std::string& path) {
            struct stat status {};
            if (::lstat(path.c_str(), &status) == 0)
                items[path] = {S_ISDIR(status.st_mode), status.st_mtim.tv_sec, status.st_ctim.tv_sec};
        };
        add(root);
        for (const auto& entry : fs::recursive_directory_iterator(root))
            add(entry.path().string());
        return items;
    }

    // Runs job `jobId` of `type` against `reference` (unused by a full) and its backup phase.
    void RunJob(int jobId, int type, std::int64_t reference)
    {
        Job(jobId, type, reference);
        m_reference[jobId] = ReferenceOf(jobId);
    }

    // What a job with `reference` must take of `now`: what changed at or after the reference by
    // the enabled times, and what `known` (the record it is evaluated against) does not hold;
    // the folders above the content come along.
    std::set<std::string> Expected(const std::map<std::string, SStatus>& now, const std::map<std::string, SStatus>& known,
                                   std::int64_t reference, bool useCtime) const
    {
        std::set<std::string> expected;
        for (const auto& [path, status] : now) {
            const bool changed = status.mtime >= reference || (useCtime && status.ctime >= reference);
            if (changed || !known.contains(path))
                expected.insert(status.folder ? path + "/" : path);
        }
        for (const std::string& line : Ancestors(m_data))
            expected.insert(line);
        return expected;
    }

    // One line per deleted item, none for what lies below a deleted folder.
    static std::multiset<std::string> ExpectedDeletions(const std::map<std::string, SStatus>& before,
                                                        const std::map<std::string, SStatus>& now)
    {
        std::multiset<std::string> lines;
        std::string deletedFolder;
        for (const auto& [path, status] : before) {
            if (now.contains(path))
                continue;
            if (!deletedFolder.empty() && path.rfind(deletedFolder + "/", 0) == 0)
                continue;
            lines.insert((status.folder ? "??D" : "??d") + escapeFileName(path));
            if (status.folder)
                deletedFolder = path;
        }
        return lines;
    }

    void MakeTree()
    {
        for (const char* folder : {"/docs/deep/deeper", "/to rename/sub", "/gone/sub", "/stay", "/odd\nfolder|x"})
            fs::create_directories(m_data + folder);
        for (const char* file : {"/docs/a.txt", "/docs/b.txt", "/docs/deep/c.txt", "/docs/deep/deeper/d.txt",
                                 "/to rename/r1.txt", "/to rename/sub/r2.txt", "/gone/g1.txt", "/gone/sub/g2.txt",
                                 "/stay/s1.txt", "/stay/s2.txt", "/stay/meta.txt", "/stay/del.txt",
                                 "/odd\nfolder|x/back\\slash.txt"})
            WriteText(m_data + file, "v1");
        WriteText(m_outside + "/moved\nin|x.txt", "old");
        Backdate(m_outside + "/moved\nin|x.txt");
    }

    // Runs a non-full job and checks its collect files against the tree.
    void ExpectJob(int jobId, int type, const std::map<std::string, SStatus>& before,
                   const std::map<std::string, SStatus>& known, std::int64_t reference, bool useCtime,
                   bool checkDeletions = true)
    {
        RunJob(jobId, type, reference);
        const SSelected job = Selected(type);
        const auto now = Snapshot(m_data);
        EXPECT_EQ(job.items, Expected(now, known, reference, useCtime)) << "job " << jobId;
        if (checkDeletions) {
            EXPECT_EQ(job.deletions, ExpectedDeletions(before, now)) << "job " << jobId;
        }
    }

    static bool Database() { return GetParam(); }
    // The record's file: "Tmp" while the scan runs, "Inc" or "Tot" once kept.
    std::string Record(const std::string& kind) const
    {
        static const std::map<std::string, std::string> database = {
            {"Tmp", "DirChangePending.db"}, {"Inc", "DirChangeIncremental.db"}, {"Tot", "DirChangeFull.db"}};
        return Results() + "/" + (Database() ? database.at(kind) : "DC" + kind + ".zvf");
    }

    std::string m_outside;
    std::map<int, std::int64_t> m_reference;
};

TEST_P(IncrementalScanTest, EachJobTakesExactlyWhatChangedAndReportsEveryDeletion)
{
    MakeTree();
    Content({m_data}, "\"useCtime\": false");  // moved-in items must be found by the record, not by time
    NextSecond();
    const auto atFull = Snapshot(m_data);
    RunJob(1, 1, 0);
    const SSelected full = Selected(1);
    EXPECT_EQ(full.items.size(), atFull.size() + Ancestors(m_data).size());
    EXPECT_TRUE(full.deletions.empty());

    // Modified, new, copied in with old times, moved in, a renamed folder, deletions.
    WriteText(m_data + "/docs/a.txt", "v2");
    WriteText(m_data + "/docs/deep/new.txt", "new");
    WriteText(m_data + "/stay/copied in.txt", "copy");
    Backdate(m_data + "/stay/copied in.txt");
    fs::rename(m_outside + "/moved\nin|x.txt", m_data + "/docs/moved\nin|x.txt");
    fs::rename(m_data + "/to rename", m_data + "/renamed");
    fs::remove(m_data + "/stay/del.txt");
    fs::remove_all(m_data + "/gone");
    ExpectJob(2, 2, atFull, atFull, m_reference[1], false);
    const SSelected first = Selected(2);
    for (const char* path : {"/docs/a.txt", "/docs/deep/new.txt", "/stay/copied in.txt", "/docs/moved\nin|x.txt",
                             "/renamed/", "/renamed/r1.txt", "/renamed/sub/", "/renamed/sub/r2.txt"})
        EXPECT_TRUE(first.items.contains(m_data + path)) << path;
    for (const char* path : {"/docs/b.txt", "/stay/s1.txt", "/docs/deep/deeper/d.txt"})
        EXPECT_FALSE(first.items.contains(m_data + path)) << path;
    for (const char* gone : {"??D/gone", "??D/to rename", "??d/stay/del.txt"})
        EXPECT_TRUE(first.deletions.contains(std::string(gone, 3) + escapeFileName(m_data + (gone + 3)))) << gone;

    // Second round, with the change-time rule on: a change of metadata only is a change.
    Content({m_data});
    const auto atFirstIncremental = Snapshot(m_data);
    ::chmod((m_data + "/stay/meta.txt").c_str(), 0600);
    WriteText(m_data + "/docs/deep/deeper/d.txt", "v2");
    fs::remove(m_data + "/renamed/r1.txt");
    WriteText(m_data + "/stay/third.txt", "3");
    ExpectJob(3, 2, atFirstIncremental, atFirstIncremental, m_reference[2], true);
    const SSelected second = Selected(2);
    EXPECT_TRUE(second.items.contains(m_data + "/stay/meta.txt"));
    EXPECT_FALSE(second.items.contains(m_data + "/docs/a.txt"));  // taken by the previous job already
    EXPECT_EQ(second.deletions, (std::multiset<std::string>{"??d" + escapeFileName(m_data + "/renamed/r1.txt")}));

    // A differential takes everything that changed since the full.
    ExpectJob(4, 4, atFull, atFull, m_reference[1], true, false);
}

TEST_P(IncrementalScanTest, AKilledScanLeavesThePreviousRecordAndTheNextOneFindsEveryChange)
{
    for (int folder = 0; folder < 60; ++folder) {
        const std::string path = m_data + "/f" + std::to_string(folder);
        fs::create_directories(path);
        for (int file = 0; file < 200; ++file)
            WriteText(path + "/file" + std::to_string(file), "x");
    }
    Content({m_data});
    NextSecond();
    const auto atFull = Snapshot(m_data);
    RunJob(1, 1, 0);
    const std::string record = Record("Inc");
    ASSERT_TRUE(fs::exists(record));
    const std::string before = Read(record);

    WriteText(m_data + "/f7/file3", "changed");
    fs::remove(m_data + "/f9/file9");
    fs::remove_all(m_data + "/f11");
    NextSecond();
    // Killed as soon as it writes its own record, or at the latest half a second in.
    const pid_t child = Start(Binary("fsweep"), JobArgs(2, 2, {"-ref", std::to_string(m_reference[1])}), false,
                              ::open("/dev/null", O_WRONLY | O_CLOEXEC), ::open("/dev/null", O_WRONLY | O_CLOEXEC));
    for (int wait = 0; wait < 100 && !fs::exists(Record("Tmp")); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(Read(record), before);
    EXPECT_TRUE(fs::exists(Record("Tot")));
    // What the killed job left must not hide a deletion made after it.
    fs::remove(m_data + "/f3/file1");

    ExpectJob(3, 2, atFull, atFull, m_reference[1], true);
}

INSTANTIATE_TEST_SUITE_P(Records, IncrementalScanTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Database" : "Text"; });

}  // namespace
