// Items, consumer links, the last link of a volume's chain, answers, mapper and the
// callback's defaults.
#include "EngineTestSupport.h"

#include "Engine/ConsumerAnswer.h"
#include "Engine/ContentMapper.h"
#include "Engine/DataClassificationScanEngine.h"
#include "Engine/DirChangeCollectItemConsumer.h"
#include "Engine/FastFindFirstScanEngine.h"
#include "Engine/FindFirstScanEngine.h"
#include "Engine/GpfsScanEngine.h"
#include "Engine/HadoopScanEngine.h"
#include "Engine/ItemConsumerChain.h"
#include "Engine/RawDeviceItem.h"
#include "Engine/RawDeviceScanEngine.h"
#include "Engine/WalkRoot.h"

using namespace enginetest;

namespace {

// Appends its name to a shared log and answers as told.
class LoggingConsumer : public CItemConsumer {
public:
    LoggingConsumer(std::string name, std::vector<std::string>& log, CKxError answer = {})
        : m_name(std::move(name)), m_log(log), m_answer(std::move(answer))
    {
    }
    CKxError Process(const CItemPtr& item) override
    {
        m_log.push_back(m_name + (item->IsSelected() ? "+" : "-"));
        return m_answer;
    }

private:
    std::string m_name;
    std::vector<std::string>& m_log;
    CKxError m_answer;
};

class FixedEvaluator : public CItemEvaluator {
public:
    explicit FixedEvaluator(bool select) : m_select(select) {}
    bool IsSelected(const CItemPtr&) override { return m_select; }

private:
    bool m_select;
};

TEST(Item, NamesFlagsErrorAndReuse)
{
    CItem item("/data/dir/file.txt", "/source/dir/file.txt", false);
    EXPECT_EQ(item.GetItemName(), "file.txt");
    EXPECT_EQ(item.GetLocalParentPath(), "/data/dir");
    EXPECT_EQ(item.GetSourceFullyQualifiedItemName(), "/source/dir/file.txt");
    EXPECT_TRUE(item.IsRegularFile());
    EXPECT_EQ(CItem("/top", false).GetLocalParentPath(), "/");
    EXPECT_EQ(CItem("/", true).GetItemName(), "");
    EXPECT_EQ(CItem("/a/b/", true).GetItemName(), "b");
    EXPECT_EQ(CItem("/same", "/same", true).GetSourceFullyQualifiedItemName(), "/same");

    // The flag byte's bit layout is what other files record.
    item.setNewInImage();
    item.SetSelected(true);
    item.SetAppleDoubleFile(true);
    item.SetAdHocItem(true);
    item.SetSelectedForAccess(true);
    EXPECT_EQ(item.GetFlags(), 0x1f);
    item.SetSelected(false);
    EXPECT_EQ(item.GetFlags(), 0x1d);

    EXPECT_FALSE(item.HasBag());
    item.SetErrorNumber(EACCES);
    EXPECT_EQ(item.GetErrorNumber(), EACCES);
    EXPECT_EQ(item.GetBag().Get<int>(CItem::ErrorCodeKey, 0), EACCES);

    auto unitBag = std::make_shared<CBag>();
    item.SetWorkUnitBag(unitBag);
    item.Reset();
    EXPECT_EQ(item.GetErrorNumber(), 0);
    EXPECT_EQ(item.GetFlags(), 0);
    EXPECT_FALSE(item.HasBag());
    EXPECT_EQ(item.GetLocalFullyQualifiedItemName(), "");
    EXPECT_EQ(item.GetWorkUnitBag(), unitBag);  // reuse stays within the unit
    EXPECT_EQ(item.GetInterface(0), nullptr);
}

TEST(Item, FileSystemAndRawDeviceItemsCarryTheirStatus)
{
    struct stat status {};
    status.st_mode = S_IFREG | 0644;
    status.st_size = 1234;
    status.st_blocks = 8;
    status.st_nlink = 3;
    status.st_dev = 77;
    status.st_ino = 99;
    status.st_mtim.tv_sec = 1000;
    status.st_ctim.tv_sec = 2000;
    status.st_atim.tv_sec = 3000;
    CFindFirstItem item("/l", "/s", status);
    EXPECT_EQ(item.GetFileSize(), 1234u);
    EXPECT_EQ(item.GetSizeOnDisk(), 4096u);
    EXPECT_EQ(item.GetLinkCount(), 3u);
    EXPECT_EQ(item.GetDeviceId(), 77u);
    EXPECT_EQ(item.GetInodeNumber(), 99u);
    EXPECT_EQ(item.GetLastWriteTime().Seconds(), 1000);
    EXPECT_EQ(item.GetLastChangeTime().Seconds(), 2000);
    EXPECT_EQ(item.GetLastAccessTime().Seconds(), 3000);
    EXPECT_EQ(item.AsString(), "File '/s'");
    item.SetMountPoint(true);
    item.Reset();
    EXPECT_FALSE(item.IsMountPoint());
    EXPECT_EQ(item.GetFindFirstRawData().st_ino, 0u);

    status.st_mode = S_IFBLK | 0600;
    CRawDeviceItem device("/dev/sdz", "/dev/sdz", status, 1u << 30);
    EXPECT_EQ(device.GetFileSize(), 1u << 30);
    EXPECT_EQ(device.GetSizeOnDisk(), 1u << 30);
    EXPECT_EQ(device.AsString(), "RawDevice '/dev/sdz'");
}

TEST(ConsumerChain, ForwardsAnswersAndCountsAtomically)
{
    std::vector<std::string> log;
    auto last = std::make_shared<LoggingConsumer>("last", log, CKxError(KxCode::DoNotEnterFolder, "stop here"));
    CItemConsumerChain middle(last, 42);
    auto item = std::make_shared<CItem>("/x", false);
    EXPECT_EQ(middle.Process(item).Code(), KxCode::DoNotEnterFolder);
    EXPECT_EQ(log, std::vector<std::string>{"last-"});
    EXPECT_EQ(middle.GetJobId(), 42);
    EXPECT_EQ(middle.GetNextConsumer(), last);
    EXPECT_TRUE(CItemConsumerChain().Process(item).IsSuccess());

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&]() {
            for (int i = 0; i < 1000; ++i)
                middle.IncrementProcessedItemsCount();
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(middle.getProcessedItemsCount(), 4000u);
    middle.setProcessedItemsCount(5);
    EXPECT_EQ(middle.getProcessedItemsCount(), 5u);
}

TEST(DirChangeCollect, SplitsItemsBetweenTheTwoWriters)
{
    auto item = std::make_shared<CItem>("/d/f", false);
    struct Case {
        bool first, second;
        std::vector<std::string> expected;
        bool selected;
    };
    const Case cases[] = {
        {false, true, {}, false},                                    // rejected up front: goes nowhere
        {true, false, {"dirchange-"}, false},                        // known, not backed up
        {true, true, {"ancestors+", "collect+", "dirchange+"}, true}, // backed up and recorded
    };
    for (const Case& c : cases) {
        std::vector<std::string> log;
        CDirChangeCollectItemConsumer last(1, std::make_shared<FixedEvaluator>(c.first),
                                           std::make_shared<LoggingConsumer>("dirchange", log),
                                           std::make_shared<FixedEvaluator>(c.second),
                                           std::make_shared<LoggingConsumer>("collect", log));
        last.SetAncestorConsumer(std::make_shared<LoggingConsumer>("ancestors", log));
        item->SetSelected(!c.selected);
        ASSERT_TRUE(last.Process(item).IsSuccess());
        EXPECT_EQ(log, c.expected);
        if (c.first) {
            EXPECT_EQ(item->IsSelected(), c.selected);
        }
        EXPECT_EQ(last.getProcessedItemsCount(), c.first ? 1u : 0u);
    }
}

TEST(DirChangeCollect, AWriterErrorStopsTheSequenceWithItsCode)
{
    std::vector<std::string> log;
    auto failing = std::make_shared<LoggingConsumer>("collect", log, CKxError::FromErrno(ENOSPC, "disk full"));
    CDirChangeCollectItemConsumer last(1, std::make_shared<CItemEvaluator>(),
                                       std::make_shared<LoggingConsumer>("dirchange", log),
                                       std::make_shared<CItemEvaluator>(), failing);
    CKxError e = last.Process(std::make_shared<CItem>("/f", false));
    EXPECT_EQ(e.Code(), ENOSPC);
    EXPECT_EQ(e.Frames().size(), 2u);
    EXPECT_EQ(log, std::vector<std::string>{"collect+"});  // the record is not written for a lost item
    EXPECT_EQ(last.GetSecondConsumer(), failing);
    EXPECT_EQ(last.GetAncestorConsumer(), nullptr);

    // Without evaluators every item is taken by both sides.
    std::vector<std::string> plainLog;
    CDirChangeCollectItemConsumer plain(1, nullptr, std::make_shared<LoggingConsumer>("d", plainLog), nullptr,
                                        std::make_shared<LoggingConsumer>("c", plainLog));
    ASSERT_TRUE(plain.Process(std::make_shared<CItem>("/f", false)).IsSuccess());
    EXPECT_EQ(plainLog, (std::vector<std::string>{"c+", "d+"}));
}

TEST(ConsumerAnswer, ClassifiesEachKindOfAnswer)
{
    CItem healthy("/a", false);
    CItem unreadable("/b", false);
    unreadable.SetErrorNumber(ENOENT);
    EXPECT_EQ(CConsumerAnswer::Classify(CKxError::Success(), healthy), EConsumerAnswer::Taken);
    EXPECT_EQ(CConsumerAnswer::Classify(CKxError(KxCode::DoNotEnterFolder, "skip"), healthy),
              EConsumerAnswer::DoNotEnter);
    EXPECT_EQ(CConsumerAnswer::Classify(CKxError::FromErrno(ENAMETOOLONG, "long"), healthy),
              EConsumerAnswer::DoNotEnter);
    EXPECT_EQ(CConsumerAnswer::Classify(CKxError::FromErrno(ENOENT, "gone"), unreadable),
              EConsumerAnswer::SourceFailure);
    EXPECT_EQ(CConsumerAnswer::Classify(CKxError::FromErrno(ENAMETOOLONG, "readlink"), unreadable),
              EConsumerAnswer::SourceFailure);
    EXPECT_EQ(CConsumerAnswer::Classify(CKxError::FromErrno(EIO, "write"), healthy), EConsumerAnswer::WriteFailure);
    EXPECT_EQ(CConsumerAnswer::Classify(CKxError(KxCode::OutOfMemory, "alloc"), healthy),
              EConsumerAnswer::WriteFailure);
    EXPECT_STREQ(CConsumerAnswer::AsString(EConsumerAnswer::DoNotEnter), "do not enter");
}

TEST(OutputHandlerAndFailureConsumer, PassItemsOn)
{
    auto recorder = std::make_shared<RecordingConsumer>();
    CConsumerOutputHandler handler(recorder);
    ASSERT_TRUE(handler.Process(std::make_shared<CItem>("/x", false)).IsSuccess());
    EXPECT_EQ(recorder->getProcessedItemsCount(), 1u);
    EXPECT_TRUE(CConsumerOutputHandler(nullptr).Process(std::make_shared<CItem>("/y", false)).IsSuccess());

    RecordingFailureConsumer failures;
    auto item = std::make_shared<CItem>("/gone", false);
    ASSERT_TRUE(failures.ReportItemFailure(item, ESTALE).IsSuccess());
    EXPECT_EQ(failures.Failures().at("/gone"), ESTALE);
    EXPECT_EQ(item->GetErrorNumber(), ESTALE);
}

TEST(ContentMapper, LongestLocalPrefixWins)
{
    CContentMapper mapper;
    EXPECT_TRUE(mapper.IsIdentity());
    EXPECT_EQ(mapper.GetSourcePath("/a/b"), "/a/b");
    mapper.AddMapping("/snap/", "/data");
    mapper.AddMapping("/snap/deep", "/elsewhere");
    mapper.AddMapping("/rootsnap", "/");
    EXPECT_FALSE(mapper.IsIdentity());
    EXPECT_EQ(mapper.GetSourcePath("/snap"), "/data");
    EXPECT_EQ(mapper.GetSourcePath("/snap/x/y"), "/data/x/y");
    EXPECT_EQ(mapper.GetSourcePath("/snap/deep/z"), "/elsewhere/z");
    EXPECT_EQ(mapper.GetSourcePath("/snapshot/z"), "/snapshot/z");  // not under /snap
    EXPECT_EQ(mapper.GetSourcePath("/rootsnap/etc"), "/etc");
    EXPECT_EQ(mapper.GetSourcePath("/rootsnap"), "/");
    EXPECT_EQ(mapper.GetSourceVolumeName("/snap"), "/data");
    mapper.SetCacheEnabled(false);
    EXPECT_FALSE(mapper.IsCacheEnabled());
}

TEST(ScanEngines, OnlyTheFileSystemAndRawDeviceEnginesAcceptRoots)
{
    CWalkRoot folder("/tmp", "/tmp");
    struct stat status {};
    status.st_mode = S_IFDIR | 0755;
    folder.SetStatus(status);
    CWalkRoot device("/dev/sdz", "/dev/sdz");
    status.st_mode = S_IFBLK | 0600;
    device.SetStatus(status);
    CWalkRoot missing("/missing", "/missing");
    missing.SetStatErrno(ENOENT);

    EXPECT_TRUE(CFindFirstScanEngine().AcceptsRoot(folder));
    EXPECT_TRUE(CFindFirstScanEngine().AcceptsRoot(missing));
    EXPECT_FALSE(CFindFirstScanEngine().AcceptsRoot(device));
    EXPECT_TRUE(CRawDeviceScanEngine().AcceptsRoot(device));
    EXPECT_FALSE(CRawDeviceScanEngine().AcceptsRoot(folder));
    EXPECT_FALSE(CRawDeviceScanEngine().AcceptsRoot(missing));
    const CScanEnginePtr decliners[] = {std::make_shared<CGpfsScanEngine>(),
                                        std::make_shared<CDataClassificationScanEngine>(),
                                        std::make_shared<CFastFindFirstScanEngine>(),
                                        std::make_shared<CHadoopScanEngine>()};
    for (const auto& engine : decliners) {
        EXPECT_FALSE(engine->AcceptsRoot(folder)) << engine->AsString();
        EXPECT_FALSE(engine->AcceptsRoot(device)) << engine->AsString();
    }
    EXPECT_EQ(decliners[0]->AsString(), "CGpfsScanEngine");

    CScannerCallback base;
    CScanEngineList engines;
    ASSERT_TRUE(base.GetScanEngineList(engines).IsSuccess());
    ASSERT_EQ(engines.size(), 2u);
    EXPECT_EQ(engines[0]->AsString(), "CRawDeviceScanEngine");
    EXPECT_EQ(engines[1]->AsString(), "CFindFirstScanEngine");
}

// A job whose engine list has only decliners still walks nothing silently: every root is a
// failure the operator sees.
class DecliningCallback : public TestCallback {
public:
    CKxError GetScanEngineList(CScanEngineList& engines) override
    {
        engines = {std::make_shared<CGpfsScanEngine>()};
        return CKxError::Success();
    }
};

TEST(ScanEngines, ARootNoEngineAcceptsIsAFailure)
{
    ScratchFolder scratch;
    auto callback = std::make_shared<DecliningCallback>();
    WalkOptions options;
    ASSERT_TRUE(Walk(callback, {scratch.Path()}, options).IsSuccess());
    EXPECT_EQ(options.failures->Failures(), (std::map<std::string, int>{{scratch.Path(), ENOTSUP}}));
}

TEST(ScanEngines, ARawDeviceIsOneItemOfTheDevicesSize)
{
    std::string device;
    for (const char* candidate : {"/dev/loop0", "/dev/loop1", "/dev/sda", "/dev/vda"}) {
        struct stat status {};
        if (::stat(candidate, &status) == 0 && S_ISBLK(status.st_mode) && ::access(candidate, R_OK) == 0) {
            device = candidate;
            break;
        }
    }
    if (device.empty())
        GTEST_SKIP() << "no readable block device";
    auto callback = std::make_shared<TestCallback>();
    callback->Consumer().KeepItems();
    WalkOptions options;
    ASSERT_TRUE(Walk(callback, {device}, options).IsSuccess());
    const auto kept = callback->Consumer().Kept();
    if (kept.empty()) {
        // An unattached loop device cannot report a size: it is then a failure, not an item.
        EXPECT_EQ(options.failures->Failures().size(), 1u);
        return;
    }
    ASSERT_EQ(kept.size(), 1u);
    auto* raw = dynamic_cast<CRawDeviceItem*>(kept[0].get());
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->GetFileSize(), raw->GetDeviceSize());
}

TEST(ScannerCallback, BaseDefaults)
{
    CScannerCallback callback;
    EXPECT_FALSE(callback.IsAborted());
    callback.Abort();
    EXPECT_TRUE(callback.IsAborted());
    CConsumerOutputHandlerPtr handler;
    CKxError e = callback.GetOutputHandler("/vol", handler);
    EXPECT_EQ(e.Code(), KxCode::NotFound);
    EXPECT_EQ(e.Message(), "Output handler is unconfigured for volume '/vol'");
    CScanFailureConsumerPtr failures = std::make_shared<RecordingFailureConsumer>();
    ASSERT_TRUE(callback.GetScanFailureConsumer(failures).IsSuccess());
    EXPECT_EQ(failures, nullptr);
    CItemConsumerPtr collect, dirChange, ancestors;
    CItemEvaluatorPtr evaluator;
    EXPECT_TRUE(callback.GetOutputResources("/vol", collect, dirChange, evaluator, ancestors).IsError());
    std::string folder = "x";
    EXPECT_TRUE(callback.GetPersistFolderName(folder).IsError());
    EXPECT_TRUE(callback.ImpersonateUser().IsSuccess());
    EXPECT_FALSE(callback.IsBackupFromRemoteVolumes());
}

}  // namespace
