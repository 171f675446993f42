#pragma once
// CItemConsumer: one link of the item path. The engine hands every item it reports to
// Process; the answer steers the walk (see ConsumerAnswer.h):
//   success                      the item is taken (or dropped on purpose), the walk goes on;
//   code 20001 (DoNotEnterFolder) or ENAMETOOLONG
//                                do not enter this folder (and do not report it again);
//   an error with the item's own error number set (CItem::SetErrorNumber)
//                                the source item could not be read: it goes to the failure
//                                list and the walk goes on;
//   any other error              our own files could not be written: the walk stops and the
//                                scan's final status is that error.
//
// Thread: the engine calls Process from its worker threads; one chain instance is used by
// one thread at a time, but writers shared between chains must guard themselves. The
// processed-item count is atomic.
#include "Base/KxError.h"
#include "Engine/Item.h"

#include <atomic>
#include <cstdint>
#include <memory>

class CItemConsumer {
public:
    explicit CItemConsumer(long long jobId = 0) : m_jobId(jobId) {}
    CItemConsumer(const CItemConsumer&) = delete;
    CItemConsumer& operator=(const CItemConsumer&) = delete;
    virtual ~CItemConsumer();

    [[nodiscard]] virtual CKxError Process(const CItemPtr& item) = 0;
    virtual unsigned long long getProcessedItemsCount() const
    {
        return m_processedItems.load(std::memory_order_relaxed);
    }

    void IncrementProcessedItemsCount(unsigned long long by = 1)
    {
        m_processedItems.fetch_add(by, std::memory_order_relaxed);
    }
    void setProcessedItemsCount(unsigned long long count)
    {
        m_processedItems.store(count, std::memory_order_relaxed);
    }
    long long GetJobId() const { return m_jobId; }

private:
    long long m_jobId;
    std::atomic<unsigned long long> m_processedItems{0};
};

using CItemConsumerPtr = std::shared_ptr<CItemConsumer>;
