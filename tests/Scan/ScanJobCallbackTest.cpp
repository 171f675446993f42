// The job callback: liveness and abort, the name-factory reuse rule, the next-phase argument
// fragments in their order, the reference time taken from file change times, the splitter's
// options, and the queues of paths that need a pass of their own.
#include "Scan/ScanJobTestEnv.h"

#include "Agent/ZVJobCtrlClient.h"
#include "CollectFile/FlatCollectFile.h"
#include "Engine/FindFirstItem.h"
#include "Scan/AdHocFileNameFactory.h"
#include "Scan/PostProcessingOptions.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerOptions.h"
#include "Scan/Unix/UnixFileNameFactory.h"
#include "Scan/Unix/UnixScanJobCallback.h"
#include "Scan/Unix/UnixScannerOptions.h"

#include <thread>

namespace {

namespace Id = SXScannerConfigurationBagId;

class ScanJobCallbackTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        m_callback.SetJobId(7);
        std::shared_ptr<CScannerOptions> options;
        ASSERT_TRUE(m_callback.GetScannerOptionsInstance(options).IsSuccess());
        m_bag = options->GetConfigurationBag();
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

TEST_F(ScanJobCallbackTest, NameFactoryIsReusedUntilTypeOrFolderChange)
{
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

TEST_F(ScanJobCallbackTest, CommonFragmentsInOrder)
{
    CScanJobCallback base;
    std::shared_ptr<CScannerOptions> options;
    ASSERT_TRUE(base.GetScannerOptionsInstance(options).IsSuccess());
    EXPECT_EQ(NextPhase(base), " -ab 0  -parent 1 -c 0 -maxcolnum 0 -numcol 0 -numfolder 0 ");

    CBagPtr bag = options->GetConfigurationBag();
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
}

TEST_F(ScanJobCallbackTest, UnixFragmentsFollowTheCommonOnes)
{
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
    struct Case {
        long long newest;
        std::string fragment;
    };
    for (const Case& c : {Case{700, " -r 699 "}, Case{500, " -r 500 "}, Case{0, " -r 1 "}, Case{1, " -r 1 "},
                          Case{999, " -r 998 "}, Case{1000, " -r 1000 "}, Case{5000, " -r 1000 "}}) {
        m_callback.SetMaxFileCtime(c.newest);
        EXPECT_EQ(RefTimeFragment(), c.fragment) << c.newest;
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
    ASSERT_TRUE(m_bag->Write(Id::idNumStreams, 1u).IsSuccess());
    EXPECT_EQ(m_callback.GetNumStreams(), 1);
    ASSERT_TRUE(m_bag->Write(Id::idNumStreams, 5u).IsSuccess());
    EXPECT_EQ(m_callback.GetNumStreams(), 2);
    ASSERT_TRUE(m_bag->Write(Id::idNumStreams, -1).IsSuccess());
    EXPECT_EQ(m_callback.GetNumStreams(), 2);
    ASSERT_TRUE(m_bag->Write(Id::idNumStreams, 0).IsSuccess());
    EXPECT_EQ(m_callback.GetNumStreams(), 1);
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
    std::shared_ptr<CScannerOptions> scannerOptions;
    ASSERT_TRUE(other.GetScannerOptionsInstance(scannerOptions).IsSuccess());
    CBagPtr bag = scannerOptions->GetConfigurationBag();
    WriteAll(*bag, {{Id::idOrbundId, 2u}, {Id::idAppId, 5u}, {"SC:MultipleReadersWithinSameMount", true}});
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
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < kEach; ++i)
                (void)m_callback.OnNewMountPath(
                    std::make_shared<CItem>("/t" + std::to_string(t) + "/" + std::to_string(i), false));
        });
    for (std::thread& thread : threads)
        thread.join();
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

TEST_F(ScanJobCallbackTest, FailureListNeedsTheJobsNames)
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
}

}  // namespace
