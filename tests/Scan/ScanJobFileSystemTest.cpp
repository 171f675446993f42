// The file-system job's own decisions: its command-line options, the thread counts of the
// scanner loop, the order of the clean-up chain when a step fails, impersonation (in a forked
// child: the test process keeps its ids), the scan view file and the progress lines.
#include "Scan/ScanJobTestEnv.h"

#include "Agent/InstancePaths.h"
#include "Engine/WorkUnitManager.h"
#include "Scan/ScanJobFileSystem.h"
#include "Scan/ScanProgress.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerOptions.h"
#include "Scan/Unix/ScanJobFileSystemUnix.h"
#include "Scan/Unix/UnixScanJobCallback.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace Id = SXScannerConfigurationBagId;
namespace fs = std::filesystem;

class FileSystemJobTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        m_callback = std::make_shared<CUnixScanJobCallback>();
    }
    // What the driver writes into the bag before the job reads its command line.
    void PrepareBag(long long jobType = 5)
    {
        ASSERT_TRUE(Bag()->Write(Id::idJobType, static_cast<unsigned>(jobType)).IsSuccess());
    }

    // A job on a fresh callback (and so a fresh bag).
    template <typename Job = CScanJobFileSystem>
    std::shared_ptr<Job> NewJob(const std::vector<std::string>& extra = {}, CKxError* result = nullptr)
    {
        m_callback = std::make_shared<CUnixScanJobCallback>();
        PrepareBag();
        auto job = std::make_shared<Job>();
        job->SetScanJobCallback(m_callback);
        CKxError processed = job->ProcessCommandLine(JobArgs(extra));
        if (result)
            *result = processed;
        else
            EXPECT_TRUE(processed.IsSuccess()) << processed.AsString();
        return job;
    }

    CBagPtr Bag()
    {
        std::shared_ptr<CScannerOptions> options;
        EXPECT_TRUE(m_callback->GetScannerOptionsInstance(options).IsSuccess());
        return options->GetConfigurationBag();
    }

    std::shared_ptr<CUnixScanJobCallback> m_callback;
};

// ---- Command line ---------------------------------------------------------------------------

TEST_F(FileSystemJobTest, LastJobIsFullOnlyWhenTheFullIsNewer)
{
    struct Case {
        std::vector<std::string> extra;
        bool full;
        long long lastSuccessful;
    };
    const Case cases[] = {
        {{"-lf", "100", "-li", "100"}, false, 100},  // a tie counts as incremental
        {{"-lf", "101", "-li", "100"}, true, 101},
        {{"-lf", "99", "-li", "100"}, false, 100},
        {{"-lf", "7"}, true, 7},
        {{"-li", "5"}, false, 5},
        {{}, false, 0},
    };
    for (const Case& c : cases) {
        auto job = NewJob(c.extra);
        EXPECT_EQ(job->IsLastJobFull(), c.full) << ::testing::PrintToString(c.extra);
        EXPECT_EQ(Bag()->Get<long long>(Id::idLastSuccessfulJobID, -1), c.lastSuccessful);
        EXPECT_EQ(Bag()->GetBool(Id::idIsLastJobFull, !c.full), c.full);
    }
}

TEST_F(FileSystemJobTest, ReferenceTimeIsReadOnlyForNonFullJobs)
{
    EXPECT_EQ(NewJob({"-ref", "1700000000"})->GetReferenceTime(), 1700000000u);
    EXPECT_EQ(NewJob({"-f", "1", "-ref", "1700000000"})->GetReferenceTime(), 0u);
    EXPECT_EQ(NewJob({"-f", "1", "-ref", "garbage"})->GetReferenceTime(), 0u);  // never read for a full

    for (const char* bad : {"", "-5", "12x", "x"}) {
        CKxError result;
        NewJob({"-ref", bad}, &result);
        EXPECT_EQ(result.Code(), KxCode::InvalidParameter) << "[" << bad << "]";
    }
}

TEST_F(FileSystemJobTest, OptionsReachTheBagAndTheJob)
{
    auto job = NewJob({"-ref", "1000", "-adhoc", "-seb", "-aftersynth", "-cat", "10", "-jilf", "42", "-ls", "9",
                       "-diDAFS", "-TrueUp", "-et", "77", "-skipMountPath", "-ab", "1"});
    CBagPtr bag = Bag();
    EXPECT_TRUE(bag->GetBool(Id::idOnDemandAdHocBackupJob));
    EXPECT_EQ(bag->Get<unsigned long long>(Id::idOnDemandAdHocPrevJobRefrenceTime, 0), 1000u);
    EXPECT_TRUE(job->IsSkipEmptyIncremental());
    EXPECT_TRUE(bag->GetBool(Id::idAfterSynthFull));
    EXPECT_EQ(bag->Get<int>(Id::idClientAppType, 0), 10);
    EXPECT_TRUE(bag->GetBool(Id::idNASSnapSupported));  // 10 is a network-share client
    EXPECT_EQ(bag->Get<unsigned long long>(Id::idLastJobWithIncompleteFiles, 0), 42u);
    EXPECT_EQ(bag->Get<long long>(Id::idLastSynthFullJobID, 0), 9);
    EXPECT_TRUE(bag->GetBool(Id::idDistributedFSMode));
    EXPECT_TRUE(job->IsTrueUpOnDemand());
    EXPECT_EQ(job->GetPhaseElapsedTime(), 77);
    EXPECT_FALSE(job->IsFollowMountPoints());
    EXPECT_TRUE(job->IsUseArchiveBit());

    auto plain = NewJob();
    EXPECT_TRUE(plain->IsFollowMountPoints());
    EXPECT_FALSE(plain->IsUseArchiveBit());
    EXPECT_FALSE(Bag()->Has(Id::idNASSnapSupported));

    for (const char* option : {"-cat", "-jilf", "-lf", "-li", "-ls", "-et"}) {
        CKxError result;
        NewJob({option, "1.5"}, &result);
        EXPECT_EQ(result.Code(), KxCode::InvalidParameter) << option;
    }
}

// ---- Thread counts -----------------------------------------------------------------------------

// A job on a made-up machine: each work unit's file-system type comes from a table.
class TypedJob : public CScanJobFileSystem {
public:
    bool GetFileSystemTypeOf(const std::string& path, std::string& type) override
    {
        if (!m_tableReadable)
            return false;
        auto it = m_types.find(path);
        type = it == m_types.end() ? "ext4" : it->second;
        return true;
    }
    std::map<std::string, std::string> m_types;
    bool m_tableReadable = true;
};

class WorkersTest : public FileSystemJobTest {
protected:
    void SetUp() override
    {
        FileSystemJobTest::SetUp();
        m_job = NewJob<TypedJob>();
    }
    // Units "/u00", "/u01", ... (map order is name order); the first `nfs` are NFS mounts.
    CWorkUnitManagerPtr Units(int count, int nfs = 0)
    {
        auto manager = std::make_shared<CWorkUnitManager>(7);
        for (int i = 0; i < count; ++i) {
            const std::string key = KxFormat("/u%02d", i);
            manager->AddWorkUnit(key, std::make_shared<CWorkUnit>(key, key));
            if (i < nfs)
                m_job->m_types[key] = i % 2 ? "nfs4" : "nfs";
        }
        return manager;
    }
    static std::vector<int> Workers(CWorkUnitManager& manager)
    {
        std::vector<int> workers;
        for (const auto& [key, unit] : manager.GetPhysicalMediaVolumeWorkUnitMap())
            workers.push_back(unit->GetMaxWorkers());
        return workers;
    }
    void FolderLevelThreads(unsigned threads)
    {
        ASSERT_TRUE(Bag()->Write(Id::idEnableFolderLevelMultithread, true).IsSuccess());
        ASSERT_TRUE(Bag()->Write(Id::idMaxWorkers, threads).IsSuccess());
    }

    std::shared_ptr<TypedJob> m_job;
};

// Each row on a fresh job: units (the first `nfs` of them NFS mounts, `types` overriding),
// the scan and folder-level thread settings (-1: unset), whether the mount table is readable,
// and the scan threads (-1: not checked), folder-level use and per-unit workers ({}: not checked).
TEST_F(WorkersTest, ThreadCountsFollowSettingsUnitsAndNetworkFileSystems)
{
    struct Case {
        const char* what;
        int units, nfs;
        std::map<std::string, std::string> types;
        int maxScanThreads, folderThreads;
        bool readable;
        int threads;
        bool folderLevel;
        std::vector<int> workers;
    };
    const Case cases[] = {
        {"default of fifteen", 20, 0, {}, -1, -1, true, 15, false, {}},
        {"0 means the default, never more than the units", 4, 0, {}, 0, -1, true, 4, false, {}},
        {"setting", 4, 0, {}, 2, -1, true, 2, false, {}},
        {"no units", 0, 0, {}, -1, -1, true, 0, false, {}},
        {"explicit folder level, map order", 4, 0, {}, -1, 10, true, 4, true, {3, 3, 2, 2}},
        {"one unit with two threads", 1, 0, {}, -1, 2, true, -1, true, {2}},
        {"no more threads than units", 4, 0, {}, -1, 4, true, -1, false, {1, 1, 1, 1}},
        // 15 - 1 local = 14 threads for the network units.
        {"automatic budget to NFS", 3, 2, {}, -1, -1, true, -1, true, {7, 7, 1}},
        {"automatic remainder", 4, 3, {{"/u01", "fuse.glusterfs"}, {"/u02", "lustre"}}, -1, -1, true, -1, true,
         {5, 5, 4, 1}},
        {"no network unit", 3, 0, {}, -1, -1, true, -1, false, {1, 1, 1}},
        {"as many units as the budget", 15, 15, {}, -1, -1, true, -1, false, std::vector<int>(15, 1)},
        {"more NFS units than threads", 3, 2, {}, 1, -1, true, -1, false, {}},
        {"unreadable mount table", 3, 2, {}, -1, -1, false, -1, false, {1, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_job = NewJob<TypedJob>();
        auto units = Units(c.units, c.nfs);
        for (const auto& [key, type] : c.types)
            m_job->m_types[key] = type;
        m_job->m_tableReadable = c.readable;
        if (c.maxScanThreads >= 0) {
            ASSERT_TRUE(Bag()->Write(Id::idMaxScanThreads, static_cast<unsigned>(c.maxScanThreads)).IsSuccess());
        }
        if (c.folderThreads >= 0)
            FolderLevelThreads(static_cast<unsigned>(c.folderThreads));
        int threads = -1;
        bool folderLevel = !c.folderLevel;
        ASSERT_TRUE(m_job->ConfigureWorkersCount(*units, threads, folderLevel).IsSuccess());
        if (c.threads >= 0) {
            EXPECT_EQ(threads, c.threads);
        }
        EXPECT_EQ(folderLevel, c.folderLevel);
        if (!c.workers.empty()) {
            EXPECT_EQ(Workers(*units), c.workers);
        }
        // Folder-level threads spread over the units leave one worker each in the bag; the
        // automatic budget records that it was used.
        if (c.folderThreads > c.units) {
            EXPECT_EQ(Bag()->Get<unsigned>(Id::idMaxWorkers, 0), 1u);
        }
        if (c.folderThreads < 0 && c.folderLevel) {
            EXPECT_TRUE(Bag()->GetBool(Id::idEnableFolderLevelMultithread));
        }
        if (c.threads > 1) {
            EXPECT_TRUE(Bag()->GetBool(Id::idEnableMultiThread));
        }
    }
}

// ---- Clean-up chain ----------------------------------------------------------------------------

// The clean-up steps in the order the job must run them; the alive thread ends last.
#define FSWEEP_CLEANUP_STEPS(X) \
    X(Cleanup_FlushDirchangeToDisk) X(Cleanup_IncompleteLargeFileBrowse) \
    X(Cleanup_IncompleteLargeFileBrowseResponse) X(Cleanup_ProcessFailedFiles) X(Cleanup_SaveBackupStatusFile) \
    X(Cleanup_ProcessCommitFiles) X(Cleanup_ProcessGpfsFileSets) X(Cleanup_ProcessFilesForMigrationAssistant) \
    X(Cleanup_ProcessTrueUp) X(Cleanup_ProcessEmptyScanContent) X(Cleanup_PostProcessDirChange) \
    X(Cleanup_PostProcessCollectFiles) X(Cleanup_ProcessIPhoto) X(Cleanup_PostProcessResultFolder) \
    X(Cleanup_CloseDirchange) X(Cleanup_CreateMountConfigFile) X(Cleanup_UpdateSyncFolder) \
    X(Cleanup_ScanMarkingJob) X(Cleanup_UploadMetadata) X(Cleanup_FileServerTrueUpRestart) \
    X(Cleanup_RevertImpersonation) X(Cleanup_UpdateJobStatusForLaptopClient) X(Cleanup_UnmountSnapshotsAndShares) \
    X(Cleanup_TrueUp) X(Cleanup_DistributedBackup) X(Cleanup_PostCleanup) X(Cleanup_PrintStaleMountList) \
    X(CopyJRFolderAfterScanIfRequested)

// Records every clean-up step; `m_failing` names the step that fails.
class RecordingJob : public CScanJobFileSystem {
public:
#define FSWEEP_RECORDED_STEP(name)                                                 \
    CKxError name() override                                                     \
    {                                                                            \
        m_steps.push_back(#name);                                                \
        if (m_failing == #name)                                                  \
            return CKxError(KxCode::InvalidData, std::string(#name) + " broke"); \
        return CKxError::Success();                                              \
    }
    FSWEEP_CLEANUP_STEPS(FSWEEP_RECORDED_STEP)
#undef FSWEEP_RECORDED_STEP
    CKxError EndAliveThread() override
    {
        m_steps.push_back("EndAliveThread");
        return CScanJobFileSystem::EndAliveThread();
    }

    std::vector<std::string> m_steps;
    std::string m_failing;
};

#define FSWEEP_STEP_NAME(name) #name,
const std::vector<std::string> kCleanupOrder = {FSWEEP_CLEANUP_STEPS(FSWEEP_STEP_NAME) "EndAliveThread"};
#undef FSWEEP_STEP_NAME

TEST_F(FileSystemJobTest, FailingCleanupStepEndsTheChainButNotTheAliveThread)
{
    auto job = NewJob<RecordingJob>();
    ASSERT_TRUE(job->StartAliveThread().IsSuccess());
    job->m_steps.clear();
    job->m_failing = "Cleanup_PostProcessCollectFiles";
    CKxError result = job->Cleanup();
    ASSERT_TRUE(result.IsError());
    EXPECT_EQ(result.Message(), "Cleanup_PostProcessCollectFiles broke");
    const auto failedAt = std::find(kCleanupOrder.begin(), kCleanupOrder.end(), job->m_failing);
    EXPECT_EQ(job->m_steps, std::vector<std::string>(kCleanupOrder.begin(), failedAt + 1));
    // The alive thread is still running; the job's destructor ends it (a hang here is the bug).
    EXPECT_TRUE(job->IsAliveThreadRunning());
    job.reset();
}

TEST_F(FileSystemJobTest, StepsThatNeverFailTheCleanupAreIgnored)
{
    // With no step failing, or one whose failure is only logged, the whole chain runs in order.
    for (const char* step :
         {"", "Cleanup_RevertImpersonation", "Cleanup_UnmountSnapshotsAndShares", "Cleanup_PrintStaleMountList"}) {
        auto job = NewJob<RecordingJob>();
        job->m_failing = step;
        EXPECT_TRUE(job->Cleanup().IsSuccess()) << step;
        EXPECT_EQ(job->m_steps, kCleanupOrder) << step;
    }
}

TEST_F(FileSystemJobTest, CleanupAfterAFailedConfigurationDoesNotCrash)
{
    CScanJobFileSystem withoutCallback;
    ASSERT_TRUE(withoutCallback.ProcessCommandLine(JobArgs()).IsSuccess());
    EXPECT_TRUE(withoutCallback.Process().IsError());
    EXPECT_TRUE(withoutCallback.isFailPhaseSet());
}

// ---- Impersonation -------------------------------------------------------------------------------

// Runs `body` in a forked child and returns its exit status (-1 when it did not exit). The
// child's id changes never reach this process.
int InChild(const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

class ImpersonationTest : public FileSystemJobTest {
protected:
    void SetUp() override
    {
        FileSystemJobTest::SetUp();
        if (::geteuid() != 0)
            GTEST_SKIP() << "impersonation needs root";
        fs::create_directories(m_root + "/data");
        WriteSubclient({{"content", {m_root + "/data"}}}, false);
    }
};

TEST_F(ImpersonationTest, ConfiguredUserIsTheWalksOnlyAndIsHandedNoFolder)
{
    // What an older version handed out is taken back, through the folder and never a link in it.
    const std::string results = m_instance + "/JobResults/2/5", outside = m_root + "/outside";
    fs::create_directories(results);
    std::ofstream(results + "/CollectTot1.zvf") << "x\n";
    std::ofstream(outside) << "x\n";
    fs::create_symlink(outside, results + "/planted");
    ASSERT_EQ(::lchown((results + "/CollectTot1.zvf").c_str(), 65534, 65534), 0);
    for (const std::string& path : {results, results + "/CollectTot1.zvf", outside})
        ASSERT_EQ(::chmod(path.c_str(), fs::is_directory(path) ? 0777 : 0666), 0);

    const int status = InChild([this] {
        auto job = NewJob({"-uid", "65534"});
        if (job->Configure().IsError())
            return 10;
        if (::geteuid() != 0 || ::getegid() != 0)  // the process keeps its own ids
            return 11;
        for (const std::string& folder : {job->GetResultFolderForSubclient(), job->GetResultFolderForJob(),
                                          CInstancePaths::LogFilesFolder(), CInstancePaths::JobManagerFolder()}) {
            struct stat results {};
            if (::stat(folder.c_str(), &results) != 0 || results.st_uid != 0 ||
                (results.st_mode & (S_IWGRP | S_IWOTH)) != 0)
                return 12;
        }
        return job->Cleanup().IsSuccess() && ::geteuid() == 0 ? 0 : 13;
    });
    EXPECT_EQ(status, 0);
    struct stat taken {}, untouched {};
    ASSERT_EQ(::stat((results + "/CollectTot1.zvf").c_str(), &taken), 0);
    EXPECT_EQ(taken.st_uid, 0u);
    EXPECT_EQ(taken.st_mode & 0777, 0644u);
    ASSERT_EQ(::stat(outside.c_str(), &untouched), 0);
    EXPECT_EQ(untouched.st_mode & 0777, 0666u);
}

TEST_F(ImpersonationTest, WhoIsImpersonatedAndWhatFailsTheConfiguration)
{
    struct SCase {
        const char* what;
        std::vector<std::string> args;
        long long jobType;  // 0: the fixture's
        bool defaultSet;
        long code;
        bool impersonated;
    };
    const std::vector<std::string> nobody = {"-uid", "65534"};
    const SCase cases[] = {
        {"no user on the command line", {}, 0, false, KxCode::Success, false},
        {"job type 2", nobody, 2, false, KxCode::Success, false},
        {"the default backup set", nobody, 0, true, KxCode::Success, false},
        {"an unknown uid", {"-uid", "4000000000"}, 0, false, KxCode::NotFound, false},
        {"a uid that is no number", {"-uid", "nobody"}, 0, false, KxCode::InvalidParameter, false},
        {"a user", nobody, 0, false, KxCode::Success, true},
    };
    for (const SCase& c : cases) {
        WriteSubclient({{"content", {m_root + "/data"}}}, c.defaultSet);
        EXPECT_EQ(InChild([&] {
                      auto job = NewJob(c.args);
                      if (c.jobType != 0)
                          PrepareBag(c.jobType);
                      const long code = job->Configure().Code();
                      const bool impersonated = Bag()->Get<unsigned>(Id::idImpersonateUID, 0) == 65534u;
                      return code == c.code && impersonated == c.impersonated && ::geteuid() == 0 ? 0 : 1;
                  }),
                  0)
            << c.what;
    }
}

TEST_F(ImpersonationTest, NonRootProcessNeverImpersonates)
{
    const int status = InChild([this] {
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(m_root, ignored))
            (void)::lchown(entry.path().c_str(), 65534, 65534);
        (void)::lchown(m_root.c_str(), 65534, 65534);
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0)
            return 20;
        CKxError result = NewJob({"-uid", "0"})->Configure();
        return result.IsSuccess() && ::geteuid() == 65534 ? 0 : 21;
    });
    EXPECT_EQ(status, 0);
}

// ---- Scan view and progress ---------------------------------------------------------------------

TEST_F(FileSystemJobTest, ScanViewListsContentBeforeExceptionsBeforeFilters)
{
    fs::create_directories(m_root + "/data");
    WriteSubclient({{"content", {m_root + "/data"}},
                    {"filters", {"*.tmp"}},
                    {"filterExceptions", {m_root + "/data/keep.tmp"}},
                    {"otherSubclientsContent", {m_root + "/data/other"}}});
    auto job = NewJob();
    ASSERT_TRUE(job->Configure().IsSuccess());
    auto unix = std::dynamic_pointer_cast<CScanJobFileSystemUnix>(job->GetPrivate());
    ASSERT_TRUE(unix);
    ASSERT_TRUE(unix->WriteScanViewFile().IsSuccess());
    EXPECT_EQ(ReadLines(m_instance + "/JobResults/2/5/ScanView.txt"),
              (std::vector<std::string>{"ClientContent||F||" + m_root + "/data", "Exception||F||" + m_root + "/data/other",
                                        "ClientFilters||F||/**/*.tmp",
                                        "ClientFilters||E||" + m_root + "/data/keep.tmp"}));
    ASSERT_TRUE(job->Cleanup().IsSuccess());
}

TEST(ScanProgressTest, LinesGroupDigitsAndScaleBytes)
{
    for (const auto& [count, text] : std::vector<std::pair<unsigned long long, const char*>>{
             {0, "0"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"}})
        EXPECT_EQ(CScanProgress::GroupDigits(count), text);
    EXPECT_EQ(CScanProgress::HumanBytes(1023), "1023 B");
    EXPECT_EQ(CScanProgress::HumanBytes(1024), "1.0 KiB");
    EXPECT_EQ(CScanProgress::FormatLine(2000, 2048, 2.0, "/data"), "fsweep: 2,000 items  2.0 KiB  1,000 items/s  /data");
    EXPECT_EQ(CScanProgress::FormatLine(2000, 0, 0.0, ""), "fsweep: 2,000 items  0 B  0 items/s");  // no time yet
    EXPECT_EQ(CScanProgress::FormatSummary(12, 3, 100, 1, 0.3), "fsweep: 12 items (3 folders), 100 B, 1 failure, 0.3 s");
}

}  // namespace
