#pragma once
// CScannerCallback: what the scan engine asks of the job while it walks. The job's callback
// derives from it and overrides what it supplies; the base versions below are what a job
// that overrides nothing gets.
//
// Thread: the engine calls IsAborted, GetOutputHandler, GetScanFailureConsumer, OnScannerError
// and LogVolumeScanComplete from its worker threads, concurrently; the remaining slots are
// called on the thread that runs the arbiter, before the workers start. Overrides guard
// their own state.
#include "Base/Bag.h"
#include "Base/KxError.h"
#include "Engine/ConsumerOutputHandler.h"
#include "Engine/ItemConsumer.h"
#include "Engine/ItemEvaluator.h"
#include "Engine/ScanEngine.h"
#include "Engine/ScanFailureConsumer.h"

#include <atomic>
#include <memory>
#include <string>

// Owned by layers above the engine; the engine only passes them through.
class CScannerOptions;
class CPostProcessingOptions;
class CFlatCollectFile;
class CWorkUnit;
class CFolderReadPlan;

class CScannerCallback {
public:
    CScannerCallback() = default;
    CScannerCallback(const CScannerCallback&) = delete;
    CScannerCallback& operator=(const CScannerCallback&) = delete;
    virtual ~CScannerCallback();

    // Polled by every worker between folders (and every few thousand entries of a large
    // folder); true stops the walk promptly and the final status becomes error 995.
    // Base: true after Abort.
    virtual bool IsAborted();
    virtual std::string AsString() const;
    // Asks the walk to stop. Any thread.
    virtual void Abort();
    // Folder for the job's persistent engine state. Base: error 1168.
    [[nodiscard]] virtual CKxError GetPersistFolderName(std::string& folder);
    // The consumer chain for one source volume, keyed by the work unit's local volume path
    // (its mount point). The engine asks once per worker thread and work unit; each call may
    // build a new chain, and chains of one volume share that volume's writers. An error stops
    // the walk. Base: error 1168 "Output handler is unconfigured for volume '%s'".
    [[nodiscard]] virtual CKxError GetOutputHandler(const std::string& volume, CConsumerOutputHandlerPtr& handler);
    virtual bool AreMaintenanceOperationsAllowed();
    // Called once per work unit when its walk ended (whatever the outcome), on the worker
    // that finished it; the unit's counters and status are final.
    virtual void LogVolumeScanComplete(const CWorkUnit& unit);
    // The engines to try, in order; the first that accepts a walk root walks it. Base: the
    // raw-device engine, then the file-system walk.
    [[nodiscard]] virtual CKxError GetScanEngineList(CScanEngineList& engines);
    [[nodiscard]] virtual CKxError GetPostProcessingOptionsInstance(std::shared_ptr<CPostProcessingOptions>& options);
    [[nodiscard]] virtual CKxError GetScannerOptionsInstance(std::shared_ptr<CScannerOptions>& options);
    virtual bool IsBackupFromRemoteVolumes();
    // The writers of one volume's output resource and a fresh evaluator for it. Base: error
    // 1168.
    [[nodiscard]] virtual CKxError GetOutputResources(const std::string& volume, CItemConsumerPtr& collect,
                                                      CItemConsumerPtr& dirChange, CItemEvaluatorPtr& evaluator,
                                                      CItemConsumerPtr& ancestors);
    // A collect writer of the given type (1 work-unit collect file, 2 failed-items list) and
    // index for a volume. Base: error 1168.
    [[nodiscard]] virtual CKxError GetFlatCollectFile(std::shared_ptr<CFlatCollectFile>& collect, int type, int index,
                                                      const std::string& volume);
    // The failure consumer; used when the work-unit manager was given none. Base: none
    // (success with an empty pointer: unreadable items are then only logged).
    [[nodiscard]] virtual CKxError GetScanFailureConsumer(CScanFailureConsumerPtr& consumer);
    // Which folders the walk reads (FolderReadPlan.h); asked once per walk of a work unit. The
    // plan outlives the walk. Base: none, every folder is read.
    virtual CFolderReadPlan* GetFolderReadPlan();
    // Called on the arbiter's thread before any worker starts. Base: success.
    [[nodiscard]] virtual CKxError ImpersonateUser();
    // An error of the walk that is not one item's (an output handler that cannot be built, a
    // write failure that stops the walk). Base: logs it.
    virtual void OnScannerError(const std::string& path, const CKxError& error);

private:
    std::atomic<bool> m_aborted{false};
};

using CScannerCallbackPtr = std::shared_ptr<CScannerCallback>;
