#pragma once
// CScanJobFileSystem: the ordinary file-system backup scan (job types 2, 5 and 15) and the
// base of most other scan jobs.
//
// Life cycle (CScanJob::Process): ProcessCommandLine reads the job's own options after the
// common ones; Configure runs the configuration steps in their fixed order (the common
// configuration, the subclient content, the alive-report thread, impersonation); Prepare the
// preparation steps; Run hands the content to the scan engine as work units and runs the
// scanner loop (Run1): one pass over the content, then further passes for new mount paths,
// symbolic-link targets and long paths found on the way, at most "MaxScanRetries" passes;
// Cleanup runs the clean-up chain in its fixed order and stops the alive thread.
//
// Each step is a virtual operation: a derived job, or the platform's private object
// (CScanJobFileSystemPrivate, on this platform CScanJobFileSystemUnix), replaces a step without
// changing the order. Steps whose work this agent does not have (laptop, file-server, Nutanix,
// true-up and metadata services) succeed with their log lines and change nothing.
//
// What becomes a job result: a walk that could not run at all, or content without any entry,
// sets the fail-job flag; failures of single items never do (they are in "scan_Failures.zvf").
//
// Ownership: as CScanJob; the job owns its private object, its subclient content, its work-unit
// managers, its alive reporter and its progress display.
// Thread: every step runs on the driver's thread. The alive thread (CJobAliveReporter) and the
// progress thread (CScanProgress) only read the callback's liveness mark and the walk counters.
#include "Base/Bag.h"
#include "Base/TimeStamp.h"
#include "CollectFile/CollectEvidence.h"
#include "Engine/WorkUnitManager.h"
#include "Scan/ScanContentConfiguration.h"
#include "Scan/ScanJob.h"
#include "Scan/WalkedRoots.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class CScanJobFileSystemPrivate;
class CSubclientContent;
class CChangeJournalScan;
class CJobAliveReporter;
class CScanProgress;
class CBackupJobClient;
class CPathCacheFlatFileIndex;

class CScanJobFileSystem : public CScanJob {
public:
    // In the job results folder: the time of each walk pass and clean-up step (`fsweep report`).
    static constexpr const char* kStepTimesFile = "ScanSteps.json";
    // Events this job raises.
    static constexpr std::uint32_t kEventEmptyContent = 0x1100000b;
    static constexpr std::uint32_t kEventCriteriaJobWithoutContent = 0x11000040;
    static constexpr std::uint32_t kEventContentError = 0x11000061;
    static constexpr std::uint32_t kEventScanFailed = 0x11000062;
    static constexpr std::uint32_t kEventTooManyScanPasses = 0x11000063;
    static constexpr std::uint32_t kEventErrorRuleMatched = 0x11000065;
    static constexpr std::uint32_t kEventResultsFolderFailed = 0x11000066;

    // Thread budgets of the scanner loop.
    static constexpr int kDefaultMaxScanThreads = 15;
    static constexpr int kAutomaticFolderLevelThreads = 15;
    static constexpr std::uint32_t kDefaultMaxScanRetries = 6;

    CScanJobFileSystem();
    ~CScanJobFileSystem() override;

    // "ScanJob/FileSystem".
    std::string AsString() const override;
    // The common options, then the file-system job's options ("ab", "ref", "adhoc", "seb",
    // "aftersynth", "incimage", "CommitJobID", "cat", "jilf", "lf", "li", "ls", "diDAFS",
    // "TrueUp", "et"); values meant for the configuration bag are written there (or kept until
    // the bag exists, see Configure_PreConfig).
    [[nodiscard]] CKxError ProcessCommandLine(const CCommandLineArgumentsPtr& args) override;
    [[nodiscard]] CKxError Configure() override;
    [[nodiscard]] CKxError Prepare() override;
    [[nodiscard]] CKxError Run() override;
    [[nodiscard]] CKxError Cleanup() override;

    // --- configuration and preparation steps, in slot order ---
    [[nodiscard]] virtual CKxError InitializePrivate();
    [[nodiscard]] virtual CKxError Configure_PreConfig();
    [[nodiscard]] virtual CKxError Configure_ArchiveBit();
    [[nodiscard]] virtual CKxError Configure_ExtentLevelBackup();
    [[nodiscard]] virtual CKxError Configure_JobReferenceTime(CTimeStamp& referenceTime);
    [[nodiscard]] virtual CKxError Configure_PreformanceCouters();
    [[nodiscard]] virtual CKxError Configure_InitializeSubclientContent(CTimeStamp referenceTime);
    [[nodiscard]] virtual CKxError Configure_SubclientContentParameters();
    [[nodiscard]] virtual CKxError Configure_Profile();
    [[nodiscard]] virtual CKxError Configure_MigrationAssistant();
    [[nodiscard]] virtual CKxError Configure_SubclientContent();
    [[nodiscard]] virtual CKxError Configure_FileServerScan();
    [[nodiscard]] virtual CKxError Configure_SyncContent();
    [[nodiscard]] virtual CKxError Configure_LaptopClient();
    [[nodiscard]] virtual CKxError Configure_IncrImageMode();
    [[nodiscard]] virtual CKxError Configure_TrueUpJob();
    [[nodiscard]] virtual CKxError Configure_PostConfig();
    [[nodiscard]] virtual CKxError Configure_ImpersonateOption();
    [[nodiscard]] virtual CKxError PostConfig_MaxFileCTimeOption();
    [[nodiscard]] virtual CKxError Configure_ScanFailureErrorControl();
    [[nodiscard]] virtual CKxError Prepare_CommitJobs();
    [[nodiscard]] virtual CKxError Prepare_AdHocJob();
    [[nodiscard]] virtual CKxError Prepare_NutanixAFSBackup();
    [[nodiscard]] virtual CKxError Prepare_TrueUpBrowseIndex();
    [[nodiscard]] virtual CKxError Prepare_FileServerScan();
    [[nodiscard]] virtual CKxError ProcessCriteriaBasedFiles();

    // --- clean-up steps (Cleanup runs them in this order) ---
    [[nodiscard]] virtual CKxError Cleanup_FlushDirchangeToDisk();
    [[nodiscard]] virtual CKxError Cleanup_IncompleteLargeFileBrowse();
    [[nodiscard]] virtual CKxError Cleanup_IncompleteLargeFileBrowseResponse();
    [[nodiscard]] virtual CKxError Cleanup_ProcessFailedFiles();
    [[nodiscard]] virtual CKxError Cleanup_SaveBackupStatusFile();
    [[nodiscard]] virtual CKxError Cleanup_ProcessCommitFiles();
    [[nodiscard]] virtual CKxError Cleanup_ProcessGpfsFileSets();
    [[nodiscard]] virtual CKxError Cleanup_ProcessFilesForMigrationAssistant();
    [[nodiscard]] virtual CKxError Cleanup_ProcessTrueUp();
    [[nodiscard]] virtual CKxError Cleanup_ProcessEmptyScanContent();
    [[nodiscard]] virtual CKxError Cleanup_PostProcessDirChange();
    [[nodiscard]] virtual CKxError Cleanup_PostProcessCollectFiles();
    // Applies the error rules' decision to the failure list: 2 fails the phase naming the item
    // and its error, 1 raises a major event, 0 or none changes nothing.
    [[nodiscard]] virtual CKxError Cleanup_ApplyErrorRules();
    [[nodiscard]] virtual CKxError Cleanup_ProcessIPhoto();
    [[nodiscard]] virtual CKxError Cleanup_PostProcessResultFolder();
    [[nodiscard]] virtual CKxError Cleanup_CloseDirchange();
    [[nodiscard]] virtual CKxError Cleanup_CreateMountConfigFile();
    [[nodiscard]] virtual CKxError Cleanup_UpdateSyncFolder();
    [[nodiscard]] virtual CKxError Cleanup_ScanMarkingJob();
    [[nodiscard]] virtual CKxError Cleanup_UploadMetadata();
    [[nodiscard]] virtual CKxError Cleanup_FileServerTrueUpRestart();
    [[nodiscard]] virtual CKxError Cleanup_RevertImpersonation();
    [[nodiscard]] virtual CKxError Cleanup_UpdateJobStatusForLaptopClient();
    [[nodiscard]] virtual CKxError Cleanup_UnmountSnapshotsAndShares();
    [[nodiscard]] virtual CKxError Cleanup_TrueUp();
    [[nodiscard]] virtual CKxError Cleanup_DistributedBackup();
    [[nodiscard]] virtual CKxError Cleanup_PostCleanup();
    [[nodiscard]] virtual CKxError Cleanup_PrintStaleMountList();
    [[nodiscard]] virtual CKxError CopyJRFolderAfterScanIfRequested();
    // Last of clean-up, before the job manager hears the outcome: writes the collect files'
    // whole-file evidence (CCollectEvidence), then syncs everything the job changed in its
    // results folders, and the folders (COutputSync).
    [[nodiscard]] virtual CKxError Cleanup_SyncOutputs();
    // The subclient and job results folders (those set).
    std::vector<std::string> ResultFolders() const;
    // Steps of a job that completes in the scan phase (Cleanup_ScanMarkingJob).
    [[nodiscard]] virtual CKxError Cleanup_MarkTrueUpComplete();
    [[nodiscard]] virtual CKxError Cleanup_RenameDCAndOtherImportantFiles();
    [[nodiscard]] virtual CKxError Cleanup_IncrementalAfterSynthFull();

    // --- the walk ---
    // The first pass's manager, made on first request.
    [[nodiscard]] virtual CKxError GetWorkUnitManager(CWorkUnitManagerPtr& manager);
    [[nodiscard]] virtual CKxError ProcessScanContent_WriteInformation();
    [[nodiscard]] virtual CKxError GetListOfProfilesToBackup();
    // The scanner loop.
    [[nodiscard]] virtual CKxError Run1();
    [[nodiscard]] virtual CKxError StartAliveThread();
    [[nodiscard]] virtual CKxError EndAliveThread();
    bool IsAliveThreadRunning() const;

    // Scan threads for the manager's work units: "RegKey:MaxScanThreads" (15 when absent or
    // not above 0), at most one per work unit; folder-level threads through
    // AssignWorkersCountForWorkUnit.
    [[nodiscard]] CKxError ConfigureWorkersCount(CWorkUnitManager& manager, int& maxThreads, bool& folderLevel);
    // Folder-level threads ("MaxWorkers" of each work unit's bag): the subclient's
    // "folderLevelThreads" ("EnableFolderLevelMultithread", "MaxWorkers") spread over the work
    // units when there are more threads than units; otherwise an automatic budget of 15 spent
    // only on network and cluster file systems (NFS, Gluster, Lustre); every other unit gets 1.
    [[nodiscard]] CKxError AssignWorkersCountForWorkUnit(CWorkUnitManager& manager, int maxThreads);
    // Lists one path in the scan's failure list with the error's code ("errorCode").
    [[nodiscard]] CKxError ReportScanFailure(const std::string& path, CKxError& error);
    // Multi-node jobs (option "diDAFS"): "SubclientdirState.zvf" with the job id.
    [[nodiscard]] CKxError CreateJRStateFile();

    // The file-system type of the mount that holds `path` ("" when unknown). The automatic
    // folder-level budget counts network and cluster file systems with it. False when the mount
    // table cannot be read.
    virtual bool GetFileSystemTypeOf(const std::string& path, std::string& type);

    // --- what the private object, tests and derived jobs read ---
    const std::shared_ptr<CScanJobFileSystemPrivate>& GetPrivate() const { return m_private; }
    const std::shared_ptr<CSubclientContent>& GetSubclientContent() const { return m_subclientContent; }
    const CCommandLineArgumentsPtr& GetCommandLine() const { return m_args; }
    CBagPtr GetConfigurationBag() const;
    bool IsFollowMountPoints() const { return m_followMountPoints; }
    void SetFollowMountPoints(bool follow) { m_followMountPoints = follow; }
    bool IsLastJobFull() const { return m_lastJobWasFull; }
    // The job manager named the last job that left a record, or at least the time it ran.
    bool IsPreviousJobKnown() const { return m_lastSuccessfulJobId != 0 || m_referenceTime != 0; }
    bool IsSkipEmptyIncremental() const { return m_skipEmptyIncremental; }
    bool IsTrueUpOnDemand() const { return m_trueUpOnDemand; }
    bool IsAfterSynthFull() const { return m_afterSynthFull; }
    bool IsAdHoc() const { return m_adHoc; }
    bool IsDistributedMode() const { return m_distributedMode; }
    bool IsUseArchiveBit() const { return m_useArchiveBit; }
    std::uint64_t GetReferenceTime() const { return m_referenceTime; }
    long long GetPhaseElapsedTime() const { return m_phaseElapsedTime; }
    const CWalkedRoots& GetWalkedRoots() const { return m_walkedRoots; }
    // The final status of the last scanner loop (success before Run1).
    const CKxError& GetScanStatus() const { return m_scanStatus; }
    // Passes the last scanner loop ran.
    unsigned GetPassCount() const { return m_passes; }

protected:
    // The configuration bag, or before it exists the values the command line left for it.
    CBag& CommandLineBag();
    // The private object of this platform.
    [[nodiscard]] virtual std::shared_ptr<CScanJobFileSystemPrivate> MakePrivate();
    // Whether a job that finds nothing to back up may end in the scan phase: a criteria-based
    // ad hoc job, or a non-full job run with "-seb".
    bool MayCompleteInScan() const;
    // Whether a job that found nothing to back up ends in the scan phase: no output resource
    // kept a collect file with content.
    virtual bool ShouldCompleteInScan();
    // A work-unit manager with the job's bag, failure consumer and follow-mount switch.
    CWorkUnitManagerPtr NewWorkUnitManager();
    // Adds the job's exception and filter lists to a unit made for a further pass.
    [[nodiscard]] CKxError AddJobListsToUnit(CWorkUnit& unit, const std::vector<std::string>& extraExceptions);
    // Where a source path, and every entry of the lists, lies on this machine (the callback's
    // content mapper from source to local; unchanged without one).
    std::string LocalPath(const std::string& sourcePath) const;
    CScanContentConfiguration::SWorkUnitLists LocalLists(const CScanContentConfiguration::SWorkUnitLists& lists) const;

    // Preparation step 8: this job's directory-change record ("DCTmp.zvf"), the previous
    // record loaded into it ("DCTot.zvf" after a full, else "DCInc.zvf"; a differential's
    // reference is always "DCTot.zvf"), and the lookup the evaluators get. A missing or
    // unreadable previous record is logged and treated as absent.
    [[nodiscard]] virtual CKxError PrepareDirChange(const CBag& bag);
    // With the subclient's change journal: asks the daemon for its point and plans the walk.
    [[nodiscard]] CKxError Prepare_ChangeJournal();

    std::shared_ptr<CScanJobFileSystemPrivate> m_private;
    std::shared_ptr<CSubclientContent> m_subclientContent;
    std::unique_ptr<CChangeJournalScan> m_changeJournal;
    CWorkUnitManagerPtr m_workUnitManager;
    CCommandLineArgumentsPtr m_args;

private:
    // The first pass's work units from the content lists; each content entry that cannot
    // become content is listed as a failure.
    [[nodiscard]] CKxError InitializeWorkUnits(CWorkUnitManager& manager);
    [[nodiscard]] CKxError RunPass(const CWorkUnitManagerPtr& manager, const CBagPtr& engineSettings);
    CBagPtr MakeEngineSettings();
    // Drains the callback's queues into the next pass's manager; false when nothing is left to
    // walk. `pending` receives every entry of the queues that needs a pass.
    [[nodiscard]] CKxError BuildRestartPass(CWorkUnitManagerPtr& next, std::vector<std::string>& pending);
    void ReportUnwalked(const std::vector<std::string>& pending);
    void FinishScanStatus(bool hasContent);
    void RestoreFolderLevelSettings();
    void PrintSummary();
    // Runs one clean-up step and keeps its time for WriteStepTimes.
    template <typename Step>
    [[nodiscard]] CKxError TimedStep(const char* name, Step step);
    // The job results folder's kStepTimesFile: {"job":N,"seconds":S,"steps":[{"step":"walk",
    // "seconds":s},...]}, each walk pass and clean-up step in order (docs/job-report.md).
    void WriteStepTimes() const;

    bool m_skipEmptyIncremental = false;
    bool m_trueUpOnDemand = false;
    bool m_lastJobWasFull = false;
    bool m_useArchiveBit = false;
    bool m_afterSynthFull = false;
    bool m_adHoc = false;
    bool m_distributedMode = false;
    bool m_followMountPoints = true;
    std::uint64_t m_referenceTime = 0;
    std::time_t m_startedAt = std::time(nullptr);  // what changed since is synced at the end
    // Collect files the split wrote, with the lines and bytes it wrote: their evidence.
    std::vector<CCollectEvidence::SEntry> m_splitWritten;
    long long m_phaseElapsedTime = 0;
    long long m_commitJobId = 0;
    long m_commitJobBackupLevel = 0;
    std::uint64_t m_lastSuccessfulJobId = 0;
    std::shared_ptr<CPathCacheFlatFileIndex> m_dirChangeIndex;  // this job's record (IncrementalDirChange)

    CBag m_commandLineValues;  // values for the bag written before the bag existed
    std::unique_ptr<CJobAliveReporter> m_aliveReporter;
    std::shared_ptr<CBackupJobClient> m_aliveClient;
    std::unique_ptr<CScanProgress> m_progress;
    CWalkedRoots m_walkedRoots;
    CScanContentConfiguration::SWorkUnitLists m_lists;  // the job's lists as the work units took them
    CKxError m_scanStatus;
    unsigned m_passes = 0;
    std::uint64_t m_unwalkedListed = 0;
    bool m_configuredFolderLevel = false;
    unsigned int m_configuredFolderLevelThreads = 0;
    std::chrono::steady_clock::time_point m_jobStart = std::chrono::steady_clock::now();
    // Each walk pass and clean-up step with its seconds, in order, for WriteStepTimes.
    std::vector<std::pair<std::string, double>> m_stepSeconds;
};

using CScanJobFileSystemPtr = std::shared_ptr<CScanJobFileSystem>;
