// The scanner loop on real trees, in this process: further passes for symbolic-link targets
// and long paths, what is never walked twice, whose links are followed, the limit on passes
// (a missing content path is run end to end in the binary tests), and full jobs while a folder
// is swapped for a link. The remembered roots (CWalkedRoots) are checked on their own first.
#include "Scan/ScanJobTestEnv.h"

#include "Engine/FolderWalk.h"
#include "Scan/FileScan.h"
#include "Scan/ScanJobFactory.h"
#include "Scan/ScanJobFileSystem.h"
#include "Scan/WalkedRoots.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <set>
#include <thread>

namespace {

namespace fs = std::filesystem;

// ---- Remembered roots ---------------------------------------------------------------------------

class WalkedRootsTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        m_tree = m_root + "/t";
        fs::create_directories(m_tree + "/data/sub");
        fs::create_directories(m_tree + "/outside/deeper");
        fs::create_directory_symlink(m_tree + "/outside", m_tree + "/alias");
        m_roots.AddContentEntries({m_tree + "/data"});
    }
    // A link of this process's user (the owner of the scratch tree), or of `linkOwner`.
    CWalkedRoots::EVerdict Link(const std::string& target, uid_t linkOwner = ::geteuid())
    {
        std::string resolved;
        uid_t targetOwner = 0;
        return m_roots.CheckSymLinkTarget(target, linkOwner, resolved, targetOwner);
    }

    std::string m_tree;
    CWalkedRoots m_roots;
};

using V = CWalkedRoots::EVerdict;

TEST_F(WalkedRootsTest, LinkTargetsAndMountPathsUnderContentOrWalkedRootsAreNotWalkedAgain)
{
    EXPECT_EQ(Link(m_tree + "/data/sub/"), V::UnderContent);
    EXPECT_EQ(Link(m_tree + "/data"), V::UnderContent);
    EXPECT_EQ(Link(m_tree + "/missing"), V::Missing);
    // Outside the content a link is followed only for root or the target's owner.
    const uid_t other = ::geteuid() + 4242;
    EXPECT_EQ(Link(m_tree + "/data/sub", other), V::UnderContent);  // the content's business anyway
    EXPECT_EQ(Link("/", other), V::ForeignTarget);
    EXPECT_EQ(Link(m_tree + "/alias", other), V::ForeignTarget);
    EXPECT_EQ(Link(m_tree + "/outside", 0), V::New);  // root's link: whoever owns the target

    std::string resolved;
    uid_t owner = 0;
    EXPECT_EQ(m_roots.CheckSymLinkTarget(m_tree + "/alias/deeper/", ::geteuid(), resolved, owner), V::New);
    EXPECT_EQ(resolved, m_tree + "/outside/deeper");  // the real place is what a pass walks
    EXPECT_EQ(owner, ::geteuid());
    m_roots.AddWalkedRoot(m_tree + "/outside");
    EXPECT_EQ(Link(m_tree + "/outside/deeper"), V::AlreadyWalked);
    EXPECT_EQ(Link(m_tree + "/alias"), V::AlreadyWalked);  // the same folder under another name
    EXPECT_EQ(Link(m_tree + "/outsider"), V::Missing);       // a prefix of a name is not a folder above it

    // A walked folder moved away is still known by its device and inode.
    fs::rename(m_tree + "/outside", m_tree + "/moved");
    EXPECT_EQ(Link(m_tree + "/moved"), V::AlreadyWalked);

    // Mount paths are new unless they are a root already.
    EXPECT_EQ(m_roots.CheckMountPath(m_tree + "/data/sub/"), V::New);  // under the content by nature
    EXPECT_EQ(m_roots.CheckMountPath(m_tree + "/data"), V::AlreadyWalked);
    EXPECT_EQ(m_roots.CheckMountPath(m_tree + "/nothing"), V::Missing);
    m_roots.AddWalkedRoot(m_tree + "/data/sub");
    EXPECT_EQ(m_roots.CheckMountPath(m_tree + "/data/sub/"), V::AlreadyWalked);
}

TEST_F(WalkedRootsTest, RootsBelowAndLiteralEntries)
{
    m_roots.AddWalkedRoot(m_tree + "/outside/deeper");
    std::vector<std::string> below = m_roots.RootsBelow(m_tree);
    std::sort(below.begin(), below.end());
    EXPECT_EQ(below, (std::vector<std::string>{m_tree + "/data", m_tree + "/outside/deeper"}));
    EXPECT_TRUE(m_roots.RootsBelow(m_tree + "/data").empty());

    EXPECT_EQ(CWalkedRoots::LiteralContentEntry("/a/plain"), "/a/plain");
    EXPECT_EQ(CWalkedRoots::LiteralContentEntry("/a\\b"), "/a\\b");  // no wildcard: taken as it is
    EXPECT_EQ(CWalkedRoots::LiteralContentEntry("/a/b*c[1]"), "/a/b\\*c\\[1]");
    EXPECT_EQ(CWalkedRoots::LiteralFilterEntry("/a\\b?"), "/a\\\\b\\?");
}

// ---- The loop through the driver ----------------------------------------------------------------

// The real factory; keeps the job it made.
class KeepingFactory : public CScanJobFactory {
public:
    KeepingFactory() : CScanJobFactory("inst") {}
    CScanJobPtr CreateScanJob(EScanJobType type) override
    {
        CScanJobPtr job = CScanJobFactory::CreateScanJob(type);
        m_job = std::dynamic_pointer_cast<CScanJobFileSystem>(job);
        return job;
    }
    std::shared_ptr<CScanJobFileSystem> m_job;
};

class ScannerLoopTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        m_tree = m_root + "/tree";
        fs::create_directories(m_tree + "/data/sub");
        fs::create_directories(m_tree + "/outside/deep");
        WriteFile(m_tree + "/data/sub/a.txt", "a");
        WriteFile(m_tree + "/outside/o.txt", "oo");
        WriteFile(m_tree + "/outside/deep/d.txt", "ddd");
        Content({m_tree + "/data"});
        Setting("nBackupSymLinkData", "1");  // follow symbolic links
    }

    void Content(const std::vector<std::string>& paths) { WriteSubclient({{"content", paths}}); }

    CKxError RunFull()
    {
        m_factory = std::make_shared<KeepingFactory>();
        CFileScan scan(JobArgs({"-f", "1"}));
        return scan.Process(m_factory);
    }

    std::map<std::string, int> Listed() const { return ListedIn(m_instance + "/JobResults/2/5"); }
    std::vector<std::string> Failures() const { return ReadLines(m_instance + "/JobResults/2/5/scan_Failures.zvf"); }

    std::string m_tree;
    std::shared_ptr<KeepingFactory> m_factory;
};

TEST_F(ScannerLoopTest, LinkTargetOutsideTheContentIsWalkedOnceInAPassOfItsOwn)
{
    // One walker lists data/ whole before it enters data/sub/: the link to a file of the
    // outside folder is queued before the links to the folder itself.
    fs::create_symlink(m_tree + "/outside/o.txt", m_tree + "/data/file");
    fs::create_directory_symlink("../../outside", m_tree + "/data/sub/out");
    fs::create_directory_symlink(m_tree + "/outside", m_tree + "/data/sub/again");  // same target twice
    fs::create_directory_symlink("sub", m_tree + "/data/in");                     // inside: walked already
    fs::create_directory_symlink(m_tree + "/data", m_tree + "/outside/back");       // back into the content
    // An earlier job's collect file goes before the walk; its record stays for the next incremental.
    WriteFile(m_instance + "/JobResults/2/5/CollectTot7.zvf", "/stale/item|1\n");
    WriteFile(m_instance + "/JobResults/2/5/DCTot.zvf", "kept\n");
    ASSERT_TRUE(RunFull().IsSuccess());
    ASSERT_TRUE(m_factory->m_job);
    EXPECT_EQ(m_factory->m_job->GetPassCount(), 2u);
    EXPECT_FALSE(m_factory->m_job->isFailJobSet());

    const auto listed = Listed();
    for (const char* path : {"/data/", "/data/sub/", "/data/sub/a.txt", "/data/sub/out", "/data/in", "/data/sub/again", "/data/file",
                             "/outside/", "/outside/o.txt", "/outside/deep/", "/outside/deep/d.txt", "/outside/back"}) {
        const std::string full = m_tree + path;
        auto it = listed.find(full);
        EXPECT_TRUE(it != listed.end() && it->second == 1) << full << " listed " << (it == listed.end() ? 0 : it->second);
    }
    for (const auto& [path, count] : listed)
        EXPECT_EQ(count, 1) << path;
    EXPECT_TRUE(Failures().empty());
    EXPECT_FALSE(fs::exists(m_instance + "/JobResults/2/5/CollectTot7.zvf"));
    EXPECT_TRUE(fs::exists(m_instance + "/JobResults/2/5/DCTot.zvf"));
}

TEST_F(ScannerLoopTest, AUsersLinkToTheRootFolderIsNotFollowedButRootsLinkOutsideIs)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "links of another user need root to make";
    fs::create_directory_symlink("/", m_tree + "/data/everything");
    ASSERT_EQ(::lchown((m_tree + "/data/everything").c_str(), 65534, 65534), 0);
    fs::create_directory_symlink(m_tree + "/outside", m_tree + "/data/shared");
    ASSERT_TRUE(RunFull().IsSuccess());
    EXPECT_EQ(m_factory->m_job->GetPassCount(), 2u);
    const auto listed = Listed();
    EXPECT_EQ(listed.count(m_tree + "/outside/deep/d.txt"), 1u);
    EXPECT_EQ(listed.count(m_tree + "/data/everything"), 1u);  // the link itself is backed up
    EXPECT_EQ(listed.count("/etc/"), 0u);
}

TEST_F(ScannerLoopTest, AFolderSwappedWithALinkToEtcDuringScansNeverLetsEtcIntoTheCollectFiles)
{
    // Links are not followed unless asked: root's link to /etc would be, in a pass of its own.
    Setting("nBackupSymLinkData", "0");
    // The folder holds folders named like some of /etc's: walked through the link, their paths
    // would lead into /etc.
    const std::string data = m_tree + "/data/", x = data + "x", y = data + "y";
    std::set<std::string> allowed = {data, data + "sub/", data + "sub/a.txt", x, x + "/", y, y + "/"};
    fs::create_directory(x);
    std::error_code error;
    // Files between the folders keep the walk busy long enough for swaps to land in it.
    int folders = 0;
    for (const auto& entry : fs::directory_iterator("/etc", error)) {
        if (!entry.is_directory(error) || entry.is_symlink(error) || ++folders > 48)
            continue;
        const std::string name = entry.path().filename().string();
        fs::create_directory(x + "/" + name);
        for (const std::string& folder : {x, y})
            allowed.insert(folder + "/" + name + "/");
        for (int file = 0; file < 20; ++file) {
            const std::string ours = "/" + name + "/ours" + std::to_string(file);
            WriteFile(x + ours, "o");
            allowed.insert({x + ours, y + ours});
        }
    }
    fs::create_directory_symlink("/etc", y);

    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        while (!stop.load())
            ::renameat2(AT_FDCWD, x.c_str(), AT_FDCWD, y.c_str(), RENAME_EXCHANGE);
    });
    for (int scan = 0; scan < 50 && !HasFatalFailure(); ++scan) {
        // Every other scan opens every folder by path, as a walk does once its handles run out.
        CFolderWalk::SetHeldFolderHandleLimit(scan % 2 == 0 ? 256 : 0);
        ASSERT_TRUE(RunFull().IsSuccess());
        EXPECT_EQ(m_factory->m_job->GetPassCount(), 1u);
        for (const auto& [path, count] : Listed()) {
            if (path.starts_with(data))
                EXPECT_TRUE(allowed.count(path)) << "scan " << scan << " listed " << path;
            else
                EXPECT_TRUE(data.starts_with(path)) << "scan " << scan << " listed " << path;  // an ancestor
        }
    }
    stop = true;
    swapper.join();
    CFolderWalk::SetHeldFolderHandleLimit(256);
}

TEST_F(ScannerLoopTest, ChainOfLinksStopsAtMaxScanRetriesAndListsWhatWasNotWalked)
{
    // data/l1 -> o1, o1/l2 -> o2, o2/l3 -> o3: every pass finds a new place.
    for (int i = 1; i <= 3; ++i) {
        fs::create_directories(m_tree + "/o" + std::to_string(i));
        WriteFile(m_tree + "/o" + std::to_string(i) + "/f", "x");
    }
    fs::create_directory_symlink(m_tree + "/o1", m_tree + "/data/l1");
    fs::create_directory_symlink(m_tree + "/o2", m_tree + "/o1/l2");
    fs::create_directory_symlink(m_tree + "/o3", m_tree + "/o2/l3");
    Setting("MaxScanRetries", "2");
    ASSERT_TRUE(RunFull().IsSuccess());  // the job manager was told
    EXPECT_EQ(m_factory->m_job->GetPassCount(), 2u);
    EXPECT_TRUE(m_factory->m_job->isFailJobSet());

    const auto listed = Listed();
    EXPECT_EQ(listed.count(m_tree + "/o1/f"), 1u);
    EXPECT_EQ(listed.count(m_tree + "/o2/f"), 0u);
    EXPECT_EQ(Failures(), (std::vector<std::string>{"folder " + m_tree + "/o2:40"}));  // ELOOP

    EXPECT_TRUE(std::ranges::any_of(
        Calls("event"), [](const auto& record) { return record.value("message", "") == "Scan exceeds max scan retries!"; }));
    auto completes = Calls("complete");
    ASSERT_EQ(completes.size(), 1u);
    EXPECT_EQ(std::pair(completes[0].value("status", 0), completes[0].value("for", 0)), std::pair(2, 2)) << "the job failed";
}

TEST_F(ScannerLoopTest, LongPathsAreWalkedInAPassOfTheirOwnAndListedOnce)
{
    std::string deep = m_tree + "/data";
    for (int i = 0; i < 6; ++i)
        deep += "/" + std::string(180, static_cast<char>('a' + i));
    fs::create_directories(deep + "/inner");
    WriteFile(deep + "/inner/file", "long");
    ASSERT_GT(deep.size(), 1024u);
    ASSERT_TRUE(RunFull().IsSuccess());
    EXPECT_EQ(m_factory->m_job->GetPassCount(), 2u);
    const auto listed = Listed();
    EXPECT_EQ(listed.count(deep + "/inner/file"), 1u);
    for (std::string folder = deep + "/inner"; folder != m_tree + "/data"; folder = fs::path(folder).parent_path()) {
        auto it = listed.find(folder + "/");
        EXPECT_TRUE(it != listed.end() && it->second == 1) << folder.size();
    }
    EXPECT_TRUE(Failures().empty());
}

}  // namespace
