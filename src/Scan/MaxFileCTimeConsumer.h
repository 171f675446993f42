#pragma once
// CMaxFileCTimeConsumer: records the newest change time among the files of the scan, for jobs
// whose next reference time is taken from the files themselves rather than from the clock
// (the callback's max-ctime tracking).
//
// For a file-system item that is not a folder, a change time greater than the callback's
// maximum and earlier than the scan's start becomes the new maximum; a change time at or after
// the start belongs to a file changed while the scan ran, which the next job must see again.
// Every item is passed on.
//
// Thread: chains run on every worker; the maximum is raised under one process-wide lock, so
// concurrent raises never lose the larger value.
#include "Engine/ItemConsumerChain.h"

#include <cstdint>
#include <mutex>

class CScanJobCallback;

class CMaxFileCTimeConsumer : public CItemConsumerChain {
public:
    CMaxFileCTimeConsumer(CItemConsumerPtr next, CScanJobCallback& callback, std::int64_t scanStartTime,
                          long long jobId);
    ~CMaxFileCTimeConsumer() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;

    // The process-wide lock under which the newest change time is raised.
    static std::mutex& FileCtimeLock();

private:
    CScanJobCallback& m_callback;
    std::int64_t m_scanStartTime;
};
