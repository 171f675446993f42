// The job callback: liveness and abort, the name-factory reuse rule, the next-phase argument
// fragments in their order, the reference time taken from file change times, the splitter's
// options, and the queues of paths that need a pass of their own. Then the Unix callback: one
// output resource per volume when workers ask at once, the chain it builds from the bag,
// symbolic-link resolution, the failure list and the statistics. Walks of real trees with their
// restart queues are the scanner loop's tests.
#include "Scan/ScanJobTestEnv.h"

#include "Agent/ZVJobCtrlClient.h"
#include "CollectFile/FlatCollectFile.h"
#include "Engine/ContentMapper.h"
#include "Scan/AdHocFileNameFactory.h"
#include "Scan/BackupJobTypeEvaluator.h"
#include "Scan/PostProcessingOptions.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/Unix/UnixFileNameFactory.h"
#include "Scan/Unix/UnixScanJobCallback.h"
#include "Scan/Unix/UnixScannerOptions.h"
#include "Scan/Unix/skipFS.h"

#include <cxxabi.h>
#include <set>
#include <sys/sysmacros.h>

namespace {

namespace Id = SXScannerConfigurationBagId;

class ScanJobCallbackTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        m_callback.SetJobId(7);
        m_bag = BagOf(m_callback);
    }

    std::string NextPhase(CScanJobCallback& callback)
    {
        std::string arguments;
        int action = 0;
        EXPECT_TRUE(callback.GetNextPhaseArguments(arguments, action).IsSuccess());
        EXPECT_EQ(action, 2);
        return arguments;
    }
    std::string RefTimeFragment()
    {
        std::string arguments;
        EXPECT_TRUE(m_callback.GetNextPhaseArguments_UpdateRefTime(arguments).IsSuccess());
        return arguments;
    }

    CUnixScanJobCallback m_callback;
    CBagPtr m_bag;
};

TEST_F(ScanJobCallbackTest, AbortNeedsAJobControlClientAndFollowsTheQuitFlag)
{
    EXPECT_TRUE(m_callback.initJobControl("").IsError());  // the job manager refuses an empty token
    EXPECT_FALSE(m_callback.GetJobControlClient());
    EXPECT_FALSE(m_callback.GetIsAlive());
    EXPECT_TRUE(m_callback.IsAborted());  // not connected to the job manager
    EXPECT_TRUE(m_callback.GetIsAlive());  // asking counts as a sign of life
    m_callback.ResetIsAlive();
    EXPECT_FALSE(m_callback.GetIsAlive());

    ASSERT_TRUE(m_callback.initJobControl("tok").IsSuccess());
    EXPECT_FALSE(m_callback.IsAborted());
    // A retry keeps the first connection: it needs no token.
    ASSERT_TRUE(m_bag->Write(Id::idRetryScanAttempt, true).IsSuccess());
    ASSERT_TRUE(m_callback.initJobControl("").IsSuccess());
    ASSERT_TRUE(m_callback.GetJobControlClient());
    EXPECT_EQ(m_callback.GetJobControlClient()->getJobId(), 7);
    m_callback.Abort();
    EXPECT_TRUE(m_callback.IsAborted());
}

TEST_F(ScanJobCallbackTest, QuitFromTheJobManagerIsSeenSoonAndStays)
{
    ASSERT_TRUE(m_callback.initJobControl("tok").IsSuccess());
    EXPECT_FALSE(m_callback.IsAborted());
    WriteFile(m_instance + "/JobManager/7.quit", "");
    // The quit answer is polled, not asked per folder: it must arrive within a few polls.
    bool aborted = false;
    for (int i = 0; i < 400 && !aborted; ++i) {
        aborted = m_callback.IsAborted();
        if (!aborted)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(aborted);
    // A job told to quit stays told, even if the marker goes away.
    std::filesystem::remove(m_instance + "/JobManager/7.quit");
    EXPECT_TRUE(m_callback.IsAborted());
}

// The failure list needs the job's names; a name factory is reused until the type or the folder changes.
TEST_F(ScanJobCallbackTest, FailureListNeedsTheJobsNamesAndTheNameFactoryIsReusedUntilTypeOrFolderChange)
{
    CScanFailureConsumerPtr failures;
    ASSERT_TRUE(m_callback.GetScanFailureConsumer(failures).IsSuccess());
    EXPECT_FALSE(failures);  // before configure: no results folder yet
    m_callback.GetFileNameFactory(1, m_root);
    ASSERT_TRUE(m_callback.GetScanFailureConsumer(failures).IsSuccess());
    ASSERT_TRUE(failures);
    EXPECT_TRUE(std::filesystem::exists(m_root + "/scan_Failures.zvf"));
    // The base callback records nothing itself.
    EXPECT_TRUE(m_callback.CScanJobCallback::ReportScanFailure("/x", CKxError(5, "denied")).IsSuccess());
    EXPECT_EQ(failures->getProcessedItemsCount(), 0u);

    CScanJobCallback base;
    base.GetFileNameFactory(1, m_root + "/missing-folder");
    EXPECT_TRUE(base.GetScanFailureConsumer(failures).IsError());

    auto first = m_callback.GetFileNameFactory(2, "/r/2/5");
    ASSERT_TRUE(std::dynamic_pointer_cast<CUnixFileNameFactory>(first));
    EXPECT_EQ(m_callback.GetFileNameFactory(2, "/r/2/5"), first);
    auto full = m_callback.GetFileNameFactory(1, "/r/2/5");
    EXPECT_NE(full, first);
    auto moved = m_callback.GetFileNameFactory(1, "/r/2/6");
    EXPECT_NE(moved, full);
    EXPECT_EQ(moved->GetResultsFolder(), "/r/2/6");

    ASSERT_TRUE(m_bag->Write(Id::idOnDemandAdHocBackupJob, true).IsSuccess());
    EXPECT_EQ(m_callback.GetFileNameFactory(1, "/r/2/6"), moved);  // same pair: kept
    EXPECT_TRUE(std::dynamic_pointer_cast<CAdHocFileNameFactory>(m_callback.GetFileNameFactory(2, "/r/2/6")));
    EXPECT_FALSE(std::dynamic_pointer_cast<CUnixFileNameFactory>(CScanJobCallback().GetFileNameFactory(1, "/r")));
}

TEST_F(ScanJobCallbackTest, NextPhaseFragmentsInOrder)
{
    CScanJobCallback base;
    CBagPtr bag = BagOf(base);
    EXPECT_EQ(NextPhase(base), " -ab 0  -parent 1 -c 0 -maxcolnum 0 -numcol 0 -numfolder 0 ");

    base.SetSCContentFailed(true);
    base.SetScanError(true);
    WriteAll(*bag, {{Id::idUseArchiveBit, true}, {Id::idIncrImageMode, true}, {Id::idIndexV2, true},
                    {Id::idOnDemandAdHocBackupJob, true}, {Id::idOnDemandAdHocPrevJobRefrenceTime, 1700000000LL},
                    {Id::idDistributedFSMode, true}, {Id::idDistributedAppType, 11}, {Id::idAutoMountRequired, true},
                    {Id::idClientAppType, 10}, {Id::idTrueUpEnabled, true}, {Id::idJobsToTrueUp, 3u},
                    {Id::idLastSynthFullJobID, 42LL}, {"bEnableAutoSubclientDirCleanup", true}});
    EXPECT_EQ(NextPhase(base), " -scfail  -ScanError  -ab 1 "
                               " -parent 1 -c 0 -maxcolnum 0 -numcol 0 -numfolder 0 "
                               " -incimage -idx2 "
                               " -r 1700000000  -adhoc "
                               " -gluster -dct  -amr "
                               " -cat 10 -FSC -nsnap"
                               " -TJ  -TJC 3  -ls 42 "
                               " -CLN ");

    // The Unix callback's fragments follow the common ones.
    const std::string common = " -ab 0  -parent 1 -c 0 -maxcolnum 0 -numcol 0 -numfolder 0 ";
    EXPECT_EQ(NextPhase(m_callback), common + " -new_scan -hloff ");

    WriteAll(*m_bag, {{Id::idSkipIncompleteLargeFileBrowse, true}, {Id::idHadoopScan, true},
                      {Id::idHadoopNameNodeHost, std::string("nn1")}, {Id::idExtentSize, 4096ULL},
                      {Id::idGpfsSnap, true}, {Id::idImpersonateUID, 1000u}, {Id::idIsDefaultSCContentRoot, true},
                      {Id::idHardLinkEnable, true}, {Id::idMultiStreamExtentBackup, true},
                      {Id::idContainerCollectId, 9}, {Id::idAutoMountRequired, true}});
    EXPECT_EQ(NextPhase(m_callback), common + " -new_scan -slt -hadoopURI nn1  "
                                              " -LFEExtsz 4096  -nsnap  -impersonateUID 1000  -MntDetails "
                                              " -hlon  -msExtBkp  -CCId 9  -amr ");

    ASSERT_TRUE(m_bag->Write(Id::idHadoopUser, std::string("hdfs")).IsSuccess());
    ASSERT_TRUE(m_bag->Write(Id::idDistributedFSMode, true).IsSuccess());
    const std::string withUser = NextPhase(m_callback);
    EXPECT_NE(withUser.find(" -hadoopURI nn1 -hadoopUser hdfs "), std::string::npos) << withUser;
    // A distributed job's mount request is in the common fragments, not repeated at the end.
    EXPECT_EQ(withUser.substr(withUser.size() - 9), " -CCId 9 ") << withUser;
}

TEST_F(ScanJobCallbackTest, ReferenceTimeFromFileChangeTimes)
{
    ASSERT_TRUE(m_bag->Write(Id::idScanStartTime, 1000LL).IsSuccess());
    EXPECT_EQ(RefTimeFragment(), "");  // only when tracking is on
    EXPECT_FALSE(m_callback.shouldOverrideScanReftTime());
    EXPECT_EQ(m_callback.getScanReftTime().Seconds(), 1000);

    m_callback.SetMaxCtimeTracking(true);
    m_callback.SetReferenceTime(500);
    for (const auto& [newest, fragment] : {std::pair{700, " -r 699 "}, {500, " -r 500 "}, {0, " -r 1 "}, {1, " -r 1 "},
                                           {999, " -r 998 "}, {1000, " -r 1000 "}, {5000, " -r 1000 "}}) {
        m_callback.SetMaxFileCtime(newest);
        EXPECT_EQ(RefTimeFragment(), fragment) << newest;
    }
    m_callback.SetReferenceTime(1);
    m_callback.SetMaxFileCtime(1);
    EXPECT_EQ(RefTimeFragment(), " -r 1 ");
    EXPECT_TRUE(m_callback.shouldOverrideScanReftTime());
    EXPECT_EQ(m_callback.getScanReftTime().Seconds(), 1);
}

TEST_F(ScanJobCallbackTest, StatisticsAndStreamsFollowTheCollectFiles)
{
    EXPECT_EQ(m_callback.GetNumStreams(), 1);  // nothing written yet

    // Two volumes with collect files, one deleted-items list, one resource without a collect file.
    auto addResource = [this](int number, const std::string& name) {
        auto collect = std::make_shared<CFlatCollectFile>(7, m_root + "/" + name, "/vol" + std::to_string(number));
        EXPECT_TRUE(collect->Open().IsSuccess());
        auto resource = std::make_shared<COutputResources>(number, "/vol" + std::to_string(number), "id");
        resource->SetCollectConsumer(collect);
        m_callback.AddOutputResource(resource);
        return collect;
    };
    auto first = addResource(1, "CollectInc1.zvf");
    ASSERT_TRUE(first->RawWriteItem("/vol1/a/", 0).IsSuccess());
    ASSERT_TRUE(first->RawWriteItem("/vol1/a/f|100", 100).IsSuccess());
    auto second = addResource(2, "CollectInc2.zvf");
    ASSERT_TRUE(second->RawWriteItem("/vol2/g|5", 5).IsSuccess());
    auto deleted = addResource(3, "DeletedItems_3.zvf");
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(deleted->RawWriteItem("?" "?/vol3/gone" + std::to_string(i), 0).IsSuccess());
    m_callback.AddOutputResource(std::make_shared<COutputResources>(4, "/vol4", "id4"));

    SScanStats stats;
    ASSERT_TRUE(m_callback.GetScanStats(stats).IsSuccess());
    EXPECT_EQ(stats.outputResources, 4u);
    EXPECT_EQ(stats.collectFiles, 2u);
    EXPECT_EQ(stats.totalItems, 3);
    EXPECT_EQ(stats.dataSize, 105u);
    EXPECT_EQ(stats.folders, 1u);
    EXPECT_EQ(stats.deletedItems, 4);

    EXPECT_EQ(NextPhase(m_callback).find(" -ab 0  -parent 1 -c 3 -maxcolnum 4 -numcol 2 -numfolder 1 "), 0u);
    EXPECT_EQ(m_callback.GetTotalBackupSize(), 105u);

    // Streams: the subclient's count, but never more than there are collect files.
    for (const auto& [configured, streams] : {std::pair<std::any, int>{1u, 1}, {5u, 2}, {-1, 2}, {0, 1}}) {
        ASSERT_TRUE(m_bag->WriteAny(Id::idNumStreams, configured).IsSuccess());
        EXPECT_EQ(m_callback.GetNumStreams(), streams) << streams;
    }
    for (auto& collect : {first, second, deleted})
        EXPECT_TRUE(collect->Close().IsSuccess());
}

TEST_F(ScanJobCallbackTest, PostProcessingOptionsFromTheSubclient)
{
    WriteApp("2:5", 29, true, "\"numStreams\": 3");
    ASSERT_TRUE(m_bag->Write(Id::idOrbundId, 2u).IsSuccess());
    ASSERT_TRUE(m_bag->Write(Id::idAppId, 5u).IsSuccess());
    std::shared_ptr<CPostProcessingOptions> options;
    ASSERT_TRUE(m_callback.GetPostProcessingOptionsInstance(options).IsSuccess());
    ASSERT_TRUE(options->LoadConfiguration().IsSuccess());
    EXPECT_EQ(options->getNumberOfStreamsConfigured(), 3);
    EXPECT_EQ(options->GetCollectFileSplitCount(), 1);
    std::shared_ptr<CPostProcessingOptions> again;
    ASSERT_TRUE(m_callback.GetPostProcessingOptionsInstance(again).IsSuccess());
    EXPECT_EQ(again, options);

    Setting("For_Multiple_Reads_On_Disk_Collect_Split_Multiplication_Factor", "4");
    options->SetMultipleReads();
    EXPECT_EQ(options->GetCollectFileSplitCount(), 12);

    // The multiple-readers scanner option turns multiple reads on when the options are made.
    CUnixScanJobCallback other;
    WriteAll(*BagOf(other), {{Id::idOrbundId, 2u}, {Id::idAppId, 5u}, {"SC:MultipleReadersWithinSameMount", true}});
    std::shared_ptr<CPostProcessingOptions> multiple;
    ASSERT_TRUE(other.GetPostProcessingOptionsInstance(multiple).IsSuccess());
    EXPECT_TRUE(multiple->IsMultipleReads());
    EXPECT_EQ(multiple->GetMultiplicationFactor(), 4);

    // An unreadable subclient counts as one stream; a zero factor keeps the default of 2.
    Setting("For_Multiple_Reads_On_Disk_Collect_Split_Multiplication_Factor", "0");
    CPostProcessingOptions missing("9:9");
    missing.SetMultipleReads();
    ASSERT_TRUE(missing.LoadConfiguration().IsSuccess());
    EXPECT_EQ(missing.getNumberOfStreamsConfigured(), 1);
    EXPECT_EQ(missing.GetCollectFileSplitCount(), 2);
}

TEST_F(ScanJobCallbackTest, PathQueuesKeepEveryByteAndTheirOrder)
{
    std::vector<std::string> paths;
    ASSERT_TRUE(m_callback.PopNewMountPaths(paths).IsSuccess());  // never opened: empty
    ASSERT_TRUE(m_callback.PopLongPaths(paths).IsSuccess());
    std::vector<CScanJobCallback::SSymLinkTarget> links;
    ASSERT_TRUE(m_callback.PopSymLinkTargets(links).IsSuccess());
    EXPECT_TRUE(paths.empty() && links.empty());
    EXPECT_FALSE(m_callback.IsSymLinkEnabled());

    const std::vector<std::string> odd = {"/m/new\nline", "/m/pipe|and\\back", std::string("/m/\xff\xfe bytes"),
                                          "/m/<SRCVOL>x</SRCVOL>", "/m/" + std::string(3000, 'l')};
    for (const std::string& path : odd) {
        ASSERT_TRUE(m_callback.OnNewMountPath(std::make_shared<CItem>(path, true)).IsSuccess());
        ASSERT_TRUE(m_callback.OnLongPath(std::make_shared<CItem>(path, false), "/vol one").IsSuccess());
    }
    ASSERT_TRUE(m_callback.PopNewMountPaths(paths).IsSuccess());
    ASSERT_EQ(paths.size(), odd.size());
    for (size_t i = 0; i < odd.size(); ++i)
        EXPECT_EQ(paths[i], odd[i] + "/");
    paths.clear();
    ASSERT_TRUE(m_callback.PopLongPaths(paths).IsSuccess());
    ASSERT_EQ(paths.size(), odd.size());
    EXPECT_EQ(paths[0], "/m/new\nline<SRCVOL>/vol one</SRCVOL>");
    paths.clear();
    ASSERT_TRUE(m_callback.PopNewMountPaths(paths).IsSuccess());  // drained
    EXPECT_TRUE(paths.empty());

    // Workers queue at once; every entry comes back once, each worker's in its own order.
    constexpr int kThreads = 6, kEach = 3000;
    OnThreads(kThreads, [&](int t) {
        for (int i = 0; i < kEach; ++i)
            (void)m_callback.OnNewMountPath(
                std::make_shared<CItem>("/t" + std::to_string(t) + "/" + std::to_string(i), false));
    });
    ASSERT_TRUE(m_callback.PopNewMountPaths(paths).IsSuccess());
    ASSERT_EQ(paths.size(), static_cast<size_t>(kThreads * kEach));
    std::vector<int> next(kThreads, 0);
    for (const std::string& path : paths) {
        const int t = path[2] - '0';
        EXPECT_EQ(path, "/t" + std::to_string(t) + "/" + std::to_string(next[t]++));
    }

    // The queues' files live in the agent's temporary folder and go with the callback.
    EXPECT_FALSE(std::filesystem::is_empty(m_instance + "/tmp"));
    {
        CScanJobCallback other;
        ASSERT_TRUE(other.EnableSymLink().IsSuccess());
    }
    auto callbackGone = std::make_unique<CUnixScanJobCallback>();
    ASSERT_TRUE(callbackGone->OnNewMountPath(std::make_shared<CItem>("/x", true)).IsSuccess());
    const auto files = std::distance(std::filesystem::directory_iterator(m_instance + "/tmp"), {});
    callbackGone.reset();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_instance + "/tmp"), {}), files - 1);
}

// ---- The Unix callback ---------------------------------------------------------------------------

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
        WriteAll(*BagOf(*callback), {{Id::idBackupType, 1u}, {Id::idOrbundId, 2u}, {Id::idAppId, 5u}});
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
    struct stat tree {}, shm {};  // a second volume when /dev/shm is one
    if (::stat(m_tree.c_str(), &tree) == 0 && ::stat("/dev/shm", &shm) == 0 && tree.st_dev != shm.st_dev &&
        ::access("/dev/shm", W_OK) == 0)
        volumes.push_back("/dev/shm");
    constexpr int kThreads = 8;
    constexpr int kItems = 200;
    std::atomic<int> failures{0};
    OnThreads(kThreads, [&](int t) {
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

// The links of a chain from its head, by class name without its "C" and "Consumer".
std::vector<std::string> Links(const CConsumerOutputHandlerPtr& handler)
{
    std::vector<std::string> names;
    for (CItemConsumerPtr link = handler->GetConsumer(); link;) {
        const CItemConsumer& consumer = *link;
        char* name = abi::__cxa_demangle(typeid(consumer).name(), nullptr, nullptr, nullptr);
        const std::string_view shown = name ? name : "?";
        names.emplace_back(shown.substr(1, shown.size() - (shown.ends_with("Consumer") ? 9 : 1)));
        std::free(name);
        auto chain = std::dynamic_pointer_cast<CItemConsumerChain>(link);
        link = chain ? chain->GetNextConsumer() : nullptr;
    }
    return names;
}

TEST_F(UnixCallbackTest, ChainLinksFollowTheBagInTheirOrder)
{
    EXPECT_EQ(Links(Handler(m_tree)), (std::vector<std::string>{"SkipFS", "RawDevice", "DirChangeCollectItem"}));

    WriteAll(*m_bag, {{Id::idUserCentricClientImpersonate, true}, {Id::idUserCentricClientImpersonateUid, 1000u},
                      {Id::idBackupAfterDate, 1700000000ULL}, {Id::idForceFullScan, true},
                      {Id::idForceFullScanContents, std::vector<std::string>{m_tree + "/new"}},
                      {Id::idLongPathFlag, true}, {Id::idFollowSymLink, true}, {Id::idAppleDouble, true},
                      {Id::idMultiStreamExtentBackup, true}, {Id::idExtentBackupFileSize, 1ULL << 30}});
    m_callback->SetMaxCtimeTracking(true);
    const CConsumerOutputHandlerPtr all = Handler(m_tree);
    EXPECT_EQ(Links(all), (std::vector<std::string>{"UserCentricSkip", "SkipFS", "RawDevice", "BackupAfterDate",
                                                    "ForceFullScan", "LongPath", "SymLink", "AppleDouble",
                                                    "ExtentLevelBackup", "MaxFileCTime", "DirChangeCollectItem"}));
    EXPECT_TRUE(m_callback->IsSymLinkEnabled());

    // A long-path pass, no skip consumer, no extent threshold, and a Hadoop scan each take
    // their link out.
    WriteAll(*m_bag, {{Id::idIsLongPathScan, true}, {Id::idDontCreateSkipFSConsumer, true},
                      {Id::idExtentBackupFileSize, 0ULL}, {Id::idUserCentricClientImpersonate, false},
                      {Id::idBackupAfterDate, 0ULL}, {Id::idForceFullScan, false}});
    m_callback->SetMaxCtimeTracking(false);
    EXPECT_EQ(Links(Handler(m_tree)), (std::vector<std::string>{"RawDevice", "SymLink", "AppleDouble", "DirChangeCollectItem"}));
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
    EXPECT_EQ(Links(Handler(m_tree)), (std::vector<std::string>{"SkipFS", "RawDevice", "DirChangeCollectItem"}));

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
    for (const auto& [link, path, folder] : {std::tuple{"dot", m_tree + "/a/x", false}, {"up", m_tree + "/b", true},
                                             {"absolute", m_tree + "/a/x", false}}) {
        CItemPtr target;
        ASSERT_TRUE(m_callback->GetItemFromSymLink(Found(m_tree + "/a/" + link), target).IsSuccess()) << link;
        ASSERT_TRUE(target) << link;
        EXPECT_EQ(target->GetLocalFullyQualifiedItemName(), path) << link;
        EXPECT_EQ(target->IsFolder(), folder) << link;
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
