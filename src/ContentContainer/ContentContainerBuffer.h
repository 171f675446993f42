#pragma once
// CContentContainerBuffer: the directory-change writer of one output stage when the record is
// a database. Every item that reaches it (with the evaluator's selection made) is queued as a
// compact record (path and metadata text, CX::CContentBatch); 10,000 queued items are written
// in one transaction. It passes nothing further.
//
// The transactions run on the buffer's own writer thread, started with the first full queue:
// the walk goes on while SQLite writes, on a core the walk leaves idle. A walk faster than the
// database waits while one queue is written and another waits, so memory stays bounded.
//
// Ownership: shares the container with the job and the other stages. Thread: Process from any
// worker (the queue has its own lock, the hand-over to the writer its own); FlushItems and
// Close from the main thread after the walk: they write what is queued, wait for the writer
// and stop it.
#include "ContentContainer/ContentBatch.h"
#include "ContentContainer/ContentContainer.h"
#include "Engine/ItemConsumer.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class CContentContainerBuffer : public CItemConsumer {
public:
    static constexpr size_t kFlushThreshold = 10000;

    CContentContainerBuffer(CX::CContentContainerPtr container, long long jobId = 0);
    ~CContentContainerBuffer() override;

    // Queues the item; the item that fills the queue hands it to the writer. A failed write is
    // this job's own failure (the walk stops), not the item's: the items after it answer it.
    [[nodiscard]] CKxError Process(const CItemPtr& item) override;
    // Writes everything queued; answers the first failed write since the last flush.
    [[nodiscard]] CKxError FlushItems();
    // Whether this job put the item into a collect file already (its entry carries the collect
    // mark): what is fed back after the walk is not listed twice. It sees what was written:
    // the caller flushes first. Main thread, after the walk.
    [[nodiscard]] CKxError CheckIfItemIsAddedToCollect(std::string_view path, bool folder, bool& added);
    // FlushItems; the container stays open for the comparison.
    [[nodiscard]] CKxError Close() { return FlushItems(); }

    const CX::CContentContainerPtr& GetContainer() const { return m_container; }

private:
    static constexpr size_t kMaxBatchesAtWriter = 2;  // the one it writes and one waiting

    [[nodiscard]] CKxError Write(const CX::CContentBatch& batch);
    [[nodiscard]] CKxError HandToWriter(CX::CContentBatch&& batch);
    // Swaps a written batch (empty, its memory kept) into `empty`, when there is one.
    void TakeSpare(CX::CContentBatch& empty);
    void WriterLoop();
    // Waits until the writer wrote every batch handed to it, then ends its thread.
    void StopWriter();

    CX::CContentContainerPtr m_container;
    std::mutex m_queueLock;  // guards m_queue
    CX::CContentBatch m_queue;

    std::mutex m_writerLock;  // guards the members below
    std::condition_variable m_batchHanded, m_batchWritten;
    std::deque<CX::CContentBatch> m_waiting;
    // Written batches: their memory is used again rather than freed and grown anew each time.
    std::vector<CX::CContentBatch> m_spare;
    bool m_writing = false;
    bool m_stopWriter = false;
    CKxError m_writeFailure;  // the first failed write since the last flush
    std::thread m_writer;
};
