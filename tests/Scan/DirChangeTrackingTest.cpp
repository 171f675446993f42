// The directory-change record on the scan side, below a whole job: the text the formatters write
// and what the parsers read back (written by this and the other record version, tags in odd
// case, order and values), what the output stages record from many threads, the restart checks,
// the errors of a record that cannot be written, and the comparison after the walk on a small
// real tree with a hand-made previous record: one deletion line per deleted file or folder,
// nothing below a deleted folder, nothing for what this job could not read, late-found items
// added once, full-only items kept.
//
// Then change detection through whole file-system jobs in this process, on real trees: a full
// job, its record put in place as the backup phase does, changes, then non-full jobs. The
// end-to-end runs of the binaries check what an incremental takes and deletes and what a damaged
// or missing record costs; here what they do not reach: content that cannot be read, deletions in
// a full job, a differential's deletions after incrementals, and completion in the scan phase.
// Every case runs with the text record and with the database record ("nUseSQLiteDirchange" 1).
// Last, the change-journal planner: when a journal may be read instead of a walk, and why not.
#include "Scan/ScanJobTestEnv.h"

#include "CollectFile/PathCacheFlatFileIndex.h"
#include "Scan/ChangeJournalPlanner.h"
#include "Engine/Item.h"
#include "Scan/DeletedItemCallback.h"
#include "Scan/Dirchange/DirChangeItemFormatter.h"
#include "Scan/Dirchange/DirChangeItemFormatterV2.h"
#include "Scan/Dirchange/DirChangeItemInfoImpl.h"
#include "Scan/Dirchange/DirChangeItemInfoV2Impl.h"
#include "Scan/Dirchange/DirChangeItemParser.h"
#include "Scan/Dirchange/DirChangeItemParserV2.h"
#include "Scan/IncrementalDirChange.h"
#include "Scan/ItemBagId.h"
#include "Scan/PostProcessDirChange.h"
#include "Scan/FileScan.h"
#include "Scan/ScanJobFactory.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/Unix/UnixScanJobCallback.h"

#include <atomic>
#include <climits>
#include <set>

namespace {

namespace fs = std::filesystem;
namespace Id = SXScannerConfigurationBagId;

// Times of the scenarios: a tree is "old", the reference time lies after it, and what a test
// changes is made "new". File-change times cannot be set, so the jobs that must not see them run
// with the change-time rule off ("useCtime": false).
constexpr std::time_t kOld = 1000000000;  // 2001
constexpr std::time_t kRef = 1500000000;  // 2017
constexpr std::time_t kNew = 1600000000;  // 2020

CItemPtr Item(const std::string& path, bool folder, bool selected = false)
{
    auto item = std::make_shared<CItem>(path, folder);
    item->SetSelected(selected);
    return item;
}

// The fields as the index hands them to a parser: the text split at '|', the empty piece
// before the first '|' dropped.
std::vector<std::string> Fields(const std::string& text)
{
    std::vector<std::string> fields;
    size_t start = text.starts_with("|") ? 1 : 0;
    while (start <= text.size()) {
        const size_t bar = text.find('|', start);
        fields.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return fields;
}

template <typename Parser, typename Info>
std::shared_ptr<Info> Parse(const std::string& text)
{
    FVBasePtr record;
    EXPECT_TRUE(Parser().GetItemInfo(record, Fields(text)).IsSuccess());
    auto info = std::dynamic_pointer_cast<Info>(record);
    EXPECT_TRUE(info);
    return info;
}
const auto ParseV1 = Parse<CDirChangeItemParser, CDirChangeItemInfo>;
const auto ParseV2 = Parse<CDirChangeItemParserV2, CDirChangeItemInfoV2>;

const auto kFreq2 = static_cast<eDirChangeItemBackupFrequency>(2);

TEST(DirChangeRecordTest, FormattersWriteWhatTheParsersReadInAnyCaseOrderAndVersion)
{
    CDirChangeItemFormatter v1;
    CDirChangeItemFormatterV2 v2;
    auto plain = std::make_shared<CDirChangeItemInfoImpl>();
    auto full = std::make_shared<CDirChangeItemInfoImpl>(true, 3, kFreq2, true);
    EXPECT_EQ(v1.GetFormattedData(plain), "|<IS>0|<CI>0");
    EXPECT_EQ(v1.GetFormattedData(full), "|<IS>1|<CI>3|<BFQ>2|<ACL>1");
    EXPECT_EQ(v1.GetFormattedData(std::make_shared<CDirChangeItemInfoImpl>(false, 12, eDirChangeItemBackupFrequencyNone, true)),
              "|<IS>0|<CI>12|<ACL>1");

    // The version 2 time comes first and is written even when clear; the version 1 formatter
    // leaves it out; a version 1 record through the version 2 formatter has no time.
    auto timed = std::make_shared<CDirChangeItemInfoV2Impl>(CTimeStamp(1700000000), true, 3, kFreq2, true);
    EXPECT_EQ(v2.GetFormattedData(timed), "|<RT>1700000000|<IS>1|<CI>3|<BFQ>2|<ACL>1");
    EXPECT_EQ(v2.GetFormattedData(std::make_shared<CDirChangeItemInfoV2Impl>()), "|<RT>0|<IS>0|<CI>0");
    EXPECT_EQ(v1.GetFormattedData(timed), "|<IS>1|<CI>3|<BFQ>2|<ACL>1");
    EXPECT_EQ(v2.GetFormattedData(full), "|<IS>1|<CI>3|<BFQ>2|<ACL>1");

    // The deleted bit lives only while a job handles the record; four bits of frequency fit.
    auto handled = std::make_shared<CDirChangeItemInfoImpl>(false, 7, static_cast<eDirChangeItemBackupFrequency>(0x13), false);
    handled->SetIsDeleted(true);
    EXPECT_EQ(v1.GetFormattedData(handled), "|<IS>0|<CI>7|<BFQ>3");
    EXPECT_TRUE(handled->GetIsDeleted());

    // Records that are not the scan's get the base text only.
    EXPECT_EQ(v1.GetFormattedData(std::make_shared<CDirChangeItemBaseInfo>()), "");
    EXPECT_EQ(v2.GetFormattedData(nullptr), "");

    // The recording stage writes text from plain values; the next job reads it with the parsers
    // that the formatters' text is made for, so both must agree byte for byte, at every extreme.
    char text[CDirChangeItemFormatter::kMaxFieldsText];
    for (bool selected : {false, true})
        for (int collect : {0, 1, 42, -1, INT_MAX, INT_MIN})
            for (unsigned frequency : {0u, 1u, 15u, 16u, 0x13u, UINT_MAX})
                for (bool acl : {false, true}) {
                    const auto kept = static_cast<eDirChangeItemBackupFrequency>(frequency);
                    const std::string made(text, CDirChangeItemFormatter::FormatFields(selected, collect, frequency,
                                                                                        acl, text));
                    EXPECT_EQ(made, v1.GetFormattedData(
                                        std::make_shared<CDirChangeItemInfoImpl>(selected, collect, kept, acl)))
                        << collect << " " << frequency;
                    for (long long seconds : {0LL, -1LL, 1700000000LL, LLONG_MAX, LLONG_MIN}) {
                        size_t length = CDirChangeItemFormatter::FormatRefTime(seconds, text);
                        length += CDirChangeItemFormatter::FormatFields(selected, collect, frequency, acl, text + length);
                        ASSERT_LE(length, sizeof text);
                        EXPECT_EQ(std::string(text, length),
                                  v2.GetFormattedData(std::make_shared<CDirChangeItemInfoV2Impl>(
                                      CTimeStamp(seconds), selected, collect, kept, acl)))
                            << seconds << " " << collect << " " << frequency;
                    }
                }

    // The parsers read tags in any case and order, and each reads the other version's text.
    auto info = ParseV1("|<acl>1|<bfq>0x1|<ci>42|<is>1");
    EXPECT_TRUE(info->isSelected());
    EXPECT_EQ(info->GetCollectFileId(), 42);
    EXPECT_EQ(info->GetBackupFrequency(), 1u);
    EXPECT_TRUE(info->IsACLOnly());
    EXPECT_FALSE(info->GetIsDeleted());

    // Only the character '1' right after the tag means yes.
    for (const auto& [text, yes] : std::vector<std::pair<const char*, bool>>{
             {"|<IS>2|<CI>1", false}, {"|<IS>|<CI>1", false}, {"|<IS> 1", false}, {"|<IS>10", true}})
        EXPECT_EQ(ParseV1(text)->isSelected(), yes) << text;
    EXPECT_FALSE(ParseV1("|<ACL>0")->IsACLOnly());
    EXPECT_FALSE(ParseV1("|<ACL>")->IsACLOnly());

    // Frequency: automatic base; the record keeps four bits.
    for (const auto& [text, frequency] : std::vector<std::pair<const char*, unsigned>>{
             {"|<BFQ>010", 8}, {"|<BFQ>0xF", 15}, {"|<BFQ>7", 7}, {"|<BFQ>junk", 0}})
        EXPECT_EQ(ParseV1(text)->GetBackupFrequency(), frequency) << text;

    // Missing tags, empty text and unknown fields leave the defaults.
    for (const std::string text : {"", "|", "|<XX>1|IS>1|<I S>1", "|<CI>"}) {
        auto empty = ParseV1(text);
        EXPECT_FALSE(empty->isSelected()) << text;
        EXPECT_EQ(empty->GetCollectFileId(), 0) << text;
        EXPECT_EQ(empty->GetBackupFrequency(), 0u) << text;
        EXPECT_FALSE(empty->IsACLOnly()) << text;
    }
    // A tag written twice: the later one counts.
    EXPECT_EQ(ParseV1("|<CI>3|<CI>9")->GetCollectFileId(), 9);

    // Each parser reads the other version's text.
    const std::string v2Text = CDirChangeItemFormatterV2().GetFormattedData(
        std::make_shared<CDirChangeItemInfoV2Impl>(CTimeStamp(1234567890), true, 3, kFreq2, false));
    auto read1 = ParseV1(v2Text);
    ASSERT_TRUE(read1);
    EXPECT_FALSE(std::dynamic_pointer_cast<CDirChangeItemInfoV2>(read1)) << "a version 1 parser makes version 1 records";
    EXPECT_TRUE(read1->isSelected());
    EXPECT_EQ(read1->GetCollectFileId(), 3);
    EXPECT_EQ(read1->GetBackupFrequency(), 2u);
    // Written again by the version 1 formatter, the time is gone and nothing else changed.
    EXPECT_EQ(CDirChangeItemFormatter().GetFormattedData(read1), "|<IS>1|<CI>3|<BFQ>2");

    auto read2 = ParseV2(v2Text);
    EXPECT_EQ(read2->GetRefTime(), CTimeStamp(1234567890));
    EXPECT_EQ(CDirChangeItemFormatterV2().GetFormattedData(read2), v2Text);
    // Version 1 text read as version 2: the time stays clear.
    EXPECT_EQ(ParseV2("|<IS>1|<CI>2")->GetRefTime(), CTimeStamp());
    EXPECT_EQ(ParseV2("|<rt>0x10|<IS>1")->GetRefTime(), CTimeStamp(16));
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
    OnThreads(kThreads, [&](int t) {
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

// ---- Change detection through whole jobs ---------------------------------------------------------

class ChangeDetectionJobTest : public ScanJobTestEnv, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        if (GetParam())
            Setting("nUseSQLiteDirchange", "1");
        m_data = m_root + "/tree/data";
        m_results = m_instance + "/JobResults/2/5";
        for (const char* file : {"a/keep.txt", "a/mod.txt", "a/del.txt", "gone/x.txt", "gone/sub/y.txt", "ren/r1.txt",
                                 "ren/sub/r2.txt", "b/same.txt"})
            WriteFile(m_data + "/" + file, file);
        WriteFile(m_root + "/tree/outside/moved.txt", "moved");
        Content({m_data});
    }

    void Content(const std::vector<std::string>& paths) { WriteSubclient({{"content", paths}, {"useCtime", false}}); }

    // Scan job `jobId` of backup `type`, which must succeed and complete its phase.
    void RunOk(int jobId, const std::string& type, const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> tokens = {"-vm", "inst", "-j", std::to_string(jobId), "-a", "2:5", "-cn", "client1",
                                           "-jt", "tok" + std::to_string(jobId), "-t", type};
        tokens.insert(tokens.end(), extra.begin(), extra.end());
        CKxError result = CFileScan(Args(tokens)).Process(std::make_shared<CScanJobFactory>("inst"));
        ASSERT_TRUE(result.IsSuccess()) << result.AsString();
        auto completes = Calls("complete", jobId);
        ASSERT_EQ(completes.size(), 1u);
        ASSERT_EQ(completes[0].value("status", 0), 1) << "job " << jobId << " failed";
    }

    // The record's file: "Tmp" while the scan runs, "Inc" or "Tot" once kept.
    std::string Record(const std::string& kind) const
    {
        static const std::map<std::string, std::string> database = {
            {"Tmp", "DirChangePending.db"}, {"Inc", "DirChangeIncremental.db"}, {"Tot", "DirChangeFull.db"}};
        return m_results + "/" + (GetParam() ? database.at(kind) : "DC" + kind + ".zvf");
    }

    // What the backup phase does after a good job: the record takes its kept name.
    void PutRecordInPlace(bool full)
    {
        const std::string temp = Record("Tmp");
        ASSERT_TRUE(fs::exists(temp));
        if (full) {
            fs::copy_file(temp, Record("Inc"), fs::copy_options::overwrite_existing);
            fs::rename(temp, Record("Tot"));
        } else {
            fs::rename(temp, Record("Inc"));
        }
    }

    // Listed items below the data folder, relative to it.
    std::set<std::string> ListedData(const std::string& family) const
    {
        std::set<std::string> data;
        for (const auto& [path, count] : ListedIn(m_results, family))
            if (path.rfind(m_data + "/", 0) == 0 && path.size() > m_data.size() + 1)
                data.insert(path.substr(m_data.size() + 1));
        return data;
    }
    std::vector<std::string> DeletedItems(const std::string& family) const
    {
        return ReadLines(m_results + "/" + family + "DeletedItems.zvf");
    }
    std::string Deletion(const char* kind, const std::string& relative) const
    {
        return kind + escapeFileName(m_data + "/" + relative);
    }

    // A full job of the scenario's tree, its record in place.
    void FullJob()
    {
        AgeTree(m_root + "/tree", kOld);
        ASSERT_NO_FATAL_FAILURE(RunOk(1, "1"));
        EXPECT_EQ(ListedData("CollectTot").size(), 14u);
        ASSERT_NO_FATAL_FAILURE(PutRecordInPlace(true));
    }

    const std::set<std::string> kAllData = {"a/", "a/keep.txt", "a/mod.txt", "a/del.txt", "gone/", "gone/x.txt",
                                            "gone/sub/", "gone/sub/y.txt", "ren/", "ren/r1.txt", "ren/sub/",
                                            "ren/sub/r2.txt", "b/", "b/same.txt"};
    std::string m_data;
    std::string m_results;
};

TEST_P(ChangeDetectionJobTest, ContentThatCannotBeReadIsNotDeletedAndIsTakenWholeOnceBack)
{
    const std::string other = m_root + "/tree/other";
    WriteFile(other + "/deep/o.txt", "o");
    Content({m_data, other});
    ASSERT_NO_FATAL_FAILURE(FullJob());

    const std::string away = m_root + "/tree/away";
    fs::rename(other, away);
    ASSERT_NO_FATAL_FAILURE(RunOk(2, "2", {"-ref", std::to_string(kRef), "-lf", "1"}));
    EXPECT_TRUE(DeletedItems("CollectInc").empty()) << "a content path that failed is not gone";
    EXPECT_EQ(ReadLines(m_results + "/scan_Failures.zvf").size(), 1u);
    ASSERT_NO_FATAL_FAILURE(PutRecordInPlace(false));

    // Back with its old times: the record carried it as unknown, so all of it is taken.
    fs::rename(away, other);
    AgeTree(other, kOld);
    ASSERT_NO_FATAL_FAILURE(RunOk(3, "2", {"-ref", std::to_string(kRef), "-lf", "1", "-li", "2"}));
    std::set<std::string> listed;
    for (const auto& [path, count] : ListedIn(m_results, "CollectInc"))
        if (path.rfind(other, 0) == 0)
            listed.insert(path);
    EXPECT_EQ(listed, (std::set<std::string>{other + "/", other + "/deep/", other + "/deep/o.txt"}));
    EXPECT_TRUE(ListedData("CollectInc").empty());
    EXPECT_TRUE(DeletedItems("CollectInc").empty());
}

TEST_P(ChangeDetectionJobTest, FullJobAfterAnotherReportsDeletionsOnly)
{
    ASSERT_NO_FATAL_FAILURE(FullJob());
    fs::remove_all(m_data + "/gone");
    WriteFile(m_data + "/a/new.txt", "new");
    AgeTree(m_data, kOld);
    ASSERT_NO_FATAL_FAILURE(RunOk(2, "1", {"-lf", "1"}));
    std::set<std::string> expected = kAllData;
    for (const char* gone : {"gone/", "gone/x.txt", "gone/sub/", "gone/sub/y.txt"})
        expected.erase(gone);
    expected.insert("a/new.txt");
    EXPECT_EQ(ListedData("CollectTot"), expected);
    EXPECT_EQ(DeletedItems("CollectTot"), std::vector<std::string>{Deletion("??D", "gone")});

    // A first full compares with nothing.
    fs::remove(Record("Tmp"));
    ASSERT_NO_FATAL_FAILURE(RunOk(3, "1"));
    EXPECT_FALSE(fs::exists(m_results + "/CollectTotDeletedItems.zvf"));
}

TEST_P(ChangeDetectionJobTest, DifferentialTakesEverythingSinceTheFullAndDeletionsSinceTheLastJob)
{
    ASSERT_NO_FATAL_FAILURE(FullJob());
    SetTimes(m_data + "/a/mod.txt", kNew + 20);
    ASSERT_NO_FATAL_FAILURE(RunOk(2, "2", {"-ref", std::to_string(kNew + 10), "-lf", "1"}));
    EXPECT_EQ(ListedData("CollectInc"), (std::set<std::string>{"a/mod.txt"}));
    ASSERT_NO_FATAL_FAILURE(PutRecordInPlace(false));
    // Incremental 3: a new file with an old time and a deletion.
    WriteFile(m_data + "/b/late.txt", "late");
    fs::remove(m_data + "/a/del.txt");
    AgeTree(m_data + "/b", kOld);
    SetTimes(m_data + "/a", kOld);
    ASSERT_NO_FATAL_FAILURE(RunOk(3, "2", {"-ref", std::to_string(kNew + 30), "-lf", "1", "-li", "2"}));
    EXPECT_EQ(ListedData("CollectInc"), (std::set<std::string>{"b/late.txt"}));
    EXPECT_EQ(DeletedItems("CollectInc"), std::vector<std::string>{Deletion("??d", "a/del.txt")});
    ASSERT_NO_FATAL_FAILURE(PutRecordInPlace(false));

    // The differential: against the full for what is new, against job 3 for what is gone.
    fs::remove(m_data + "/a/keep.txt");
    SetTimes(m_data + "/a", kOld);
    ASSERT_NO_FATAL_FAILURE(RunOk(4, "4", {"-ref", std::to_string(kRef), "-lf", "1", "-li", "3"}));
    EXPECT_EQ(ListedData("CollectInc"), (std::set<std::string>{"a/mod.txt", "b/late.txt"}));
    EXPECT_EQ(DeletedItems("CollectInc"), std::vector<std::string>{Deletion("??d", "a/keep.txt")});
}

// A synthetic full keeps the newest record under the incremental name; the first incremental
// after it renames that record to the full's and compares with it, not with the older full's.
TEST_P(ChangeDetectionJobTest, AfterASyntheticFullTheIncrementalsRecordBecomesTheFulls)
{
    ASSERT_NO_FATAL_FAILURE(FullJob());
    fs::remove(m_data + "/a/del.txt");
    SetTimes(m_data + "/a", kOld);
    ASSERT_NO_FATAL_FAILURE(RunOk(2, "2", {"-ref", std::to_string(kRef), "-lf", "1"}));
    ASSERT_NO_FATAL_FAILURE(PutRecordInPlace(false));
    fs::remove(m_data + "/a/keep.txt");
    SetTimes(m_data + "/a", kOld);
    ASSERT_NO_FATAL_FAILURE(RunOk(4, "2", {"-ref", std::to_string(kRef), "-lf", "3", "-li", "2", "-aftersynth"}));
    EXPECT_EQ(DeletedItems("CollectInc"), std::vector<std::string>{Deletion("??d", "a/keep.txt")});
    EXPECT_FALSE(fs::exists(Record("Inc")));
    EXPECT_TRUE(fs::exists(Record("Tot")));
}

TEST_P(ChangeDetectionJobTest, EmptyIncrementalCompletesInTheScanAndPutsItsRecordInPlace)
{
    ASSERT_NO_FATAL_FAILURE(FullJob());
    const auto completedInScan = [&](int jobId) { return Calls("complete", jobId).at(0).value("for", 0) == 2; };

    // A deletion alone is something for the backup phase.
    fs::remove(m_data + "/a/del.txt");
    SetTimes(m_data + "/a", kOld);
    ASSERT_NO_FATAL_FAILURE(RunOk(2, "2", {"-ref", std::to_string(kRef), "-lf", "1", "-seb"}));
    EXPECT_FALSE(completedInScan(2));
    EXPECT_TRUE(fs::exists(Record("Tmp")));
    ASSERT_NO_FATAL_FAILURE(PutRecordInPlace(false));
    const auto before = fs::last_write_time(Record("Inc"));

    ASSERT_NO_FATAL_FAILURE(RunOk(3, "2", {"-ref", std::to_string(kRef), "-lf", "1", "-li", "2", "-seb"}));
    EXPECT_TRUE(completedInScan(3));
    EXPECT_FALSE(fs::exists(Record("Tmp")));
    EXPECT_TRUE(fs::exists(Record("Inc")));
    EXPECT_NE(fs::last_write_time(Record("Inc")), before);

    // A full always has its backup phase.
    ASSERT_NO_FATAL_FAILURE(RunOk(4, "1", {"-seb"}));
    EXPECT_FALSE(completedInScan(4));
    EXPECT_TRUE(fs::exists(Record("Tmp")));
}

INSTANTIATE_TEST_SUITE_P(Records, ChangeDetectionJobTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Database" : "Text"; });

// ---- The change-journal planner -------------------------------------------------------------------

// A journal that may be read: the stored point matches the daemon's answer, the record and the
// content; the journal names /c/d and links /c/l (a file the previous scan knew as (1, 7)).
struct SWorld {
    SChangeJournalPoint stored{"rec", "0123456789abcdef", 2, 100, 1000, "hash", false, false, "",
                               {"/m"}, {{1, 7}}, {}};
    CChangeJournalPlanner::SInput input;
    SJournalSpan span;
    CKxError readError;
    std::uint64_t linkInode = 7;
    std::int64_t linkBorn = 0;
    bool linkFound = true;

    SWorld()
    {
        input.previousRecordPath = "/r/DCInc.zvf";
        input.previousRecord = "rec";
        input.contentHash = "hash";
        input.sync = {SJournalSyncPoint::Ok, "0123456789abcdef", 2, 250, ""};
        input.stored = &stored;
        input.journalPath = "/r/ChangeJournal.jnl";
        span.folders = {"/c/d"};
        span.links = {"/c/l"};
    }
    CChangeJournalPlanner::SDecision Decide()
    {
        return CChangeJournalPlanner::Decide(
            input,
            [this](const std::string&, std::uint64_t from, std::uint64_t to, SJournalSpan& out) {
                EXPECT_EQ(from, 100u);
                EXPECT_EQ(to, 250u);
                out = span;
                return readError;
            },
            [this](const std::string&, std::uint64_t& device, std::uint64_t& inode, std::int64_t& born) {
                device = 1;
                inode = linkInode;
                born = linkBorn;
                return linkFound;
            });
    }
};

TEST(ChangeJournalPlannerTest, EachDoubtWalksAndSaysWhyAndPointsKeepTheOlderPositionOfAnIdenticalRecord)
{
    // Name, the doubt, the cause the decision gives (empty: the journal is read).
    const std::vector<std::tuple<const char*, std::function<void(SWorld&)>, const char*>> cases = {
        {"trusted", [](SWorld&) {}, ""},
        {"new file linked", [](SWorld& w) { w.linkInode = 9, w.linkBorn = 1001; }, ""},
        {"database", [](SWorld& w) { w.input.databaseRecord = true; }, "database record"},
        {"job's own", [](SWorld& w) { w.input.jobCause = "no reference time"; }, "no reference time"},
        {"bad answer", [](SWorld& w) { w.input.syncError = "garbage"; }, "answer cannot be used: garbage"},
        {"no daemon",
         [](SWorld& w) { w.input.sync = {SJournalSyncPoint::NotRunning, "", 0, 0, "no socket"}; },
         "daemon is not running (no socket)"},
        {"no journal", [](SWorld& w) { w.input.sync.state = SJournalSyncPoint::Unknown; }, "keeps no journal"},
        {"rotated",
         [](SWorld& w) { w.input.sync = {SJournalSyncPoint::Broken, "0123456789abcdef", 3, 60, "mount table changed"}; },
         "broken: mount table changed"},
        {"no record", [](SWorld& w) { w.input.previousRecord.clear(); }, "previous record [/r/DCInc.zvf]"},
        {"no point", [](SWorld& w) { w.input.stored = nullptr; }, "no journal point"},
        {"walked without daemon", [](SWorld& w) { w.stored.runId.clear(); }, "no journal point"},
        {"restarted", [](SWorld& w) { w.input.sync.runId = "fedcba9876543210"; }, "identity changed"},
        {"next sequence", [](SWorld& w) { w.input.sync.sequence = 3; }, "identity changed"},
        {"reconfigured", [](SWorld& w) { w.input.contentHash = "other"; }, "content or filters changed"},
        {"shorter", [](SWorld& w) { w.input.sync.offset = 99; }, "damaged"},
        {"damaged", [](SWorld& w) { w.readError = CKxError(13, "bad line 4"); }, "damaged: bad line 4"},
        {"broken line", [](SWorld& w) { w.span.broken = true, w.span.brokenCause = "event queue overflowed"; },
         "broken: event queue overflowed"},
        {"ended", [](SWorld& w) { w.span.ended = true; }, "stopped"},
        {"old file linked", [](SWorld& w) { w.linkInode = 9, w.linkBorn = 1000; }, "new link [/c/l]"},
        {"linked name gone", [](SWorld& w) { w.linkInode = 9, w.linkFound = false; }, ""},
    };
    for (const auto& [name, change, cause] : cases) {
        SWorld world;
        change(world);
        const CChangeJournalPlanner::SDecision decision = world.Decide();
        EXPECT_EQ(decision.walk, *cause != '\0') << name;
        EXPECT_NE(decision.cause.find(cause), std::string::npos) << name << ": " << decision.cause;
        if (!decision.walk) {
            EXPECT_EQ(decision.folders, std::vector<std::string>{"/c/d"}) << name;
        }
    }

    const std::string path = ::testing::TempDir() + "/points-" + std::to_string(::getpid());
    std::filesystem::remove(path);
    SChangeJournalPoint first{"rec", "0123456789abcdef", 1, 100, 10, "h", true, false, "", {"/a b"}, {{1, 2}}, {}};
    ASSERT_TRUE(CChangeJournalPoints::Store(path, first).IsSuccess());
    SChangeJournalPoint same = first;
    same.offset = 300, same.journal = false, same.cause = "why\nnot", same.multiLinkFolders = {"/c"};
    ASSERT_TRUE(CChangeJournalPoints::Store(path, same).IsSuccess());
    for (size_t other = 0; other < CChangeJournalPoints::kPointsKept; ++other) {
        SChangeJournalPoint newer;
        newer.record = "r" + std::to_string(other);
        ASSERT_TRUE(CChangeJournalPoints::Store(path, newer).IsSuccess());
    }
    std::vector<SChangeJournalPoint> points;
    ASSERT_TRUE(CChangeJournalPoints::Load(path, points).IsSuccess());
    EXPECT_EQ(points.size(), CChangeJournalPoints::kPointsKept);
    EXPECT_EQ(CChangeJournalPoints::Find(points, "rec"), nullptr);  // the oldest went

    std::filesystem::remove(path);
    ASSERT_TRUE(CChangeJournalPoints::Store(path, first).IsSuccess());
    ASSERT_TRUE(CChangeJournalPoints::Store(path, same).IsSuccess());
    ASSERT_TRUE(CChangeJournalPoints::Load(path, points).IsSuccess());
    const SChangeJournalPoint* kept = CChangeJournalPoints::Find(points, "rec");
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->offset, 100u);
    EXPECT_EQ(kept->cause, "why\nnot");
    EXPECT_EQ(kept->multiLinkFolders, (std::vector<std::string>{"/a b", "/c"}));

    std::ofstream(path, std::ios::app) << "x stray\n";
    const CKxError damaged = CChangeJournalPoints::Load(path, points);
    EXPECT_EQ(damaged.Code(), 13);
    EXPECT_NE(damaged.Message().find("line 6"), std::string::npos) << damaged.Message();
    std::filesystem::remove(path);
}

}  // namespace
