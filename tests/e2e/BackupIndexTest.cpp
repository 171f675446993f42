// The backup index through the real fsweep and fsbackup binaries: after a full and an incremental
// backup, the index's view is exactly the tree on disk, with the values the backup phase saw,
// and the incremental's job file carries the deletion it backed up (what an interrupted phase and
// an item the phase could not read leave in the index: OwedItemsTest).
#include "ScanJobFixture.h"

#include "Agent/FileBackupIndex.h"
#include "Base/DirChangePathOrder.h"

namespace {

using namespace e2e;

class BackupIndexTest : public ScanJobFixture {};

TEST_F(BackupIndexTest, FullAndIncrementalGiveExactlyTheTreeAndTheDeletion)
{
    MakeRichTree(m_data);
    WriteText(m_data + "/removed.txt", "r");
    Content({m_data});
    Job(1, 1);
    WriteText(m_data + "/nested/a/one.txt", "changed, and longer");
    WriteText(m_data + "/added.txt", "a");
    fs::remove(m_data + "/removed.txt");
    const std::string incremental = Job(2, 2);
    EXPECT_NE(incremental.find("backup index: " + m_instance + "/Index/2_5/2.idx"), std::string::npos) << incremental;

    std::vector<SIndexItem> view;
    CFileBackupIndex index(m_instance + "/Index", 2, 5);
    CKxError browsed = index.Browse([&](const SIndexItem& item) {
        view.push_back(item);
        return CKxError::Success();
    });
    ASSERT_TRUE(browsed.IsSuccess()) << browsed.AsString();

    std::set<std::string> expected = TreeItems(m_data);
    const std::set<std::string> ancestors = Ancestors(m_data);
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
    EXPECT_NE(std::find(lines.begin(), lines.end(), "- " + escapeFileName(m_data + "/removed.txt")), lines.end());
}

}  // namespace
