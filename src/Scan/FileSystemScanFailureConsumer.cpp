#include "Scan/FileSystemScanFailureConsumer.h"

#include "Base/LogWriter.h"
#include "CollectFile/BackupOutConsumer.h"
#include "CollectFile/FileNameEscaping.h"
#include "Scan/FileNameFactory.h"

CFileSystemScanFailureConsumer::CFileSystemScanFailureConsumer(long long jobId, std::shared_ptr<CFileNameFactory> names)
    : CScanFailureConsumer(nullptr, jobId), m_names(std::move(names))
{
}

CFileSystemScanFailureConsumer::~CFileSystemScanFailureConsumer() = default;

CKxError CFileSystemScanFailureConsumer::Initialize()
{
    if (!m_names)
        return CKxError(KxCode::InvalidParameter, "No results-file names for the failed-items list");
    FSLOG(0, "Initialize failed item consumer");
    auto writer = std::make_shared<CBackupOutConsumer>(GetJobId(), m_names->ScanFailedItemsCollect());
    KX_RETURN_IF_FAILED(writer->Open(false), "Failed to open the failed-items list");
    std::lock_guard lock(m_writeLock);
    m_writer = std::move(writer);
    return CKxError::Success();
}

std::string CFileSystemScanFailureConsumer::GetFileName() const
{
    return m_names ? m_names->ScanFailedItemsCollect() : std::string();
}

bool CFileSystemScanFailureConsumer::IsSkipFailedItem(const CItemPtr&) const { return false; }

std::string CFileSystemScanFailureConsumer::FormatLine(CItem& item)
{
    int code = kDefaultErrorCode;
    if (item.HasBag()) {
        int bagCode = 0;
        if (item.GetBag().Read(CItem::ErrorCodeKey, bagCode).IsSuccess())
            code = bagCode;
    }
    std::string line = item.IsFolder() ? "folder " : "file ";
    escapeFileNameAppend(item.GetSourceFullyQualifiedItemName(), line);
    line += ':';
    line += std::to_string(code);
    line += '\n';
    return line;
}

CKxError CFileSystemScanFailureConsumer::Process(const CItemPtr& item)
{
    if (IsSkipFailedItem(item))
        return CKxError::Success();
    std::lock_guard lock(m_writeLock);
    if (!m_writer)
        return CKxError::Success();
    FSLOG(3, "Process failed item '%s'", item->GetSourceFullyQualifiedItemName().c_str());
    KX_RETURN_IF_FAILED(m_writer->RawWriteLine(FormatLine(*item)), "Failed to record failed item '%s'",
                        item->GetSourceFullyQualifiedItemName().c_str());
    return CKxError::Success();
}

unsigned long long CFileSystemScanFailureConsumer::getProcessedItemsCount() const
{
    // The writer pointer is set once by Initialize, before the consumer is shared.
    return m_writer ? m_writer->getProcessedItemsCount() : 0;
}

CKxError CFileSystemScanFailureConsumer::Flush()
{
    std::lock_guard lock(m_writeLock);
    if (!m_writer)
        return CKxError::Success();
    KX_RETURN_IF_FAILED(m_writer->File().Flush(), "Failed to flush the failed-items list '%s'",
                        m_writer->GetFileName().c_str());
    return CKxError::Success();
}
