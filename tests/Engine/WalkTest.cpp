// Walks of real trees, checked against find(1)'s listing of the same tree.
#include "EngineTestSupport.h"

#include "Engine/ContentMapper.h"

#include <sys/mount.h>

using namespace enginetest;

namespace {

// Files, folders and every odd kind of entry and name the walk must carry unchanged.
void MakeOddTree(const std::string& root)
{
    MakeFolder(root + "/docs");
    MakeFolder(root + "/docs/empty");
    MakeFile(root + "/docs/a.txt", 10);
    MakeFile(root + "/docs/line\nbreak");
    MakeFile(root + "/docs/pipe|name", 3);
    MakeFile(root + "/docs/back\\slash");
    MakeFile(root + "/docs/bad-\xff\xfe-utf8");
    MakeFile(root + "/docs/" + std::string(255, 'L'));
    MakeFolder(root + "/docs/sub\ndir");
    MakeFile(root + "/docs/sub\ndir/inner");
    ASSERT_EQ(::symlink("docs", (root + "/link-to-folder").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent/target", (root + "/dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo((root + "/fifo").c_str(), 0644), 0);
}

// A regular tree: `fan` folders per level, `files` files per folder, `depth` levels.
void MakeRegularTree(const std::string& folder, int fan, int files, int depth)
{
    for (int f = 0; f < files; ++f)
        MakeFile(folder + "/f" + std::to_string(f), static_cast<size_t>(f));
    if (depth == 0)
        return;
    for (int d = 0; d < fan; ++d) {
        const std::string sub = folder + "/d" + std::to_string(d);
        MakeFolder(sub);
        MakeRegularTree(sub, fan, files, depth - 1);
    }
}

class WalkTest : public WalkOnScratch {};

// Every worker count reports every entry and odd name exactly as find(1) sees it (links are
// items, never followed), each once, each folder before its contents.
TEST_F(WalkTest, EveryEntryAsFindSeesItInFolderOrderForOneTwoAndFourFolderWorkers)
{
    MakeOddTree(scratch.Path());
    MakeRegularTree(scratch.Path(), 4, 6, 4);  // 341 folders, over 2,000 files
    const std::set<Seen> expected = FindListing(scratch.Path());
    ASSERT_GT(expected.size(), 2000u);
    ASSERT_TRUE(expected.contains({scratch / "link-to-folder", 'l'}) && expected.contains({scratch / "fifo", 'p'}));
    for (int workers : {1, 2, 4}) {
        auto callback = std::make_shared<TestCallback>();
        WalkOptions options;
        options.maxWorkers = workers;
        ASSERT_TRUE(Walk(callback, {scratch.Path()}, options).IsSuccess());
        const auto record = callback->Consumer().Snapshot();
        EXPECT_EQ(std::set<Seen>(record.items.begin(), record.items.end()), expected) << workers << " workers";
        EXPECT_EQ(record.items.size(), expected.size()) << "reported twice, " << workers;
        EXPECT_TRUE(options.failures->Failures().empty());
        EXPECT_EQ(callback->ScannerErrors(), 0);
        EXPECT_EQ(callback->CompletedUnits(), 1);
        EXPECT_EQ(callback->HandlerRequests(), workers) << "one chain per worker";
        std::set<std::string> folders = {scratch.Path()};
        for (const Seen& seen : record.items) {
            EXPECT_TRUE(seen.path == scratch.Path() || folders.count(seen.path.substr(0, seen.path.rfind('/'))))
                << seen.path;
            if (seen.kind == 'd')
                folders.insert(seen.path);
        }
    }
}

// The engine reuses item objects only when no consumer holds them; a content mapper gives every
// item its source path under the mapped root.
TEST_F(WalkTest, ItemsKeptByAConsumerKeepTheirOwnNamesStatusAndSourcePaths)
{
    MakeRegularTree(scratch.Path(), 2, 5, 2);
    callback->Consumer().KeepItems();
    auto mapper = std::make_shared<CContentMapper>();
    mapper->AddMapping(scratch.Path(), "/snapshot-source");
    options.mapper = mapper;
    options.maxWorkers = 2;
    ASSERT_TRUE(Walk(callback, {scratch.Path()}, options).IsSuccess());
    const auto record = callback->Consumer().Snapshot();
    const auto& kept = record.kept;
    const auto& order = record.items;
    ASSERT_EQ(kept.size(), order.size());
    std::set<const CItem*> distinct;
    for (size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(kept[i]->GetLocalFullyQualifiedItemName(), order[i].path);
        EXPECT_EQ(record.sources[i], "/snapshot-source" + order[i].path.substr(scratch.Path().size()));
        distinct.insert(kept[i].get());
        struct stat status {};
        ASSERT_EQ(::lstat(order[i].path.c_str(), &status), 0);
        if (!kept[i]->IsFolder()) {
            EXPECT_EQ(kept[i]->GetFileSize(), static_cast<std::uint64_t>(status.st_size));
        }
        EXPECT_EQ(dynamic_cast<CFindFirstItem&>(*kept[i]).GetInodeNumber(), status.st_ino);
        EXPECT_NE(kept[i]->GetWorkUnitBag(), nullptr);
    }
    EXPECT_EQ(distinct.size(), kept.size());
}

// Overlapping roots are walked once; a file, a link and a missing path as roots.
TEST_F(WalkTest, OverlappingFileLinkAndMissingContentRoots)
{
    MakeFolder(scratch / "tree");
    MakeRegularTree(scratch / "tree", 2, 2, 2);
    ASSERT_TRUE(Walk(callback, {scratch / "tree/d0", scratch / "tree", scratch / "tree/d0/d1", scratch / "tree/"}).IsSuccess());
    EXPECT_EQ(callback->Consumer().Snapshot().items.size(), FindListing(scratch / "tree").size());

    MakeFile(scratch / "single", 5);
    ASSERT_EQ(::symlink("tree", (scratch / "root-link").c_str()), 0);
    auto roots = std::make_shared<TestCallback>();
    ASSERT_TRUE(Walk(roots, {scratch / "single", scratch / "root-link", scratch / "missing"}, options).IsSuccess());
    EXPECT_EQ(roots->Consumer().Items(), (std::set<Seen>{{scratch / "single", 'f'}, {scratch / "root-link", 'l'}}));
    EXPECT_EQ(options.failures->Failures(), (std::map<std::string, int>{{scratch / "missing", ENOENT}}));
}

TEST_F(WalkTest, FiltersExceptionsSystemFiltersAndContentExceptions)
{
    const std::string r = scratch.Path();
    for (const char* folder : {"/tmp", "/tmp/keep", "/tmp/other", "/src", "/src/obj", "/pruned", "/Cache"})
        MakeFolder(r + folder);
    for (const char* file : {"/a.txt", "/b.LOG", "/tmp/x", "/tmp/keep/y", "/tmp/keep/z.bak", "/tmp/other/w",
                             "/src/m.c", "/src/m.o", "/src/obj/n.o", "/src/obj/keep.o", "/pruned/p", "/Cache/c1",
                             "/Cache/important"})
        MakeFile(r + file);
    options.maxWorkers = 2;
    options.filters = {r + "/tmp/", "*.o", "/**/*.log"};
    options.filterExceptions = {r + "/tmp/keep", "keep.o"};
    options.systemFilters = {r + "/Cache"};
    options.systemFilterExceptions = {r + "/Cache/important"};
    options.contentExceptions = {r + "/pruned"};
    ASSERT_TRUE(Walk(callback, {r}, options).IsSuccess());
    const std::set<Seen> expected = {
        {r, 'd'},
        {r + "/a.txt", 'f'},
        {r + "/b.LOG", 'f'},  // case-sensitive by default
        {r + "/tmp/keep", 'd'},
        {r + "/tmp/keep/y", 'f'},
        {r + "/tmp/keep/z.bak", 'f'},
        {r + "/src", 'd'},
        {r + "/src/m.c", 'f'},
        {r + "/src/obj", 'd'},
        {r + "/src/obj/keep.o", 'f'},
        {r + "/Cache/important", 'f'},
    };
    EXPECT_EQ(callback->Consumer().Items(), expected);
}

TEST_F(WalkTest, UnitsPerVolumeRunOnArbiterThreadsWithTheirOwnHandlers)
{
    for (const char* v : {"/vol1", "/vol2", "/vol3"}) {
        MakeFolder(scratch.Path() + v);
        MakeRegularTree(scratch.Path() + v, 2, 3, 2);
    }
    auto manager = std::make_shared<CWorkUnitManager>(1);
    manager->SetMountPoints({"/", scratch / "vol1", scratch / "vol2", scratch / "vol3"});
    ASSERT_TRUE(manager->FinalizeWorkUnits({scratch / "vol1", scratch / "vol2", scratch / "vol3/d1"}, {}, {}, {}, {}, {})
                    .IsSuccess());
    ASSERT_EQ(manager->GetPhysicalMediaVolumeWorkUnitMap().size(), 3u);
    CScanArbiter arbiter(1, 2, callback);
    ASSERT_TRUE(arbiter.Run(manager).IsSuccess());
    std::set<Seen> expected = FindListing(scratch / "vol1");
    for (const Seen& s : FindListing(scratch / "vol2"))
        expected.insert(s);
    for (const Seen& s : FindListing(scratch / "vol3/d1"))
        expected.insert(s);
    EXPECT_EQ(callback->Consumer().Items(), expected);
    EXPECT_EQ(callback->Volumes(), (std::set<std::string>{scratch / "vol1", scratch / "vol2", scratch / "vol3"}));
    EXPECT_EQ(callback->CompletedUnits(), 3);
    for (const auto& [key, unit] : manager->GetWorkUnitMap()) {
        EXPECT_TRUE(unit->GetStatus().IsSuccess());
        EXPECT_GT(unit->GetItemCount(), unit->GetFolderCount());
    }
}

// A mount inside the content: reported, marked, and entered only when mounts are followed.
TEST_F(WalkTest, MountPointsAreReportedAndEnteredOnlyWhenFollowed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a scratch file system needs root";
    MakeFolder(scratch / "mnt");
    MakeFile(scratch / "outside");
    if (::mount("fsweep-test", (scratch / "mnt").c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount tmpfs here: " << std::strerror(errno);
    MakeFile(scratch / "mnt/inside");
    for (bool follow : {false, true}) {
        auto callback = std::make_shared<TestCallback>();
        WalkOptions options;
        options.followMounts = follow;
        CKxError status = Walk(callback, {scratch.Path()}, options);
        EXPECT_TRUE(status.IsSuccess()) << status.AsString();
        EXPECT_EQ(callback->Consumer().Snapshot().mountPoints, std::vector<std::string>{scratch / "mnt"});
        EXPECT_EQ(callback->Consumer().Items().count({scratch / "mnt/inside", 'f'}), follow ? 1u : 0u);
        EXPECT_EQ(callback->Consumer().Items().count({scratch / "mnt", 'd'}), 1u);
    }
    ::umount2((scratch / "mnt").c_str(), MNT_DETACH);
}

}  // namespace

namespace {
// A plan that passes through "a" on the way to "a/x", reads "a/x" and keeps "b"; it records
// what the walk asked.
class ScriptedPlan : public CFolderReadPlan {
public:
    explicit ScriptedPlan(std::string root) : m_root(std::move(root)) {}
    bool ReadsEverything() const override { return false; }
    ERead Enter(std::string_view path) override
    {
        const std::string name(path.substr(m_root.size()));
        if (name == "/a")
            return ERead::PassThrough;
        return name == "/b" ? ERead::Kept : ERead::Read;
    }
    std::vector<std::string> WayDown(std::string_view) override { return {"x"}; }
    bool Pass(std::string_view path, const std::vector<std::string>& wayDown) override
    {
        std::lock_guard lock(m_lock);
        passed.emplace_back(std::string(path.substr(m_root.size())) + ":" + wayDown.at(0));
        return true;
    }
    void OnMultiLink(std::string_view, dev_t, ino_t) override {}

    std::vector<std::string> passed;

private:
    std::string m_root;
    std::mutex m_lock;
};
}  // namespace

// A passed-through folder reports none of its entries and enters only the named sub-folder;
// when that name is no longer a folder, the folder is read as any other.
TEST_F(WalkTest, PassedThroughFoldersEnterOnlyTheWayDownUnlessItIsNoFolder)
{
    struct SRow {
        const char* what;
        bool xIsLink;
        std::vector<std::string> expected;  // below the root, each with its kind letter first
        bool passed;
    };
    const SRow rows[] = {
        // a/x, read, has its entry handed on again; a's other entries (f, y) are kept.
        {"passed", false, {"da", "db", "dc", "da/x", "fa/x/f"}, true},
        {"read", true, {"da", "db", "dc", "la/x", "fa/f", "da/y", "fa/y/g"}, false},
    };
    for (const SRow& row : rows) {
        ScratchFolder tree;
        for (const char* folder : {"/a", "/a/y", "/b", "/c"})
            MakeFolder(tree.Path() + folder);
        MakeFile(tree / "a/f");
        MakeFile(tree / "a/y/g");
        MakeFile(tree / "b/h");
        if (row.xIsLink) {
            ASSERT_EQ(::symlink("y", (tree / "a/x").c_str()), 0);
        } else {
            MakeFolder(tree / "a/x");
            MakeFile(tree / "a/x/f");
        }
        ScriptedPlan plan(tree.Path());
        auto recording = std::make_shared<TestCallback>();
        recording->SetFolderReadPlan(&plan);
        ASSERT_TRUE(Walk(recording, {tree.Path()}, options).IsSuccess());
        std::set<Seen> expected = {{tree.Path(), 'd'}};
        for (const std::string& item : row.expected)
            expected.insert({tree / item.substr(1), item[0]});
        EXPECT_EQ(recording->Consumer().Items(), expected) << row.what;
        EXPECT_EQ(plan.passed, row.passed ? std::vector<std::string>{"/a:x"} : std::vector<std::string>{}) << row.what;
    }
}
