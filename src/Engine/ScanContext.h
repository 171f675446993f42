#pragma once
// CScanContext: the state one arbiter run shares between its work units and workers: the
// callback, the failure consumer, the follow-mount switch, and the stop state (the first
// failure that stops the walk, or an abort).
//
// Thread: every member may be called from every worker thread.
#include "Base/Bag.h"
#include "Base/FileSystemIdentity.h"
#include "Base/KxError.h"
#include "Engine/ConsumerAnswer.h"
#include "Engine/ConsumerOutputHandler.h"
#include "Engine/Item.h"
#include "Engine/ScanFailureConsumer.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

class CScannerCallback;
class CWorkUnit;

class CScanContext {
public:
    CScanContext(long long jobId, CScannerCallback& callback, CScanFailureConsumerPtr failureConsumer,
                 bool followMountPaths, CBagPtr settings);
    CScanContext(const CScanContext&) = delete;
    CScanContext& operator=(const CScanContext&) = delete;

    long long GetJobId() const { return m_jobId; }
    CScannerCallback& GetCallback() { return m_callback; }
    bool GetFollowMountPaths() const { return m_followMountPaths; }
    const CBagPtr& GetSettings() const { return m_settings; }
    // The identity every walk thread reads content as; null: the process's own credentials.
    // Set before the walk threads start.
    void SetWalkIdentity(std::shared_ptr<const CFileSystemIdentity> identity) { m_walkIdentity = std::move(identity); }
    const CFileSystemIdentity* GetWalkIdentity() const { return m_walkIdentity.get(); }

    // True once the walk must stop; polls the callback's IsAborted (which the caller does
    // between folders, not per item).
    bool PollStop();
    // The cheap check for inner loops: the stop flag only.
    bool IsStopped() const { return m_stopped.load(std::memory_order_relaxed); }
    // Records the failure that stops the walk (the first one wins) and tells the callback.
    void Stop(const std::string& path, CKxError error);
    // Success, 995 after an abort, or the recorded failure.
    CKxError GetFinalStatus() const;

    // Hands an unreadable item to the failure consumer with its errno. A failure to record
    // it stops the walk (and is returned).
    [[nodiscard]] CKxError ReportFailure(const CItemPtr& item, int errorNumber);

    // Hands a reported item to the unit's chain and acts on the answer: a source failure goes
    // to the failure consumer, a write failure stops the walk. Returns what the answer was;
    // the caller counts taken items (workers batch the count per folder).
    EConsumerAnswer Deliver(CConsumerOutputHandler& handler, const CItemPtr& item, CWorkUnit& unit);

private:
    long long m_jobId;
    CScannerCallback& m_callback;
    CScanFailureConsumerPtr m_failureConsumer;
    bool m_followMountPaths;
    CBagPtr m_settings;
    std::shared_ptr<const CFileSystemIdentity> m_walkIdentity;
    std::atomic<bool> m_stopped{false};
    mutable std::mutex m_statusLock;
    bool m_aborted = false;
    CKxError m_status;
};
