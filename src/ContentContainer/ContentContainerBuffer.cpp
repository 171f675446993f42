#include "ContentContainer/ContentContainerBuffer.h"

#include "Base/LogWriter.h"
#include "ContentContainer/ContentContainerFormatter.h"
#include "Engine/FindFirstItem.h"

#include <ctime>
#include <unistd.h>

CContentContainerBuffer::CContentContainerBuffer(CX::CContentContainerPtr container, long long jobId)
    : CItemConsumer(jobId), m_container(std::move(container))
{
}

CContentContainerBuffer::~CContentContainerBuffer() = default;

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
    }
    IncrementProcessedItemsCount(full.Size());
    return Write(full);
}

CKxError CContentContainerBuffer::Write(CX::CContentBatch& batch)
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
    return Write(pending);
}
