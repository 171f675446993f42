// The job life cycle and the file-system job's own decisions: the order of the steps and their
// failure paths, the command-line options, the common configuration on a scratch instance, the
// thread counts of the scanner loop, the order of the clean-up chain when a step fails, the
// alive report of a running job (the period rule decided on given times, no waiting), impersonation
// (in a forked child: the test process keeps its ids), the scan view file and the progress lines.
#include "Scan/ScanJobTestEnv.h"

#include "Engine/WorkUnitManager.h"
#include "Scan/JobAliveReporter.h"
#include "Scan/PostProcessingOptions.h"
#include "Scan/ScanJobFileSystem.h"
#include "Scan/ScanProgress.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/Unix/ScanJobFileSystemUnix.h"
#include "Scan/Unix/UnixFileNameFactory.h"
#include "Scan/Unix/UnixScanJobCallback.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <grp.h>

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

TEST_F(FileSystemJobTest, ConfigureFillsFoldersBagAndObjectsOrFails)
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
}

TEST_F(FileSystemJobTest, AnalyticsAndMigrationJobsGetTheirOwnResultFolders)
{
    auto job = NewJob();
    WriteAll(*Bag(), {{Id::idAnalyticsEnabled, true}, {"ObjectStoreMigration", true}});
    ASSERT_TRUE(job->Configure().IsSuccess());
    const std::string folder = m_instance + "/JobResults/jobs/7/Analytics/7";
    EXPECT_EQ(job->GetResultFolderForJob(), folder);
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

TEST(JobAliveReporterTest, ReportsOncePerPeriodOnlyWhenTheJobWasActive)
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
}

TEST(JobAliveReporterTest, FailedMarkIsLoggedAndTheNextPeriodTriesAgain)
{
    FakeJob job;
    job.markFails = true;
    CJobAliveReporter reporter(job.Hooks());
    reporter.BeginPeriod(Clock::time_point{});
    job.alive = true;
    EXPECT_TRUE(reporter.OnWake(Clock::time_point{} + 1500s));
    job.alive = true;
    EXPECT_TRUE(reporter.OnWake(Clock::time_point{} + 3000s));
    EXPECT_EQ(job.marks, 2);
}

TEST(JobAliveReporterTest, StopInterruptsTheWaitAndStartRestarts)
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
}

TEST(JobAliveReporterTest, ThreadWithoutJobManagerEndsAtOnce)
{
    CJobAliveReporter::SHooks hooks;
    hooks.connect = [] { return false; };
    int marks = 0;
    hooks.markAlive = [&] {
        ++marks;
        return CKxError::Success();
    };
    CJobAliveReporter reporter(hooks, 1ms, 1ms);
    reporter.Start();
    reporter.Stop();
    EXPECT_EQ(marks, 0);
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
