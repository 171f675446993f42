// The directory-change record on the scan side, below a whole job: what the output stages
// record from many threads, the restart checks, the errors of a record that cannot be written,
// and the comparison after the walk on a small real tree with a hand-made previous record:
// one deletion line per deleted file or folder, nothing below a deleted folder, nothing for
// what this job could not read, late-found items added once, full-only items kept.
#include "Scan/ScanJobTestEnv.h"

#include "CollectFile/PathCacheFlatFileIndex.h"
#include "Engine/Item.h"
#include "Scan/DeletedItemCallback.h"
#include "Scan/Dirchange/DirChangeItemFormatter.h"
#include "Scan/Dirchange/DirChangeItemInfoImpl.h"
#include "Scan/Dirchange/DirChangeItemInfoV2.h"
#include "Scan/Dirchange/DirChangeItemParser.h"
#include "Scan/Dirchange/DirChangeItemParserV2.h"
#include "Scan/IncrementalDirChange.h"
#include "Scan/ItemBagId.h"
#include "Scan/PostProcessDirChange.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/Unix/UnixScanJobCallback.h"

#include <atomic>
#include <set>
#include <thread>

namespace {

namespace fs = std::filesystem;
namespace Id = SXScannerConfigurationBagId;

constexpr std::time_t kOld = 1000000000;
constexpr std::time_t kRef = 1500000000;
constexpr std::time_t kNew = 1600000000;

CItemPtr Item(const std::string& path, bool folder, bool selected = false)
{
    auto item = std::make_shared<CItem>(path, folder);
    item->SetSelected(selected);
    return item;
}

class DirChangeTrackingTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        m_results = m_root + "/results";
        fs::create_directories(m_results);
        m_record = m_results + "/DCTmp.zvf";
        EvEvent::SetJobId(7);
    }
    void TearDown() override
    {
        IncrementalDirChange::Reset();
        IncrementalDirChange::SetACLOnlyBackup(false);
        ScanJobTestEnv::TearDown();
    }

    // Reads a closed record back as a previous one.
    static std::shared_ptr<CPathCacheFlatFileIndex> Reopen(const std::string& path,
                                                           CDirChangeItemBaseParserPtr parser = nullptr)
    {
        auto index = std::make_shared<CPathCacheFlatFileIndex>();
        index->SetPreviousBackingFileParser(parser ? parser : std::make_shared<CDirChangeItemParser>());
        CKxError loaded = index->SetPreviousBackingFile(path, nullptr);
        EXPECT_TRUE(loaded.IsSuccess()) << loaded.AsString();
        return index;
    }
    static std::shared_ptr<CDirChangeItemInfo> Record(CPathCacheFlatFileIndex& index, const std::string& path, bool file)
    {
        FVBasePtr record;
        if (!index.Lookup(path, file ? IDirChange::eFile : IDirChange::eFolder, &record))
            return nullptr;
        return std::dynamic_pointer_cast<CDirChangeItemInfo>(record);
    }

    std::string m_results;
    std::string m_record;
};

TEST_F(DirChangeTrackingTest, StagesOnManyThreadsRecordEveryItemWithItsSelectionAndCollectNumber)
{
    ASSERT_TRUE(IncrementalDirChange::Init(7, m_record, nullptr, false, true, false).IsSuccess());
    IncrementalDirChange::SetACLOnlyBackup(true);
    std::vector<std::shared_ptr<IncrementalDirChange>> stages = {
        std::make_shared<IncrementalDirChange>(nullptr, 1, 1), std::make_shared<IncrementalDirChange>(nullptr, 2, 2)};

    constexpr int kThreads = 4;
    constexpr int kFolders = 20;
    constexpr int kFiles = 60;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            IncrementalDirChange& stage = *stages[t % 2];
            for (int d = 0; d < kFolders; ++d) {
                // Two threads share each folder: their entries meet in one folder of the record.
                const std::string folder = "/r/t" + std::to_string(t / 2) + "/d" + std::to_string(d);
                if (t % 2 == 0 && stage.Process(Item(folder, true, d % 2 == 0)).IsError())
                    ++failures;
                for (int f = t % 2; f < kFiles; f += 2) {
                    CItemPtr item = Item(folder + "/f" + std::to_string(f), false, f % 3 == 0);
                    if (f % 5 == 0) {
                        EXPECT_TRUE(item->GetBag().Write(SXBagId::idDirChangeItemACLOnly, true).IsSuccess());
                        EXPECT_TRUE(item->GetBag().Write(SXBagId::idDirChangeItemBackupFrequency, 3u).IsSuccess());
                    }
                    if (stage.Process(item).IsError())
                        ++failures;
                }
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_EQ(failures, 0);
    for (auto& stage : stages)
        ASSERT_TRUE(stage->CloseFile().IsSuccess());
    ASSERT_TRUE(IncrementalDirChange::Close().IsSuccess());

    auto index = Reopen(m_record);
    int checked = 0;
    for (int t = 0; t < kThreads / 2; ++t)
        for (int d = 0; d < kFolders; ++d) {
            const std::string folder = "/r/t" + std::to_string(t) + "/d" + std::to_string(d);
            auto folderRecord = Record(*index, folder, false);
            ASSERT_TRUE(folderRecord) << folder;
            EXPECT_EQ(folderRecord->isSelected(), d % 2 == 0);
            EXPECT_EQ(folderRecord->GetCollectFileId(), 1);
            for (int f = 0; f < kFiles; ++f) {
                const std::string path = folder + "/f" + std::to_string(f);
                auto record = Record(*index, path, true);
                ASSERT_TRUE(record) << path;
                EXPECT_EQ(record->isSelected(), f % 3 == 0) << path;
                EXPECT_EQ(record->GetCollectFileId(), f % 2 == 0 ? 1 : 2) << path;
                EXPECT_EQ(record->IsACLOnly(), f % 5 == 0) << path;
                EXPECT_EQ(record->GetBackupFrequency(), f % 5 == 0 ? 3u : 0u) << path;
                EXPECT_FALSE(index->Lookup(path, IDirChange::eFolder)) << "a file is no folder";
                ++checked;
            }
        }
    EXPECT_EQ(checked, kThreads / 2 * kFolders * kFiles);
}

TEST_F(DirChangeTrackingTest, RestartChecksFormatterTextAndARecordThatCannotBeWritten)
{
    ASSERT_TRUE(IncrementalDirChange::Init(7, m_record, nullptr, false, true, true).IsSuccess());
    IncrementalDirChange stage(nullptr, 1, 4, false, true);
    CItemPtr taken = Item("/r/taken", false, true);
    taken->SetTimes(10, 1234, 10);
    CItemPtr known = Item("/r/known", false, false);
    CItemPtr later = Item("/r/later", false, true);
    ASSERT_TRUE(stage.Process(taken).IsSuccess());
    ASSERT_TRUE(stage.Process(known).IsSuccess());
    bool found = false;
    int collect = 0;
    EXPECT_EQ(stage.CheckIfAddedToCollect(taken, found, collect).Code(), KxCode::NotFound) << "still staged";
    ASSERT_TRUE(stage.FlushBuffer().IsSuccess());
    ASSERT_TRUE(stage.Process(later).IsSuccess());

    ASSERT_TRUE(stage.CheckIfAddedToCollect(taken, found, collect).IsSuccess());
    EXPECT_TRUE(found);
    EXPECT_EQ(collect, 4);
    EXPECT_EQ(stage.CheckIfAddedToCollect(known, found, collect).Code(), KxCode::NotFound);
    EXPECT_FALSE(found);
    EXPECT_TRUE(stage.CheckIfProcessWithCurrentAttempt(known).IsSuccess());
    EXPECT_EQ(stage.CheckIfProcessWithCurrentAttempt(later).Code(), KxCode::NotFound);
    EXPECT_EQ(stage.CheckIfProcessWithCurrentAttempt(Item("/r/known", true)).Code(), KxCode::NotFound)
        << "a folder of the same name is another entry";

    ASSERT_TRUE(stage.CloseFile().IsSuccess());
    ASSERT_TRUE(IncrementalDirChange::Close().IsSuccess());
    auto index = Reopen(m_record, std::make_shared<CDirChangeItemParserV2>());
    FVBasePtr record;
    ASSERT_TRUE(index->Lookup("/r/taken", IDirChange::eFile, &record));
    auto v2 = std::dynamic_pointer_cast<CDirChangeItemInfoV2>(record);
    ASSERT_TRUE(v2);
    EXPECT_EQ(v2->GetRefTime(), CTimeStamp(1234));
    EXPECT_TRUE(index->Lookup("/r/later", IDirChange::eFile));

    IncrementalDirChange::Reset();
    // The stage writes the text of the formatter its record was set up with: the known ones'
    // text without a record object, any other formatter through a record.
    struct CMarkingFormatter : CDirChangeItemFormatter {
        std::string GetFormattedData(const FVBasePtr& record) const override
        {
            return CDirChangeItemFormatter::GetFormattedData(record) + "|<MARK>";
        }
    };
    // Name, item information on, a version 2 record, a version 2 stage, the record's formatter
    // replaced, and the file's line of item "/r/x".
    const std::vector<std::tuple<const char*, bool, bool, bool, bool, std::string>> cases = {
        {"no fields", false, false, false, false, "Fx\n"},
        {"version 1", true, false, false, false, "Fx|<IS>1|<CI>4|<BFQ>3\n"},
        {"version 2", true, true, true, false, "Fx|<RT>1234|<IS>1|<CI>4|<BFQ>3\n"},
        {"version 1 stage, version 2 record", true, true, false, false, "Fx|<IS>1|<CI>4|<BFQ>3\n"},
        {"another formatter", true, false, false, true, "Fx|<IS>1|<CI>4|<BFQ>3|<MARK>\n"},
    };
    for (const auto& [name, itemInformation, version2, stageV2, marking, line] : cases) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(IncrementalDirChange::Init(7, m_record, nullptr, false, itemInformation, version2).IsSuccess());
        if (marking)
            IncrementalDirChange::GetIndex()->SetItemInfoFormatter(std::make_shared<CMarkingFormatter>());
        IncrementalDirChange stage(nullptr, 1, 4, false, stageV2);
        CItemPtr item = Item("/r/x", false, true);
        item->SetTimes(10, 1234, 10);
        // Four bits of frequency are kept, as the record object keeps them.
        ASSERT_TRUE(item->GetBag().Write(SXBagId::idDirChangeItemBackupFrequency, 0x13u).IsSuccess());
        ASSERT_TRUE(stage.Process(item).IsSuccess());
        ASSERT_TRUE(stage.CloseFile().IsSuccess());
        ASSERT_TRUE(IncrementalDirChange::Close().IsSuccess());
        EXPECT_NE(ReadFile(m_record).find("\n" + line), std::string::npos) << ReadFile(m_record);
        IncrementalDirChange::Reset();
    }

    // A record that cannot be written stops the stage with an event.
    // A results folder that is not there: the job learns it before the walk.
    CKxError init = IncrementalDirChange::Init(7, m_root + "/absent/DCTmp.zvf", nullptr, false, true, false);
    EXPECT_EQ(init.Code(), ENOENT);
    EXPECT_NE(init.AsString().find("Failed to open '" + m_root + "/absent/DCTmp.zvf' for writing"), std::string::npos);
    EXPECT_FALSE(Events(IncrementalDirChange::kEventOpenFailed).empty());
    EXPECT_FALSE(IncrementalDirChange::GetIndex());

    // A stage made without a record passes items on and records nothing.
    auto next = std::make_shared<CItemConsumerChain>();
    IncrementalDirChange inert(next, 1, 1);
    EXPECT_FALSE(inert.IsRecording());
    EXPECT_TRUE(inert.Process(Item("/r/a", false)).IsSuccess());
    EXPECT_TRUE(inert.FlushBuffer().IsSuccess());
    EXPECT_TRUE(IncrementalDirChange::Close().IsSuccess());

    // Items after the stage was closed are a failure of our own file: the walk must stop.
    ASSERT_TRUE(IncrementalDirChange::Init(7, m_record, nullptr, false, true, false).IsSuccess());
    IncrementalDirChange closed(nullptr, 1, 1);
    ASSERT_TRUE(closed.CloseFile().IsSuccess());
    CKxError late = closed.Process(Item("/r/late", false));
    EXPECT_TRUE(late.IsError());
    EXPECT_NE(late.AsString().find("Failed to write to '" + m_record + "'"), std::string::npos);
    EXPECT_FALSE(Events(IncrementalDirChange::kEventWriteFailed).empty());
    // A differential's second comparison needs the record closed first.
    class CNothing : public CPathCacheFlatFileIndexCompareCallback {
        CKxError OnInIndex1(const std::string&, bool, const FVBasePtr&) override { return {}; }
        CKxError OnInIndex2(const std::string&, bool, const FVBasePtr&) override { return {}; }
        CKxError OnInBothIndexes(const std::string&, bool, const FVBasePtr&, const FVBasePtr&) override { return {}; }
    } nothing;
    EXPECT_TRUE(IncrementalDirChange::CompareForDeletedItems(m_record, nothing).IsError());
}

// ---- The comparison after the walk ------------------------------------------------------

// Output resources numbered as the walk numbers them.
class NumberingCallback : public CUnixScanJobCallback {
public:
    using CScanJobCallback::FindOrAddOutputResource;
};

class PostProcessDirChangeTest : public DirChangeTrackingTest {
protected:
    void SetUp() override
    {
        DirChangeTrackingTest::SetUp();
        m_tree = m_root + "/t";
        for (const char* file : {"kept/f1", "new-old.txt", "new-fresh.txt", "new-selected.txt", "acl.txt", "newdir/n"})
            WriteFile(m_tree + "/" + file, "x");
        AgeTree(m_tree, kOld);
        SetTimes(m_tree + "/new-fresh.txt", kNew);

        m_bag = std::make_shared<CBag>();
        WriteAll(*m_bag, {{Id::idBackupType, 2u}, {Id::idUseMTime, true}, {Id::idUseCTime, false},
                          {Id::idIdentifyACLOnlyItem, true}});
        m_callback = std::make_shared<NumberingCallback>();
        m_callback->SetScannerConfigurationBag(m_bag);
        m_callback->SetJobId(7);
        m_callback->SetReferenceTime(kRef);
        (void)m_callback->GetFileNameFactory(2, m_results);
        IncrementalDirChange::SetACLOnlyBackup(true);  // metadata-only marks reach the record
    }

    // The previous job's record of the tree.
    void WritePrevious(const std::string& path)
    {
        CPathCacheFlatFileIndex previous;
        previous.SetItemInfoFormatter(std::make_shared<CDirChangeItemFormatter>());
        ASSERT_TRUE(previous.SetCurrentBackingFile(path, nullptr).IsSuccess());
        auto plain = std::make_shared<CDirChangeItemInfoImpl>(true, 1, eDirChangeItemBackupFrequencyNone, false);
        auto fullOnly = std::make_shared<CDirChangeItemInfoImpl>(true, 1, static_cast<eDirChangeItemBackupFrequency>(2), false);
        const std::vector<std::pair<std::string, bool>> entries = {
            {m_tree, false},          {m_tree + "/kept", false},        {m_tree + "/kept/f1", true},
            {m_tree + "/gone", false}, {m_tree + "/gone/a", true},       {m_tree + "/gone/sub", false},
            {m_tree + "/gone/sub/b", true}, {m_tree + "/del.txt", true}, {m_tree + "/failed", false},
            {m_tree + "/failed/x", true}, {m_tree + "/failed/deep", false}, {m_tree + "/failed/deep/y", true},
            {m_tree + "/failfile.txt", true}, {m_tree + "/acl.txt", true}};
        for (const auto& [entry, file] : entries)
            ASSERT_TRUE(previous.AddItem(entry, plain, file).IsSuccess()) << entry;
        ASSERT_TRUE(previous.AddItem(m_tree + "/full-only.txt", fullOnly, true).IsSuccess());
        ASSERT_TRUE(previous.Close().IsSuccess());
    }

    // The walk of this job: what each item looked like when it reached the output stage.
    void Walk(IncrementalDirChange& stage)
    {
        auto acl = Item(m_tree + "/acl.txt", false);
        ASSERT_TRUE(acl->GetBag().Write(SXBagId::idDirChangeItemACLOnly, true).IsSuccess());
        for (const CItemPtr& item :
             {Item(m_tree, true), Item(m_tree + "/kept", true), Item(m_tree + "/kept/f1", false),
              Item(m_tree + "/new-old.txt", false), Item(m_tree + "/new-fresh.txt", false),
              Item(m_tree + "/new-selected.txt", false, true), Item(m_tree + "/new-vanished.txt", false),
              Item(m_tree + "/newdir", true), Item(m_tree + "/newdir/n", false, true), Item(m_tree + "/failed", true),
              acl})
            ASSERT_TRUE(stage.Process(item).IsSuccess()) << item->GetSourceFullyQualifiedItemName();
    }

    // Previous record, this job's stage and walk, the failure list; then the comparison.
    CKxError RunComparison(unsigned long backupType = 2, bool detection = true)
    {
        const std::string previous = m_results + "/DCInc.zvf";
        WritePrevious(previous);
        EXPECT_TRUE(IncrementalDirChange::Init(7, m_record, nullptr, false, true, false).IsSuccess());
        EXPECT_TRUE(IncrementalDirChange::SetPreviousBackingFile(previous).IsSuccess());
        auto stage = std::make_shared<IncrementalDirChange>(nullptr, 1, 1);
        COutputResourcesPtr resource;
        bool created = false;
        const auto make = [&](int index, COutputResourcesPtr& made) {
            made = std::make_shared<COutputResources>(index, "/", "vol-1");
            made->SetDirChangeConsumer(stage);
            return CKxError::Success();
        };
        EXPECT_TRUE(m_callback->FindOrAddOutputResource("vol-1", make, resource, created).IsSuccess());
        Walk(*stage);
        WriteFile(m_results + "/scan_Failures.zvf",
                  "folder " + escapeFileName(m_tree + "/failed") + ":13\nfile " + escapeFileName(m_tree + "/failfile.txt") + ":2\n");
        m_postProcess = std::make_shared<CPostProcessDirChange>(
            m_callback->GetOutputResourcesList(),
            SDirChangeComparison{backupType, 7, previous, previous, m_results + "/scan_Failures.zvf", detection});
        CKxError result = m_postProcess->Run(*m_callback);
        EXPECT_TRUE(IncrementalDirChange::Close().IsSuccess());
        EXPECT_TRUE(m_callback->FlushBuffers().IsSuccess());
        return result;
    }
    std::vector<std::string> DeletedItemsLines() const
    {
        return ReadLines(m_results + "/CollectIncDeletedItems.zvf");
    }
    std::string Line(const std::string& prefix, const std::string& relative) const
    {
        return prefix + escapeFileName(m_tree + relative);
    }

    std::string m_tree;
    CBagPtr m_bag;
    std::shared_ptr<NumberingCallback> m_callback;
    std::shared_ptr<CPostProcessDirChange> m_postProcess;
};

TEST_F(PostProcessDirChangeTest, DeletionsAndLateFoundItemsGoToTheDeletedItemsListOnceAndFailuresAreReadBack)
{
    CKxError result = RunComparison();
    ASSERT_TRUE(result.IsSuccess()) << result.AsString();
    const std::vector<std::string> lines = DeletedItemsLines();
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()),
              (std::set<std::string>{
                  Line("??D", "/gone"), Line("??d", "/del.txt"), Line("??d", "/full-only.txt"),  // the deletions
                  Line("", "/new-old.txt"), Line("", "/newdir/"), Line("", "/acl.txt")}))          // found late
        << "nothing below /gone, nothing for what could not be read, nothing new by its time or selected";
    EXPECT_EQ(lines.size(), 6u);

    // The list is an output resource of its own; its lines are deleted items to the statistics.
    SScanStats stats;
    ASSERT_TRUE(m_callback->GetScanStats(stats).IsSuccess());
    EXPECT_EQ(stats.outputResources, 2u);
    EXPECT_EQ(stats.deletedItems, 6);
    EXPECT_EQ(stats.collectFiles, 0u);

    // The new record: added items name the list's collect number; what could not be read was
    // carried and is unknown to the next job, so it takes all of it.
    auto record = Reopen(m_record);
    auto added = Record(*record, m_tree + "/new-old.txt", true);
    ASSERT_TRUE(added);
    EXPECT_TRUE(added->isSelected());
    EXPECT_EQ(added->GetCollectFileId(), 2);
    auto untouched = Record(*record, m_tree + "/new-fresh.txt", true);
    ASSERT_TRUE(untouched);
    EXPECT_FALSE(untouched->isSelected());
    for (const auto& [path, file, known] : std::vector<std::tuple<const char*, bool, bool>>{
             {"/failed", false, true}, {"/failed/x", true, false}, {"/failed/deep/y", true, false},
             {"/gone", false, false}, {"/full-only.txt", true, false}})
        EXPECT_EQ(record->Lookup(m_tree + path, file ? IDirChange::eFile : IDirChange::eFolder), known) << path;
    EXPECT_EQ(m_postProcess->GetFailedPaths(), (std::unordered_set<std::string>{m_tree + "/failed", m_tree + "/failfile.txt"}));

    // The failure list is read back exactly: odd names, garbage lines, trailing slashes, no list.
    const std::string list = m_results + "/failures.zvf";
    const std::string odd = "/t/a name:with|colon\nand newline";
    WriteFile(list, "folder " + escapeFileName(odd) + ":13\n" + "file /t/plain:2\n" + "garbage\n" + "folder :5\n" +
                        "file /t/trailing/:2\n");
    std::unordered_set<std::string> paths;
    ASSERT_TRUE(CPostProcessDirChange::ReadFailedPaths(list, paths).IsSuccess());
    EXPECT_EQ(paths, (std::unordered_set<std::string>{odd, "/t/plain", "/t/trailing"}));
    paths.clear();
    EXPECT_TRUE(CPostProcessDirChange::ReadFailedPaths(m_results + "/none.zvf", paths).IsSuccess());
    EXPECT_TRUE(paths.empty());
}

TEST_F(PostProcessDirChangeTest, FullOnlyItemsAreKeptInsteadOfDeleted)
{
    m_callback->SetIgnoreFullOnlyItems(true);
    ASSERT_TRUE(RunComparison().IsSuccess());
    const std::vector<std::string> lines = DeletedItemsLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), Line("??d", "/full-only.txt")), 0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), Line("??D", "/gone")), 1);
    ASSERT_EQ(m_postProcess->GetFullOnlyItems().size(), 1u);
    auto kept = Record(*Reopen(m_record), m_tree + "/full-only.txt", true);
    ASSERT_TRUE(kept) << "put back into the record";
    EXPECT_EQ(kept->GetBackupFrequency(), 2u);
}

TEST_F(PostProcessDirChangeTest, WithoutDetectionANonFullJobStillAddsWhatItFoundLate)
{
    ASSERT_TRUE(RunComparison(2, false).IsSuccess());
    std::vector<std::string> lines = DeletedItemsLines();
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()),
              (std::set<std::string>{Line("", "/new-old.txt"), Line("", "/newdir/"), Line("", "/acl.txt")}));
}

TEST_F(PostProcessDirChangeTest, FullJobWithoutDetectionComparesNothing)
{
    ASSERT_TRUE(m_bag->Write(Id::idBackupType, 1u).IsSuccess());
    (void)m_callback->GetFileNameFactory(1, m_results);
    ASSERT_TRUE(RunComparison(1, false).IsSuccess());
    EXPECT_FALSE(fs::exists(m_results + "/CollectTotDeletedItems.zvf")) << "no list when nothing is written";
    EXPECT_EQ(m_callback->GetOutputResourcesList().size(), 1u);
}

}  // namespace
