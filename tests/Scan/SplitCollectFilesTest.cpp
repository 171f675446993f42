// The subclient's results folder: the names the backup phase and the next job look for, and the
// clean-up of a real results folder by each kind of job; then the collect files after the walk:
// removal of the ones that list nothing to back up, the
// splitter (where pieces are cut, what the split map says, which resources are added, every item
// still listed exactly once across the pieces), and the extent splitter's expansion of the files
// the extent consumer marked (extent lines, container lines, table pages, counts); the hard-link
// files: what their split deals where, and how the merge numbers and groups the results with the
// split map it finds.
#include "Base/BackgroundRemover.h"
#include "Base/FXFile.h"
#include "Base/ScratchFolderTest.h"
#include "CollectFile/ExtentLine.h"
#include "CollectFile/FileExtentTable.h"
#include "CollectFile/FlatCollectFile.h"
#include "Scan/AdHocFileNameFactory.h"
#include "Scan/ContentRootAncestorConsumer.h"
#include "Scan/Dirchange/FileNameFactorySQLiteDirchange.h"
#include "Scan/HardLink/HardLinkManager.h"
#include "Scan/PostProcessCollectFiles.h"
#include "Scan/PostProcessingOptions.h"
#include "Scan/ScanJobTestEnv.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/Unix/UnixAdHocFileNameFactory.h"
#include "Scan/Unix/UnixFileNameFactory.h"
#include "Scan/Unix/UnixMultiStreamExtentSplitCollectFiles.h"
#include "Scan/Unix/UnixSplitCollectFiles.h"

#include <random>
#include <set>

namespace {

namespace Id = SXScannerConfigurationBagId;
namespace fs = std::filesystem;
constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

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

using JobResultsRealPathTest = ScanJobTestEnv;

// A linked home is replaced by its target, only for paths below it; the answer is kept for the job.
TEST_F(JobResultsRealPathTest, OnlyPathsBelowTheLinkedHomeChange)
{
    CXJob::SetFocusClientName("client1");
    fs::create_directories(m_root + "/real/home/JobResults/1/5");
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
        WriteFile(AppConfigPath("1:5"), R"({ "appType": 29, "client": { "id": 2, "name": "client1", "jobResultsDir": ")" +
                                            c.jobResultsDir + R"(" } })");
        m_settings->Put("Plyborn", "dHOME", c.home);
        CUnixFileNameFactory factory(kFull, "/r");
        EXPECT_EQ(factory.getJobResultsDirRealPath(), c.expected);
        m_settings->Put("Plyborn", "dHOME", "/elsewhere");
        EXPECT_EQ(factory.getJobResultsDirRealPath(), c.expected) << "kept, whatever the settings say later";
    }
}

// ---- Collect files after the walk ----------------------------------------------------------------

class FixedSplitOptions : public CPostProcessingOptions {
public:
    explicit FixedSplitOptions(int pieces) : CPostProcessingOptions("2:5"), m_pieces(pieces) {}
    int GetCollectFileSplitCount() const override { return m_pieces; }

private:
    int m_pieces;
};

// Remembers the per-file limits it worked with and every extent-hook call.
class RecordingSplitter : public CUnixSplitCollectFiles {
public:
    RecordingSplitter(int pieces, std::shared_ptr<CFileNameFactory> names, std::vector<COutputResourcesPtr>& resources,
                      int last, long extentAnswer = kNotSupported)
        : CUnixSplitCollectFiles(std::make_shared<FixedSplitOptions>(pieces), std::move(names), resources, last),
          m_extentAnswer(extentAnswer)
    {
    }
    bool ShouldSplit(std::uint64_t position, std::uint64_t maxData, std::uint64_t linesPerFile, std::uint64_t pieceData,
                     std::uint64_t pieceLines, std::string_view& line, std::uint64_t total,
                     std::uint64_t& itemSize) const override
    {
        maxDataSeen = maxData;
        linesPerFileSeen = linesPerFile;
        return CUnixSplitCollectFiles::ShouldSplit(position, maxData, linesPerFile, pieceData, pieceLines, line, total,
                                                   itemSize);
    }
    CKxError ProcessExtents(std::string_view line, int parent, int child) override
    {
        extentCalls.push_back(std::string(line) + " " + std::to_string(parent) + ">" + std::to_string(child));
        return m_extentAnswer == 0 ? CKxError::Success() : CKxError(m_extentAnswer, "answer");
    }
    mutable std::uint64_t maxDataSeen = 0;
    mutable std::uint64_t linesPerFileSeen = 0;
    std::vector<std::string> extentCalls;

private:
    long m_extentAnswer;
};

class OtherConsumer : public CItemConsumer {
public:
    CKxError Process(const CItemPtr&) override { return CKxError::Success(); }
};

class SplitCollectFilesTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        m_folder = m_root + "/results";
        std::filesystem::create_directories(m_folder);
        m_names = std::make_shared<CUnixFileNameFactory>(1, m_folder);
        m_bag = std::make_shared<CBag>();
        ASSERT_TRUE(m_bag->Write(Id::idMultiStreamExtentBackup, true).IsSuccess());
        EvEvent::SetJobId(7);
    }

    // Resource `number` of volume "vol-<number>" writing to `consumer`.
    COutputResourcesPtr Keep(int number, const CItemConsumerPtr& consumer)
    {
        auto resource = std::make_shared<COutputResources>(number, "/", "vol-" + std::to_string(number));
        resource->SetCollectConsumer(consumer);
        m_resources.push_back(resource);
        return resource;
    }
    // A collect file written as the walk writes it (sizes 0 are folders), left open.
    CFlatCollectFilePtr AddResource(int number, const std::vector<std::uint64_t>& sizes, const std::string& stem = "/d/f",
                                    const std::string& path = {})
    {
        auto file = std::make_shared<CFlatCollectFile>(7, path.empty() ? m_names->WorkUnitCollect(number) : path, "/");
        EXPECT_TRUE(file->Open().IsSuccess());
        for (size_t i = 0; i < sizes.size(); ++i) {
            std::string line;
            CFlatCollectFile::FormatItemLine(stem + std::to_string(i), sizes[i] == 0, sizes[i], line);
            EXPECT_TRUE(file->RawWriteItem(line, sizes[i]).IsSuccess());
        }
        Keep(number, file);
        return file;
    }
    // Collect file `number` as the walk writes it: files of the given sizes, each marked for
    // extents with the extent size beside it unless that is negative.
    CFlatCollectFilePtr AddMarked(int number, const std::vector<std::pair<std::uint64_t, std::int64_t>>& files)
    {
        auto collect = std::make_shared<CFlatCollectFile>(7, m_names->WorkUnitCollect(number), "/");
        EXPECT_TRUE(collect->Open().IsSuccess());
        for (size_t i = 0; i < files.size(); ++i) {
            struct stat status {};
            status.st_mode = S_IFREG | 0644;
            status.st_dev = 9;
            status.st_ino = static_cast<ino_t>(100 * number + i);
            status.st_size = static_cast<off_t>(files[i].first);
            status.st_mtime = 1700000000;
            const std::string path = "/d/" + std::to_string(number) + ":" + std::to_string(i);
            auto item = std::make_shared<CFindFirstItem>(path, path, status);
            if (files[i].second >= 0) {
                EXPECT_TRUE(item->GetBag().Write(CExtentLine::kQualifiedKey, true).IsSuccess());
                EXPECT_TRUE(item->GetBag()
                                .Write(CExtentLine::kExtentSizeKey, static_cast<unsigned long long>(files[i].second))
                                .IsSuccess());
            }
            EXPECT_TRUE(collect->Process(item).IsSuccess());
        }
        Keep(number, collect);
        return collect;
    }
    // The next collect file holding exactly `content` (written raw, as any writer may have left
    // it; raw lines are not counted as items) and a data size of 30.
    CFlatCollectFilePtr AddRaw(const std::string& content)
    {
        const int number = static_cast<int>(m_resources.size()) + 1;
        auto file = std::make_shared<CFlatCollectFile>(7, m_names->WorkUnitCollect(number), "/");
        EXPECT_TRUE(file->Open().IsSuccess());
        EXPECT_TRUE(file->File().Append(content).IsSuccess());
        file->SetDataSize(30);
        Keep(number, file);
        return file;
    }
    // The lines AddResource wrote, as the split leaves them.
    static std::vector<std::string> Expected(const std::vector<std::uint64_t>& sizes, const std::string& stem = "/d/f")
    {
        std::vector<std::string> lines;
        for (size_t i = 0; i < sizes.size(); ++i)
            lines.push_back(escapeFileName(stem + std::to_string(i)) + (sizes[i] == 0 ? "/" : ""));
        return lines;
    }

    CFlatCollectFilePtr Collect(size_t index) const
    {
        return std::dynamic_pointer_cast<CFlatCollectFile>(m_resources[index]->GetCollectConsumer());
    }
    std::vector<std::string> AllLines() const
    {
        std::vector<std::string> lines;
        for (size_t i = 0; i < m_resources.size(); ++i)
            if (CFlatCollectFilePtr collect = Collect(i))
                for (const std::string& line : ReadLines(collect->GetFileName()))
                    lines.push_back(line);
        return lines;
    }
    std::vector<std::string> SplitMap() const { return ReadLines(m_names->SplitCollect(0, 0)); }
    static HLinkGroupElement HardLink(std::uint64_t inode, std::uint64_t size, const std::string& path)
    {
        return HLinkGroupElement{inode, 7, 100, size, path};
    }

    std::string m_folder;
    std::shared_ptr<CUnixFileNameFactory> m_names;
    CBagPtr m_bag;
    std::vector<COutputResourcesPtr> m_resources;
};
using PostProcessCollectFilesTest = SplitCollectFilesTest;
using HardLinkManagerTest = SplitCollectFilesTest;
using ExtentSplitCollectFilesTest = SplitCollectFilesTest;

// ---- Collect files that list nothing ------------------------------------------------------------

TEST_F(PostProcessCollectFilesTest, FilesHoldingOnlyTheRootOrTheContentsAncestorsAreRemovedOthersKept)
{
    const std::vector<std::string> roots = {"/data/projects/x", "/srv/www/"};
    // Content, content roots, removed. Without ancestor lines a file of up to 15 bytes is read;
    // beyond that it is taken to hold content without being read. Only folder lines above a
    // content root are ancestor lines.
    const std::vector<std::tuple<std::string, std::vector<std::string>, bool>> cases = {
        {"", {}, true}, {"/\n", {}, true}, {"\n\n/\n", {}, true}, {"/\n/\n/\n/\n/\n/\n/\n", {}, true},  // 14 bytes
        {"/a|1\n", {}, false}, {"/a/\n", {}, false}, {"/ \n", {}, false},  // an item named " " under the root
        {"/\n/\n/\n/\n/\n/\n/\n/\n", {}, false},                             // 16 bytes
        {"/data/file-with-a-long-name|12345\n", {}, false},
        {"/\n/data/\n/data/projects/\n", roots, true},
        {"/\n/srv/\n/data/\n/data/projects/\n\n", roots, true},
        {"/\n/data/\n/data/projects/\n/data/projects/x/\n", roots, false},  // a root's own line
        {"/\n/data/\n/data/projects/\n/data/projects/x/f|3\n", roots, false},
        {"/\n/data/\n/other/\n", roots, false},
        {"/\n/data\n", roots, false},
        {"/\n/data/|0\n", roots, false},
        {"/\n/a\\x7cb/\n", {"/a|b/c"}, true},  // ancestor lines are escaped
    };
    for (const auto& [content, contentRoots, removed] : cases) {
        SCOPED_TRACE(content);
        m_resources.clear();
        auto file = AddRaw(content);
        CPostProcessCollectFiles post(nullptr, m_resources);
        post.SetContentRoots(contentRoots);
        ASSERT_TRUE(post.Run().IsSuccess());
        EXPECT_EQ(!FXFile::Exists(file->GetFileName()), removed);
        EXPECT_EQ(m_resources[0]->GetCollectConsumer() == nullptr, removed);
        if (removed) {
            EXPECT_EQ(file->GetItemCount(), 0u);
            EXPECT_EQ(file->GetDataSize(), 0u);
        }
        std::filesystem::remove(file->GetFileName());
    }
    EXPECT_EQ(CPostProcessCollectFiles::AncestorLinesOf({"/a|b/c\nd/e", "/a|b/f", "/", "/top//", "relative/x"}),
              (std::unordered_set<std::string>{"/", "/a\\x7cb/", "/a\\x7cb/c\\x0ad/"}));

    // Files that cannot be judged, or hold items the file does not show yet, are kept.
    m_resources.clear();
    auto consumer = std::make_shared<OtherConsumer>();
    Keep(1, consumer);
    m_resources.push_back(std::make_shared<COutputResources>(2, "/", "vol"));  // cleared earlier
    auto vanished = AddRaw("");
    ASSERT_TRUE(vanished->Close().IsSuccess());
    std::filesystem::remove(vanished->GetFileName());
    auto empty = AddRaw("/\n");
    // A line still in the writer's buffer, or an item the writer counted, is content whatever
    // the file's first lines look like.
    auto buffered = AddRaw("");
    ASSERT_TRUE(buffered->RawWriteItem("/data/only-in-the-buffer|4", 4).IsSuccess());
    auto counted = AddRaw("/\n");
    counted->setProcessedItemsCount(1);

    CPostProcessCollectFiles post(nullptr, m_resources);
    ASSERT_TRUE(post.Run().IsSuccess());
    EXPECT_EQ(m_resources[0]->GetCollectConsumer(), consumer);
    EXPECT_EQ(m_resources[1]->GetCollectConsumer(), nullptr);
    EXPECT_EQ(m_resources[2]->GetCollectConsumer(), vanished);  // the check failed: kept
    EXPECT_EQ(vanished->GetDataSize(), 30u);
    EXPECT_EQ(m_resources[3]->GetCollectConsumer(), nullptr);  // the files after it are still judged
    EXPECT_FALSE(FXFile::Exists(empty->GetFileName()));
    EXPECT_EQ(m_resources[4]->GetCollectConsumer(), buffered);
    EXPECT_EQ(ReadLines(buffered->GetFileName()), (std::vector<std::string>{"/data/only-in-the-buffer|4"}));
    EXPECT_EQ(m_resources[5]->GetCollectConsumer(), counted);
    EXPECT_TRUE(FXFile::Exists(counted->GetFileName()));

    bool skip = true;
    EXPECT_TRUE(post.ShouldSkipCollectFile(m_folder + "/none.zvf", skip).IsError());
    EXPECT_FALSE(skip);
}

// ---- The split ----------------------------------------------------------------------------------

TEST_F(SplitCollectFilesTest, TenEqualItemsInFourStreamsAreCutByTheirShareOfData)
{
    const std::vector<std::uint64_t> sizes(10, 100);
    AddResource(1, sizes);
    RecordingSplitter splitter(4, m_names, m_resources, 1, 0);
    ASSERT_TRUE(splitter.Run().IsSuccess());

    EXPECT_EQ(splitter.linesPerFileSeen, 3u);
    EXPECT_EQ(splitter.maxDataSeen, 250u);  // 2 items fit a share, a third would not
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 2 5"}));
    EXPECT_EQ(splitter.CountOfAddedCollectFiles(), 4);
    EXPECT_EQ(splitter.GetSplitMap().at(1), (std::set<int>{2, 3, 4, 5}));
    ASSERT_EQ(m_resources.size(), 5u);
    for (size_t i = 0; i < m_resources.size(); ++i) {
        EXPECT_EQ(m_resources[i]->GetCollectNumber(), static_cast<int>(i + 1));
        EXPECT_EQ(m_resources[i]->GetVolumeId(), "vol-1");
        EXPECT_EQ(Collect(i)->GetFileName(), m_names->WorkUnitCollect(static_cast<int>(i + 1)));
        EXPECT_EQ(Collect(i)->GetItemCount(), 2u);
        EXPECT_EQ(Collect(i)->GetDataSize(), 200u);
    }
    EXPECT_EQ(AllLines(), Expected(sizes));  // sizes gone, order kept
    EXPECT_FALSE(FXFile::Exists(m_names->WorkUnitCollect(1) + ".temp"));
    // The extent hook saw every line with the piece it went to.
    ASSERT_EQ(splitter.extentCalls.size(), 10u);
    EXPECT_EQ(splitter.extentCalls[1], "/d/f1 1>1");
    EXPECT_EQ(splitter.extentCalls[2], "/d/f2 1>2");
    EXPECT_EQ(splitter.extentCalls[9], "/d/f9 1>5");
}

TEST_F(SplitCollectFilesTest, LinesLongerThanTheReadBlockAndManyBlocksAreRewrittenWhole)
{
    // 40,000 items (several read blocks) with, among them, names longer than a block: the
    // rewrite in place must neither cut a line nor overtake what it has not read yet.
    std::vector<std::uint64_t> sizes(40000, 7);
    for (size_t i = 0; i < sizes.size(); i += 997)
        sizes[i] = 0;
    const std::string stem = "/d/" + std::string(300 << 10, 'n') + "/f";
    auto file = AddResource(1, {3, 0, 5}, stem);
    for (size_t i = 0; i < sizes.size(); ++i) {
        std::string line;
        CFlatCollectFile::FormatItemLine("/d/g" + std::to_string(i), sizes[i] == 0, sizes[i], line);
        ASSERT_TRUE(file->RawWriteItem(line, sizes[i]).IsSuccess());
    }
    RecordingSplitter splitter(1, m_names, m_resources, 1);
    ASSERT_TRUE(splitter.Run().IsSuccess());
    std::vector<std::string> expected = Expected({3, 0, 5}, stem);
    const std::vector<std::string> rest = Expected(sizes, "/d/g");
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(AllLines(), expected);
    EXPECT_EQ(Collect(0)->GetItemCount(), sizes.size() + 3);
}

TEST_F(SplitCollectFilesTest, LinesWithoutDataAreCutByCountAndFewItemsShareTheData)
{
    const std::vector<std::uint64_t> folders(10, 0);
    AddResource(1, folders);
    RecordingSplitter byLines(4, m_names, m_resources, 1);
    ASSERT_TRUE(byLines.Run().IsSuccess());
    EXPECT_EQ(byLines.maxDataSeen, 0u);
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 2 4"}));
    ASSERT_EQ(m_resources.size(), 4u);
    EXPECT_EQ(Collect(0)->GetFolderCount(), 3u);
    EXPECT_EQ(Collect(3)->GetFolderCount(), 1u);
    EXPECT_EQ(AllLines(), Expected(folders));
    EXPECT_EQ(byLines.extentCalls.size(), 1u);  // declined once, never asked again

    m_resources.clear();
    AddResource(1, {15, 6});
    RecordingSplitter twoItems(4, m_names, m_resources, 1, 13);
    ASSERT_TRUE(twoItems.Run().IsSuccess());
    EXPECT_EQ(twoItems.maxDataSeen, 11u);  // ceil(21 / min(4, 2)), not ceil(21 / 4)
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 2 2"}));
    EXPECT_EQ(twoItems.extentCalls.size(), 2u);  // answers other than "not supported" are ignored
}

TEST_F(SplitCollectFilesTest, ShouldSplitTakesTheSizeOffAndKeepsItsBoundsAndOneStreamCutsOnlyAtTheByteBound)
{
    RecordingSplitter splitter(1, m_names, m_resources, 0);
    std::uint64_t size = 0;
    for (auto [line, written, expected] : std::vector<std::tuple<std::string_view, std::string, std::uint64_t>>{
             {"/a/b|123", "/a/b", 123},
             {"/a/b", "/a/b", 0},
             {"/x\\x7cy|5", "/x\\x7cy", 5},  // an escaped '|' in the name is not the separator
             {"/big|18446744073709551615", "/big", 18446744073709551615ULL},
         }) {
        EXPECT_FALSE(splitter.ShouldSplit(0, 0, 100, 0, 0, line, 0, size));
        EXPECT_EQ(line, written);
        EXPECT_EQ(size, expected);
    }
    auto ask = [&](std::uint64_t position, std::uint64_t maxData, std::uint64_t pieceData, std::uint64_t pieceLines,
                   std::uint64_t total) {
        std::string_view line = "/abcdefgh|20";
        return splitter.ShouldSplit(position, maxData, 3, pieceData, pieceLines, line, total, size);
    };
    const std::uint64_t bound = CUnixSplitCollectFiles::kMaxCollectFileBytes;
    EXPECT_FALSE(ask(bound - 11, 0, 0, 1, 0));  // 9 bytes and the line's end reach the bound exactly
    EXPECT_TRUE(ask(bound - 10, 0, 0, 1, 0));
    EXPECT_TRUE(ask(bound - 10, 1000, 0, 1, 1000));  // whatever the data share says
    EXPECT_FALSE(ask(0, 100, 80, 5, 1000));           // within the share
    EXPECT_TRUE(ask(0, 100, 90, 1, 1000));            // past it
    EXPECT_FALSE(ask(0, 100, 90, 1, 5));              // past it, but the file's data is 5% of a share
    EXPECT_TRUE(ask(0, 100, 90, 1, 6));
    EXPECT_FALSE(ask(0, 0, 0, 2, 0));  // no data: line count
    EXPECT_TRUE(ask(0, 0, 0, 3, 0));

    // One stream still cuts at the byte bound.
    const std::vector<std::uint64_t> sizes(20, 1);  // lines "/d/fNN" of 5 or 6 bytes
    AddResource(1, sizes);
    RecordingSplitter oneStream(1, m_names, m_resources, 1);
    oneStream.SetMaxCollectFileBytes(24);
    ASSERT_TRUE(oneStream.Run().IsSuccess());
    ASSERT_GT(m_resources.size(), 4u);
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 2 " + std::to_string(m_resources.size())}));
    for (size_t i = 0; i < m_resources.size(); ++i)
        EXPECT_LE(std::filesystem::file_size(Collect(i)->GetFileName()), 24u);
    EXPECT_EQ(AllLines(), Expected(sizes));

    // A one-stream job writes its lines without sizes; the split leaves such a file alone (and
    // takes its own counts as the evidence), unless it outgrows what one piece may hold; either
    // way a name ending in a blank keeps it.
    for (const std::uint64_t bound : {std::uint64_t{1000}, std::uint64_t{24}}) {
        SCOPED_TRACE(bound);
        m_resources.clear();
        auto file = std::make_shared<CFlatCollectFile>(7, m_names->WorkUnitCollect(1), "/");
        file->SetSizesInLines(false);
        ASSERT_TRUE(file->Open().IsSuccess());
        for (int i = 0; i < 20; ++i) {
            auto item = std::make_shared<CItem>();
            item->SetNames("/d/f" + std::to_string(i) + " ", "/d/f" + std::to_string(i) + " ");  // a name ending in a blank
            item->SetFileMode(S_IFREG);
            item->SetFileSize(10);
            ASSERT_TRUE(file->Process(item).IsSuccess());
        }
        ASSERT_TRUE(file->RawWriteLine("/d/").IsSuccess());  // an ancestor's line
        Keep(1, file);
        std::vector<std::string> written;
        for (int i = 0; i < 20; ++i)
            written.push_back("/d/f" + std::to_string(i) + " ");
        written.push_back("/d/");
        RecordingSplitter splitter(1, m_names, m_resources, 1);
        splitter.SetMaxCollectFileBytes(bound);
        ASSERT_TRUE(splitter.Run().IsSuccess());
        EXPECT_EQ(AllLines(), written);
        std::uint64_t data = 0;
        for (size_t i = 0; i < m_resources.size(); ++i)
            data += Collect(i)->GetDataSize();
        EXPECT_EQ(data, 200u);
        if (bound == 1000) {
            EXPECT_EQ(m_resources.size(), 1u);
            ASSERT_EQ(splitter.WrittenFiles().size(), 1u);
            CCollectEvidence::SEntry measured;
            ASSERT_TRUE(CCollectEvidence::Measure(m_names->WorkUnitCollect(1), measured).IsSuccess());
            EXPECT_EQ(std::tie(splitter.WrittenFiles()[0].lines, splitter.WrittenFiles()[0].bytes),
                      std::tie(measured.lines, measured.bytes));
        } else {
            EXPECT_GT(m_resources.size(), 4u);
        }
    }
}

TEST_F(SplitCollectFilesTest, SplitMapOfSeveralResources)
{
    AddResource(1, std::vector<std::uint64_t>(10, 10));
    auto whole = AddResource(2, {});
    ASSERT_TRUE(whole->RawWriteItem("  \t", 0).IsSuccess());  // blank: dropped
    ASSERT_TRUE(whole->RawWriteItem("/other/x|4 \t", 4).IsSuccess());
    AddResource(3, {});
    Keep(4, std::make_shared<OtherConsumer>());
    const std::string deletedPath = m_folder + "/CollectTotDeletedItems.zvf";
    auto deleted = AddResource(5, {7}, "/gone", deletedPath);
    RecordingSplitter splitter(2, m_names, m_resources, 5);
    ASSERT_TRUE(splitter.Run().IsSuccess());

    // 3 has no item, 4 is not a collect file, 5 lists deletions: none has a line.
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 6 6", "2"}));
    ASSERT_EQ(m_resources.size(), 6u);
    EXPECT_EQ(m_resources[5]->GetVolumeId(), "vol-1");
    EXPECT_EQ(Collect(0)->GetItemCount() + Collect(5)->GetItemCount(), 10u);
    EXPECT_EQ(ReadLines(Collect(1)->GetFileName()), (std::vector<std::string>{"/other/x"}));
    EXPECT_EQ(Collect(1)->GetDataSize(), 4u);
    ASSERT_TRUE(deleted->Close().IsSuccess());
    EXPECT_EQ(ReadLines(deletedPath), (std::vector<std::string>{"/gone0|7"}));
}

TEST_F(SplitCollectFilesTest, EveryItemListedOnceWhateverTheSizes)
{
    std::mt19937_64 random(20261205);
    std::vector<std::uint64_t> sizes;
    std::uint64_t total = 0;
    for (int i = 0; i < 3000; ++i) {
        // Folders, many small files and a few very large ones.
        sizes.push_back(random() % 5 == 0 ? 0 : (random() % 50 == 0 ? random() % 1'000'000'000 : 1 + random() % 9999));
        total += sizes.back();
    }
    AddResource(1, sizes, "/d/n\n|");
    AddResource(2, std::vector<std::uint64_t>(7, 3));
    RecordingSplitter splitter(7, m_names, m_resources, 2);
    ASSERT_TRUE(splitter.Run().IsSuccess());

    const std::vector<std::string> all = AllLines();
    std::vector<std::string> wanted = Expected(sizes, "/d/n\n|");
    for (const std::string& line : Expected(std::vector<std::uint64_t>(7, 3)))
        wanted.push_back(line);
    EXPECT_EQ(std::multiset<std::string>(all.begin(), all.end()),
              std::multiset<std::string>(wanted.begin(), wanted.end()));
    std::uint64_t data = 0;
    for (size_t i = 0; i < m_resources.size(); ++i) {
        data += Collect(i)->GetDataSize();
        // A piece holds more than its share only when one item alone is larger.
        if (m_resources[i]->GetVolumeId() == "vol-1" && Collect(i)->GetItemCount() > 1) {
            EXPECT_LE(Collect(i)->GetDataSize(), (total + 6) / 7);
        }
    }
    EXPECT_EQ(data, total + 21);
    const std::vector<std::string> map = SplitMap();
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map[0], "1 3 " + std::to_string(2 + splitter.GetSplitMap().at(1).size()));
    EXPECT_EQ(splitter.CountOfAddedCollectFiles(), static_cast<int>(m_resources.size()) - 2);
    // What the split counted as it wrote is what a read-back finds: the evidence takes its word.
    ASSERT_EQ(splitter.WrittenFiles().size(), m_resources.size());
    for (const CCollectEvidence::SEntry& written : splitter.WrittenFiles()) {
        CCollectEvidence::SEntry measured;
        ASSERT_TRUE(CCollectEvidence::Measure(m_folder + "/" + written.name, measured).IsSuccess());
        EXPECT_EQ(std::tie(written.lines, written.bytes, written.name),
                  std::tie(measured.lines, measured.bytes, measured.name));
    }
}

TEST_F(SplitCollectFilesTest, AncestorLinesAreKeptButNeverCountedNorCut)
{
    auto file = std::make_shared<CFlatCollectFile>(7, m_names->WorkUnitCollect(1), "/");
    ASSERT_TRUE(file->Open().IsSuccess());
    auto ancestors = std::make_shared<CContentRootAncestorConsumer>(7, file);
    ASSERT_TRUE(ancestors->Process(std::make_shared<CItem>("/top/sub", true)).IsSuccess());
    std::vector<std::string> expected{"/", "/top/"};
    for (int i = 0; i < 6; ++i) {
        std::string line;
        const std::string path = "/top/sub/f" + std::to_string(i);
        CFlatCollectFile::FormatItemLine(path, false, 100, line);
        ASSERT_TRUE(file->RawWriteItem(line, 100).IsSuccess());
        expected.push_back(path);
    }
    // The last line of a file may lack its newline: the rewritten front then grows by one byte.
    ASSERT_TRUE(file->RawWriteItem("/top/sub/tail|0", 0).IsSuccess());
    expected.push_back("/top/sub/tail");
    Keep(1, file)->SetAncestorConsumer(ancestors);
    ASSERT_TRUE(file->Close().IsSuccess());
    std::filesystem::resize_file(file->GetFileName(), std::filesystem::file_size(file->GetFileName()) - 1);

    RecordingSplitter splitter(2, m_names, m_resources, 1);
    ASSERT_TRUE(splitter.Run().IsSuccess());
    ASSERT_EQ(m_resources.size(), 2u);
    EXPECT_EQ(Collect(0)->GetItemCount() + Collect(1)->GetItemCount(), 7u);
    EXPECT_EQ(Collect(0)->GetFolderCount(), 0u);
    EXPECT_EQ(Collect(0)->GetItemCount(), 3u);  // cut by the items' data, the ancestors weigh nothing
    EXPECT_EQ(AllLines(), expected);
}

TEST_F(SplitCollectFilesTest, FailuresStopTheRunAndKeepWhatWasDone)
{
    AddResource(1, {10, 10, 10, 10});
    auto second = AddResource(2, {10, 10});
    ASSERT_TRUE(second->Close().IsSuccess());
    std::filesystem::remove(second->GetFileName());
    RecordingSplitter splitter(2, m_names, m_resources, 2);
    CKxError result = splitter.Run();
    ASSERT_TRUE(result.IsError());
    EXPECT_NE(result.AsString().find("Failed open input file"), std::string::npos);
    EXPECT_EQ(SplitMap(), (std::vector<std::string>{"1 3 3"}));  // the file before it stays split
    const auto events = Events(0x11000027u);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back()["args"][0], second->GetFileName());

    auto elsewhere = std::make_shared<CUnixFileNameFactory>(1, m_folder + "/missing");
    RecordingSplitter noMap(2, elsewhere, m_resources, 3);
    result = noMap.Run();
    EXPECT_EQ(result.Code(), ENOENT);
    EXPECT_NE(result.Message().find("Failed open split_config file"), std::string::npos);

    RecordingSplitter noPieces(0, elsewhere, m_resources, 3);  // nothing asked: nothing done
    EXPECT_TRUE(noPieces.Run().IsSuccess());
}

// ---- Hard-link files -----------------------------------------------------------------------------

// The merge numbers the hard-link files after the highest number in use and lists each group's
// hard-link files before its pieces; leftovers of an earlier job do not survive the first insertion.
TEST_F(HardLinkManagerTest, MergeGroupsWithTheSplitMapSplitDealsGroupsByDataAndLinesRoundTrip)
{
    for (const auto& [name, text] : {std::pair{"HCollectTot9.tmp", "stale"}, {"Merged_split_config", "stale"},
                                     {"split_config", "1\n2 5 6\n"}})
        WriteFile(m_folder + "/" + name, text);
    HardLinkManager manager(m_names, true);
    ASSERT_TRUE(manager.InsertEntryInHCollectFile(2, HardLink(10, 4, "/v2/a")).IsSuccess());
    ASSERT_TRUE(manager.InsertEntryInHCollectFile(2, HardLink(10, 4, "/v2/b")).IsSuccess());
    ASSERT_TRUE(manager.InsertEntryInHCollectFile(2, HardLink(11, 4, std::string(HardLinkManager::kPhonyFolder) + "x"))
                    .IsSuccess());
    EXPECT_FALSE(std::filesystem::exists(m_folder + "/HCollectTot9.tmp"));
    EXPECT_EQ(manager.InsertedCount(), 2u);

    ASSERT_TRUE(manager.SplitHCollectFile(1).IsSuccess());
    EXPECT_EQ(ReadFile(m_folder + "/HCollect_split_config"), "2 1 \n");
    EXPECT_FALSE(std::filesystem::exists(m_folder + "/HCollectTot2.zvf"));
    for (int n = 1; n <= 6; ++n)
        Keep(n, std::make_shared<CFlatCollectFile>(1, m_names->WorkUnitCollect(n)));
    int last = 6;
    std::vector<CCollectEvidence::SEntry> written;
    ASSERT_TRUE(manager.MergeSplitFiles(last, m_resources, written).IsSuccess());
    EXPECT_EQ(last, 7);
    EXPECT_EQ(ReadFile(m_folder + "/split_config"), "1\n7,2,5,6\n");
    EXPECT_EQ(ReadFile(m_folder + "/split_config.orig"), "1\n2 5 6\n");
    EXPECT_EQ(ReadFile(m_folder + "/Merged_split_config"), "1 \nH7 2 5 6 \n");
    ASSERT_EQ(m_resources.size(), 7u);
    EXPECT_EQ(m_resources[6]->GetVolumeId(), "vol-2");
    auto merged = Collect(6);
    EXPECT_EQ(merged->GetItemCount(), 2u);
    EXPECT_EQ(merged->GetDataSize(), 4u);  // the file's data once
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].lines, 3u);
    EXPECT_EQ(written[0].name, "CollectTot7.zvf");
    EXPECT_EQ(ReadFile(m_names->WorkUnitCollect(7)), "# /\n# 10 7 100 4 /v2/a\n# 10 7 100 4 /v2/b\n");

    // With a split count the groups are dealt by data (a group's data once, a group never divided);
    // without the put-all flag only a group's first name is written.
    // Put all, split count, the map, the lines of each temporary file. Data 400 over four or two:
    // shares of 100 or 200, each group 100.
    for (const auto& [putAll, splitCount, expectedMap, linesPerFile] :
         std::vector<std::tuple<bool, int, std::string, std::vector<std::uint64_t>>>{
             {true, 1, "1 1 \n", {8}}, {false, 1, "1 1 \n", {4}}, {true, 4, "1 1 2 3 4 \n", {2, 2, 2, 2}},
             {false, 2, "1 1 2 \n", {2, 2}}}) {
        SCOPED_TRACE(testing::Message() << "putAll " << putAll << " split " << splitCount);
        std::filesystem::remove_all(m_folder);
        std::filesystem::create_directories(m_folder);
        HardLinkManager manager(m_names, putAll);
        for (std::uint64_t inode = 1; inode <= 4; ++inode)
            for (const char* name : {"/x", "/y"})
                ASSERT_TRUE(manager.InsertEntryInHCollectFile(1, HardLink(inode, 100, "/d" + std::to_string(inode) + name))
                                .IsSuccess());
        ASSERT_TRUE(manager.SplitHCollectFile(splitCount).IsSuccess());
        EXPECT_EQ(ReadFile(m_folder + "/HCollect_split_config"), expectedMap);
        EXPECT_EQ(manager.GetTotalSize(), 400u);
        for (size_t t = 0; t < linesPerFile.size(); ++t) {
            HLinkGroups groups;
            ASSERT_TRUE(HCollectFile::ReadGroups(manager.HCollectPath(static_cast<int>(t + 1), ".tmp"), groups)
                            .IsSuccess());
            std::uint64_t lines = 0;
            for (const auto& [key, elements] : groups)
                lines += elements.size();
            EXPECT_EQ(lines, linesPerFile[t]) << "temporary file " << t + 1;
        }
    }

    // Hard-link lines round-trip any name; a damaged line fails the read with its place.
    const HLinkGroupElement odd{~0ULL, 1ULL << 40, -5, 1ULL << 50, "/a b/new\nline|pipe\\\xff\xfe"};
    std::string line;
    HCollectFile::FormatLine(odd, line);
    ASSERT_EQ(line.find('\n'), line.size() - 1);
    line.pop_back();
    HLinkGroupElement back;
    ASSERT_TRUE(HCollectFile::ParseLine(line, back).IsSuccess());
    EXPECT_EQ(back, odd);
    for (const std::string bad : {"# 1 2 3 /no-size", "# x 2 3 4 /p", "# 1 2 3 4 relative", "# 1 2 3 4 /raw\x01"}) {
        WriteFile(m_folder + "/H", "# /\n" + line + "\n" + bad + "\n");
        HLinkGroups groups;
        CKxError read = HCollectFile::ReadGroups(m_folder + "/H", groups);
        EXPECT_TRUE(read.IsError()) << bad;
        EXPECT_NE(read.AsString().find("Line 3"), std::string::npos) << read.AsString();
    }
}

// ---- Extents ------------------------------------------------------------------------------------

TEST_F(ExtentSplitCollectFilesTest, ExpansionCutsEachMarkedFileIntoExtentsAndAContainer)
{
    AddMarked(1, {{100, -1},              // an ordinary file
                    {25 * kGiB, 10 * kGiB},  // 10, 10, 5
                    {20 * kGiB, 10 * kGiB},  // an exact multiple: no empty extent
                    {0, 10 * kGiB},          // empty: a container and no extent
                    {9 * kMiB, 0},           // extent size 0 stands for 4 MiB
                    {600 * kMiB, kMiB}});    // 600 extents over three table pages
    CFlatCollectFilePtr untouched = AddMarked(2, {{5, -1}, {6, -1}});
    EXPECT_EQ(Collect(0)->GetExtentQualifiedCount(), 5u);
    CUnixMultiStreamExtentSplitCollectFiles splitter(std::make_shared<CPostProcessingOptions>("2:5"), m_names,
                                                     m_resources, 2, m_bag, 7);
    ASSERT_TRUE(splitter.Run2().IsSuccess());

    // Per file: the lengths of its extents in index order, and its container.
    std::map<std::string, std::vector<std::uint64_t>> extents;
    std::uint64_t extentData = 0;
    for (const std::string& text : ReadLines(m_names->WorkUnitCollect(1))) {
        CExtentLine line;
        if (!text.starts_with(CExtentLine::kExtentMarker)) {
            EXPECT_EQ(text, "/d/1:0|100");
            continue;
        }
        ASSERT_TRUE(CExtentLine::Parse(text, line).IsSuccess()) << text;
        EXPECT_EQ(line.index, extents[line.path].size()) << text;
        extents[line.path].push_back(line.size);
        extentData += line.size;
    }
    EXPECT_EQ(extents["/d/1:1"], (std::vector<std::uint64_t>{10 * kGiB, 10 * kGiB, 5 * kGiB}));
    EXPECT_EQ(extents["/d/1:2"], (std::vector<std::uint64_t>{10 * kGiB, 10 * kGiB}));
    EXPECT_EQ(extents.count("/d/1:3"), 0u);
    EXPECT_EQ(extents["/d/1:4"], (std::vector<std::uint64_t>{4 * kMiB, 4 * kMiB, kMiB}));
    EXPECT_EQ(extents["/d/1:5"].size(), 600u);

    // The counts describe the rewritten file; the container file is the next collect number.
    EXPECT_EQ(Collect(0)->GetItemCount(), 1u + 3 + 2 + 3 + 600);
    EXPECT_EQ(Collect(0)->GetDataSize(), 100 + extentData);
    EXPECT_EQ(Collect(1), untouched) << "a file without marked lines is not rewritten";
    ASSERT_EQ(m_resources.size(), 3u);
    EXPECT_EQ(m_resources[2]->GetCollectNumber(), 3);
    EXPECT_EQ(m_bag->Get<int>(Id::idContainerCollectId, 0), 3);
    const std::vector<std::string> containers = ReadLines(m_names->WorkUnitCollect(3));
    ASSERT_EQ(containers.size(), 5u);
    EXPECT_EQ(containers[3], "%CONTAINER%/d/1:4:9:104:1700000000:9437184:4194304");
    EXPECT_EQ(m_bag->Get<unsigned long long>(Id::idTotalExtentCount, 0), 608u);
    EXPECT_EQ(m_bag->Get<unsigned long long>(Id::idTotalContainerCount, 0), 5u);

    CFileExtentTable table;
    ASSERT_TRUE(table.Initialize(m_folder, "FileExtentTable_scan_7").IsSuccess());
    std::vector<FileExtentRecord> pages;
    ASSERT_TRUE(table.SearchRecords("/d/1:5", pages).IsSuccess());
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].extentBitmap.count() + pages[1].extentBitmap.count() + pages[2].extentBitmap.count(), 600u);
    EXPECT_EQ(pages[2].extentBitmap.count(), 600u - 512);
    EXPECT_EQ(pages[2].pageId, 2u);
    ASSERT_TRUE(table.SearchRecords("/d/1:3", pages).IsSuccess());
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].extentBitmap.count(), 0u);
}

TEST_F(ExtentSplitCollectFilesTest, AMalformedLineStopsTheRunAndLeavesTheFileAsItWas)
{
    CFlatCollectFilePtr collect = AddMarked(1, {{25 * kGiB, 10 * kGiB}});
    ASSERT_TRUE(collect->RawWriteLine("%EXTENTQ%/d/broken:1:2|5").IsSuccess());
    ASSERT_TRUE(collect->Flush().IsSuccess());
    const std::vector<std::string> before = ReadLines(m_names->WorkUnitCollect(1));
    CUnixMultiStreamExtentSplitCollectFiles splitter(std::make_shared<CPostProcessingOptions>("2:5"), m_names,
                                                     m_resources, 1, m_bag, 7);
    const CKxError error = splitter.Run();
    EXPECT_EQ(error.Code(), KxCode::InvalidData);
    EXPECT_NE(error.AsString().find("Line 2 of collect file [" + m_names->WorkUnitCollect(1)), std::string::npos)
        << error.AsString();
    EXPECT_EQ(ReadLines(m_names->WorkUnitCollect(1)), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_folder), {}), 1) << "container or temporary left";
    EXPECT_EQ(m_resources.size(), 1u);
    EXPECT_FALSE(m_bag->Has(Id::idContainerCollectId));
}

}  // namespace
