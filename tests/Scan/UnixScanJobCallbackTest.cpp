// The Unix callback: one output resource per volume when workers ask at once, the chain it
// builds from the bag, symbolic-link resolution, the failure list and the statistics. Walks of
// real trees with their restart queues are the scanner loop's tests.
#include "Scan/ScanJobTestEnv.h"

#include "CollectFile/FlatCollectFile.h"
#include "Engine/ContentMapper.h"
#include "Engine/DirChangeCollectItemConsumer.h"
#include "Engine/FindFirstItem.h"
#include "Scan/AppleDoubleConsumer.h"
#include "Scan/BackupAfterDateConsumer.h"
#include "Scan/BackupJobTypeEvaluator.h"
#include "Scan/ContentRootAncestorConsumer.h"
#include "Scan/ExtentLevelBackupConsumer.h"
#include "Scan/ForceFullScanConsumer.h"
#include "Scan/LongPathConsumer.h"
#include "Scan/MaxFileCTimeConsumer.h"
#include "Scan/RawDeviceConsumer.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerOptions.h"
#include "Scan/SkipFSConsumer.h"
#include "Scan/SymLinkConsumer.h"
#include "Scan/UserCentricSkipConsumer.h"
#include "Scan/Unix/UnixScanJobCallback.h"
#include "Scan/Unix/skipFS.h"

#include <algorithm>
#include <set>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>

namespace {

namespace Id = SXScannerConfigurationBagId;

class UnixCallbackTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        m_tree = m_root + "/tree";
        m_results = m_root + "/results";
        std::filesystem::create_directories(m_tree);
        std::filesystem::create_directories(m_results);
        m_callback = NewCallback();
        m_bag = m_callback->GetScannerConfigurationBag();
    }

    std::shared_ptr<CUnixScanJobCallback> NewCallback()
    {
        auto callback = std::make_shared<CUnixScanJobCallback>();
        callback->SetJobId(7);
        std::shared_ptr<CScannerOptions> options;
        EXPECT_TRUE(callback->GetScannerOptionsInstance(options).IsSuccess());
        CBagPtr bag = options->GetConfigurationBag();
        EXPECT_TRUE(bag->Write(Id::idBackupType, 1u).IsSuccess());
        EXPECT_TRUE(bag->Write(Id::idOrbundId, 2u).IsSuccess());
        EXPECT_TRUE(bag->Write(Id::idAppId, 5u).IsSuccess());
        callback->GetFileNameFactory(1, m_results);
        EXPECT_TRUE(callback->initJobControl("tok").IsSuccess());
        return callback;
    }

    CConsumerOutputHandlerPtr Handler(const std::string& volume)
    {
        CConsumerOutputHandlerPtr handler;
        CKxError e = m_callback->GetOutputHandler(volume, handler);
        EXPECT_TRUE(e.IsSuccess()) << e.AsString();
        return handler;
    }
    std::vector<std::string> CollectLines(int number)
    {
        EXPECT_TRUE(m_callback->FlushBuffers().IsSuccess());
        return ReadLines(m_results + "/CollectTot" + std::to_string(number) + ".zvf");
    }
    bool HasSecondVolume() const
    {
        struct stat tree {}, shm {};
        return ::stat(m_tree.c_str(), &tree) == 0 && ::stat("/dev/shm", &shm) == 0 && tree.st_dev != shm.st_dev &&
               ::access("/dev/shm", W_OK) == 0;
    }

    std::string m_tree;
    std::string m_results;
    std::shared_ptr<CUnixScanJobCallback> m_callback;
    CBagPtr m_bag;
};

// One collect file per volume is proven end to end; here, what is asked of a volume without one.
TEST_F(UnixCallbackTest, VolumesWithoutAnOutputResourceAreRefused)
{
    std::filesystem::create_directories(m_tree + "/a");
    ASSERT_TRUE(Handler(m_tree));
    CItemConsumerPtr collect, dirChange, ancestors;
    CItemEvaluatorPtr evaluator;
    ASSERT_TRUE(m_callback->GetOutputResources(m_tree + "/a", collect, dirChange, evaluator, ancestors).IsSuccess());
    EXPECT_EQ(collect, m_callback->GetOutputResourcesList().at(0)->GetCollectConsumer());
    EXPECT_TRUE(std::dynamic_pointer_cast<CBackupJobTypeEvaluator>(evaluator));
    EXPECT_EQ(m_callback->GetOutputResources("/proc", collect, dirChange, evaluator, ancestors).Code(), ENOENT);
    CConsumerOutputHandlerPtr none;
    EXPECT_EQ(m_callback->GetOutputHandler(m_root + "/no-such-volume", none).Code(), ENOENT);
    EXPECT_FALSE(none);
}

TEST_F(UnixCallbackTest, WorkersAskingAtOnceShareOneResourcePerVolume)
{
    std::vector<std::string> volumes = {m_tree};
    if (HasSecondVolume())
        volumes.push_back("/dev/shm");
    constexpr int kThreads = 8;
    constexpr int kItems = 200;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            const std::string& volume = volumes[t % volumes.size()];
            for (int round = 0; round < 20; ++round) {
                CConsumerOutputHandlerPtr handler;
                if (m_callback->GetOutputHandler(volume, handler).IsError()) {
                    ++failures;
                    return;
                }
                if (round != 0)
                    continue;
                for (int i = 0; i < kItems; ++i) {
                    struct stat status {};
                    status.st_mode = S_IFREG;
                    status.st_size = 1;
                    const std::string path = volume + "/t" + std::to_string(t) + "/f" + std::to_string(i);
                    if (handler->Process(std::make_shared<CFindFirstItem>(path, path, status)).IsError())
                        ++failures;
                }
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    const auto resources = m_callback->GetOutputResourcesList();
    ASSERT_EQ(resources.size(), volumes.size());
    std::set<int> numbers;
    std::uint64_t items = 0;
    for (const auto& resource : resources) {
        numbers.insert(resource->GetCollectNumber());
        items += std::dynamic_pointer_cast<CFlatCollectFile>(resource->GetCollectConsumer())->GetItemCount();
    }
    EXPECT_EQ(numbers.size(), volumes.size());
    EXPECT_EQ(items, static_cast<std::uint64_t>(kThreads * kItems));
    // Every line arrived whole (a one-stream job writes them in their final form, without sizes).
    for (const auto& resource : resources)
        for (const std::string& line : CollectLines(resource->GetCollectNumber())) {
            const std::string name = line.substr(line.rfind('/') + 1);
            EXPECT_TRUE(line.ends_with("/") ||
                        (name.size() > 1 && name[0] == 'f' && name.find_first_not_of("0123456789", 1) == std::string::npos))
                << line;
        }
}

// The links of a chain from its head, by name.
std::vector<std::string> Links(const CConsumerOutputHandlerPtr& handler)
{
    std::vector<std::string> names;
    CItemConsumerPtr link = handler->GetConsumer();
    while (link) {
        const CItemConsumer* raw = link.get();
        if (dynamic_cast<const CUserCentricSkipConsumer*>(raw)) names.push_back("UserCentricSkip");
        else if (dynamic_cast<const CSkipFSConsumer*>(raw)) names.push_back("SkipFS");
        else if (dynamic_cast<const CRawDeviceConsumer*>(raw)) names.push_back("RawDevice");
        else if (dynamic_cast<const CBackupAfterDateConsumer*>(raw)) names.push_back("BackupAfterDate");
        else if (dynamic_cast<const CForceFullScanConsumer*>(raw)) names.push_back("ForceFullScan");
        else if (dynamic_cast<const CLongPathConsumer*>(raw)) names.push_back("LongPath");
        else if (dynamic_cast<const CSymLinkConsumer*>(raw)) names.push_back("SymLink");
        else if (dynamic_cast<const CAppleDoubleConsumer*>(raw)) names.push_back("AppleDouble");
        else if (dynamic_cast<const CExtentLevelBackupConsumer*>(raw)) names.push_back("ExtentLevelBackup");
        else if (dynamic_cast<const CMaxFileCTimeConsumer*>(raw)) names.push_back("MaxFileCTime");
        else if (dynamic_cast<const CDirChangeCollectItemConsumer*>(raw)) names.push_back("DirChangeCollect");
        else names.push_back("?");
        auto chain = std::dynamic_pointer_cast<CItemConsumerChain>(link);
        link = chain ? chain->GetNextConsumer() : nullptr;
    }
    return names;
}

TEST_F(UnixCallbackTest, ChainLinksFollowTheBagInTheirOrder)
{
    EXPECT_EQ(Links(Handler(m_tree)), (std::vector<std::string>{"SkipFS", "RawDevice", "DirChangeCollect"}));

    WriteAll(*m_bag, {{Id::idUserCentricClientImpersonate, true}, {Id::idUserCentricClientImpersonateUid, 1000u},
                      {Id::idBackupAfterDate, 1700000000ULL}, {Id::idForceFullScan, true},
                      {Id::idForceFullScanContents, std::vector<std::string>{m_tree + "/new"}},
                      {Id::idLongPathFlag, true}, {Id::idFollowSymLink, true}, {Id::idAppleDouble, true},
                      {Id::idMultiStreamExtentBackup, true}, {Id::idExtentBackupFileSize, 1ULL << 30}});
    m_callback->SetMaxCtimeTracking(true);
    const CConsumerOutputHandlerPtr all = Handler(m_tree);
    EXPECT_EQ(Links(all), (std::vector<std::string>{"UserCentricSkip", "SkipFS", "RawDevice", "BackupAfterDate",
                                                    "ForceFullScan", "LongPath", "SymLink", "AppleDouble",
                                                    "ExtentLevelBackup", "MaxFileCTime", "DirChangeCollect"}));
    EXPECT_TRUE(m_callback->IsSymLinkEnabled());

    // A long-path pass, no skip consumer, no extent threshold, and a Hadoop scan each take
    // their link out.
    WriteAll(*m_bag, {{Id::idIsLongPathScan, true}, {Id::idDontCreateSkipFSConsumer, true},
                      {Id::idExtentBackupFileSize, 0ULL}, {Id::idUserCentricClientImpersonate, false},
                      {Id::idBackupAfterDate, 0ULL}, {Id::idForceFullScan, false}});
    m_callback->SetMaxCtimeTracking(false);
    EXPECT_EQ(Links(Handler(m_tree)), (std::vector<std::string>{"RawDevice", "SymLink", "AppleDouble", "DirChangeCollect"}));
    ASSERT_TRUE(m_bag->Write(Id::idDontCreateSkipFSConsumer, false).IsSuccess());
    ASSERT_TRUE(m_bag->Write(Id::idClientAppType, 2).IsSuccess());
    EXPECT_EQ(Links(Handler(m_tree)).size(), 4u);
    ASSERT_TRUE(m_bag->Write(Id::idClientAppType, 0).IsSuccess());
    ASSERT_TRUE(m_bag->Write(Id::idHadoopScan, true).IsSuccess());
    EXPECT_EQ(Links(Handler(m_tree)).size(), 4u);
    EXPECT_EQ(m_callback->GetOutputResourcesList().size(), 1u);
}

TEST_F(UnixCallbackTest, NoAppleDoubleLinkOnHfsVolumes)
{
    struct stat tree {};
    ASSERT_EQ(::stat(m_tree.c_str(), &tree), 0);
    WriteFile(m_root + "/mountinfo",
              KxFormat("20 1 %u:%u / / rw - hfsplus /dev/disk1 rw\n", major(tree.st_dev), minor(tree.st_dev)));
    m_callback->SetFileSystems(std::make_shared<skipFS>(m_root + "/mountinfo"));
    ASSERT_TRUE(m_bag->Write(Id::idAppleDouble, true).IsSuccess());
    CItemConsumerPtr head = std::make_shared<CItemConsumerChain>();
    EXPECT_EQ(m_callback->CreateAndAddAppleDoubleConsumer(m_tree, head).Code(), KxCode::UnknownProduct);
    EXPECT_EQ(Links(Handler(m_tree)), (std::vector<std::string>{"SkipFS", "RawDevice", "DirChangeCollect"}));

    // An unreadable mount table leaves the job without the link too.
    m_callback->SetFileSystems(std::make_shared<skipFS>(m_root + "/none"));
    EXPECT_EQ(m_callback->CreateAndAddAppleDoubleConsumer(m_tree, head).Code(), KxCode::UnknownProduct);
}

TEST_F(UnixCallbackTest, SymbolicLinkTargets)
{
    std::filesystem::create_directories(m_tree + "/a");
    std::filesystem::create_directories(m_tree + "/b");
    WriteFile(m_tree + "/a/x", "x");
    std::filesystem::create_symlink("./x", m_tree + "/a/dot");
    std::filesystem::create_symlink("../b", m_tree + "/a/up");
    std::filesystem::create_symlink(m_tree + "/b/../a/./x", m_tree + "/a/absolute");
    std::filesystem::create_symlink("nowhere", m_tree + "/a/dangling");
    struct Case {
        const char* link;
        std::string target;
        bool folder;
    };
    for (const Case& c : {Case{"dot", m_tree + "/a/x", false}, Case{"up", m_tree + "/b", true},
                          Case{"absolute", m_tree + "/a/x", false}}) {
        CItemPtr target;
        ASSERT_TRUE(m_callback->GetItemFromSymLink(Found(m_tree + "/a/" + c.link), target).IsSuccess()) << c.link;
        ASSERT_TRUE(target) << c.link;
        EXPECT_EQ(target->GetLocalFullyQualifiedItemName(), c.target) << c.link;
        EXPECT_EQ(target->IsFolder(), c.folder) << c.link;
    }
    CItemPtr target;
    ASSERT_TRUE(m_callback->GetItemFromSymLink(Found(m_tree + "/a/dangling"), target).IsSuccess());
    EXPECT_FALSE(target);
    CItemPtr notALink = Found(m_tree + "/a/x");
    EXPECT_EQ(m_callback->GetItemFromSymLink(notALink, target).Code(), EINVAL);
    EXPECT_EQ(notALink->GetErrorNumber(), EINVAL);  // the link's own failure: to the failure list

    // Queued by source path, a folder with its trailing '/', with the link and its owner.
    auto mapper = std::make_shared<CContentMapper>();
    mapper->AddMapping(m_tree, "/source");
    m_callback->SetContentMapper(mapper);
    ASSERT_TRUE(m_callback->EnableSymLink().IsSuccess());
    for (const char* link : {"dot", "up", "dangling"})
        ASSERT_TRUE(m_callback->OnSymLink(Found(m_tree + "/a/" + link)).IsSuccess()) << link;
    std::vector<CScanJobCallback::SSymLinkTarget> queued;
    ASSERT_TRUE(m_callback->PopSymLinkTargets(queued).IsSuccess());
    const uid_t me = ::geteuid();
    EXPECT_EQ(queued, (std::vector<CScanJobCallback::SSymLinkTarget>{{"/source/a/x", m_tree + "/a/dot", me},
                                                                     {"/source/b/", m_tree + "/a/up", me}}));
}

TEST_F(UnixCallbackTest, ScanFailuresGoToTheList)
{
    // Before the job has its names there is no list: reported, not fatal.
    auto unnamed = std::make_shared<CUnixScanJobCallback>();
    EXPECT_TRUE(unnamed->ReportScanFailure("/x", CKxError(EIO, "io")).IsSuccess());

    ASSERT_TRUE(m_callback->ReportScanFailure("/data/denied/", CKxError::FromErrno(EACCES, "open")).IsSuccess());
    ASSERT_TRUE(m_callback->ReportScanFailure(std::make_shared<CItem>("/data/f\nx", false),
                                              CKxError(KxCode::NotFound, "gone"))
                    .IsSuccess());
    ASSERT_TRUE(m_callback->FlushBuffers().IsSuccess());
    const std::string list = m_results + "/scan_Failures.zvf";
    EXPECT_EQ(ReadFile(list), "folder /data/denied:13\nfile /data/f\\x0ax:1168\n");
    CScanFailureConsumerPtr failures;
    ASSERT_TRUE(m_callback->GetScanFailureConsumer(failures).IsSuccess());
    EXPECT_EQ(failures->getProcessedItemsCount(), 2u);

    // The next job starts a new list.
    auto next = NewCallback();
    ASSERT_TRUE(next->GetScanFailureConsumer(failures).IsSuccess());
    EXPECT_EQ(ReadFile(list), "");
}

TEST_F(UnixCallbackTest, StatisticsCountItemsNotAncestorsAndAFailedFlushIsReturned)
{
    std::filesystem::create_directories(m_tree + "/sub");
    WriteFile(m_tree + "/f", "12345");
    WriteFile(m_tree + "/sub/g", "abc");
    CConsumerOutputHandlerPtr handler = Handler(m_tree);
    for (const char* path : {"", "/f", "/sub", "/sub/g"})
        ASSERT_TRUE(handler->Process(Found(m_tree + path)).IsSuccess()) << path;
    ASSERT_TRUE(m_callback->FlushBuffers().IsSuccess());
    SScanStats stats;
    ASSERT_TRUE(m_callback->GetScanStats(stats).IsSuccess());
    EXPECT_EQ(stats.totalItems, 4);  // the ancestor lines are not items
    EXPECT_EQ(stats.folders, 2u);
    EXPECT_EQ(stats.dataSize, 8u);

    auto collect = std::dynamic_pointer_cast<CFlatCollectFile>(m_callback->GetOutputResourcesList()[0]->GetCollectConsumer());
    ASSERT_TRUE(handler->Process(Found(m_tree + "/f")).IsSuccess());
    collect->File().SetWriteFunction([](int, const void*, size_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    });
    EXPECT_EQ(m_callback->FlushBuffers().Code(), ENOSPC);
}

TEST_F(UnixCallbackTest, EmptyContentIsFedBackThroughItsVolume)
{
    std::filesystem::create_directories(m_tree + "/sub");
    std::filesystem::create_directories(m_root + "/other");
    std::filesystem::create_directories(m_root + "/wild");
    WriteFile(m_root + "/wild/readme", "no match");
    CConsumerOutputHandlerPtr handler = Handler(m_tree);
    ASSERT_TRUE(handler->Process(Found(m_tree)).IsSuccess());
    const size_t before = CollectLines(1).size();

    ASSERT_TRUE(m_callback->ProcessEmptyScanContent({m_tree, m_tree + "/sub", m_root + "/other", m_root + "/missing",
                                                     m_root + "/wild/*.txt"})
                    .IsSuccess());
    const std::vector<std::string> lines = CollectLines(1);
    ASSERT_EQ(lines.size(), before + 2);
    EXPECT_EQ(lines[before], m_root + "/other/");
    EXPECT_EQ(lines[before + 1], m_root + "/wild/");
    EXPECT_EQ(m_callback->GetOutputResourcesList().size(), 1u);

    // Now they produced an item: a second call adds nothing.
    ASSERT_TRUE(m_callback->ProcessEmptyScanContent({m_root + "/other", m_root + "/wild/*.txt"}).IsSuccess());
    EXPECT_EQ(CollectLines(1).size(), before + 2);
}

}  // namespace
