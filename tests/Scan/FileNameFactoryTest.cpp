// Results-folder names and the clean-up of a real results folder.
#include "Scan/ScanJobTestEnv.h"

#include "Base/BackgroundRemover.h"
#include "Base/ScratchFolderTest.h"
#include "Scan/AdHocFileNameFactory.h"
#include "Scan/Dirchange/FileNameFactorySQLiteDirchange.h"
#include "Scan/Unix/UnixAdHocFileNameFactory.h"
#include "Scan/Unix/UnixFileNameFactory.h"

#include <set>

namespace fs = std::filesystem;

namespace {

constexpr unsigned kFull = 1;
constexpr unsigned kIncremental = 2;
constexpr unsigned kDifferential = 4;
constexpr unsigned kSyntheticFull = 8;

// The names the backup phase and the next job look for (the everyday ones are also proven by the
// binaries' runs): a trailing slash changes nothing, every type but a full takes the incremental
// names, the ad hoc and database variants change only their own.
TEST(FileNameFactory, NamesOfEachJobKind)
{
    CUnixFileNameFactory full(kFull, "/r"), incr(kIncremental, "/r/");
    CFileNameFactory base(kFull, "/r");
    CFileNameFactorySQLiteDirchange sqliteFull(kFull, "/r"), sqliteDiff(kDifferential, "/r");
    for (const auto& [name, expected] : std::vector<std::pair<std::string, std::string>>{
             {full.ConsolidatedDirChange(2), "/r/DCInc.zvf"}, {incr.ConsolidatedDirChange(1), "/r/DCTot.zvf"},
             {full.WorkUnitDirChange(7), "/r/DirChange_0007.zvf"}, {full.WorkUnitDirChange(12345), "/r/DirChange_12345.zvf"},
             {full.WorkUnitDirChangeTemp(0), "/r/DirChange_0000_temp.zvf"}, {incr.SplitCollect(3, 9), "/r/split_config"},
             {incr.WorkUnitCollectNamePattern(1), "CollectTot*.zvf"}, {full.WorkUnitCollectNamePattern(4), "CollectInc*.zvf"},
             {full.DeletedItemsCollect(), "/r/CollectTotDeletedItems.zvf"},
             {incr.DeletedItemsCollect(), "/r/CollectIncDeletedItems.zvf"},
             {CUnixFileNameFactory(kDifferential, "/r").DeletedItemsCollect(), "/r/CollectIncDeletedItems.zvf"},
             {base.WorkUnitCollect(2), "/r/NumColTot2.zvf"}, {base.ConsolidatedDirChange(0), "/r/DCTot.zvf"},
             {CFileNameFactory(kIncremental, "/r").WorkUnitCollectNamePattern(), "NumColInc*.zvf"},
             {sqliteFull.ConsolidatedDirChange(0), "/r/DirChangeFull.db"},
             {sqliteFull.ConsolidatedDirChange(2), "/r/DirChangeIncremental.db"},
             {sqliteDiff.ConsolidatedDirChangeTemp(), "/r/DirChangePending.db"},
             {sqliteDiff.WorkUnitCollect(1), "/r/CollectInc1.zvf"}})
        EXPECT_EQ(name, expected);
    for (unsigned type : {0u, kIncremental, kDifferential, kSyntheticFull, 99u}) {
        CUnixFileNameFactory factory(type, "/r");
        EXPECT_EQ(factory.ConsolidatedDirChange(0), "/r/DCInc.zvf") << type;
        EXPECT_EQ(factory.WorkUnitCollect(1), "/r/CollectInc1.zvf") << type;
        EXPECT_FALSE(factory.IsFullBackup());
    }
    for (unsigned type : {kFull, kIncremental}) {
        CUnixAdHocFileNameFactory unixAdHoc(type, "/r");
        CAdHocFileNameFactory adHoc(type, "/r");
        for (CFileNameFactory* f : {static_cast<CFileNameFactory*>(&unixAdHoc), static_cast<CFileNameFactory*>(&adHoc)}) {
            EXPECT_EQ(f->ConsolidatedDirChange(0), "/r/DCOD.zvf");
            EXPECT_EQ(f->ConsolidatedDirChangeTemp(), "/r/DCODTmp.zvf");
            EXPECT_EQ(f->WorkUnitCollect(4), "/r/CollectOD4.zvf");
            EXPECT_EQ(f->FailedItemsCollect(), "/r/FailuresOD.zvf");
        }
    }
}

// A results folder as an earlier full, incremental and ad hoc job leave it.
const std::vector<std::string> kLeftOver = {
    "DCTot.zvf", "DCInc.zvf", "DCTmp.zvf", "DCOD.zvf", "DCODTmp.zvf",
    "CollectTot.zvf", "CollectInc.zvf", "FilterTot.zvf", "FilterInc.zvf", "FilterOD.zvf",
    "CollectTot1.zvf", "CollectTot12.zvf", "HCollectTot1.zvf", "CollectInc1.zvf", "HCollectInc1.zvf",
    "CollectOD1.zvf", "HCollectOD1.zvf", "split_config", "split_config.orig", "HCollect_split_config",
    "hardLinks.dat", "hardLinks.idx", "CIdxDone.zvf", "CIdxDone.tmp", "ContentMap.zvf", "SCFilesCol.zvf",
    "OnlineCIUNCPaths.zvf", "vol1_SiloVolCommitOngoing.zvf", "DCFilesDB-3", "GpfsMmPolicy.1",
    "GpfsMmApplyPolicy.1", "GpfsCollect1", "ZvIPhotoCollect1", "ZvIPhotoDBTmp.db", "ZvIPhotoDBTot.db",
    "FailuresOD.zvf", "restartMapOD", "FileExtent1.zvf", "FileExtentBackupInfo.zvf.1", "LargeFailedFiles.zvf",
    "Failures.zvf", "DirChange_0001.zvf", "DirChange_0001_temp.zvf", "NumColTot1.zvf", "NumColInc1.zvf",
    "cjfile.tmp", "moniker.sent", "NutanixNativeSnap1", "DirChangeFull.db", "DirChangePending.db",
    "JobResultsState.zvf",
};

class FileNameFactoryCleanupTest : public ScratchFolderTest {
protected:
    void SetUp() override
    {
        ScratchFolderTest::SetUp();
        for (const std::string& name : kLeftOver)
            std::ofstream(m_dir + "/" + name) << "x";
        fs::create_directory(m_dir + "/hardLinksFolder.d");  // a folder matching a pattern
    }

    std::set<std::string> Remaining() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_dir))
            names.insert(entry.path().filename().string());
        return names;
    }
    std::set<std::string> Removed() const
    {
        std::set<std::string> remaining = Remaining(), removed;
        for (const std::string& name : kLeftOver)
            if (!remaining.count(name))
                removed.insert(name);
        return removed;
    }
};

using Make = std::function<std::unique_ptr<CFileNameFactory>(const std::string&)>;
template <typename Factory>
Make Of(unsigned type)
{
    return [type](const std::string& folder) { return std::make_unique<Factory>(type, folder); };
}

// What each kind of job removes of the left-overs: exactly `removed` when given, otherwise
// `count` names including `gone`; `kept` always stays.
TEST_F(FileNameFactoryCleanupTest, EachJobKindRemovesItsOwnFamily)
{
    struct Case {
        const char* name;
        Make factory;
        std::set<std::string> removed;
        size_t count;
        std::vector<const char*> gone, kept;
    };
    const std::vector<Case> cases = {
        // An incremental keeps the full's collect files and every record.
        {"incremental", Of<CUnixFileNameFactory>(kIncremental),
         {"CollectTot.zvf", "CollectInc.zvf", "FilterTot.zvf", "FilterInc.zvf", "CollectInc1.zvf", "HCollectInc1.zvf",
          "split_config", "split_config.orig", "HCollect_split_config", "hardLinks.dat", "hardLinks.idx",
          "CIdxDone.zvf", "ContentMap.zvf", "SCFilesCol.zvf", "OnlineCIUNCPaths.zvf", "vol1_SiloVolCommitOngoing.zvf",
          "DCFilesDB-3", "GpfsMmPolicy.1", "GpfsMmApplyPolicy.1", "GpfsCollect1", "ZvIPhotoCollect1",
          "ZvIPhotoDBTmp.db", "CollectOD1.zvf", "DCOD.zvf", "FailuresOD.zvf", "restartMapOD", "FileExtent1.zvf",
          "FileExtentBackupInfo.zvf.1", "LargeFailedFiles.zvf"},
         0, {},
         {"DCTot.zvf", "DCInc.zvf", "CollectTot1.zvf", "CollectTot12.zvf", "HCollectTot1.zvf", "DirChangeFull.db",
          "hardLinksFolder.d"}},
        // A full removes both collect families: the incremental's list and three numbered files more.
        {"full", Of<CUnixFileNameFactory>(kFull), {}, 32,
         {"CollectTot1.zvf", "CollectTot12.zvf", "HCollectTot1.zvf", "CollectInc1.zvf", "HCollectInc1.zvf",
          "CollectTot.zvf"},
         {"DCTot.zvf", "DCInc.zvf"}},
        {"sqlite", Of<CFileNameFactorySQLiteDirchange>(kIncremental), {}, 29, {},
         {"DirChangeFull.db", "DirChangePending.db"}},
        {"ad hoc", Of<CUnixAdHocFileNameFactory>(kIncremental),
         {"CollectOD1.zvf", "HCollectOD1.zvf", "FilterOD.zvf", "split_config", "HCollect_split_config", "hardLinks.dat",
          "hardLinks.idx", "split_config.orig"},
         0, {}, {}},
        // The base ad hoc factory also removes the indexing markers.
        {"base ad hoc", Of<CAdHocFileNameFactory>(kFull), {}, 10,
         {"CIdxDone.zvf", "CIdxDone.tmp", "CollectOD1.zvf"}, {"CollectInc1.zvf", "DCOD.zvf"}},
        {"base", Of<CFileNameFactory>(kIncremental),
         {"DirChange_0001.zvf", "DirChange_0001_temp.zvf", "NumColInc1.zvf", "DCTmp.zvf", "FilterTot.zvf", "cjfile.tmp",
          "split_config", "CollectTot.zvf", "CollectInc.zvf", "FilterInc.zvf", "CIdxDone.zvf", "ContentMap.zvf",
          "SCFilesCol.zvf", "OnlineCIUNCPaths.zvf", "vol1_SiloVolCommitOngoing.zvf", "moniker.sent",
          "NutanixNativeSnap1"},
         0, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolderTest::TearDown();  // a fresh folder of left-overs for each kind
        SetUp();
        c.factory(m_dir)->DeleteSubclientFiles();
        const std::set<std::string> removed = Removed(), remaining = Remaining();
        if (!c.removed.empty()) {
            EXPECT_EQ(removed, c.removed);
        }
        EXPECT_EQ(removed.size(), c.removed.empty() ? c.count : c.removed.size());
        for (const char* gone : c.gone)
            EXPECT_TRUE(removed.count(gone)) << gone;
        for (const char* kept : c.kept)
            EXPECT_TRUE(remaining.count(kept)) << kept;
    }
}

TEST_F(FileNameFactoryCleanupTest, DeletedItemsListsGoWithTheirCollectFamilyLargeFilesAtOnceAndHiddenLeftoversAreSwept)
{
    // Named after the collect files, so their clean-up and the backup phase's reading take them.
    for (const char* name : {"CollectIncDeletedItems.zvf", "CollectTotDeletedItems.zvf"})
        std::ofstream(m_dir + "/" + name) << "??d/x";
    CUnixFileNameFactory(kIncremental, m_dir).DeleteSubclientFiles();
    EXPECT_FALSE(Remaining().count("CollectIncDeletedItems.zvf"));
    EXPECT_TRUE(Remaining().count("CollectTotDeletedItems.zvf")) << "the full's list stays with the full's files";
    CUnixFileNameFactory(kFull, m_dir).DeleteSubclientFiles();
    EXPECT_FALSE(Remaining().count("CollectTotDeletedItems.zvf"));

    // A large file's name goes at once (its storage is freed in the background), and what a job
    // killed before that finished left under a hidden name goes with the next job of any kind.
    const auto make = [&](const std::string& name) {
        std::ofstream(m_dir + "/" + name) << "x";
        fs::resize_file(m_dir + "/" + name, CBackgroundRemover::kBackgroundBytes);
    };
    const std::vector<std::pair<Make, std::string>> kinds{
        {Of<CUnixFileNameFactory>(kIncremental), "CollectInc1.zvf"},
        {Of<CUnixAdHocFileNameFactory>(kIncremental), "CollectOD1.zvf"},
        {Of<CFileNameFactory>(kFull), "CollectTot.zvf"}};
    for (const auto& [factory, large] : kinds) {
        SCOPED_TRACE(large);
        make(large);
        make(".DCTmp.zvf.removing-4242-2");
        std::ofstream(m_dir + "/.CollectInc2.zvf.removing-4242-1") << "x";
        factory(m_dir)->DeleteSubclientFiles();
        EXPECT_FALSE(Remaining().count(large));
        ASSERT_TRUE(CBackgroundRemover::Instance().Drain().IsSuccess());
        for (const std::string& name : Remaining())
            EXPECT_NE(name.front(), '.') << name << " left behind";
    }
}

class JobResultsRealPathTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        CXJob::SetFocusClientName("client1");
        fs::create_directories(m_root + "/real/home/JobResults/1/5");
    }

    void Configure(const std::string& jobResultsDir, const std::string& home)
    {
        WriteFile(AppConfigPath("1:5"), R"({ "appType": 29, "client": { "id": 2, "name": "client1", "jobResultsDir": ")" +
                                            jobResultsDir + R"(" } })");
        m_settings->Put("Plyborn", "dHOME", home);
    }
};

// A linked home is replaced by its target, only for paths below it; the answer is kept for the job.
TEST_F(JobResultsRealPathTest, OnlyPathsBelowTheLinkedHomeChange)
{
    struct Case {
        const char* name;
        std::string linkTarget;  // of <root>/home, relative ones from the link's folder; "" for none
        std::string jobResultsDir, home, expected;
    };
    const std::string& r = m_root;
    const std::vector<Case> cases = {
        {"absolute link", r + "/real/home", r + "/home/JobResults", r + "/home/", r + "/real/home/JobResults"},
        {"relative link", "real/home", r + "/home/JobResults", r + "/home", r + "/real/home/JobResults"},
        // Shares the home's text as a prefix but is not below it.
        {"prefix only", "real/home", r + "/homeX/JobResults", r + "/home", r + "/homeX/JobResults"},
        {"real home", "", r + "/real/home/JobResults", r + "/real/home", r + "/real/home/JobResults"},
        // Without a home setting the client's folder is used unchanged.
        {"no home", "real/home", r + "/home/JobResults", "", r + "/home/JobResults"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(m_root + "/home");
        if (!c.linkTarget.empty())
            fs::create_directory_symlink(c.linkTarget, m_root + "/home");
        Configure(c.jobResultsDir, c.home);
        CUnixFileNameFactory factory(kFull, "/r");
        EXPECT_EQ(factory.getJobResultsDirRealPath(), c.expected);
        m_settings->Put("Plyborn", "dHOME", "/elsewhere");
        EXPECT_EQ(factory.getJobResultsDirRealPath(), c.expected) << "kept, whatever the settings say later";
    }
}

}  // namespace
