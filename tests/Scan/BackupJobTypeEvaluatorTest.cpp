// The backup-type evaluator: its rules in their order (which rule wins when several apply),
// the reference each backup type takes from the backup status record, the two rules that switch
// themselves off for the rest of the job, and many threads asking one evaluator at once. Then the
// backup status file those records live in: found or not, records saved per volume, and saves
// from several output handlers at once. And the disk-cleanup evaluator's decision at its
// boundaries: sizes, extensions, path lengths, the quota.
#include "Scan/BackupJobTypeEvaluator.h"

#include "Base/ScratchFolderTest.h"
#include "Engine/FindFirstItem.h"
#include "Scan/Archiving/ArchiveEvaluator.h"
#include "Scan/DataClassificationItemInterface.h"
#include "Scan/ItemBagId.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/Unix/BackupStatusFile.h"

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

namespace {

namespace Id = SXScannerConfigurationBagId;

constexpr std::int64_t kRef = 5000;
constexpr std::int64_t kOld = kRef - 100;

// A previous record that knows a fixed set of (path, kind) and counts the questions.
class CKnownPaths : public IDirChange {
public:
    explicit CKnownPaths(std::set<std::pair<std::string, int>> known) : m_known(std::move(known)) {}
    bool Lookup(std::string_view path, EKind kind, FVBasePtr*) override
    {
        ++m_lookups;
        return m_known.contains({std::string(path), kind});
    }
    std::atomic<int> m_lookups{0};

private:
    std::set<std::pair<std::string, int>> m_known;
};

struct SItemShape {
    mode_t mode = S_IFREG;
    std::int64_t mtime = kOld;
    std::int64_t ctime = kOld;
    std::vector<const char*> flags;  // bool item-bag keys set true
    bool newInImage = false;
    bool offline = false;
};

CItemPtr MakeItem(const std::string& path, const SItemShape& shape)
{
    struct stat status {};
    status.st_mode = shape.mode | 0644;
    status.st_mtim.tv_sec = shape.mtime;
    status.st_ctim.tv_sec = shape.ctime;
    auto item = std::make_shared<CFindFirstItem>(path, path, status);
    for (const char* key : shape.flags)
        EXPECT_TRUE(item->GetBag().Write(key, true).IsSuccess());
    item->setNewInImage(shape.newInImage);
    item->SetOffline(shape.offline);
    return item;
}

bool HasACLOnlyMark(const CItemPtr& item)
{
    return item->HasBag() && item->GetBag().GetBool(SXBagId::idDirChangeItemACLOnly);
}

struct SRuleCase {
    const char* what;
    unsigned long backupType;
    bool useMTime, useCTime, identifyACLOnly, includeEmptyFolders;
    bool withPrevious;
    bool known;  // the previous record holds the item
    SItemShape item;
    bool selected;
    bool markedNew;
    bool aclOnlyMark;
};

const char* const kCommitACL = SXBagId::idItemACLOnlyCommitOrFailed;
const char* const kExtent = SXBagId::idExtentQualifiedFile;

const SRuleCase kRuleCases[] = {
    // what                                    type mt  ct  acl  empty prev known item                                                   sel    new    aclMark
    {"full: old unknown file",                 1, true, true, false, false, true, false, {S_IFREG, kOld, kOld, {}},                      true,  false, false},
    {"full: ACL-only commit still taken",      1, true, true, true,  false, true, true,  {S_IFREG, kOld, kOld, {kCommitACL, kExtent}},   true,  false, false},
    {"incr: old known file",                   2, true, true, false, false, true, true,  {S_IFREG, kOld, kOld, {}},                      false, false, false},
    {"incr: old unknown file is new",          2, true, true, false, false, true, false, {S_IFREG, kOld, kOld, {}},                      true,  true,  false},
    {"incr: old unknown file, no previous",    2, true, true, false, false, false, false, {S_IFREG, kOld, kOld, {}},                     false, false, false},
    {"incr: mtime at the reference second",    2, true, true, false, false, true, true,  {S_IFREG, kRef, kOld, {}},                      true,  false, false},
    {"incr: ctime at the reference second",    2, true, true, false, false, true, true,  {S_IFREG, kOld, kRef, {}},                      true,  false, false},
    {"incr: one second before",                2, true, true, false, false, true, true,  {S_IFREG, kRef - 1, kRef - 1, {}},              false, false, false},
    {"incr: mtime off ignores new mtime",      2, false, true, false, false, true, true, {S_IFREG, kRef + 9, kOld, {}},                  false, false, false},
    {"incr: ctime off ignores new ctime",      2, true, false, false, false, true, true,  {S_IFREG, kOld, kRef + 9, {}},                  false, false, false},
    {"incr: both off, unknown still new",      2, false, false, false, false, true, false, {S_IFREG, kRef + 9, kRef + 9, {}},            true,  true,  false},
    {"incr: old known folder",                 2, true, true, false, false, true, true,  {S_IFDIR, kOld, kOld, {}},                      false, false, false},
    {"incr: empty folders on takes folders",   2, true, true, false, true,  true, true,  {S_IFDIR, kOld, kOld, {}},                      true,  false, false},
    {"incr: empty folders on, file untouched", 2, true, true, false, true,  true, true,  {S_IFREG, kOld, kOld, {}},                      false, false, false},
    {"incr: post-processing mark",             2, true, true, false, false, true, true,  {S_IFREG, kOld, kOld, {SXBagId::idPostProcessQualified}}, true, false, false},
    {"incr: deleted mark",                     2, true, true, false, false, true, true,  {S_IFREG, kOld, kOld, {SXBagId::idDeleted}},    true,  false, false},
    {"incr: new-in-image flag",                2, true, true, false, false, true, true,  {S_IFREG, kOld, kOld, {}, true},                true,  true,  false},
    // Rule 2 wins over the marks after it.
    {"incr: ACL-only commit beats new flag",   2, true, true, true,  false, true, false, {S_IFREG, kRef + 9, kRef + 9, {kCommitACL, kExtent, SXBagId::idPostProcessQualified}, true}, false, true, true},
    {"incr: ACL-only commit needs extent",     2, true, true, true,  false, true, true,  {S_IFREG, kRef + 9, kOld, {kCommitACL}},        true,  false, false},
    {"incr: ACL-only commit, offline stub",    2, true, true, true,  false, true, true,  {S_IFREG, kOld, kOld, {kCommitACL, kExtent}, false, true}, false, false, false},
    {"incr: ACL-only commit, switch off",      2, true, true, false, false, true, true,  {S_IFREG, kRef + 9, kOld, {kCommitACL, kExtent}}, true, false, false},
    // Rule 8a: only the change time moved.
    {"incr: ctime only, known: ACL only",      2, true, true, true,  false, true, true,  {S_IFREG, kOld, kRef + 1, {kExtent}},           false, false, true},
    {"incr: ctime only, unknown: new",         2, true, true, true,  false, true, false, {S_IFREG, kOld, kRef + 1, {kExtent}},           true,  true,  false},
    {"incr: ctime only, not extent: taken",    2, true, true, true,  false, true, true,  {S_IFREG, kOld, kRef + 1, {}},                  true,  false, false},
    {"incr: ctime only, folder: taken",        2, true, true, true,  false, true, true,  {S_IFDIR, kOld, kRef + 1, {kExtent}},           true,  false, false},
    {"incr: mtime new beats ACL-only",         2, true, true, true,  false, true, true,  {S_IFREG, kRef + 1, kRef + 1, {kExtent}},       true,  false, false},
    // Differential: the same rules against the full's reference.
    {"diff: old known file",                   4, true, true, false, false, true, true,  {S_IFREG, kOld, kOld, {}},                      false, false, false},
    {"diff: new since the reference",          4, true, true, false, false, true, true,  {S_IFREG, kRef + 1, kOld, {}},                  true,  false, false},
    // Other non-full types keep no reference time: everything is taken by time.
    {"synthetic: old known file",              7, true, true, false, false, true, true,  {S_IFREG, kOld, kOld, {}},                      true,  false, false},
};

TEST(BackupJobTypeEvaluatorTest, RulesApplyInTheirOrder)
{
    for (const SRuleCase& c : kRuleCases) {
        SCOPED_TRACE(c.what);
        auto bag = std::make_shared<CBag>();
        ASSERT_TRUE(bag->Write(Id::idUseMTime, c.useMTime).IsSuccess());
        ASSERT_TRUE(bag->Write(Id::idUseCTime, c.useCTime).IsSuccess());
        ASSERT_TRUE(bag->Write(Id::idIdentifyACLOnlyItem, c.identifyACLOnly).IsSuccess());
        ASSERT_TRUE(bag->Write(Id::idIncludeEmptyFoldersInIncrementalBackup, c.includeEmptyFolders).IsSuccess());
        const std::string path = "/data/d/item";
        const int kind = S_ISDIR(c.item.mode) ? IDirChange::eFolder : IDirChange::eFile;
        auto previous = std::make_shared<CKnownPaths>(
            c.known ? std::set<std::pair<std::string, int>>{{path, kind}} : std::set<std::pair<std::string, int>>{});

        CBackupJobTypeEvaluator evaluator;
        ASSERT_TRUE(
            evaluator.Initialize(c.backupType, CTimeStamp(kRef), bag, c.withPrevious ? previous : nullptr).IsSuccess());
        CItemPtr item = MakeItem(path, c.item);
        EXPECT_EQ(evaluator.IsSelected(item), c.selected);
        EXPECT_EQ(item->isNewInImage(), c.markedNew);
        EXPECT_EQ(HasACLOnlyMark(item), c.aclOnlyMark);
    }
}

TEST(BackupJobTypeEvaluatorTest, ReferenceComesFromTheStatusRecordByBackupType)
{
    auto status = std::make_shared<CVolumeBackupStatusData>("/");
    status->SetLastUsn(100);
    status->SetLastGoodUsn(90);
    status->SetFullUsn(50);
    status->SetRefTime(CTimeStamp(kRef));

    CBackupJobTypeEvaluator evaluator(status);
    auto previous = std::make_shared<CKnownPaths>(std::set<std::pair<std::string, int>>{});
    ASSERT_TRUE(evaluator.Initialize(4, CTimeStamp(kRef), nullptr, previous).IsSuccess());
    EXPECT_EQ(evaluator.GetReferenceUsn(), 50) << "a differential counts from the full";
    EXPECT_EQ(evaluator.GetReferenceTime(), CTimeStamp(kRef));
    // Other types: the last good number when the record's time is the job's, no reference time.
    ASSERT_TRUE(evaluator.Initialize(7, CTimeStamp(kRef), nullptr, previous).IsSuccess());
    EXPECT_EQ(evaluator.GetReferenceUsn(), 90);
    EXPECT_EQ(evaluator.GetReferenceTime(), CTimeStamp());
    ASSERT_TRUE(evaluator.Initialize(7, CTimeStamp(kRef + 1), nullptr, previous).IsSuccess());
    EXPECT_EQ(evaluator.GetReferenceUsn(), 100);
    // A full keeps nothing, not even the previous record.
    ASSERT_TRUE(evaluator.Initialize(1, CTimeStamp(kRef), nullptr, previous).IsSuccess());
    EXPECT_EQ(evaluator.GetReferenceUsn(), 0);
    EXPECT_EQ(evaluator.GetReferenceTime(), CTimeStamp());
    EXPECT_FALSE(evaluator.GetPreviousDirChange());

    // Without a record the job's reference time stands in; absent switches count as on.
    CBackupJobTypeEvaluator bare;
    auto empty = std::make_shared<CBag>();
    ASSERT_TRUE(bare.Initialize(2, CTimeStamp(kRef), empty).IsSuccess());
    EXPECT_EQ(bare.GetReferenceTime(), CTimeStamp(kRef));
    EXPECT_TRUE(bare.IsUseMTime() && bare.IsUseCTime());
    // An incremental without a reference time takes everything.
    ASSERT_TRUE(bare.Initialize(2, CTimeStamp(), empty, previous).IsSuccess());
    EXPECT_TRUE(bare.IsSelected(MakeItem("/old", {})));
    EXPECT_EQ(previous->m_lookups, 0);
}

class CClassifiedItem : public CFindFirstItem {
public:
    CClassifiedItem(const std::string& path, const struct stat& status, std::int64_t updated)
        : CFindFirstItem(path, path, status), m_interface(std::make_shared<CInterface>(updated))
    {
    }
    CItemInterfacePtr GetInterface(int id) const override
    {
        return id == CDataClassificationItemInterface::kInterfaceId ? m_interface : nullptr;
    }

private:
    class CInterface : public CDataClassificationItemInterface {
    public:
        explicit CInterface(std::int64_t updated) : m_updated(updated) {}
        CTimeStamp GetLastDcUpdateTime() const override { return CTimeStamp(m_updated); }

    private:
        std::int64_t m_updated;
    };
    CItemInterfacePtr m_interface;
};

TEST(BackupJobTypeEvaluatorTest, SequenceNumberAndClassificationTimeRulesSwitchOffAtTheFirstItemWithoutTheirValue)
{
    auto status = std::make_shared<CVolumeBackupStatusData>("/");
    status->SetLastUsn(100);
    status->SetRefTime(CTimeStamp(kRef));
    auto known = std::make_shared<CKnownPaths>(std::set<std::pair<std::string, int>>{{"/a", 2}, {"/b", 2}, {"/c", 2}});
    CBackupJobTypeEvaluator evaluator(status);
    ASSERT_TRUE(evaluator.Initialize(2, CTimeStamp(kRef), nullptr, known).IsSuccess());

    auto withUsn = [](const std::string& path, long long usn) {
        CItemPtr item = MakeItem(path, {});
        EXPECT_TRUE(item->GetBag().Write(SXBagId::idUSN, usn).IsSuccess());
        return item;
    };
    EXPECT_TRUE(evaluator.IsSelected(withUsn("/a", 100)));   // at the reference number
    EXPECT_FALSE(evaluator.IsSelected(withUsn("/b", 99)));   // below: falls through to times
    EXPECT_TRUE(evaluator.IsUseUsn());
    // A number of another type is a read error, not "absent": the rule stays on.
    CItemPtr wrongType = MakeItem("/c", {});
    ASSERT_TRUE(wrongType->GetBag().Write(SXBagId::idUSN, 500).IsSuccess());  // int, not long long
    EXPECT_FALSE(evaluator.IsSelected(wrongType));
    EXPECT_TRUE(evaluator.IsUseUsn());
    EXPECT_FALSE(evaluator.IsSelected(MakeItem("/c", {})));  // no number at all
    EXPECT_FALSE(evaluator.IsUseUsn());
    EXPECT_FALSE(evaluator.IsSelected(withUsn("/a", 1000))) << "the rule stays off for later items";

    // The classification time replaces the file times until an item has none.
    auto onlyK = std::make_shared<CKnownPaths>(std::set<std::pair<std::string, int>>{{"/k", 2}});
    CBackupJobTypeEvaluator classified;
    ASSERT_TRUE(classified.Initialize(2, CTimeStamp(kRef), nullptr, onlyK).IsSuccess());
    struct stat fresh {};
    fresh.st_mode = S_IFREG;
    fresh.st_mtim.tv_sec = kRef + 50;  // new by its own times
    EXPECT_TRUE(classified.IsSelected(std::make_shared<CClassifiedItem>("/k", fresh, kRef)));
    // An old classification time skips the file times: the lookup decides.
    EXPECT_FALSE(classified.IsSelected(std::make_shared<CClassifiedItem>("/k", fresh, kRef - 1)));
    CItemPtr unknown = std::make_shared<CClassifiedItem>("/u", fresh, kRef - 1);
    EXPECT_TRUE(classified.IsSelected(unknown));
    EXPECT_TRUE(unknown->isNewInImage());
    EXPECT_TRUE(classified.IsUseDataClassification());

    EXPECT_TRUE(classified.IsSelected(MakeItem("/k", {S_IFREG, kRef + 50, kOld, {}})));  // no interface: times
    EXPECT_FALSE(classified.IsUseDataClassification());
    EXPECT_TRUE(classified.IsSelected(std::make_shared<CClassifiedItem>("/k", fresh, kRef - 1)))
        << "once off, the file times decide again";
}

TEST(BackupJobTypeEvaluatorTest, ManyThreadsShareOneEvaluator)
{
    std::set<std::pair<std::string, int>> known;
    for (int i = 0; i < 2000; i += 2)
        known.insert({"/t/f" + std::to_string(i), IDirChange::eFile});
    auto previous = std::make_shared<CKnownPaths>(known);
    CBackupJobTypeEvaluator evaluator;
    ASSERT_TRUE(evaluator.Initialize(2, CTimeStamp(kRef), nullptr, previous).IsSuccess());

    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = t; i < 2000; i += 4) {
                // Every third item is new by time; odd items are unknown to the previous record.
                const bool fresh = i % 3 == 0;
                CItemPtr item = MakeItem("/t/f" + std::to_string(i), {S_IFREG, fresh ? kRef : kOld, kOld, {}});
                const bool expected = fresh || i % 2 == 1;
                if (evaluator.IsSelected(item) != expected || item->isNewInImage() != (!fresh && i % 2 == 1))
                    ++wrong;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_FALSE(evaluator.IsUseUsn());
    EXPECT_FALSE(evaluator.IsUseDataClassification());
}

// ---- The backup status file ----------------------------------------------------------------------

class BackupStatusFileTest : public ScratchFolderTest {
protected:
    static CVolumeBackupStatusData Record(const std::string& volume, std::int64_t usn, std::int64_t refTime)
    {
        CVolumeBackupStatusData record(volume);
        record.SetLastUsn(usn);
        record.SetRefTime(CTimeStamp(refTime));
        record.SetLastGoodUsn(usn - 1);
        record.SetFullUsn(usn - 2);
        record.SetJournalId(usn * 10);
        return record;
    }
};

TEST_F(BackupStatusFileTest, MissingOrPresentFileIsNoErrorAndTheLaterRecordForAVolumeWins)
{
    CBackupStatusFile missing(m_dir);
    EXPECT_EQ(missing.GetStatusFilePath(), m_dir + "/cjInfoTot.zvf");
    EXPECT_TRUE(missing.Initialize().IsSuccess());
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/cjInfoTot.zvf"));

    // Whatever the file holds is not read; finding it empties what the object held.
    std::ofstream(m_dir + "/cjInfoTot.zvf") << "not a layout anyone reads\n";
    CBackupStatusFile present(m_dir);
    ASSERT_TRUE(present.SaveUpdatedStatusData(Record("/vol", 5, 100)).IsSuccess());
    ASSERT_TRUE(present.ReadFile(present.GetStatusFilePath()).IsSuccess());
    CVolumeBackupStatusData found;
    EXPECT_FALSE(present.GetSavedStatusData("/vol", found));
    EXPECT_TRUE(present.ReadFile(m_dir + "/absent.zvf").IsSuccess());

    CBackupStatusFile noFolder(m_dir + "/not/there");
    EXPECT_TRUE(noFolder.WriteOutputFile().IsSuccess());
    EXPECT_FALSE(std::filesystem::exists(m_dir + "/not"));
    // Asking for a volume gives a default record, saved or not.
    EXPECT_EQ(present.GetBackupStatusData("/vol"), CVolumeBackupStatusData());

    // The later record for a volume wins; nothing is written back.
    std::filesystem::remove(m_dir + "/cjInfoTot.zvf");
    CBackupStatusFile status(m_dir);
    ASSERT_TRUE(status.SaveUpdatedStatusData(Record("/vol", 5, 100)).IsSuccess());
    ASSERT_TRUE(status.SaveUpdatedStatusData(Record("/other", 9, 300)).IsSuccess());
    ASSERT_TRUE(status.SaveUpdatedStatusData(Record("/vol", 7, 200)).IsSuccess());
    ASSERT_TRUE(status.GetSavedStatusData("/vol", found));
    EXPECT_EQ(found, Record("/vol", 7, 200));  // every field of the copy, the journal id included
    ASSERT_TRUE(status.GetSavedStatusData("/other", found));
    EXPECT_EQ(found.GetLastUsn(), 9);
    EXPECT_TRUE(status.WriteOutputFile().IsSuccess());
    EXPECT_TRUE(status.WriteRecord(-1, found).IsSuccess());
    EXPECT_FALSE(std::filesystem::exists(status.GetStatusFilePath()));
}

TEST_F(BackupStatusFileTest, HandlersOfManyThreadsSaveAndAskAtOnce)
{
    CBackupStatusFile status(m_dir);
    constexpr int kThreads = 8;
    constexpr int kSaves = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&status, t] {
            for (int i = 0; i < kSaves; ++i) {
                const std::string volume = "/vol" + std::to_string(i % 50);
                EXPECT_TRUE(status.SaveUpdatedStatusData(Record(volume, t * kSaves + i, i)).IsSuccess());
                EXPECT_EQ(status.GetBackupStatusData(volume), CVolumeBackupStatusData());
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int v = 0; v < 50; ++v) {
        CVolumeBackupStatusData found;
        ASSERT_TRUE(status.GetSavedStatusData("/vol" + std::to_string(v), found));
        // Whole records only: every field comes from the same save.
        EXPECT_EQ(found.GetLastGoodUsn(), found.GetLastUsn() - 1);
        EXPECT_EQ(found.GetJournalId(), found.GetLastUsn() * 10);
        EXPECT_EQ(found.GetRefTime().Seconds() % 50, v);
    }
}

// ---- The disk-cleanup evaluator ------------------------------------------------------------------

constexpr long long kReference = 1'000'000'000;
constexpr long long kMiB = 1 << 20;
constexpr long kDay = 86400;

// The evaluator with the decisions it reports kept.
class CRecordingEvaluator : public CArchiveEvaluator {
public:
    using CArchiveEvaluator::CArchiveEvaluator;
    void AddToStubbingReport(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

class ArchiveEvaluatorTest : public ScratchFolderTest {
protected:
    // 30 days, at least 1 MiB, extension "log".
    static CBag Rules(const std::string& extensions = "log")
    {
        CBag bag;
        EXPECT_TRUE(bag.Write(Id::idNumDaysAccessed, 30ull).IsSuccess());
        EXPECT_TRUE(bag.Write(Id::idNumDaysModified, 30ull).IsSuccess());
        EXPECT_TRUE(bag.Write(Id::idMinFileSize, static_cast<unsigned long long>(kMiB)).IsSuccess());
        EXPECT_TRUE(bag.Write(Id::idExtensionsForDiskCleanup, extensions).IsSuccess());
        return bag;
    }
    // A real file named `name` (so that the checks that open it can), described as `size` bytes
    // (all allocated) last read and written `ageSeconds` before the reference time. `local`
    // overrides the name the item is walked under.
    CItemPtr File(const std::string& name, long long size, long ageSeconds, const std::string& local = "")
    {
        const std::string path = m_dir + "/" + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_GE(fd, 0) << path;
        ::close(fd);
        struct stat status {};
        EXPECT_EQ(::lstat(path.c_str(), &status), 0);
        status.st_size = size;
        status.st_blocks = size / 512;
        status.st_atim.tv_sec = status.st_mtim.tv_sec = kReference - ageSeconds;
        const std::string walked = local.empty() ? path : local;
        return std::make_shared<CFindFirstItem>(walked, walked, status);
    }
};

TEST_F(ArchiveEvaluatorTest, VotesAtTheirBoundaries)
{
    // Name, size, age, selected, the reason in the refusal reported.
    for (const auto& [name, size, age, selected, reason] : std::vector<std::tuple<const char*, long long, long, bool, const char*>>{
             {"exact.log", kMiB, 30 * kDay, true, ""},
             {"short.log", kMiB - 1, 30 * kDay, false, "size 1048575 < 1048576 min size rule"},
             {"young.log", kMiB, 30 * kDay - 1, false, "accessed 29 days ago  < 30 days atime rule modified 29 days ago"},
             {"UPPER.LOG", kMiB, 40 * kDay, true, ""},
             {"other.txt", kMiB, 40 * kDay, false, "does not match extension rules"}}) {
        SCOPED_TRACE(name);
        CRecordingEvaluator evaluator("/", CTimeStamp(kReference), Rules(), 100 * kMiB, 4096, nullptr);
        EXPECT_EQ(evaluator.IsSelected(File(name, size, age)), selected);
        ASSERT_EQ(evaluator.lines.size(), 1u);
        EXPECT_NE(evaluator.lines[0].find(selected ? "Action:[StubbingCandidate]" : reason), std::string::npos)
            << evaluator.lines[0];
    }
}

TEST_F(ArchiveEvaluatorTest, LongPathsTheQuotaAndExtensionLists)
{
    CRecordingEvaluator evaluator("/", CTimeStamp(kReference), Rules(), 100, 4096, nullptr);
    // A folder name of 960 characters: never a candidate, and nothing to report.
    EXPECT_FALSE(evaluator.IsSelected(File("deep.log", kMiB, 40 * kDay, "/" + std::string(959, 'd') + "/deep.log")));
    EXPECT_TRUE(evaluator.lines.empty());
    // 100 bytes to free: the first file counts in full (its blocks less one), the next finds
    // the quota met.
    EXPECT_TRUE(evaluator.IsSelected(File("first.log", kMiB, 40 * kDay)));
    EXPECT_EQ(evaluator.GetBytesToFree(), 100 - (kMiB - 4096));
    EXPECT_FALSE(evaluator.IsSelected(File("second.log", kMiB, 40 * kDay)));
    EXPECT_EQ(evaluator.lines.size(), 1u);

    // Extension lists: none takes any extension; a list that names none is refused.
    CRecordingEvaluator lists("/", CTimeStamp(kReference), Rules(""), 100 * kMiB, 4096, nullptr);
    EXPECT_TRUE(lists.MatchesExtensions(*File("any.bin", 1, 0)));
    const CKxError refused = lists.InitExtensionList(" , ,");
    EXPECT_NE(refused.AsString().find("Couldn't parse invalid extension list [ , ,]"), std::string::npos);
    ASSERT_TRUE(lists.InitExtensionList("txt, .dat").IsSuccess());
    EXPECT_TRUE(lists.MatchesExtensions(*File("a.DAT", 1, 0)));
    EXPECT_FALSE(lists.MatchesExtensions(*File("a.log", 1, 0)));
}

}  // namespace
