#pragma once
// CContentContainerBuffer: the directory-change writer of one output stage when the record is
// a database. Every item that reaches it (with the evaluator's selection made) is queued as a
// compact record (path and metadata text, CX::CContentBatch); 10,000 queued items are written
// in one transaction. It passes nothing further.
//
// Ownership: shares the container with the job and the other stages. Thread: Process from any
// worker (the queue has its own lock; a full queue is swapped out and written outside it, the
// container serialises the writes); FlushItems and Close from the main thread after the walk.
#include "ContentContainer/ContentBatch.h"
#include "ContentContainer/ContentContainer.h"
#include "Engine/ItemConsumer.h"

#include <mutex>

class CContentContainerBuffer : public CItemConsumer {
public:
    static constexpr size_t kFlushThreshold = 10000;

    CContentContainerBuffer(CX::CContentContainerPtr container, long long jobId = 0);
    ~CContentContainerBuffer() override;

    // Queues the item; the item that fills the queue writes it. A failed write is this job's
    // own failure (the walk stops), not the item's.
    [[nodiscard]] CKxError Process(const CItemPtr& item) override;
    [[nodiscard]] CKxError FlushItems();
    // FlushItems; the container stays open for the comparison.
    [[nodiscard]] CKxError Close() { return FlushItems(); }

    const CX::CContentContainerPtr& GetContainer() const { return m_container; }

private:
    [[nodiscard]] CKxError Write(CX::CContentBatch& batch);

    CX::CContentContainerPtr m_container;
    std::mutex m_queueLock;  // guards m_queue
    CX::CContentBatch m_queue;
};
