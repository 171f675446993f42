#include "CollectFile/BackupOutConsumer.h"

#include "Base/FileNameEscaping.h"

CBackupOutConsumer::CBackupOutConsumer(long long jobId, std::string path)
    : CItemConsumer(jobId), m_path(std::move(path)), m_file(64 * 1024)
{
}

CBackupOutConsumer::~CBackupOutConsumer()
{
    (void)m_file.Close();
}

CKxError CBackupOutConsumer::Open(bool append)
{
    KX_RETURN_IF_FAILED(m_file.Open(m_path, append), "Failed to open '%s'", m_path.c_str());
    return CKxError::Success();
}

CKxError CBackupOutConsumer::Close()
{
    KX_RETURN_IF_FAILED(m_file.Close(), "Failed to close '%s'", m_path.c_str());
    return CKxError::Success();
}

CKxError CBackupOutConsumer::Process(const CItemPtr& item)
{
    int code = kDefaultErrorCode;
    if (item->HasBag()) {
        int bagCode = 0;
        if (item->GetBag().Read(CItem::ErrorCodeKey, bagCode).IsSuccess())
            code = bagCode;
    }
    std::string line = item->IsRegularFile() ? "file " : "folder ";
    escapeFileNameAppend(item->GetSourceFullyQualifiedItemName(), line);
    line += ':';
    line += std::to_string(code);
    line += '\n';
    KX_RETURN_IF_FAILED(m_file.Append(line), "Failed to write to '%s'", m_path.c_str());
    IncrementProcessedItemsCount();
    return CKxError::Success();
}

CKxError CBackupOutConsumer::RawWriteLine(std::string_view line)
{
    std::string copy(line);
    if (copy.empty() || copy.back() != '\n')
        copy.push_back('\n');
    KX_RETURN_IF_FAILED(m_file.Append(copy), "Failed to write to '%s'", m_path.c_str());
    IncrementProcessedItemsCount();
    return CKxError::Success();
}
