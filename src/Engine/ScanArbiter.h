#pragma once
// CScanArbiter: runs the work units of a manager on up to `workerCount` threads at once
// (each unit with its own "MaxWorkers" folder-level threads inside) and keeps the walk's
// final status.
//
// Final status: success when every unit walked to its end; error 995 when the callback
// asked for an abort; otherwise the first failure that stopped the walk (an output handler
// that could not be built, a write failure of our own files, the failure list that could not
// be written), with the locations pushed on the way. Unreadable items do not make the status
// an error: they are in the failure list.
//
// Engine settings bag keys read: none that change the walk today; the bag is kept for the
// engines ("isFollowMountPoint" there does not override the manager's SetFollowMountPaths).
//
// Walk identity: with one set, every walk thread (the unit workers and the folder-level threads
// they start) reads content as that user through its own file-system ids; the rest of the
// process keeps its credentials, and the consumers create the job's files with them.
//
// Thread: construct, configure and Run on one thread; Run blocks until every unit is done.
// Abort (through the callback) may come from any thread.
#include "Base/Bag.h"
#include "Base/FileSystemIdentity.h"
#include "Base/KxError.h"
#include "Engine/ScannerCallback.h"
#include "Engine/WorkUnitManager.h"

#include <memory>
#include <mutex>

class CScanArbiter {
public:
    CScanArbiter(long long jobId, int workerCount, CScannerCallbackPtr callback);
    CScanArbiter(const CScanArbiter&) = delete;
    CScanArbiter& operator=(const CScanArbiter&) = delete;
    ~CScanArbiter();

    void SetScannerConfigurationBag(CBagPtr bag) { m_settings = std::move(bag); }
    // The user the walk threads read content as; null (the default) keeps the process's own.
    void SetWalkIdentity(std::shared_ptr<const CFileSystemIdentity> identity) { m_walkIdentity = std::move(identity); }
    // Walks every unit of the manager's physical-media-volume map. The returned value is the
    // final status (also kept for GetFinalStatus); an error that prevents the walk from
    // starting (no engine list, impersonation failed) is returned the same way.
    [[nodiscard]] CKxError Run(const CWorkUnitManagerPtr& manager);
    [[nodiscard]] CKxError GetFinalStatus() const;
    int GetWorkerCount() const { return m_workerCount; }

private:
    long long m_jobId;
    int m_workerCount;
    CScannerCallbackPtr m_callback;
    CBagPtr m_settings;
    std::shared_ptr<const CFileSystemIdentity> m_walkIdentity;
    mutable std::mutex m_finalStatusLock;
    CKxError m_finalStatus;
};

using CScanArbiterPtr = std::shared_ptr<CScanArbiter>;
