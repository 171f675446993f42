// The backup index through the real fsweep and fsbackup binaries: after a full and an incremental
// backup, the index's view is exactly the tree on disk, with the values the backup phase saw,
// and the incremental's job file carries the deletion it backed up; an interrupted phase indexes
// what it took, and an item it could not take is a failure line, not held.
#include "ScanJobFixture.h"

#include "Agent/FileBackupIndex.h"
#include "Base/DirChangePathOrder.h"

namespace {

using namespace e2e;

class BackupIndexTest : public ScanJobFixture {};

TEST_F(BackupIndexTest, FullAndIncrementalGiveExactlyTheTreeAndTheDeletion)
{
    const std::string data = m_tree + "/data";
    MakeRichTree(data);
    WriteText(data + "/removed.txt", "r");
    Content({data});
    ASSERT_EQ(ScanJob(1, 1).status, 0);
    RunResult full = Backup(1, 1);
    ASSERT_EQ(full.status, 0) << full.err;

    NextSecond();
    WriteText(data + "/nested/a/one.txt", "changed, and longer");
    WriteText(data + "/added.txt", "a");
    fs::remove(data + "/removed.txt");
    ASSERT_EQ(ScanJob(2, 2, {"-ref", std::to_string(ReferenceOf(1))}).status, 0);
    RunResult incremental = Backup(2, 2);
    ASSERT_EQ(incremental.status, 0) << incremental.err;
    EXPECT_NE(incremental.out.find("backup index: " + m_instance + "/Index/2_5/2.idx"), std::string::npos)
        << incremental.out;

    std::vector<SIndexItem> view;
    CFileBackupIndex index(m_instance + "/Index", 2, 5);
    CKxError browsed = index.Browse([&](const SIndexItem& item) {
        view.push_back(item);
        return CKxError::Success();
    });
    ASSERT_TRUE(browsed.IsSuccess()) << browsed.AsString();

    std::set<std::string> expected = TreeItems(data);
    const std::set<std::string> ancestors = Ancestors(data);
    expected.insert(ancestors.begin(), ancestors.end());
    std::set<std::string> held;
    for (size_t i = 0; i < view.size(); ++i) {
        const SIndexItem& item = view[i];
        if (i > 0) {
            EXPECT_TRUE(DirChangePathOrder::Less(view[i - 1].path, item.path)) << item.path;
        }
        const bool folder = item.kind == SIndexItem::kFolder;
        held.insert(folder && item.path != "/" ? item.path + "/" : item.path);
        struct stat status {};
        ASSERT_EQ(::lstat(item.path.c_str(), &status), 0) << item.path;
        EXPECT_EQ(folder, S_ISDIR(status.st_mode)) << item.path;
        if (!folder) {  // a folder's times move with its entries, which it need not be taken for
            EXPECT_EQ(item.kind, S_ISREG(status.st_mode) ? 'f' : S_ISLNK(status.st_mode) ? 'l' : 'o') << item.path;
            EXPECT_EQ(item.mtime, status.st_mtim.tv_sec) << item.path;
            EXPECT_EQ(item.size, static_cast<std::uint64_t>(status.st_size)) << item.path;
        }
    }
    EXPECT_EQ(held, expected);

    const std::vector<std::string> lines = Lines(m_instance + "/Index/2_5/2.idx");
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines[0].starts_with("fsweep-index 1 2 2 ")) << lines[0];
    EXPECT_NE(std::find(lines.begin(), lines.end(), "- " + escapeFileName(data + "/removed.txt")), lines.end());
}

TEST_F(BackupIndexTest, InterruptedPhaseIndexesWhatItTookAndAFailedItemIsNotHeld)
{
    const std::string data = m_tree + "/data";
    for (const char* name : {"a.txt", "b fail.txt", "c.txt", "d.txt"})
        WriteText(data + "/" + name, "x");
    Content({data});
    WriteText(m_instance + "/registry/FileSystemAgent", "sBackupPhaseFailPattern *fail*\n");
    ASSERT_EQ(ScanJob(1, 1).status, 0);
    RunResult stopped = Run(Binary("fsbackup"), {"-vm", "inst", "-j", "1", "-a", "2:5", "-t", "1", "-stopAfter", "2"},
                            false);
    ASSERT_EQ(stopped.status, 0) << stopped.err;
    ASSERT_EQ(Calls("backupPhase").back().value("status", 0), 3);

    // The walk's order decides which two files were taken: the others are owed, and not held.
    std::set<std::string> owed;
    for (const std::string& line : Lines(m_instance + "/JobResults/jobs/1/CommitPending.zvf"))
        if (line.starts_with(data + "/") && line.size() > data.size() + 1)
            owed.insert(line);
    ASSERT_EQ(owed.size(), 2u);
    std::set<std::string> expected, fileLines;
    for (const char* name : {"a.txt", "b fail.txt", "c.txt", "d.txt"})
        if (const std::string path = data + "/" + name; !owed.contains(path))
            expected.insert(std::string(name) == "b fail.txt" ? "! 5 " + path : "f " + path);
    for (const std::string& line : Lines(m_instance + "/Index/2_5/1.idx"))
        if (line.starts_with("! ") || line.starts_with("f "))
            fileLines.insert(line.starts_with("f ") ? "f " + line.substr(line.find(data)) : line);
    EXPECT_EQ(fileLines, expected);

    std::vector<SIndexFailure> failures;
    CFileBackupIndex index(m_instance + "/Index", 2, 5);
    ASSERT_TRUE(index.GetFailedFiles(1, failures).IsSuccess());
    EXPECT_EQ(failures.size(), owed.contains(data + "/b fail.txt") ? 0u : 1u);
    CKxError browsed = index.Browse([&](const SIndexItem& item) {
        EXPECT_NE(item.path, data + "/b fail.txt");
        return CKxError::Success();
    });
    EXPECT_TRUE(browsed.IsSuccess()) << browsed.AsString();
}

}  // namespace
