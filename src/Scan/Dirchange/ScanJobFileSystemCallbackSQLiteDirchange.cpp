#include "Scan/Dirchange/ScanJobFileSystemCallbackSQLiteDirchange.h"

#include "Base/FXFile.h"
#include "ContentContainer/ContentContainerBuffer.h"
#include "Scan/Dirchange/FileNameFactorySQLiteDirchange.h"
#include "Scan/Dirchange/PostProcessSQLiteDirChange.h"

#include <new>

std::shared_ptr<CFileNameFactory> CScanJobFileSystemCallbackSQLiteDirchange::MakeFileNameFactory(
    unsigned int backupType, const std::string& resultsFolder)
{
    return std::make_shared<CFileNameFactorySQLiteDirchange>(backupType, resultsFolder);
}

CKxError CScanJobFileSystemCallbackSQLiteDirchange::MakeDirChangeConsumer(int, CItemConsumerPtr& record)
{
    if (!m_store)
        return CKxError(774, "Current SQLiteDirchange Object is not initialized. Cannot create buffer.");
    record = std::shared_ptr<CContentContainerBuffer>(new (std::nothrow) CContentContainerBuffer(m_store, m_jobId));
    if (!record)
        return CKxError(KxCode::OutOfMemory, "Failed to allocate the directory-change buffer");
    return CKxError::Success();
}

CKxError CScanJobFileSystemCallbackSQLiteDirchange::GetPostProcessDirChangeInterface(
    std::shared_ptr<IPostProcessDirChange>& postProcess)
{
    postProcess = std::make_shared<CPostProcessSQLiteDirChange>(
        m_store, DirChangeComparison(FXFile::Exists(m_referenceDirChangePath)));
    return CKxError::Success();
}
