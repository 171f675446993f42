#pragma once
// CScanJobCallback: the scan job's side of the engine boundary, and the state that the job,
// the engine's worker threads and the item consumers share for one job: the scanner options
// and their configuration bag, the results-file name factory, the job-control client, the
// failure consumer, the per-volume output resources, the abort and liveness flags, the
// newest file change time and the scan statistics. It also builds the argument string of the
// next (backup) phase.
//
// Ownership: the factory creates one per job; the job and the driver share it for one
// CFileScan::Process call.
// Thread: the driver and the job's life cycle call it from the main thread. The engine calls
// IsAborted, GetOutputHandler and GetScanFailureConsumer from its workers; the job's alive
// thread reads and resets the liveness flag. Shared state is guarded where it lives: the
// output-resource list by m_outputResourcesLock, the liveness flag by m_aliveLock, the
// failure consumer by m_failureConsumerLock; the newest change time is atomic and is raised
// only under the process-wide file-ctime lock held by the consumer that tracks it.
#include "Base/Bag.h"
#include "Base/KxError.h"
#include "Base/TimeStamp.h"
#include "Engine/ScannerCallback.h"
#include "Scan/OutputResources.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CScannerOptions;
class CPostProcessingOptions;
class CFileNameFactory;
class ZVJobCtrlClient;

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
    // The failure consumer of the job; empty until the consumer chain installs one.
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
    [[nodiscard]] virtual CKxError GetScanStats(SScanStats& stats);
    // The arguments of the next phase, and the job manager's concatenation action for them
    // (1 nullify, 2 concatenate, 3 set). Runs the nine steps below in order; the first error
    // stops the sequence.
    [[nodiscard]] virtual CKxError GetNextPhaseArguments(std::string& arguments, int& action);
    // The backup status file of the subclient. Base: nothing to create.
    [[nodiscard]] virtual CKxError CreateStatusFile(const std::string& subclientResultsFolder);
    // Data streams the backup phase should use; -1 leaves the job manager's count as it is.
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

    // The job's configuration bag, given once it is filled; the engine gets the same bag.
    void SetScannerConfigurationBag(CBagPtr bag);
    // The bag given above, else the scanner options' bag, else none.
    CBagPtr GetScannerConfigurationBag() const;
    void SetJobId(std::int64_t jobId) { m_jobId = jobId; }
    std::int64_t GetJobId() const { return m_jobId; }
    std::shared_ptr<ZVJobCtrlClient> GetJobControlClient() const { return m_jobControl; }

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

    // Output resources, one per source volume.
    void AddOutputResource(COutputResourcesPtr resource);
    std::vector<COutputResourcesPtr> GetOutputResourcesList() const;

protected:
    // The options class of this callback's jobs. Base: the common options.
    virtual std::shared_ptr<CScannerOptions> MakeScannerOptions();
    // The name factory class of this callback's jobs. Base: the common factory.
    virtual std::shared_ptr<CFileNameFactory> MakeFileNameFactory(unsigned int backupType,
                                                                  const std::string& resultsFolder);
    // Adds one output resource's collect file (a flat collect file) to the statistics.
    virtual void AddCollectFileStats(const COutputResources& resource, SScanStats& stats) const;
    // Installs the failure consumer the chain builds; the first one installed stays.
    void SetScanFailureConsumer(CScanFailureConsumerPtr consumer);

    std::shared_ptr<CScannerOptions> m_scannerOptions;
    std::shared_ptr<CFileNameFactory> m_fileNameFactory;
    std::shared_ptr<ZVJobCtrlClient> m_jobControl;
    std::shared_ptr<CPostProcessingOptions> m_postProcessingOptions;
    CBagPtr m_bag;
    // The ordinary backup job; the two-phase laptop job takes its true-up switch from the
    // laptop first-phase key instead.
    std::uint32_t m_backupJobKind = 1;
    std::uint32_t m_referenceTime = 0;
    std::int64_t m_jobId = 0;

private:
    mutable std::mutex m_failureConsumerLock;  // guards m_failureConsumer
    CScanFailureConsumerPtr m_failureConsumer;
    mutable std::mutex m_outputResourcesLock;  // guards m_outputResources
    std::vector<COutputResourcesPtr> m_outputResources;
    bool m_scContentFailed = false;
    bool m_scanError = false;
    bool m_queriedIndexForIncompleteFiles = false;
    bool m_maxCtimeTracking = false;
    std::atomic<std::int64_t> m_maxFileCtime{0};
    std::uint64_t m_totalBackupSize = 0;
    mutable std::mutex m_aliveLock;  // guards m_alive
    bool m_alive = false;
};

using CScanJobCallbackPtr = std::shared_ptr<CScanJobCallback>;
