#pragma once
// CScanJobCallback: the scan job's side of the engine boundary, and the state that the job,
// the engine's worker threads and the item consumers share for one job: the scanner options
// and their configuration bag, the results-file name factory, the job-control client, the
// failure consumer, the per-volume output resources, three queues of paths found during the
// walk that need a pass of their own (new mount paths, symbolic-link targets, long paths),
// the abort and liveness flags, the newest file change time and the scan statistics. It also
// builds the argument string of the next (backup) phase.
//
// Ownership: the factory creates one per job; the job and the driver share it for one
// CFileScan::Process call. The consumers of a chain keep a plain reference to the callback:
// chains are used only while the walk runs, and the callback outlives the walk.
// Thread: the driver and the job's life cycle call it from the main thread. The engine calls
// IsAborted, GetOutputHandler and GetScanFailureConsumer from its workers, and the consumers
// call OnSymLink, OnLongPath, OnNewMountPath and the file-ctime members from there too; the
// job's alive thread reads and resets the liveness flag. Shared state is guarded where it
// lives: the output-resource list and index by m_outputResourcesLock, each path queue by its
// own lock, the liveness flag by m_aliveLock, the failure consumer by m_failureConsumerLock;
// the newest change time is atomic and is raised only under the process-wide file-ctime lock
// held by the consumer that tracks it. The Pop*, FlushBuffers, OutputResourcesForCleanup and
// post-processing calls belong to the main thread between or after the passes of the walk.
#include "Base/Bag.h"
#include "Base/KxError.h"
#include "Base/TimeStamp.h"
#include "CollectFile/IDirChange.h"
#include "Engine/ContentMapperAPI.h"
#include "Engine/FolderReadPlan.h"
#include "Engine/ScannerCallback.h"
#include "Scan/DirChangeComparison.h"
#include "Scan/OutputResources.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CScannerOptions;
class CPostProcessingOptions;
class CPostProcessCollectFiles;
class CProcessCommitFiles;
class CProcessFailedFiles;
class CFileNameFactory;
class CFileSystemScanFailureConsumer;
class CFileSystemPostProcessResultFolder;
class CIncrFlatCollectFile;
class IPostProcessDirChange;
class ISplitCollectFiles;
class ZVJobCtrlClient;
class ZvFIFO;

// The numbers in a job's scan statistics (GetScanStats).
struct SScanStats {
    std::uint32_t outputResources = 0;
    std::uint32_t collectFiles = 0;
    std::int64_t totalItems = 0;
    std::uint64_t dataSize = 0;
    std::uint64_t folders = 0;
    std::int64_t deletedItems = 0;
};

class CScanJobCallback : public CScannerCallback {
public:
    // The volume id of the deleted-items output resource (no volume has it).
    static constexpr const char* kDeletedItemsVolumeId = "<deleted items>";
    // The markers around the volume in a long-path queue entry.
    static constexpr const char* kSrcVolOpen = "<SRCVOL>";
    static constexpr const char* kSrcVolClose = "</SRCVOL>";

    CScanJobCallback();
    ~CScanJobCallback() override;

    std::string AsString() const override;
    // Marks the job alive, then: true without a job-control client, when the job manager told
    // the job to quit, or when the walk was aborted.
    bool IsAborted() override;
    // The job's scanner options, created on first request (MakeScannerOptions) and kept.
    [[nodiscard]] CKxError GetScannerOptionsInstance(std::shared_ptr<CScannerOptions>& options) override;
    // The splitter's options for this job's subclient, created on first request; needs the
    // configuration bag ("OrbundId", "appId").
    [[nodiscard]] CKxError GetPostProcessingOptionsInstance(std::shared_ptr<CPostProcessingOptions>& options) override;
    // The job's failure list ("scan_Failures.zvf"), created and truncated on the first request
    // once the name factory exists; success with an empty pointer before that. Error 8 when
    // it cannot be made, or the open failure of the list.
    [[nodiscard]] CKxError GetScanFailureConsumer(CScanFailureConsumerPtr& consumer) override;

    // Connects the job-control client with the job's token. A true-up retry keeps the client
    // of the process's first connection: connecting twice fails.
    [[nodiscard]] virtual CKxError initJobControl(const std::string& token);
    // File-server client scans: client app types 2, 3, 5 and 10.
    virtual bool IsFileServerClientScan(int clientAppType) const;
    // The job's results-file name factory; a new one only when none exists yet or the backup
    // type or the folder differ from the ones it was made with.
    virtual std::shared_ptr<CFileNameFactory> GetFileNameFactory(unsigned long backupType,
                                                                 const std::string& resultsFolder);
    virtual void SetReferenceTime(std::uint32_t referenceTime) { m_referenceTime = referenceTime; }
    std::uint32_t GetReferenceTime() const { return m_referenceTime; }
    [[nodiscard]] virtual CKxError GetScanStats(SScanStats& stats);
    // The arguments of the next phase, and the job manager's concatenation action for them
    // (1 nullify, 2 concatenate, 3 set). Runs the nine steps below in order; the first error
    // stops the sequence.
    [[nodiscard]] virtual CKxError GetNextPhaseArguments(std::string& arguments, int& action);
    // The backup status file of the subclient. Base: nothing to create.
    [[nodiscard]] virtual CKxError CreateStatusFile(const std::string& subclientResultsFolder);
    // Data streams the backup phase should use: the collect files there are (after the split,
    // when it ran), at most the configured streams ("SC:NumStreams", -1: as many as there are
    // collect files), at least 1.
    virtual int GetNumStreams();
    virtual bool shouldOverrideScanReftTime() const;
    virtual CTimeStamp getScanReftTime() const;

    [[nodiscard]] virtual CKxError GetNextPhaseArguments_Misc(std::string& arguments);
    [[nodiscard]] virtual CKxError GetNextPhaseArguments_UpdateStats(std::string& arguments);
    [[nodiscard]] virtual CKxError GetNextPhaseArguments_UpdateIncImage(std::string& arguments);
    [[nodiscard]] virtual CKxError GetNextPhaseArguments_AddHocBackup(std::string& arguments);
    [[nodiscard]] virtual CKxError GetNextPhaseArguments_UpdateRefTime(std::string& arguments);
    [[nodiscard]] virtual CKxError GetNextPhaseArguments_DistributedApps(std::string& arguments);
    [[nodiscard]] virtual CKxError GetNextPhaseArguments_FileServerClient(std::string& arguments);
    [[nodiscard]] virtual CKxError GetNextPhaseArguments_TrueUp(std::string& arguments);
    [[nodiscard]] virtual CKxError GetNextPhaseArguments_PostOps(std::string& arguments);

    // ---- Paths found during the walk that need a pass of their own ----------------------
    // Each queue lies in the agent's temporary folder and keeps any byte of a path; entries
    // come back in the order they were queued. The new-mount-path and long-path queues are
    // opened on first use; the sym-link queue only by EnableSymLink (without it, links are
    // not followed and OnSymLink queues nothing).
    [[nodiscard]] CKxError EnableSymLink();
    bool IsSymLinkEnabled() const;
    // Resolves the link (GetItemFromSymLink) and queues its target's source path, with a
    // trailing '/' for a folder, together with the link's own path and owner (whether a pass
    // may follow it depends on who owns it). A link that cannot be read is returned as an
    // error (the item carries its error number); a link without a readable target queues
    // nothing.
    [[nodiscard]] CKxError OnSymLink(const CItemPtr& item);
    // Queues "<source path>[/]<SRCVOL><volume></SRCVOL>".
    [[nodiscard]] CKxError OnLongPath(const CItemPtr& item, const std::string& volume);
    // Queues the source path, with a trailing '/' for a folder.
    [[nodiscard]] CKxError OnNewMountPath(const CItemPtr& item);
    // The target of a symbolic link as an item of its own; base: success and no target.
    [[nodiscard]] virtual CKxError GetItemFromSymLink(const CItemPtr& item, CItemPtr& target);
    // A symbolic link that OnSymLink queued.
    struct SSymLinkTarget {
        std::string target;  // the target's source path, with a trailing '/' for a folder
        std::string link;    // the link's source path
        uid_t linkOwner;     // (uid_t)-1 when the item carried no status
        bool operator==(const SSymLinkTarget&) const = default;
    };
    // Each drains its queue into `paths` (appended, oldest first). A queue never opened is
    // empty.
    [[nodiscard]] CKxError PopNewMountPaths(std::vector<std::string>& paths);
    [[nodiscard]] CKxError PopSymLinkTargets(std::vector<SSymLinkTarget>& targets);
    [[nodiscard]] CKxError PopLongPaths(std::vector<std::string>& paths);

    // ---- Failures --------------------------------------------------------------------------
    // Records an item the scan could not take; base: nothing to record, success.
    [[nodiscard]] virtual CKxError ReportScanFailure(const CItemPtr& item, const CKxError& error);
    [[nodiscard]] virtual CKxError ReportScanFailure(const std::string& path, const CKxError& error);

    // Installs the error rules of the application's client and type into the failure consumer
    // (made here when the job has none yet).
    [[nodiscard]] virtual CKxError ConfigureScanFailureConsumerErrorCtrl(const std::string& applicationId);
    // The rules' job decision over the failure list (-1: no rules, no list or no items);
    // errorText names the item that decided. Call once the list is flushed.
    int EvaluateScanFailureErrorRules(std::string& errorText, std::string& pattern);

    // ---- Output resources and their post-processing ------------------------------------
    // Flushes the collect writers and directory-change buffers of every output resource and
    // the failure list, so that what the walk wrote is on disk before clean-up reads it. The first failure is returned
    // after all were tried.
    [[nodiscard]] CKxError FlushBuffers();
    // Output resources, one per source volume (and, after the split, one per piece).
    void AddOutputResource(COutputResourcesPtr resource);
    // A snapshot of the list, taken under its lock: any thread.
    std::vector<COutputResourcesPtr> GetOutputResourcesList() const;
    // The list itself, for the clean-up steps that append to it (the split). Main thread only,
    // after the walk's workers have stopped.
    std::vector<COutputResourcesPtr>& OutputResourcesForCleanup() { return m_outputResources; }
    // The number of output resources created during the walk (the highest collect number).
    int GetOutputResourceIndex() const;
    // The splitter of the job's collect files; base: none (success, empty pointer).
    [[nodiscard]] virtual CKxError GetSplitCollectFileInterface(std::shared_ptr<ISplitCollectFiles>& splitter);
    // The remover of collect files without content; base: none (success, empty pointer).
    [[nodiscard]] virtual CKxError GetPostProcessCollectFilesInterface(
        std::shared_ptr<CPostProcessCollectFiles>& postProcess);
    // The step that lists the subclient's own results folder for the backup phase; base: none
    // (success, empty pointer).
    [[nodiscard]] virtual CKxError GetPostProcessResultFolderInterface(
        std::shared_ptr<CFileSystemPostProcessResultFolder>& postProcess);
    // The job's deleted-items collect file (the naming object's DeletedItemsCollect, e.g.
    // "CollectIncDeletedItems.zvf"): deletion lines and the items the comparison of
    // directory-change records adds. It is an output resource of its own (volume id
    // kDeletedItemsVolumeId, the next collect number), made and emptied on the first request;
    // the split leaves it alone and the statistics count its lines as deleted items.
    [[nodiscard]] virtual CKxError GetDeletedItemsCollectFile(std::shared_ptr<CIncrFlatCollectFile>& file,
                                                              int& collectNumber);
    // The comparison of this job's directory-change record with the previous one (see
    // PostProcessDirChange.h), over the output resources made so far. Deleted items are
    // detected in every non-full job and in a full job with "SC::FileServerTrueUp" whose
    // previous record was loaded; "SC:DisableDCCompare" turns detection off.
    [[nodiscard]] virtual CKxError GetPostProcessDirChangeInterface(std::shared_ptr<IPostProcessDirChange>& postProcess);
    // What either record's comparison needs of this job; `referencePresent`: the record the job
    // was evaluated against could be read.
    SDirChangeComparison DirChangeComparison(bool referencePresent);
    // The previous job's record and the record the job is evaluated against (set by the job's
    // preparation; the same file except for a differential after an incremental).
    void SetDirChangeRecordPaths(std::string previous, std::string reference)
    {
        m_previousDirChangePath = std::move(previous);
        m_referenceDirChangePath = std::move(reference);
    }
    const std::string& GetPreviousDirChangePath() const { return m_previousDirChangePath; }
    const std::string& GetReferenceDirChangePath() const { return m_referenceDirChangePath; }
    // Items the previous record marks with a backup frequency are kept for full backups when
    // they are missing from a job, instead of being reported deleted (default off).
    virtual bool IsIgnoreFullOnlyItems() const { return m_ignoreFullOnlyItems; }
    void SetIgnoreFullOnlyItems(bool ignore) { m_ignoreFullOnlyItems = ignore; }
    // The feeders of the owed-item lists into this job (ProcessFailedFiles.h,
    // ProcessCommitFiles.h), over the naming object's lists; deletion lines in non-full jobs.
    // Error 1168 before the naming object exists.
    [[nodiscard]] virtual CKxError GetProcessFailedFiles(std::shared_ptr<CProcessFailedFiles>& processor);
    [[nodiscard]] virtual CKxError GetProcessCommitFiles(std::shared_ptr<CProcessCommitFiles>& processor);
    // The local path of the mount point of the volume holding `path`: the volume whose output
    // handler takes the item. Base: "/".
    virtual std::string VolumeOf(const std::string& path);
    // Content paths that produced no item, handed back after the walk; base: nothing to do.
    [[nodiscard]] virtual CKxError ProcessEmptyScanContent(const std::vector<std::string>& contentPaths);
    // The mount configuration of the results folder; base: nothing to write.
    [[nodiscard]] virtual CKxError CreateMountConfigFile();

    // ---- Chain building blocks ---------------------------------------------------------
    // A fresh backup-type evaluator for one volume's output stage, initialised from the bag's
    // backup type and switches, a status record whose "RefTime" is the job's reference time
    // (this platform keeps no change-journal numbers) and the previous job's directory-change
    // record (GetPreviousDirChangeInterface). Error 14 when it cannot be made.
    [[nodiscard]] virtual CKxError GetBackupJobTypeEvaluator(const std::string& volume, CItemEvaluatorPtr& evaluator);
    // The previous job's directory-change record the evaluators look items up in; set by the
    // job's preparation before the walk (none for a full job), dropped by the clean-up.
    void SetPreviousDirChangeInterface(IDirChangePtr previous) { m_previousDirChange = std::move(previous); }
    // The folders the walk reads (an incremental that trusts the change journal); null: all.
    void SetFolderReadPlan(std::shared_ptr<CFolderReadPlan> plan) { m_folderReadPlan = std::move(plan); }
    CFolderReadPlan* GetFolderReadPlan() override { return m_folderReadPlan.get(); }
    const IDirChangePtr& GetPreviousDirChangeInterface() const { return m_previousDirChange; }
    void CleanupPreviousDirChangeInterface() { m_previousDirChange.reset(); }
    // With max-ctime tracking on, wraps `head` in a CMaxFileCTimeConsumer; otherwise leaves it.
    [[nodiscard]] CKxError CreateAndAddFileCTimeConsumer(CItemConsumerPtr& head);

    // The translation of local paths to source paths, when the content is reached through
    // another mount; none means every path is its own source path. Set before the walk.
    void SetContentMapper(ContentMapperAPIPtr mapper) { m_contentMapper = std::move(mapper); }
    const ContentMapperAPIPtr& GetContentMapper() const { return m_contentMapper; }
    std::string GetSourcePath(const std::string& localPath) const;

    // The job's configuration bag, given once it is filled; the engine gets the same bag.
    void SetScannerConfigurationBag(CBagPtr bag);
    // The bag given above, else the scanner options' bag, else none.
    CBagPtr GetScannerConfigurationBag() const;
    void SetJobId(std::int64_t jobId) { m_jobId = jobId; }
    std::int64_t GetJobId() const { return m_jobId; }
    std::shared_ptr<ZVJobCtrlClient> GetJobControlClient() const { return m_jobControl; }
    std::shared_ptr<CFileNameFactory> GetCurrentFileNameFactory() const { return m_fileNameFactory; }

    void SetIsAlive();
    bool GetIsAlive() const;
    void ResetIsAlive();

    // Set by GetNextPhaseArguments from the scan statistics; read by the driver.
    std::uint64_t GetTotalBackupSize() const { return m_totalBackupSize; }
    void SetSCContentFailed(bool failed) { m_scContentFailed = failed; }
    bool IsSCContentFailed() const { return m_scContentFailed; }
    void SetScanError(bool scanError) { m_scanError = scanError; }
    bool IsScanError() const { return m_scanError; }
    // True once the backup index was queried for incomplete large files of an earlier job.
    bool DidQueryIndexForIncompleteFilesSucceed() const { return m_queriedIndexForIncompleteFiles; }
    void SetQueriedIndexForIncompleteFiles(bool queried) { m_queriedIndexForIncompleteFiles = queried; }

    // Newest file change time: tracked only when the job uses it as the next reference time.
    void SetMaxCtimeTracking(bool on) { m_maxCtimeTracking = on; }
    bool IsMaxCtimeTracking() const { return m_maxCtimeTracking; }
    std::int64_t GetMaxFileCtime() const { return m_maxFileCtime.load(std::memory_order_relaxed); }
    // Caller holds the process-wide file-ctime lock.
    void SetMaxFileCtime(std::int64_t ctime) { m_maxFileCtime.store(ctime, std::memory_order_relaxed); }

protected:
    // The options class of this callback's jobs. Base: the common options.
    virtual std::shared_ptr<CScannerOptions> MakeScannerOptions();
    // The name factory class of this callback's jobs. Base: the common factory.
    virtual std::shared_ptr<CFileNameFactory> MakeFileNameFactory(unsigned int backupType,
                                                                  const std::string& resultsFolder);
    // Adds one output resource's collect file (a flat collect file) to the statistics.
    virtual void AddCollectFileStats(const COutputResources& resource, SScanStats& stats) const;
    // The output resource with `volumeId`, or none.
    COutputResourcesPtr FindOutputResource(const std::string& volumeId) const;
    // Under the output-resource lock: the resource with `volumeId` when there is one
    // (`created` false); otherwise the index is incremented, `create` makes the resource for
    // that index and it is appended (`created` true). Threads asking for one new volume at
    // the same time thus get one resource. An error of `create` is returned and nothing is
    // appended (the index stays used).
    [[nodiscard]] CKxError FindOrAddOutputResource(const std::string& volumeId,
                                                   const std::function<CKxError(int, COutputResourcesPtr&)>& create,
                                                   COutputResourcesPtr& resource, bool& created);

    std::shared_ptr<CScannerOptions> m_scannerOptions;
    std::shared_ptr<CFileNameFactory> m_fileNameFactory;
    std::shared_ptr<ZVJobCtrlClient> m_jobControl;
    ContentMapperAPIPtr m_contentMapper;
    std::shared_ptr<CPostProcessingOptions> m_postProcessingOptions;
    CBagPtr m_bag;
    IDirChangePtr m_previousDirChange;
    std::shared_ptr<CFolderReadPlan> m_folderReadPlan;
    std::string m_previousDirChangePath;
    std::string m_referenceDirChangePath;
    bool m_ignoreFullOnlyItems = false;
    // The ordinary backup job; the two-phase laptop job takes its true-up switch from the
    // laptop first-phase key instead.
    std::uint32_t m_backupJobKind = 1;
    std::uint32_t m_referenceTime = 0;
    std::int64_t m_jobId = 0;

private:
    // One on-disk queue of paths and the lock that guards it (and its lazy opening).
    struct SPathQueue {
        // Out of line, where ZvFIFO is complete.
        explicit SPathQueue(const char* queueName);
        ~SPathQueue();
        const char* name;
        mutable std::mutex lock;
        std::unique_ptr<ZvFIFO> fifo;
    };
    [[nodiscard]] CKxError OpenQueueLocked(SPathQueue& queue);
    [[nodiscard]] CKxError Push(SPathQueue& queue, const std::string& entry, bool openOnDemand);
    [[nodiscard]] CKxError PopAll(SPathQueue& queue, std::vector<std::string>& paths);

    mutable std::mutex m_failureConsumerLock;  // guards m_failureConsumer
    std::shared_ptr<CFileSystemScanFailureConsumer> m_failureConsumer;
    mutable std::mutex m_outputResourcesLock;  // guards m_outputResources and m_outputResourceIndex
    int m_outputResourceIndex = 0;
    std::vector<COutputResourcesPtr> m_outputResources;
    SPathQueue m_symLinkQueue{"SymLink"};
    SPathQueue m_longPathQueue{"LongPath"};
    SPathQueue m_newMountPathQueue{"NewMountPath"};
    bool m_scContentFailed = false;
    bool m_scanError = false;
    bool m_queriedIndexForIncompleteFiles = false;
    bool m_maxCtimeTracking = false;
    std::atomic<std::int64_t> m_maxFileCtime{0};
    // The job manager's quit answer, polled at most every kQuitCheckInterval (IsAborted).
    static constexpr std::chrono::nanoseconds kQuitCheckInterval = std::chrono::milliseconds(250);
    std::atomic<std::int64_t> m_nextQuitCheck{0};
    std::atomic<bool> m_quitSeen{false};
    std::uint64_t m_totalBackupSize = 0;
    mutable std::mutex m_aliveLock;  // guards m_alive
    bool m_alive = false;
};

using CScanJobCallbackPtr = std::shared_ptr<CScanJobCallback>;
