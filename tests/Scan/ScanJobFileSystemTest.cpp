// The job life cycle and the file-system job's own decisions: the order of the steps and their
// failure paths, the command-line options, the common configuration on a scratch instance, the
// thread counts of the scanner loop, the order of the clean-up chain when a step fails, the
// alive report of a running job (the period rule decided on given times, no waiting), impersonation
// (in a forked child: the test process keeps its ids), the scan view file and the progress lines.
// Then the scanner loop on real trees, in this process: further passes for symbolic-link targets
// and long paths, what is never walked twice, whose links are followed, the limit on passes (a
// missing content path is run end to end in the binary tests), and full jobs while a folder is
// swapped for a link; the remembered roots (CWalkedRoots) on their own first.
#include "Scan/ScanJobTestEnv.h"

#include "Engine/FolderWalk.h"
#include "Engine/WorkUnitManager.h"
#include "Scan/FileScan.h"
#include "Scan/JobAliveReporter.h"
#include "Scan/PostProcessingOptions.h"
#include "Scan/ScanJobFactory.h"
#include "Scan/ScanJobFileSystem.h"
#include "Scan/ScanProgress.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/Unix/ScanJobFileSystemUnix.h"
#include "Scan/Unix/UnixFileNameFactory.h"
#include "Scan/Unix/UnixScanJobCallback.h"
#include "Scan/WalkedRoots.h"

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <grp.h>
#include <set>

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

    CBagPtr Bag() { return BagOf(*m_callback); }

    std::shared_ptr<CUnixScanJobCallback> m_callback;
};

// ---- Command line ---------------------------------------------------------------------------

TEST_F(FileSystemJobTest, LastJobIsFullOnlyWhenTheFullIsNewerAndTheReferenceTimeOnlyForNonFullJobs)
{
    // Options, whether the last job was a full, the last successful job.
    for (const auto& [extra, full, lastSuccessful] : std::vector<std::tuple<std::vector<std::string>, bool, long long>>{
             {{"-lf", "100", "-li", "100"}, false, 100},  // a tie counts as incremental
             {{"-lf", "101", "-li", "100"}, true, 101},
             {{"-lf", "99", "-li", "100"}, false, 100},
             {{"-lf", "7"}, true, 7},
             {{"-li", "5"}, false, 5},
             {{}, false, 0}}) {
        SCOPED_TRACE(::testing::PrintToString(extra));
        EXPECT_EQ(NewJob(extra)->IsLastJobFull(), full);
        EXPECT_EQ(Bag()->Get<long long>(Id::idLastSuccessfulJobID, -1), lastSuccessful);
        EXPECT_EQ(Bag()->GetBool(Id::idIsLastJobFull, !full), full);
    }

    // The reference time is read only for non-full jobs.
    EXPECT_EQ(NewJob({"-ref", "1700000000"})->GetReferenceTime(), 1700000000u);
    EXPECT_EQ(NewJob({"-f", "1", "-ref", "1700000000"})->GetReferenceTime(), 0u);
    EXPECT_EQ(NewJob({"-f", "1", "-ref", "garbage"})->GetReferenceTime(), 0u);  // never read for a full
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

    for (const auto& [option, bad] : std::vector<std::pair<const char*, const char*>>{
             {"-ref", ""}, {"-ref", "-5"}, {"-ref", "12x"}, {"-ref", "x"}, {"-cat", "1.5"}, {"-jilf", "1.5"},
             {"-lf", "1.5"}, {"-li", "1.5"}, {"-ls", "1.5"}, {"-et", "1.5"}}) {
        CKxError result;
        NewJob({option, bad}, &result);
        EXPECT_EQ(result.Code(), KxCode::InvalidParameter) << option << " [" << bad << "]";
    }
}

// ---- Life cycle ---------------------------------------------------------------------------------

// Records the steps it runs; each step can be made to fail with its own code.
class StepJob : public CScanJob {
public:
    std::string AsString() const override { return "Recording"; }
    CKxError Configure() override { return Step("Configure", m_failConfigure); }
    CKxError Prepare() override { return Step("Prepare", m_failPrepare); }
    CKxError Run() override { return Step("Run", m_failRun); }
    CKxError Cleanup() override
    {
        CKxError base = CScanJob::Cleanup();
        if (base.IsError())
            return base;
        return Step("Cleanup", m_failCleanup);
    }

    std::vector<std::string> m_steps;
    long m_failConfigure = 0, m_failPrepare = 0, m_failRun = 0, m_failCleanup = 0;

private:
    CKxError Step(const std::string& name, long failCode)
    {
        m_steps.push_back(name);
        return failCode != 0 ? CKxError(failCode, name + " broke") : CKxError::Success();
    }
};

using Steps = std::vector<std::string>;

// A failing step skips the rest but clean-up still runs; a clean-up error takes precedence,
// and a failing clean-up alone fails the call but is not a failure of the phase's work.
TEST_F(FileSystemJobTest, StepsRunInOrderAndFailuresSkipTheRestButCleanup)
{
    const Steps all = {"Configure", "Prepare", "Run", "Cleanup"};
    const struct {
        const char* name;
        long StepJob::*failing;  // made to fail with 1168, or none
        long failCleanup;
        Steps steps;
        long code;
        std::string message;  // pushed by the life cycle
        bool failPhase;
    } cases[] = {
        {"good", nullptr, 0, all, 0, "", false},
        {"configure", &StepJob::m_failConfigure, 0, {"Configure", "Cleanup"}, 1168,
         "Failed to configure scan job; terminating, ScanJob=Recording", true},
        {"prepare", &StepJob::m_failPrepare, 0, {"Configure", "Prepare", "Cleanup"}, 1168,
         "Failed to prepare scan job; terminating, ScanJob=Recording", true},
        {"run", &StepJob::m_failRun, 0, all, 1168, "Failed to run scan job; terminating, ScanJob=Recording", true},
        {"run and cleanup", &StepJob::m_failRun, 13, all, 13,
         "Failed to cleanup scan job; terminating, ScanJob=Recording", true},
        {"cleanup only", nullptr, 13, all, 13, "Failed to cleanup scan job; terminating, ScanJob=Recording", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StepJob job;
        if (c.failing)
            job.*c.failing = 1168;
        job.m_failCleanup = c.failCleanup;
        CKxError result = job.Process();
        EXPECT_EQ(result.Code(), c.code);
        EXPECT_EQ(job.m_steps, c.steps);
        EXPECT_NE(result.AsString().find(c.message), std::string::npos) << result.AsString();
        EXPECT_EQ(result.Message() == "Cleanup broke", c.failCleanup != 0) << result.Message();
        EXPECT_EQ(job.isFailPhaseSet(), c.failPhase);
        EXPECT_FALSE(job.isFailJobSet());
        EXPECT_FALSE(job.isCompleteJobNowSet());
    }
}

// The backup type comes from -f, then -t; the previous job is valid only when its value is zero;
// missing identity options fail in order.
TEST_F(FileSystemJobTest, CommonCommandLineOptions)
{
    const std::vector<std::string> identity = {"-vm", "inst", "-j", "7", "-a", "2:5", "-cn", "c", "-jt", "tok"};
    auto run = [&](const std::vector<std::string>& extra, std::uint32_t& type) {
        std::vector<std::string> tokens = identity;
        tokens.insert(tokens.end(), extra.begin(), extra.end());
        CScanJob job;
        CKxError result = job.ProcessCommandLine(Args(tokens));
        type = job.GetBackupType();
        return result;
    };
    std::uint32_t type = 0;
    // -f wins over -t; -f without a value counts as missing (neither: a row of the table below).
    for (const auto& [extra, expected] : std::vector<std::pair<std::vector<std::string>, std::uint32_t>>{
             {{"-t", "4"}, 4}, {{"-f", "1", "-t", "2"}, 1}, {{"-f", "-t", "2"}, 2}}) {
        EXPECT_TRUE(run(extra, type).IsSuccess()) << extra[0];
        EXPECT_EQ(type, expected) << extra[0];
    }
    for (const char* bad : {"x", "-1", "2x", ""})
        EXPECT_TRUE(run({"-t", bad}, type).IsError()) << "[" << bad << "]";

    const std::vector<std::pair<std::vector<std::string>, bool>> previous = {
        {{"-pcs", "0"}, true},  {{"-pcs", "5"}, false},          {{"-pbs", "0"}, true},
        {{"-pbs", "7"}, false}, {{"-pcs", "5", "-pbs", "0"}, false}, {{"-pcs", "0", "-pbs", "5"}, true},
        {{"-pcs", "abc"}, false}, {{}, false},                    {{"-pcs", "-pbs", "0"}, true},
    };
    for (const auto& [extra, valid] : previous) {
        CScanJob job;
        ASSERT_TRUE(job.ProcessCommandLine(JobArgs(extra)).IsSuccess());
        EXPECT_EQ(job.IsPrevJobValid(), valid) << (extra.empty() ? "" : extra[0] + " " + extra.back());
    }

    const std::vector<std::pair<std::vector<std::string>, std::string>> missing = {
        {{"-vm", "inst", "-a", "2:5", "-cn", "c", "-jt", "tok", "-t", "1"}, "GetJobId failed"},
        {{"-j", "7", "-a", "2:5", "-cn", "c", "-t", "1"}, "GetOption failed, Option=jt"},
        {{"-j", "7", "-jt", "tok", "-cn", "c", "-t", "1", "-vm", "i"}, "GetApplicationId failed"},
        {{"-j", "7", "-jt", "tok", "-a", "2:5", "-t", "1", "-vm", "i"}, "GetClientName failed"},
        {{"-j", "7", "-jt", "tok", "-a", "2:5", "-cn", "c", "-vm", "i"}, "GetOption failed, Option=f/t"},
        {{"-j", "7", "-jt", "tok", "-a", "2:5", "-cn", "c", "-t", "1"}, "GetOption failed, Option=vm"},
        {{"-j", "x", "-jt", "tok", "-a", "2:5", "-cn", "c", "-t", "1", "-vm", "i"}, "GetJobId failed"},
        {{"-j", "7", "-jt", "tok", "-a", "2-5", "-cn", "c", "-t", "1", "-vm", "i"}, "GetApplicationId failed"},
    };
    for (const auto& [tokens, message] : missing) {
        CScanJob job;
        CKxError result = job.ProcessCommandLine(Args(tokens));
        ASSERT_TRUE(result.IsError()) << message;
        EXPECT_EQ(result.Frames().back().message, message);  // the outermost one pushed is this level's
    }
}

TEST_F(FileSystemJobTest, ConfigureFillsFoldersBagAndObjectsOrFailsAndAnalyticsJobsGetTheirOwnFolders)
{
    auto job = NewJob({"-pcs", "0"});
    ASSERT_TRUE(job->Configure().IsSuccess());
    // The folders themselves are checked through the binary; here, what the later steps read.
    CBagPtr bag = Bag();
    EXPECT_EQ(bag->Get<unsigned int>(Id::idBackupType, 0), 2u);
    EXPECT_EQ(bag->GetString(Id::idSubClientResultFolderPath), m_instance + "/JobResults/2/5");
    EXPECT_EQ(bag->GetString(Id::idJobResultFolderPath), m_instance + "/JobResults/jobs/7");
    EXPECT_TRUE(bag->GetBool(Id::idIsPrevJobValid));
    EXPECT_TRUE(std::dynamic_pointer_cast<CUnixFileNameFactory>(job->GetFileNameFactory()));
    EXPECT_TRUE(job->GetPostProcessingOptions() && m_callback->GetJobControlClient());

    // Configure fails without a callback (a file-system job's clean-up after it must not crash),
    // and with one that gives no name factory.
    CScanJob withoutCallback;
    ASSERT_TRUE(withoutCallback.ProcessCommandLine(JobArgs()).IsSuccess());
    EXPECT_TRUE(withoutCallback.Configure().IsError());
    CScanJobFileSystem fileSystemWithoutCallback;
    ASSERT_TRUE(fileSystemWithoutCallback.ProcessCommandLine(JobArgs()).IsSuccess());
    EXPECT_TRUE(fileSystemWithoutCallback.Process().IsError());
    EXPECT_TRUE(fileSystemWithoutCallback.isFailPhaseSet());
    class NamelessCallback : public CUnixScanJobCallback {
    public:
        std::string AsString() const override { return "Nameless"; }
        std::shared_ptr<CFileNameFactory> GetFileNameFactory(unsigned long, const std::string&) override
        {
            return nullptr;
        }
    };
    CScanJob nameless;
    nameless.SetScanJobCallback(std::make_shared<NamelessCallback>());
    ASSERT_TRUE(nameless.ProcessCommandLine(JobArgs()).IsSuccess());
    CKxError result = nameless.Configure();
    EXPECT_EQ(result.Code(), 995);
    EXPECT_EQ(result.Message(), "FileNameFactory not provided by Nameless");

    // Analytics and migration jobs get their own result folders.
    auto analytics = NewJob();
    WriteAll(*Bag(), {{Id::idAnalyticsEnabled, true}, {"ObjectStoreMigration", true}});
    ASSERT_TRUE(analytics->Configure().IsSuccess());
    const std::string folder = m_instance + "/JobResults/jobs/7/Analytics/7";
    EXPECT_EQ(analytics->GetResultFolderForJob(), folder);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(Bag()->GetString(Id::idJobResultFolderPath), folder);
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
    static std::vector<int> Workers(CWorkUnitManager& manager)
    {
        std::vector<int> workers;
        for (const auto& [key, unit] : manager.GetPhysicalMediaVolumeWorkUnitMap())
            workers.push_back(unit->GetMaxWorkers());
        return workers;
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
        // Units "/u00", "/u01", ... (map order is name order); the first `nfs` are NFS mounts.
        auto units = std::make_shared<CWorkUnitManager>(7);
        for (int i = 0; i < c.units; ++i) {
            const std::string key = KxFormat("/u%02d", i);
            units->AddWorkUnit(key, std::make_shared<CWorkUnit>(key, key));
            if (i < c.nfs)
                m_job->m_types[key] = i % 2 ? "nfs4" : "nfs";
        }
        for (const auto& [key, type] : c.types)
            m_job->m_types[key] = type;
        m_job->m_tableReadable = c.readable;
        if (c.maxScanThreads >= 0)
            WriteAll(*Bag(), {{Id::idMaxScanThreads, static_cast<unsigned>(c.maxScanThreads)}});
        if (c.folderThreads >= 0)
            WriteAll(*Bag(), {{Id::idEnableFolderLevelMultithread, true},
                              {Id::idMaxWorkers, static_cast<unsigned>(c.folderThreads)}});
        int threads = -1;
        bool folderLevel = !c.folderLevel;
        ASSERT_TRUE(m_job->ConfigureWorkersCount(*units, threads, folderLevel).IsSuccess());
        EXPECT_EQ(threads, c.threads < 0 ? threads : c.threads);  // -1: not checked
        EXPECT_EQ(folderLevel, c.folderLevel);
        EXPECT_EQ(Workers(*units), c.workers.empty() ? Workers(*units) : c.workers);
        // Folder-level threads spread over the units leave one worker each in the bag; the
        // automatic budget records that it was used.
        EXPECT_TRUE(c.folderThreads <= c.units || Bag()->Get<unsigned>(Id::idMaxWorkers, 0) == 1u);
        EXPECT_TRUE(c.folderThreads >= 0 || !c.folderLevel || Bag()->GetBool(Id::idEnableFolderLevelMultithread));
        EXPECT_TRUE(c.threads <= 1 || Bag()->GetBool(Id::idEnableMultiThread));
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

// The first failing step ends the chain and the alive thread is left to the job's destructor (a
// hang there is the bug); with no step failing, or one whose failure is only logged, the whole
// chain runs in order.
TEST_F(FileSystemJobTest, FailingCleanupStepEndsTheChainButNotTheAliveThread)
{
    for (const std::string step : {"", "Cleanup_RevertImpersonation", "Cleanup_UnmountSnapshotsAndShares",
                                   "Cleanup_PrintStaleMountList", "Cleanup_PostProcessCollectFiles"}) {
        SCOPED_TRACE(step);
        auto job = NewJob<RecordingJob>();
        ASSERT_TRUE(job->StartAliveThread().IsSuccess());
        job->m_steps.clear();
        job->m_failing = step;
        const bool fails = step == "Cleanup_PostProcessCollectFiles";
        CKxError result = job->Cleanup();
        EXPECT_EQ(result.IsError() ? result.Message() : "", fails ? step + " broke" : "");
        const auto end = fails ? std::find(kCleanupOrder.begin(), kCleanupOrder.end(), step) + 1 : kCleanupOrder.end();
        EXPECT_EQ(job->m_steps, std::vector<std::string>(kCleanupOrder.begin(), end));
        EXPECT_EQ(job->IsAliveThreadRunning(), fails);
    }
}

// ---- Alive report ------------------------------------------------------------------------------

using namespace std::chrono_literals;
using Clock = CJobAliveReporter::Clock;

struct FakeJob {
    bool alive = false;
    int marks = 0;
    int resets = 0;
    bool markFails = false;

    CJobAliveReporter::SHooks Hooks()
    {
        CJobAliveReporter::SHooks hooks;
        hooks.isAlive = [this] { return alive; };
        hooks.resetAlive = [this] {
            alive = false;
            ++resets;
        };
        hooks.markAlive = [this] {
            ++marks;
            return markFails ? CKxError(5, "job manager away") : CKxError::Success();
        };
        return hooks;
    }
};

TEST(JobAliveReporterTest, ReportsOncePerPeriodOnlyWhenTheJobWasActiveAndRetriesAFailedMark)
{
    FakeJob job;
    CJobAliveReporter reporter(job.Hooks());
    const Clock::time_point start{};
    reporter.BeginPeriod(start);

    job.alive = true;
    EXPECT_FALSE(reporter.OnWake(start + 30s));
    EXPECT_FALSE(reporter.OnWake(start + 1499s));  // the period is not over
    EXPECT_EQ(job.marks, 0);
    EXPECT_TRUE(reporter.OnWake(start + 1500s));
    EXPECT_EQ(job.marks, 1);
    EXPECT_FALSE(job.alive);  // the mark is cleared for the next period

    // Idle for a whole period: nothing is reported, and a new period begins all the same.
    EXPECT_FALSE(reporter.OnWake(start + 3000s));
    EXPECT_EQ(job.marks, 1);
    job.alive = true;
    EXPECT_FALSE(reporter.OnWake(start + 4000s));  // 1000 s into the period that began at 3000
    EXPECT_TRUE(reporter.OnWake(start + 4500s));
    EXPECT_EQ(job.marks, 2);
    EXPECT_EQ(reporter.GetReportCount(), 2u);

    // A failed mark is logged and the next period tries again.
    FakeJob failing;
    failing.markFails = true;
    CJobAliveReporter retried(failing.Hooks());
    retried.BeginPeriod(start);
    failing.alive = true;
    EXPECT_TRUE(retried.OnWake(start + 1500s));
    failing.alive = true;
    EXPECT_TRUE(retried.OnWake(start + 3000s));
    EXPECT_EQ(failing.marks, 2);
}

TEST(JobAliveReporterTest, StopInterruptsTheWaitStartRestartsAndNoJobManagerEndsTheThread)
{
    std::atomic<int> connects{0};
    CJobAliveReporter::SHooks hooks;
    hooks.connect = [&] {
        ++connects;
        return true;
    };
    // The default 30 s wait: Stop must wake the thread rather than wait it out.
    CJobAliveReporter reporter(hooks);
    reporter.Start();
    EXPECT_TRUE(reporter.IsRunning());
    reporter.Start();  // ends the running thread first
    reporter.Stop();
    EXPECT_FALSE(reporter.IsRunning());
    EXPECT_EQ(connects.load(), 2);
    reporter.Stop();  // a second stop is harmless

    // A thread without the job manager ends at once, marking nothing.
    FakeJob job;
    CJobAliveReporter::SHooks unconnected = job.Hooks();
    unconnected.connect = [] { return false; };
    CJobAliveReporter alone(unconnected, 1ms, 1ms);
    alone.Start();
    alone.Stop();
    EXPECT_EQ(job.marks, 0);
}

// ---- Impersonation -------------------------------------------------------------------------------

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
    // What, the options, the job type (0: the fixture's), the default backup set, the code of the
    // configuration, impersonated.
    const std::vector<std::string> nobody = {"-uid", "65534"};
    for (const auto& [what, args, jobType, defaultSet, code, impersonated] :
         std::vector<std::tuple<const char*, std::vector<std::string>, long long, bool, long, bool>>{
             {"no user on the command line", {}, 0, false, KxCode::Success, false},
             {"job type 2", nobody, 2, false, KxCode::Success, false},
             {"the default backup set", nobody, 0, true, KxCode::Success, false},
             {"an unknown uid", {"-uid", "4000000000"}, 0, false, KxCode::NotFound, false},
             {"a uid that is no number", {"-uid", "nobody"}, 0, false, KxCode::InvalidParameter, false},
             {"a user", nobody, 0, false, KxCode::Success, true}}) {
        WriteSubclient({{"content", {m_root + "/data"}}}, defaultSet);
        EXPECT_EQ(InChild([&] {
                      auto job = NewJob(args);
                      if (jobType != 0)
                          PrepareBag(jobType);
                      const long configured = job->Configure().Code();
                      const bool asUser = Bag()->Get<unsigned>(Id::idImpersonateUID, 0) == 65534u;
                      return configured == code && asUser == impersonated && ::geteuid() == 0 ? 0 : 1;
                  }),
                  0)
            << what;
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

// ---- Remembered roots ---------------------------------------------------------------------------

class WalkedRootsTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        m_tree = m_root + "/t";
        fs::create_directories(m_tree + "/data/sub");
        fs::create_directories(m_tree + "/outside/deeper");
        fs::create_directory_symlink(m_tree + "/outside", m_tree + "/alias");
        m_roots.AddContentEntries({m_tree + "/data"});
    }
    // A link of this process's user (the owner of the scratch tree), or of `linkOwner`.
    CWalkedRoots::EVerdict Link(const std::string& target, uid_t linkOwner = ::geteuid())
    {
        std::string resolved;
        uid_t targetOwner = 0;
        return m_roots.CheckSymLinkTarget(target, linkOwner, resolved, targetOwner);
    }

    std::string m_tree;
    CWalkedRoots m_roots;
};

using V = CWalkedRoots::EVerdict;

TEST_F(WalkedRootsTest, LinkTargetsAndMountPathsUnderContentOrWalkedRootsAreNotWalkedAgain)
{
    EXPECT_EQ(Link(m_tree + "/data/sub/"), V::UnderContent);
    EXPECT_EQ(Link(m_tree + "/data"), V::UnderContent);
    EXPECT_EQ(Link(m_tree + "/missing"), V::Missing);
    // Outside the content a link is followed only for root or the target's owner.
    const uid_t other = ::geteuid() + 4242;
    EXPECT_EQ(Link(m_tree + "/data/sub", other), V::UnderContent);  // the content's business anyway
    EXPECT_EQ(Link("/", other), V::ForeignTarget);
    EXPECT_EQ(Link(m_tree + "/alias", other), V::ForeignTarget);
    EXPECT_EQ(Link(m_tree + "/outside", 0), V::New);  // root's link: whoever owns the target

    std::string resolved;
    uid_t owner = 0;
    EXPECT_EQ(m_roots.CheckSymLinkTarget(m_tree + "/alias/deeper/", ::geteuid(), resolved, owner), V::New);
    EXPECT_EQ(resolved, m_tree + "/outside/deeper");  // the real place is what a pass walks
    EXPECT_EQ(owner, ::geteuid());
    m_roots.AddWalkedRoot(m_tree + "/outside");
    EXPECT_EQ(Link(m_tree + "/outside/deeper"), V::AlreadyWalked);
    EXPECT_EQ(Link(m_tree + "/alias"), V::AlreadyWalked);  // the same folder under another name
    EXPECT_EQ(Link(m_tree + "/outsider"), V::Missing);       // a prefix of a name is not a folder above it

    // A walked folder moved away is still known by its device and inode.
    fs::rename(m_tree + "/outside", m_tree + "/moved");
    EXPECT_EQ(Link(m_tree + "/moved"), V::AlreadyWalked);

    // Mount paths are new unless they are a root already.
    EXPECT_EQ(m_roots.CheckMountPath(m_tree + "/data/sub/"), V::New);  // under the content by nature
    EXPECT_EQ(m_roots.CheckMountPath(m_tree + "/data"), V::AlreadyWalked);
    EXPECT_EQ(m_roots.CheckMountPath(m_tree + "/nothing"), V::Missing);
    m_roots.AddWalkedRoot(m_tree + "/data/sub");
    EXPECT_EQ(m_roots.CheckMountPath(m_tree + "/data/sub/"), V::AlreadyWalked);
}

TEST_F(WalkedRootsTest, RootsBelowAndLiteralEntries)
{
    m_roots.AddWalkedRoot(m_tree + "/outside/deeper");
    std::vector<std::string> below = m_roots.RootsBelow(m_tree);
    std::sort(below.begin(), below.end());
    EXPECT_EQ(below, (std::vector<std::string>{m_tree + "/data", m_tree + "/outside/deeper"}));
    EXPECT_TRUE(m_roots.RootsBelow(m_tree + "/data").empty());

    EXPECT_EQ(CWalkedRoots::LiteralContentEntry("/a/plain"), "/a/plain");
    EXPECT_EQ(CWalkedRoots::LiteralContentEntry("/a\\b"), "/a\\b");  // no wildcard: taken as it is
    EXPECT_EQ(CWalkedRoots::LiteralContentEntry("/a/b*c[1]"), "/a/b\\*c\\[1]");
    EXPECT_EQ(CWalkedRoots::LiteralFilterEntry("/a\\b?"), "/a\\\\b\\?");
}

// ---- The loop through the driver ----------------------------------------------------------------

// The real factory; keeps the job it made.
class KeepingFactory : public CScanJobFactory {
public:
    KeepingFactory() : CScanJobFactory("inst") {}
    CScanJobPtr CreateScanJob(EScanJobType type) override
    {
        CScanJobPtr job = CScanJobFactory::CreateScanJob(type);
        m_job = std::dynamic_pointer_cast<CScanJobFileSystem>(job);
        return job;
    }
    std::shared_ptr<CScanJobFileSystem> m_job;
};

class ScannerLoopTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        m_tree = m_root + "/tree";
        fs::create_directories(m_tree + "/data/sub");
        fs::create_directories(m_tree + "/outside/deep");
        WriteFile(m_tree + "/data/sub/a.txt", "a");
        WriteFile(m_tree + "/outside/o.txt", "oo");
        WriteFile(m_tree + "/outside/deep/d.txt", "ddd");
        WriteSubclient({{"content", {m_tree + "/data"}}});
        Setting("nBackupSymLinkData", "1");  // follow symbolic links
    }


    CKxError RunFull()
    {
        m_factory = std::make_shared<KeepingFactory>();
        CFileScan scan(JobArgs({"-f", "1"}));
        return scan.Process(m_factory);
    }

    std::map<std::string, int> Listed() const { return ListedIn(m_instance + "/JobResults/2/5"); }
    std::vector<std::string> Failures() const { return ReadLines(m_instance + "/JobResults/2/5/scan_Failures.zvf"); }

    std::string m_tree;
    std::shared_ptr<KeepingFactory> m_factory;
};

TEST_F(ScannerLoopTest, LinkTargetOutsideTheContentIsWalkedOnceInAPassOfItsOwn)
{
    // One walker lists data/ whole before it enters data/sub/: the link to a file of the
    // outside folder is queued before the links to the folder itself.
    fs::create_symlink(m_tree + "/outside/o.txt", m_tree + "/data/file");
    fs::create_directory_symlink("../../outside", m_tree + "/data/sub/out");
    fs::create_directory_symlink(m_tree + "/outside", m_tree + "/data/sub/again");  // same target twice
    fs::create_directory_symlink("sub", m_tree + "/data/in");                     // inside: walked already
    fs::create_directory_symlink(m_tree + "/data", m_tree + "/outside/back");       // back into the content
    // An earlier job's collect file goes before the walk; its record stays for the next incremental.
    WriteFile(m_instance + "/JobResults/2/5/CollectTot7.zvf", "/stale/item|1\n");
    WriteFile(m_instance + "/JobResults/2/5/DCTot.zvf", "kept\n");
    ASSERT_TRUE(RunFull().IsSuccess());
    ASSERT_TRUE(m_factory->m_job);
    EXPECT_EQ(m_factory->m_job->GetPassCount(), 2u);
    EXPECT_FALSE(m_factory->m_job->isFailJobSet());

    const auto listed = Listed();
    for (const char* path : {"/data/", "/data/sub/", "/data/sub/a.txt", "/data/sub/out", "/data/in", "/data/sub/again", "/data/file",
                             "/outside/", "/outside/o.txt", "/outside/deep/", "/outside/deep/d.txt", "/outside/back"}) {
        const std::string full = m_tree + path;
        auto it = listed.find(full);
        EXPECT_TRUE(it != listed.end() && it->second == 1) << full << " listed " << (it == listed.end() ? 0 : it->second);
    }
    for (const auto& [path, count] : listed)
        EXPECT_EQ(count, 1) << path;
    EXPECT_TRUE(Failures().empty());
    EXPECT_FALSE(fs::exists(m_instance + "/JobResults/2/5/CollectTot7.zvf"));
    EXPECT_TRUE(fs::exists(m_instance + "/JobResults/2/5/DCTot.zvf"));
}

TEST_F(ScannerLoopTest, AUsersLinkToTheRootFolderIsNotFollowedButRootsLinkOutsideIs)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "links of another user need root to make";
    fs::create_directory_symlink("/", m_tree + "/data/everything");
    ASSERT_EQ(::lchown((m_tree + "/data/everything").c_str(), 65534, 65534), 0);
    fs::create_directory_symlink(m_tree + "/outside", m_tree + "/data/shared");
    ASSERT_TRUE(RunFull().IsSuccess());
    EXPECT_EQ(m_factory->m_job->GetPassCount(), 2u);
    const auto listed = Listed();
    EXPECT_EQ(listed.count(m_tree + "/outside/deep/d.txt"), 1u);
    EXPECT_EQ(listed.count(m_tree + "/data/everything"), 1u);  // the link itself is backed up
    EXPECT_EQ(listed.count("/etc/"), 0u);
}

TEST_F(ScannerLoopTest, AFolderSwappedWithALinkToEtcDuringScansNeverLetsEtcIntoTheCollectFiles)
{
    // Links are not followed unless asked: root's link to /etc would be, in a pass of its own.
    Setting("nBackupSymLinkData", "0");
    // The folder holds folders named like some of /etc's: walked through the link, their paths
    // would lead into /etc.
    const std::string data = m_tree + "/data/", x = data + "x", y = data + "y";
    std::set<std::string> allowed = {data, data + "sub/", data + "sub/a.txt", x, x + "/", y, y + "/"};
    fs::create_directory(x);
    std::error_code error;
    // Files between the folders keep the walk busy long enough for swaps to land in it.
    int folders = 0;
    for (const auto& entry : fs::directory_iterator("/etc", error)) {
        if (!entry.is_directory(error) || entry.is_symlink(error) || ++folders > 48)
            continue;
        const std::string name = entry.path().filename().string();
        fs::create_directory(x + "/" + name);
        for (const std::string& folder : {x, y})
            allowed.insert(folder + "/" + name + "/");
        for (int file = 0; file < 20; ++file) {
            const std::string ours = "/" + name + "/ours" + std::to_string(file);
            WriteFile(x + ours, "o");
            allowed.insert({x + ours, y + ours});
        }
    }
    fs::create_directory_symlink("/etc", y);

    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        while (!stop.load())
            ::renameat2(AT_FDCWD, x.c_str(), AT_FDCWD, y.c_str(), RENAME_EXCHANGE);
    });
    for (int scan = 0; scan < 50 && !HasFatalFailure(); ++scan) {
        // Every other scan opens every folder by path, as a walk does once its handles run out.
        CFolderWalk::SetHeldFolderHandleLimit(scan % 2 == 0 ? 256 : 0);
        ASSERT_TRUE(RunFull().IsSuccess());
        EXPECT_EQ(m_factory->m_job->GetPassCount(), 1u);
        for (const auto& [path, count] : Listed()) {
            if (path.starts_with(data))
                EXPECT_TRUE(allowed.count(path)) << "scan " << scan << " listed " << path;
            else
                EXPECT_TRUE(data.starts_with(path)) << "scan " << scan << " listed " << path;  // an ancestor
        }
    }
    stop = true;
    swapper.join();
    CFolderWalk::SetHeldFolderHandleLimit(256);
}

TEST_F(ScannerLoopTest, ChainOfLinksStopsAtMaxScanRetriesAndListsWhatWasNotWalked)
{
    // data/l1 -> o1, o1/l2 -> o2, o2/l3 -> o3: every pass finds a new place.
    for (int i = 1; i <= 3; ++i) {
        fs::create_directories(m_tree + "/o" + std::to_string(i));
        WriteFile(m_tree + "/o" + std::to_string(i) + "/f", "x");
    }
    fs::create_directory_symlink(m_tree + "/o1", m_tree + "/data/l1");
    fs::create_directory_symlink(m_tree + "/o2", m_tree + "/o1/l2");
    fs::create_directory_symlink(m_tree + "/o3", m_tree + "/o2/l3");
    Setting("MaxScanRetries", "2");
    ASSERT_TRUE(RunFull().IsSuccess());  // the job manager was told
    EXPECT_EQ(m_factory->m_job->GetPassCount(), 2u);
    EXPECT_TRUE(m_factory->m_job->isFailJobSet());

    const auto listed = Listed();
    EXPECT_EQ(listed.count(m_tree + "/o1/f"), 1u);
    EXPECT_EQ(listed.count(m_tree + "/o2/f"), 0u);
    EXPECT_EQ(Failures(), (std::vector<std::string>{"folder " + m_tree + "/o2:40"}));  // ELOOP

    EXPECT_TRUE(std::ranges::any_of(
        Calls("event"), [](const auto& record) { return record.value("message", "") == "Scan exceeds max scan retries!"; }));
    auto completes = Calls("complete");
    ASSERT_EQ(completes.size(), 1u);
    EXPECT_EQ(std::pair(completes[0].value("status", 0), completes[0].value("for", 0)), std::pair(2, 2)) << "the job failed";
}

TEST_F(ScannerLoopTest, LongPathsAreWalkedInAPassOfTheirOwnAndListedOnce)
{
    std::string deep = m_tree + "/data";
    for (int i = 0; i < 6; ++i)
        deep += "/" + std::string(180, static_cast<char>('a' + i));
    fs::create_directories(deep + "/inner");
    WriteFile(deep + "/inner/file", "long");
    ASSERT_GT(deep.size(), 1024u);
    ASSERT_TRUE(RunFull().IsSuccess());
    EXPECT_EQ(m_factory->m_job->GetPassCount(), 2u);
    const auto listed = Listed();
    EXPECT_EQ(listed.count(deep + "/inner/file"), 1u);
    for (std::string folder = deep + "/inner"; folder != m_tree + "/data"; folder = fs::path(folder).parent_path()) {
        auto it = listed.find(folder + "/");
        EXPECT_TRUE(it != listed.end() && it->second == 1) << folder.size();
    }
    EXPECT_TRUE(Failures().empty());
}

}  // namespace
