#include "ContentContainer/ContentContainerBuffer.h"

#include "Base/LogWriter.h"
#include "ContentContainer/ContentContainerFormatter.h"
#include "Engine/FindFirstItem.h"

#include <ctime>
#include <system_error>
#include <utility>
#include <unistd.h>

CContentContainerBuffer::CContentContainerBuffer(CX::CContentContainerPtr container, long long jobId)
    : CItemConsumer(jobId), m_container(std::move(container))
{
}

CContentContainerBuffer::~CContentContainerBuffer() { StopWriter(); }

CKxError CContentContainerBuffer::Process(const CItemPtr& item)
{
    const std::string& path = item->GetSourceFullyQualifiedItemName();
    FSLOG(7, "Dirchange Buffer : Adding Item [%s]", path.c_str());
    CX::SItemMetadata metadata;
    metadata.modifiedTime = item->GetLastWriteTime().Seconds();
    metadata.accessTime = item->GetLastAccessTime().Seconds();
    metadata.changeTime = item->GetLastChangeTime().Seconds();
    metadata.folder = item->IsFolder();
    metadata.fileSize = metadata.folder ? 0 : static_cast<std::int64_t>(item->GetFileSize());
    if (const auto* found = dynamic_cast<const CFindFirstItem*>(item.get()))
        metadata.fileId = found->GetInodeNumber();
    metadata.collect = item->IsSelected();

    CX::CContentBatch full;
    {
        std::lock_guard lock(m_queueLock);
        CX::CContentContainerFormatter::CreateMetadata(metadata, m_queue.Begin(path, metadata.folder));
        m_queue.Commit();
        if (m_queue.Size() < kFlushThreshold)
            return CKxError::Success();
        full.Swap(m_queue);
        TakeSpare(m_queue);
    }
    IncrementProcessedItemsCount(full.Size());
    return HandToWriter(std::move(full));
}

CKxError CContentContainerBuffer::HandToWriter(CX::CContentBatch&& batch)
{
    std::unique_lock lock(m_writerLock);
    m_batchWritten.wait(lock, [this] { return m_waiting.size() + (m_writing ? 1 : 0) < kMaxBatchesAtWriter; });
    if (m_writeFailure.IsError())
        return m_writeFailure;
    if (!m_writer.joinable()) {
        try {
            m_writer = std::thread(&CContentContainerBuffer::WriterLoop, this);
        } catch (const std::system_error& error) {
            // Without a thread of its own the stage writes its batches itself, as it waits anyway.
            FSLOG(0, "No writer thread for the directory-change record (%s), the walk writes it", error.what());
            lock.unlock();
            return Write(batch);
        }
    }
    m_waiting.push_back(std::move(batch));
    m_batchHanded.notify_one();
    return CKxError::Success();
}

void CContentContainerBuffer::TakeSpare(CX::CContentBatch& empty)
{
    std::lock_guard lock(m_writerLock);
    if (m_spare.empty())
        return;
    empty.Swap(m_spare.back());
    m_spare.pop_back();
}

void CContentContainerBuffer::WriterLoop()
{
    std::unique_lock lock(m_writerLock);
    for (;;) {
        m_batchHanded.wait(lock, [this] { return m_stopWriter || !m_waiting.empty(); });
        if (m_waiting.empty())
            return;
        CX::CContentBatch batch = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_writing = true;
        lock.unlock();
        CKxError written = Write(batch);
        batch.Clear();
        lock.lock();
        m_spare.push_back(std::move(batch));
        m_writing = false;
        if (written.IsError() && m_writeFailure.IsSuccess())
            m_writeFailure = std::move(written);
        m_batchWritten.notify_all();
    }
}

void CContentContainerBuffer::StopWriter()
{
    std::unique_lock lock(m_writerLock);
    if (!m_writer.joinable())
        return;
    m_stopWriter = true;
    m_batchHanded.notify_one();
    lock.unlock();
    m_writer.join();
    lock.lock();
    m_stopWriter = false;
    m_writer = std::thread();
}

CKxError CContentContainerBuffer::Write(const CX::CContentBatch& batch)
{
    FSLOG(4, "Flushing Items to the Database in thread [%u]", static_cast<unsigned>(::gettid()));
    KX_RETURN_IF_FAILED(m_container->WriteBatch(batch, static_cast<std::int64_t>(std::time(nullptr))),
                        "Failed to write the directory-change record [%s]", m_container->GetName().c_str());
    return CKxError::Success();
}

CKxError CContentContainerBuffer::FlushItems()
{
    CX::CContentBatch pending;
    {
        std::lock_guard lock(m_queueLock);
        pending.Swap(m_queue);
    }
    IncrementProcessedItemsCount(pending.Size());
    StopWriter();
    CKxError written = Write(pending);
    std::lock_guard lock(m_writerLock);
    m_spare.clear();
    if (m_writeFailure.IsError())
        return std::exchange(m_writeFailure, CKxError::Success());
    return written;
}

CKxError CContentContainerBuffer::CheckIfItemIsAddedToCollect(std::string_view path, bool folder, bool& added)
{
    added = false;
    std::string metadata;
    CKxError found = folder ? m_container->QueryFolder(path, metadata) : m_container->QueryFile(path, metadata);
    if (found.Code() == KxCode::NotFound)
        return CKxError::Success();
    KX_RETURN_IF_ERROR(std::move(found));
    added = CX::CContentContainerFormatter::HasCollectMark(metadata);
    return CKxError::Success();
}
