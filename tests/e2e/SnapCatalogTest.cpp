// Catalog jobs of a snapshot: the snapshot is walked, the source paths are recorded.
#include "e2e/ScanJobFixture.h"

#include <sys/mount.h>

#include <functional>
#include <memory>

namespace e2e {
namespace {

constexpr long long kSnapTime = 1700000000;

class SnapCatalogTest : public ScanJobFixture {
protected:
    // Live tree: a.txt (20 bytes), new.txt; its snapshot (a copy elsewhere): a.txt (10 bytes),
    // gone.txt (5 bytes). The snapshot manager's file of job 1 points the content at the copy.
    void SetUp() override
    {
        ScanJobFixture::SetUp();
        m_snapshot = m_root + "/snap-7/tree";
        WriteText(m_tree + "/a.txt", std::string(20, 'a'));
        WriteText(m_tree + "/new.txt", "new");
        WriteText(m_snapshot + "/a.txt", std::string(10, 's'));
        WriteText(m_snapshot + "/gone.txt", "gone!");
        WriteText(SnapshotFile(), R"({"volumes": [{"source": ")" + m_tree + R"(", "snapshot": ")" + m_snapshot +
                                      R"(", "archiveId": 77, "mounted": true}]})");
        Content({m_tree});
    }
    std::string SnapshotFile() const { return m_instance + "/Snapshots/1.json"; }
    std::string InfoFile() const { return Results() + "/reusecollect.zvf"; }
    RunResult Catalog(std::vector<std::string> extra)
    {
        extra.insert(extra.begin(), {"-snap", "-depotnode", "server1"});
        return Scan(extra);
    }

    std::string m_snapshot;
};

TEST_F(SnapCatalogTest, RecordsTheSnapshotUnderItsSourcePaths)
{
    const RunResult run = Catalog({"-snapRefTime", std::to_string(kSnapTime)});
    ASSERT_EQ(run.status, 0) << run.err;
    ExpectPhaseCompleted();

    std::set<std::string> expected = Ancestors(m_tree);
    expected.insert({m_tree + "/", m_tree + "/a.txt", m_tree + "/gone.txt"});
    EXPECT_EQ(Keys(Listed()), expected);
    auto sizes = Calls("setUncompBytesToXfer");
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0].value("bytes", 0), 10 + 5);
    EXPECT_EQ(ReferenceOf(1), kSnapTime);
    EXPECT_EQ(Lines(InfoFile()), (std::vector<std::string>{"nStream 1", "nextCollectFileNum 1", "skipCol 0",
                                                           "Sizeofbackup 3", "collect2archid 1 77"}));
}

// The stand-in snapshot manager's script takes what the catalog then reads: the tree as it was
// when the script ran, named by its own paths, and the script's time as the next reference.
TEST_F(SnapCatalogTest, TheSnapshotScriptTakesWhatTheCatalogReads)
{
    fs::remove(SnapshotFile());
    const RunResult taken = Run(std::string(FSWEEP_SOURCE_DIR) + "/scripts/snapshot.sh", {"inst", "1", "77", m_tree}, false);
    ASSERT_EQ(taken.status, 0) << taken.err;
    // Run as root, the snapshot is a read-only mount: detached whatever the outcome.
    const std::string mounted = m_instance + "/Snapshots/1/0";
    const std::unique_ptr<void, std::function<void(void*)>> detach(
        this, [&mounted](void*) { ::umount2(mounted.c_str(), MNT_DETACH); });
    const size_t at = taken.out.find("-snapRefTime ");
    ASSERT_NE(at, std::string::npos) << taken.out;
    const std::string snapTime = std::to_string(std::atoll(taken.out.c_str() + at + 13));
    WriteText(m_tree + "/later.txt", "after the snapshot");

    ASSERT_EQ(Catalog({"-snapRefTime", snapTime}).status, 0);
    ExpectPhaseCompleted();
    std::set<std::string> expected = Ancestors(m_tree);
    expected.insert({m_tree + "/", m_tree + "/a.txt", m_tree + "/new.txt"});
    EXPECT_EQ(Keys(Listed()), expected);
    EXPECT_EQ(std::to_string(ReferenceOf(1)), snapTime);
}

// A phase that fails leaves no information file for the backup phase to trust, not even an
// earlier job's; once it got as far as the walk, its snapshots are unmounted.
TEST_F(SnapCatalogTest, AFailedPhaseLeavesNoInformationFile)
{
    const struct {
        const char* name;
        std::vector<std::string> extra;
        const char* setting;
        const char* reason;  // in the job manager's failure report ("" any)
        bool walked;
    } cases[] = {
        {"no snapshot time", {}, "", "The Catalog phase require argument --snapRefTime", false},
        {"failing scan", {"-snapRefTime", "1"}, "DEBUG_FAIL_SCAN Y\n", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.walked)
            WriteText(InfoFile(), "nStream 9\n");  // an earlier job's
        Settings(c.setting);
        ForgetJournal();
        ASSERT_EQ(Catalog(c.extra).status, 0);
        const std::string failed = FailedPhase();
        EXPECT_TRUE(!failed.starts_with(kPhaseNotFailed) && failed.find(c.reason) != std::string::npos) << failed;
        EXPECT_FALSE(fs::exists(InfoFile()));
        const auto snapshots = nlohmann::json::parse(Read(SnapshotFile()));
        EXPECT_EQ(snapshots["volumes"][0].value("mounted", true), !c.walked);
    }
}

}  // namespace
}  // namespace e2e
